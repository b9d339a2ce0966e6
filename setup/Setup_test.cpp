// Setup and uninstall as a user meets them: the real setup program, run
// silently in a fresh prefix of its own per case, then the product used
// through what it installed. Where the prefix has the 32-bit Wine (WoW64),
// the 32-bit side is checked too; where not, the case says so.

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <optional>
#include <type_traits>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "GuiTestSupport.h"
#include "ManagerTestSupport.h"
#include "ServiceTestSupport.h"
#include "TestDiagnostics.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

namespace pelko::testing {
namespace {

constexpr wchar_t kInstallFolder[] = L"C:\\Program Files\\Norvane\\Pelko Labels";
constexpr wchar_t kDataFolder[] = L"C:\\ProgramData\\Norvane\\Pelko Labels";
constexpr wchar_t kDatabase[] = L"C:\\ProgramData\\Norvane\\Pelko Labels\\labels.lst";
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PelkoLabels";
constexpr wchar_t kShortcut[] = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Pelko Labels.lnk";
constexpr wchar_t kOverlayKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers";
constexpr DWORD kSetupBoundMs = 120000;

std::wstring SetupProgram() { return BuildTreeFile(L"setup\\" PELKO_SETUP_NAME); }
std::optional<DWORD> RunSetup(const std::wstring& arguments = L"/S") {
  return RunCommand(Quoted(SetupProgram()) + L" " + arguments, kSetupBoundMs);
}

// A value of a key in one view, or nothing.
template <typename Value>
std::optional<Value> ReadValue(HKEY root, const std::wstring& subkey, const wchar_t* name, DWORD type, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return std::nullopt;
  const unique_hkey owned(key);
  Value value{};
  DWORD stored = 0;
  if constexpr (std::is_same_v<Value, std::wstring>) {
    wchar_t text[1024] = {};
    DWORD bytes = sizeof text - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &stored, reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS ||
        stored != type) {
      return std::nullopt;
    }
    value = text;
  } else {
    DWORD bytes = sizeof value;
    if (RegQueryValueExW(key, name, nullptr, &stored, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
        stored != type) {
      return std::nullopt;
    }
  }
  return value;
}

// A value of the Apps & Features entry (64-bit view), or nothing.
std::optional<std::wstring> EntryText(const wchar_t* name) {
  return ReadValue<std::wstring>(HKEY_LOCAL_MACHINE, kUninstallKey, name, REG_SZ, KEY_WOW64_64KEY);
}

// Names of our keys in one registry view: every subkey of the classes
// root, its CLSID, AppID, TypeLib and Interface keys, the menu handlers and
// the overlay identifiers, whose name or value speaks of Pelko Labels.
std::vector<std::wstring> OurKeys(REGSAM view) {
  std::vector<std::wstring> found;
  const auto scan = [&](const std::wstring& parent, bool byValue) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    const unique_hkey owned(key);
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
      DWORD length = 256;
      if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      std::wstring text = name;
      if (byValue) {
        const std::wstring child = parent + L"\\" + name;
        text += ReadValue<std::wstring>(HKEY_LOCAL_MACHINE, child, nullptr, REG_SZ, view).value_or(L"");
        for (const wchar_t* server : {L"\\LocalServer32", L"\\InprocServer32", L"\\1.0"}) {
          text += ReadValue<std::wstring>(HKEY_LOCAL_MACHINE, child + server, nullptr, REG_SZ, view).value_or(L"");
        }
      }
      if (text.find(L"Pelko") != std::wstring::npos || text.find(L"LabelUtil") != std::wstring::npos) {
        found.push_back(parent + L"\\" + name);
      }
    }
  };
  scan(L"Software\\Classes", false);
  scan(L"Software\\Classes\\CLSID", true);
  scan(L"Software\\Classes\\AppID", true);
  scan(L"Software\\Classes\\TypeLib", true);
  scan(L"Software\\Classes\\Interface", true);
  scan(L"Software\\Classes\\*\\ShellEx\\ContextMenuHandlers", false);
  scan(L"Software\\Classes\\Folder\\ShellEx\\ContextMenuHandlers", false);
  scan(kOverlayKey, false);
  return found;
}

bool ServiceExists() {
  const unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const unique_sc_handle service(manager ? OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS) : nullptr);
  return service.is_valid();
}

// No service, no key of ours in either registry view, no entry, program
// folder or shortcut.
void ExpectNothingInstalled() {
  EXPECT_FALSE(ServiceExists());
  for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    for (const std::wstring& key : OurKeys(view)) ADD_FAILURE() << "left behind: " << Utf8(key);
  }
  EXPECT_FALSE(EntryText(L"DisplayName"));
  EXPECT_FALSE(FileExists(kInstallFolder));
  EXPECT_FALSE(FileExists(kShortcut));
}

