// The extension's registration through regsvr32, read back from the
// registry, and its exports as COM calls them.

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "ComPtr.h"
#include "PelkoLabelShl.h"
#include "RegistryWriter.h"
#include "ServiceTestSupport.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using namespace testing;

const std::wstring kClsid = GuidString(CLSID_FileLabelExt);
const std::wstring kClassKey = L"CLSID\\" + kClsid;
const std::wstring kAppIdKey = L"AppID\\{2FFBDABC-B044-4749-A498-CC17E91F30F4}";
const std::wstring kFileHandler = L"*\\ShellEx\\ContextMenuHandlers\\PelkoLabelShlExtension";
const std::wstring kFolderHandler = L"Folder\\ShellEx\\ContextMenuHandlers\\PelkoLabelShlExtension";
constexpr wchar_t kApproved[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

struct Expected {
  std::wstring key, name, data;
};

// Everything below the classes root that registration writes for the
// context-menu handler.
std::vector<Expected> ClassesRootValues() {
  return {
      {kAppIdKey, L"", L"PelkoLabelShl"},
      {L"AppID\\PelkoLabelShl.DLL", L"AppID", L"{2FFBDABC-B044-4749-A498-CC17E91F30F4}"},
      {L"PelkoLabelShl.FileLabelExt.1", L"", L"FileLabelExt Class"},
      {L"PelkoLabelShl.FileLabelExt.1\\CLSID", L"", kClsid},
      {L"PelkoLabelShl.FileLabelExt", L"", L"FileLabelExt Class"},
      {L"PelkoLabelShl.FileLabelExt\\CLSID", L"", kClsid},
      {L"PelkoLabelShl.FileLabelExt\\CurVer", L"", L"PelkoLabelShl.FileLabelExt.1"},
      {kClassKey, L"", L"PelkoLabelShlExt Class"},
      {kClassKey + L"\\ProgID", L"", L"PelkoLabelShl.FileLabelExt.1"},
      {kClassKey + L"\\VersionIndependentProgID", L"", L"PelkoLabelShl.FileLabelExt"},
      {kClassKey + L"\\InprocServer32", L"", kInstalledExtension},
      {kClassKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {kClassKey + L"\\TypeLib", L"", GuidString(LIBID_PelkoLabelShlLib)},
      {kFileHandler, L"", kClsid},
      {kFolderHandler, L"", kClsid},
  };
}

void ExpectValues(HKEY root, const std::vector<Expected>& values) {
  for (const Expected& value : values) {
    EXPECT_EQ(ReadRegistryString(root, value.key, value.name).value_or(L"<missing>"), value.data)
        << std::string(value.key.begin(), value.key.end());
  }
}

void ExpectRegisteredKeysGone(HKEY root) {
  for (const std::wstring& key : {kAppIdKey, std::wstring(L"PelkoLabelShl.FileLabelExt"),
                                  std::wstring(L"PelkoLabelShl.FileLabelExt.1"), kClassKey, kFileHandler, kFolderHandler}) {
    EXPECT_FALSE(RegistryKeyExists(root, key)) << std::string(key.begin(), key.end());
  }
}

std::optional<DWORD> Regsvr32(const std::wstring& switches) {
  return RunCommand(L"regsvr32.exe " + switches + L" \"" + kInstalledExtension + L"\"");
}

TEST(ShellRegistration, Regsvr32WritesEveryEntryAndTheUndoLeavesTheSharedParents) {
  ASSERT_TRUE(InstallExtension());
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  ExpectValues(HKEY_CLASSES_ROOT, ClassesRootValues());
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kApproved, kClsid).value_or(L"<missing>"), L"PelkoLabelShlExtension");

  ASSERT_EQ(Regsvr32(L"/u /s"), 0u);
  ExpectRegisteredKeysGone(HKEY_CLASSES_ROOT);
  EXPECT_FALSE(ReadRegistryString(HKEY_LOCAL_MACHINE, kApproved, kClsid));
  for (const wchar_t* parent : {L"*\\ShellEx", L"*\\ShellEx\\ContextMenuHandlers", L"Folder\\ShellEx", L"CLSID", L"AppID"}) {
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, parent)) << "a shared parent went: " << parent;
  }
  EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kApproved));
}

