#pragma once
// Explorer's use of overlay identifiers, for the harness and the benchmark:
// the identifiers in the order Explorer sorts their key names, asked once
// for their icon and priority, then asked about each item shown.

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ComPtr.h"

namespace pelko::testing {

struct OverlayIdentifier {
  std::wstring keyName;
  CLSID clsid{};
  com_ptr<IShellIconOverlayIdentifier> object;
};

struct RegisteredClass {
  std::wstring keyName;
  CLSID clsid{};
};

// The subkeys of root\key whose default value is a class ID, as Explorer
// reads its handler lists.
std::vector<RegisteredClass> RegisteredClasses(HKEY root, const wchar_t* key);

// The identifiers registered under ShellIconOverlayIdentifiers, created by
// their class IDs, in Explorer's order: key names compared upper-cased
// (Wine lists registry keys lower-cased, so the order is made here).
std::vector<OverlayIdentifier> RegisteredOverlayIdentifiers();

// Sorts as Explorer does.
void SortAsExplorer(std::vector<OverlayIdentifier>& identifiers);

// GetOverlayInfo and GetPriority, once each, printed to out.
void PrintOverlayInfo(const std::vector<OverlayIdentifier>& identifiers, FILE* out);

// The identifiers that claim path: as Explorer does, the first one only
// (allSix false), or every answer (allSix true). Returns the claimants.
std::vector<std::wstring> AskMembership(const std::vector<OverlayIdentifier>& identifiers, const std::wstring& path,
                                        bool allSix, FILE* out);

std::string Utf8(std::wstring_view text);

}  // namespace pelko::testing