#ifdef _WIN64

std::wstring Installed(const wchar_t* name) { return std::wstring(kInstallFolder) + L"\\" + name; }

bool HasWow64() { return FileExists(L"C:\\windows\\syswow64\\cscript.exe"); }

// The uninstaller copies itself to the temporary folder, starts the copy
// and ends: the run is over when every process of its job has ended.
std::optional<DWORD> RunUninstaller(const std::wstring& arguments) {
  std::wstring commandLine = Quoted(Installed(L"Uninstall.exe")) + L" " + arguments;
  const unique_handle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) {
    ReportFailedCall(L"CreateJobObjectW", GetLastError());
    return std::nullopt;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, L"C:\\", &startup,
                      &process)) {
    ReportFailedCall(L"CreateProcessW " + commandLine, GetLastError());
    return std::nullopt;
  }
  const unique_handle processHandle(process.hProcess), threadHandle(process.hThread);
  if (!AssignProcessToJobObject(job.get(), processHandle.get())) {
    ReportFailedCall(L"AssignProcessToJobObject", GetLastError());
    TerminateProcess(processHandle.get(), 1);
    return std::nullopt;
  }
  ResumeThread(threadHandle.get());
  WaitScope scope(L"the end of " + commandLine + L" and the copy it starts", kSetupBoundMs);
  const bool ended = WaitUntil(kSetupBoundMs, [&] {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    return QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &accounting, sizeof accounting,
                                     nullptr) &&
           accounting.ActiveProcesses == 0;
  });
  if (!ended) {
    ReportExpiredWait(L"the uninstaller's processes", kSetupBoundMs, process.dwProcessId);
    return std::nullopt;
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(processHandle.get(), &exitCode);
  return exitCode;
}

std::optional<DWORD> EntryNumber(const wchar_t* name) {
  return ReadValue<DWORD>(HKEY_LOCAL_MACHINE, kUninstallKey, name, REG_DWORD, KEY_WOW64_64KEY);
}

std::string RunScript(const std::wstring& host, const std::string& script) {
  if (!WriteWholeFile(L"C:\\e2e.vbs", script)) return "could not write the script";
  return RunCapturingOutput(Quoted(host) + L" //nologo C:\\e2e.vbs").output;
}

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestDesktopName();
    ASSERT_TRUE(FileExists(SetupProgram())) << Utf8(SetupProgram());
    ASSERT_TRUE(CreateDirectoryW(L"C:\\e2e", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"}) {
      ASSERT_TRUE(WriteWholeFile(std::wstring(L"C:\\e2e\\") + name, "some text"));
    }
  }

  void Install() {
    const std::optional<DWORD> exitCode = RunSetup();
    ASSERT_EQ(exitCode, std::optional<DWORD>(0u));
    ASSERT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
  }

  ULONG LabelOfPath(const wchar_t* path) {
    const com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
    return labels ? LabelOf(labels.get(), path) : 0xFFFFFFFFu;
  }

  ComApartment m_apartment;
};

