#pragma once
// PelkoLabelShlCfg.ini as the manager reads and writes it: the label names
// and icons of sections MenuItem2..MenuItem7 and the scheme applied last.
// The manager is the file's only writer; it keeps it UTF-16 (with a
// byte-order mark), so that the profile functions store any name typed.

#include <string>

#include "Labels.h"

namespace pelko {

// The machine-wide data folder + "\Norvane\Pelko Labels\PelkoLabelShlCfg.ini";
// empty when the system cannot name the folder. Existence is not tested.
std::wstring GetConfigFilePath();

// GetPrivateProfileStringW with the default "", at most 1023 characters.
std::wstring ReadIniString(const std::wstring& file, const wchar_t* section, const wchar_t* key);

// The four keys of a label's section, in the order they are written.
struct MenuItemValues {
  std::wstring menuText;
  std::wstring menuDesc;
  std::wstring iconFile;
  std::wstring overlayIcon;
};

MenuItemValues ReadMenuItem(const std::wstring& configFile, LabelValue label);
// Writes the four keys (an empty value stays as an empty key); false, with
// the system's error code as last error, when a write failed.
bool WriteMenuItem(const std::wstring& configFile, LabelValue label, const MenuItemValues& values);
bool WriteCurrentScheme(const std::wstring& configFile, int schemeNumber);

// Makes the file UTF-16 LE with a byte-order mark before anything is
// written to it: an ANSI (or UTF-8 with a mark) file is rewritten with the
// same content, a missing one is created empty. The replacement is
// written aside and renamed over the file, so a failure leaves it as it was.
bool MakeConfigFileUnicode(const std::wstring& configFile);

}  // namespace pelko
