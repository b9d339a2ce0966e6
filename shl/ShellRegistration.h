#pragma once
// The classes the extension serves and their registry entries, as data for
// the registry writer. Adding a class is one row of kServedClasses.

#include <windows.h>

#include <string>
#include <vector>

#include "ClassFactory.h"
#include "RegistryWriter.h"

namespace pelko {

enum class ShellRole { ContextMenu, IconOverlay, Column };

struct ServedClass {
  const CLSID* clsid;
  CreateInstanceFunction create;
  const wchar_t* coclass;      // "FileLabelExt": ProgIDs PelkoLabelShl.<coclass>[.1]
  const wchar_t* description;  // default value of the class key
  ShellRole role;
  const wchar_t* shellName;    // handler key or overlay-identifier key name
};

const std::vector<ServedClass>& ServedClasses();
const ServedClass* FindServedClass(REFCLSID clsid);

// {2FFBDABC-B044-4749-A498-CC17E91F30F4}
inline constexpr GUID kShellAppId = {0x2ffbdabc, 0xb044, 0x4749, {0xa4, 0x98, 0xcc, 0x17, 0xe9, 0x1f, 0x30, 0xf4}};

std::vector<RegistryKey> ShellAppIdEntries();
// The class's own keys below the classes root: ProgIDs and CLSID\{clsid}.
std::vector<RegistryKey> ShellClassEntries(const ServedClass& served, const std::wstring& modulePath);
// Keys below the classes root that both bitnesses of a 64-bit Windows share:
// the context-menu handler keys and the column handler key.
std::vector<RegistryKey> SharedClassesRootEntries(const ServedClass& served);
// Keys below HKEY_LOCAL_MACHINE, written in per-user mode too, shared as well:
// the Approved list and the overlay identifiers.
std::vector<RegistryKey> SharedLocalMachineEntries(const ServedClass& served);

// The extension's registration as a whole; perUser puts the classes-root
// blocks under HKEY_CURRENT_USER\Software\Classes.
HRESULT RegisterShellExtension(const std::wstring& modulePath, bool perUser);
HRESULT UnregisterShellExtension(const std::wstring& modulePath, bool perUser);

}  // namespace pelko