// DllInstall with "user" alone (/n keeps regsvr32 from running DllRegisterServer first).
TEST(ShellRegistration, PerUserRegistrationWritesTheClassesUnderTheUsersKey) {
  ASSERT_TRUE(InstallExtension());
  ASSERT_EQ(Regsvr32(L"/s /n /i:USER"), 0u);
  unique_hkey userClasses;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, userClasses.put()), ERROR_SUCCESS);
  ExpectValues(userClasses.get(), ClassesRootValues());
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + kClassKey)) << "written machine-wide";
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kApproved, kClsid).value_or(L"<missing>"), L"PelkoLabelShlExtension");

  ASSERT_EQ(Regsvr32(L"/u /s /n /i:user"), 0u);
  ExpectRegisteredKeysGone(userClasses.get());
  EXPECT_FALSE(ReadRegistryString(HKEY_LOCAL_MACHINE, kApproved, kClsid));
}

// On 64-bit Windows both bitnesses register: the class keys are each in
// their own view, the handler and Approved keys are shared.
TEST(ShellRegistration, UnregisteringOneBitnessKeepsTheSharedKeysOfTheOther) {
  ASSERT_TRUE(InstallExtension());
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  {
    unique_hkey other;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, kClassKey.c_str(), 0, nullptr, 0, KEY_WRITE | otherView, nullptr,
                              other.put(), nullptr),
              ERROR_SUCCESS);
  }
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  // Two views exist for a 64-bit process and for a 32-bit one on 64-bit Windows.
  if (sizeof(void*) == 8 || wow64) {
    ASSERT_EQ(Regsvr32(L"/u /s"), 0u);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kClassKey)) << "this bitness's class stayed";
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kFileHandler)) << "the other bitness lost its handler key";
    EXPECT_TRUE(ReadRegistryString(HKEY_LOCAL_MACHINE, kApproved, kClsid).has_value());

    ASSERT_EQ(DeleteRegistryTree(HKEY_CLASSES_ROOT, kClassKey, otherView), ERROR_SUCCESS);
    ASSERT_EQ(Regsvr32(L"/s"), 0u);
    ASSERT_EQ(Regsvr32(L"/u /s"), 0u);
  } else {
    std::printf("note: no separate 32-bit registry view here; only the plain undo is checked\n");
    ASSERT_EQ(Regsvr32(L"/u /s"), 0u);
  }
  EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kFileHandler));
  EXPECT_FALSE(ReadRegistryString(HKEY_LOCAL_MACHINE, kApproved, kClsid));
}

using DllGetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

TEST(ShellExports, ServeOnlyTheirClassesAndUnloadOnlyWhenNothingLives) {
  ASSERT_TRUE(InstallExtension());
  ComApartment apartment;
  unique_hmodule library(LoadLibraryW(kInstalledExtension));
  ASSERT_TRUE(library);
  // By ordinal, as the .def file numbers them.
  auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), MAKEINTRESOURCEA(2))));
  auto canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), MAKEINTRESOURCEA(1))));
  ASSERT_TRUE(getClassObject && canUnloadNow);
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(library.get(), "DllGetClassObject")), reinterpret_cast<void*>(getClassObject));

  void* unknownFactory = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject(IID_IUnknown, IID_IClassFactory, &unknownFactory), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(unknownFactory, nullptr);
  EXPECT_EQ(getClassObject(CLSID_FileLabelExt, IID_IClassFactory, nullptr), E_POINTER);

  EXPECT_EQ(canUnloadNow(), S_OK);
  {
    com_ptr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_FileLabelExt, IID_IClassFactory, factory.put_void()), S_OK);
    com_ptr<IClassFactory> again;
    ASSERT_EQ(getClassObject(CLSID_FileLabelExt, IID_IClassFactory, again.put_void()), S_OK);
    EXPECT_EQ(factory.get(), again.get()) << "the class factory is made once and kept";
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a class factory is handed out";
    com_ptr<IContextMenu> handler;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, handler.put_void()), S_OK);
    factory.reset();
    again.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a handler lives";
  }
  EXPECT_EQ(canUnloadNow(), S_OK);
  library.reset();  // unloads it
}

}  // namespace
}  // namespace pelko