TEST_F(SetupTest, InstallsEverythingAndBothArchitecturesUseIt) {
  Install();
  for (const wchar_t* name : {L"PelkoLabelSvr.exe", L"PelkoLabelShl.dll", L"PelkoLabelShl32.dll", L"PelkoLabelMngr.exe",
                              L"PelkoLabels.htm", L"Uninstall.exe", L"icons\\Schemes\\Classic\\Scheme.ini",
                              L"icons\\Schemes\\Shapes\\RedOverlay.ico"}) {
    EXPECT_TRUE(FileExists(Installed(name))) << Utf8(name);
  }
  const std::string config = ReadWholeFile(kConfigFile);
  EXPECT_EQ(config.substr(0, 2), "\xFF\xFE") << "UTF-16 with a byte-order mark";
  wchar_t iconFile[512] = {};
  GetPrivateProfileStringW(L"MenuItem2", L"IconFile", L"", iconFile, 512, kConfigFile);
  EXPECT_EQ(std::wstring(iconFile), Installed(L"icons\\Schemes\\Classic\\Red.ico"));
  EXPECT_TRUE(FileExists(kShortcut));
  EXPECT_EQ(EntryText(L"DisplayName"), std::optional<std::wstring>(L"Pelko Labels"));
  EXPECT_EQ(EntryText(L"DisplayVersion"), std::optional<std::wstring>(PELKO_VERSION_TEXT));
  EXPECT_EQ(EntryText(L"Publisher"), std::optional<std::wstring>(L"Norvane"));
  EXPECT_EQ(EntryText(L"DisplayIcon"), std::optional<std::wstring>(Installed(L"PelkoLabelMngr.exe") + L",0"));
  EXPECT_EQ(EntryText(L"QuietUninstallString"), std::optional<std::wstring>(Quoted(Installed(L"Uninstall.exe")) + L" /S"));
  EXPECT_EQ(EntryNumber(L"NoModify"), std::optional<DWORD>(1u));
  EXPECT_EQ(EntryNumber(L"NoRepair"), std::optional<DWORD>(1u));
  EXPECT_GT(EntryNumber(L"EstimatedSize").value_or(0), 500u) << "kilobytes";

  // A 64-bit script sets a label; the 64-bit harness plays Explorer's menu.
  EXPECT_EQ(RunScript(L"C:\\windows\\system32\\cscript.exe",
                      "Set l = CreateObject(\"PelkoLabelSvr.LabelUtil\")\r\nl.SetLabel \"C:\\e2e\\a.txt\", 2\r\n"
                      "l.GetLabel \"C:\\e2e\\a.txt\", v\r\nWScript.Echo \"label \" & v\r\n"),
            "label 2\n");
  const std::string menu = RunHarness(L"menu --invoke 4 C:\\e2e\\b.txt");
  EXPECT_NE(menu.find("invoke 4 0x00000000"), std::string::npos) << menu;
  EXPECT_NE(menu.find("bitmap=yes"), std::string::npos) << "the scheme's icons\n" << menu;
  EXPECT_EQ(LabelOfPath(L"C:\\e2e\\b.txt"), 4u);

  if (HasWow64()) {
    EXPECT_EQ(RunScript(L"C:\\windows\\syswow64\\cscript.exe",
                        "Set l = CreateObject(\"PelkoLabelSvr.LabelUtil\")\r\nl.GetLabel \"C:\\e2e\\b.txt\", v\r\n"
                        "WScript.Echo \"label \" & v\r\n"),
              "label 4\n")
        << "a 32-bit script reaches the 64-bit service";
    const std::wstring harness32 = Quoted(BuildTreeFile(L"setup\\x86-extension\\tests\\ExplorerHarness.exe"));
    const std::string menu32 = RunCapturingOutput(harness32 + L" menu --invoke 5 C:\\e2e\\c.txt").output;
    EXPECT_NE(menu32.find("invoke 5 0x00000000"), std::string::npos) << menu32;
    EXPECT_EQ(LabelOfPath(L"C:\\e2e\\c.txt"), 5u) << "the x86 extension of 32-bit programs";
    // The x86 extension starts the manager from its own folder.
    RunCapturingOutput(harness32 + L" menu --invoke 10 C:\\e2e\\c.txt");
    const HWND about = WaitForTopLevelWindow(L"#32770", L"About", 0, kWindowBoundMs);
    EXPECT_NE(about, nullptr) << "\"About\" of the x86 extension opens the manager's About box";
    if (about) PostMessageW(about, WM_COMMAND, IDOK, 0);
  } else {
    std::printf("no 32-bit Wine in this prefix: the 32-bit script and the x86 extension are not tried\n");
  }

  // The manager lists the labelled items with their names.
  StartedProgram manager;
  const HWND frame = StartMain(manager);
  ASSERT_NE(frame, nullptr);
  const ManagerWindows parts = FindParts(frame);
  std::vector<std::vector<std::wstring>> rows;
  EXPECT_TRUE(WaitUntil(5000, [&] {
    rows = ListViewRows(parts.list, 3);
    return rows.size() == (HasWow64() ? 3u : 2u);
  }));
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::wstring>{L"2", L"Orange", L"C:\\e2e\\a.txt"}));
  EXPECT_EQ(rows[1], (std::vector<std::wstring>{L"4", L"Green", L"C:\\e2e\\b.txt"}));
  SaveScreenshot(frame, "setup-manager");
  EXPECT_EQ(Close(frame, manager), std::optional<DWORD>(0u));
}

TEST_F(SetupTest, AnUpgradeKeepsTheLabelsAndTheUsersConfiguration) {
  Install();
  ASSERT_EQ(RunScript(L"C:\\windows\\system32\\cscript.exe",
                      "Set l = CreateObject(\"PelkoLabelSvr.LabelUtil\")\r\nl.SetLabel \"C:\\e2e\\a.txt\", 6\r\n"),
            "");
  ASSERT_TRUE(WritePrivateProfileStringW(L"MenuItem7", L"MenuText", L"Done", kConfigFile));
  const std::string config = ReadWholeFile(kConfigFile);

  Install();
  EXPECT_EQ(LabelOfPath(L"C:\\e2e\\a.txt"), 6u) << "saved as the old service stopped, loaded by the new one";
  EXPECT_EQ(ReadWholeFile(kConfigFile), config) << "the user's label names stay";
  const std::string menu = RunHarness(L"menu C:\\e2e\\a.txt");
  EXPECT_NE(menu.find("\"Done\""), std::string::npos) << menu;
}

TEST_F(SetupTest, UninstallLeavesNothingButTheLabelsUnlessAskedToRemoveThem) {
  Install();
  ASSERT_EQ(RunScript(L"C:\\windows\\system32\\cscript.exe",
                      "Set l = CreateObject(\"PelkoLabelSvr.LabelUtil\")\r\nl.SetLabel \"C:\\e2e\\a.txt\", 1\r\n"),
            "");
  EXPECT_FALSE(OurKeys(KEY_WOW64_64KEY).empty()) << "the scan sees what setup wrote";

  ASSERT_EQ(RunUninstaller(L"/S"), std::optional<DWORD>(0u));
  ExpectNothingInstalled();
  EXPECT_TRUE(FileExists(kDatabase)) << "the labels are kept";
  EXPECT_TRUE(FileExists(kConfigFile));

  // Installed again, the labels are back; removed with /REMOVEDATA, they go.
  Install();
  EXPECT_EQ(LabelOfPath(L"C:\\e2e\\a.txt"), 1u);
  ASSERT_EQ(RunUninstaller(L"/S /REMOVEDATA"), std::optional<DWORD>(0u));
  EXPECT_FALSE(FileExists(kDatabase));
  EXPECT_FALSE(FileExists(kConfigFile));
  EXPECT_FALSE(FileExists(kDataFolder));
}

// A step that fails undoes the run: here the data folder's place is taken
// by a file, so the configuration cannot be written, after the files, the
// service and both extensions are in.
TEST_F(SetupTest, AFailedStepUndoesTheInstallAndSaysWhichStep) {
  ASSERT_TRUE(CreateDirectoryW(L"C:\\ProgramData\\Norvane", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(WriteWholeFile(kDataFolder, "not a folder"));
  wchar_t temporary[MAX_PATH + 1] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH + 1, temporary), 0u);
  const std::wstring log = std::wstring(temporary) + L"PelkoLabels-setup.log";
  EXPECT_EQ(RunSetup(), std::optional<DWORD>(2u));
  EXPECT_EQ(ReadWholeFile(log), "Pelko Labels " + Utf8(PELKO_VERSION_TEXT) +
                                    " setup failed while writing the configuration; it undid what it had done.\r\n");
  ExpectNothingInstalled();
  EXPECT_EQ(ReadWholeFile(kDataFolder), "not a folder") << "what was there stays";
}

// Explorer keeps the extension loaded: Windows lets such a file be renamed,
// not written or deleted. A handle that shares reading and deleting only
// stands for it here (Wine lets a loaded DLL be overwritten).
TEST_F(SetupTest, AHeldExtensionIsSetAsideAndTheNewOneInstalled) {
  Install();
  const std::wstring extension = Installed(L"PelkoLabelShl.dll");
  const unique_hfile held(CreateFileW(extension.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  BY_HANDLE_FILE_INFORMATION before{};
  ASSERT_TRUE(GetFileInformationByHandle(held.get(), &before));

  Install();
  BY_HANDLE_FILE_INFORMATION after{};
  {
    const unique_hfile installed(CreateFileW(extension.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(installed);
    ASSERT_TRUE(GetFileInformationByHandle(installed.get(), &after));
  }
  EXPECT_FALSE(before.nFileIndexLow == after.nFileIndexLow && before.nFileIndexHigh == after.nFileIndexHigh)
      << "a new file in the old one's place";
  EXPECT_NE(RunHarness(L"menu --invoke 3 C:\\e2e\\a.txt").find("invoke 3 0x00000000"), std::string::npos);
  EXPECT_EQ(LabelOfPath(L"C:\\e2e\\a.txt"), 3u);

  // Uninstall while it is held: everything else goes, and the held file
  // is gone from its place.
  ASSERT_EQ(RunUninstaller(L"/S"), std::optional<DWORD>(0u));
  EXPECT_FALSE(FileExists(extension));
  EXPECT_FALSE(FileExists(Installed(L"PelkoLabelSvr.exe")));
  EXPECT_FALSE(ServiceExists());
}

#else

// The x86 setup is for 32-bit Windows; this prefix, where 32-bit programs
// run, is a 64-bit one.
TEST(SetupX86, RefusesA64BitWindowsAndChangesNothing) {
  ASSERT_TRUE(FileExists(SetupProgram())) << Utf8(SetupProgram());
  EXPECT_EQ(RunSetup(), std::optional<DWORD>(216u)) << "ERROR_EXE_MACHINE_TYPE_MISMATCH";
  ExpectNothingInstalled();
}

#endif

}  // namespace
}  // namespace pelko::testing
