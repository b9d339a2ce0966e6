#include "ServiceTestSupport.h"

#include <tlhelp32.h>

#include "Module.h"
#include "TestDiagnostics.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

namespace pelko::testing {
namespace {

// Copies a file of the build tree into the install folder, saying why when it cannot.
bool CopyIntoInstallFolder(const std::wstring& source, const wchar_t* installed) {
  CreateDirectoryW(L"C:\\Program Files\\Norvane", nullptr);
  CreateDirectoryW(kInstallFolder, nullptr);
  if (CopyFileW(source.c_str(), installed, FALSE)) return true;
  ReportFailedCall(L"CopyFileW " + source + L" to " + installed, GetLastError());
  return false;
}

// Copies a folder of the build tree, with everything below it, into place.
bool CopyTree(const std::wstring& source, const std::wstring& target) {
  if (!CreateDirectoryW(target.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    ReportFailedCall(L"CreateDirectoryW " + target, GetLastError());
    return false;
  }
  WIN32_FIND_DATAW found{};
  const unique_hfind search(FindFirstFileW((source + L"\\*").c_str(), &found));
  if (!search) {
    ReportFailedCall(L"FindFirstFileW " + source, GetLastError());
    return false;
  }
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool copied = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                            ? CopyTree(source + L"\\" + name, target + L"\\" + name)
                            : CopyFileW((source + L"\\" + name).c_str(), (target + L"\\" + name).c_str(), FALSE) != FALSE;
    if (!copied) {
      ReportFailedCall(L"copying " + source + L"\\" + name, GetLastError());
      return false;
    }
  } while (FindNextFileW(search.get(), &found));
  return true;
}

std::wstring Utf16FromUtf8(const std::string& bytes) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  return text;
}

}  // namespace

bool InstallProgram(const std::wstring& source) {
  return CopyIntoInstallFolder(source.empty() ? BuildTreeFile(L"svr\\host\\PelkoLabelSvr.exe") : source,
                               kInstalledProgram) &&
         WriteWholeFile(std::wstring(kInstalledProgram) + L".events", "") &&
         WriteWholeFile(std::wstring(kInstalledProgram) + L".messages", "");
}

bool InstallExtension() {
  return CopyIntoInstallFolder(BuildTreeFile(L"shl\\PelkoLabelShl.dll"), kInstalledExtension) &&
         WriteWholeFile(std::wstring(kInstalledExtension) + L".messages", "");
}

bool InstallManager() {
  const std::wstring folder = kInstallFolder;
  return CopyIntoInstallFolder(BuildTreeFile(L"mngr\\PelkoLabelMngr.exe"), kInstalledManager) &&
         WriteWholeFile(std::wstring(kInstalledManager) + L".shell", "") &&
         WriteWholeFile(std::wstring(kInstalledManager) + L".messages", "") &&
         // The update check asks a port where nothing listens, not the maker's server.
         WriteWholeFile(std::wstring(kInstalledManager) + L".version-url", "http://127.0.0.1:1/PelkoLabelsVersion.txt") &&
         CopyIntoInstallFolder(BuildTreeFile(L"mngr\\PelkoLabels.htm"), (folder + L"\\PelkoLabels.htm").c_str()) &&
         CopyTree(BuildTreeFile(L"mngr\\icons"), folder + L"\\icons") &&
         (FileExists(kConfigFile) || WriteDefaultConfig());
}

bool WriteDefaultConfig() {
  std::string text = ReadWholeFile(BuildTreeFile(L"mngr\\PelkoLabelShlCfg.ini.in"));
  if (text.empty()) {
    ReportFailedCall(L"reading the configuration template", GetLastError());
    return false;
  }
  for (std::size_t at; (at = text.find("@INSTALL_DIR@")) != std::string::npos;) {
    text.replace(at, 13, "C:\\Program Files\\Norvane\\Pelko Labels");
  }
  const std::wstring wide = Utf16FromUtf8(text);
  return WriteExtensionConfig("\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t)));
}

bool InstallServiceAndExtension() {
  return InstallProgram() && RunInstalled(L"/Service") == 0u && InstallExtension() &&
         RunCommand(L"regsvr32.exe /s \"" + std::wstring(kInstalledExtension) + L"\"") == 0u;
}

std::string RunHarness(const std::wstring& arguments, DWORD timeoutMs) {
  CapturedRun run = RunCapturingOutput(BuildTreeFile(L"tests\\ExplorerHarness.exe") + L" " + arguments, timeoutMs);
  // Said in the output, so that a failed expectation shows why.
  if (!run.exitCode) run.output += "harness: did not run to its end\n";
  else if (*run.exitCode != 0) run.output += "harness: exit code " + std::to_string(*run.exitCode) + "\n";
  return run.output;
}

bool WriteExtensionConfig(const std::string& text) {
  CreateDirectoryW(L"C:\\ProgramData\\Norvane", nullptr);
  CreateDirectoryW(L"C:\\ProgramData\\Norvane\\Pelko Labels", nullptr);
  return WriteWholeFile(kConfigFile, text);
}

namespace {

// Starts commandLine (its output to outputFile when given) and waits; what
// went wrong is reported where it happened.
std::optional<DWORD> RunAndWait(std::wstring commandLine, DWORD timeoutMs, HANDLE outputFile) {
  const std::wstring what = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (outputFile) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = outputFile;
    startup.hStdError = outputFile;
  }
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, outputFile != nullptr, 0, nullptr, L"C:\\",
                      &startup, &process)) {
    const DWORD error = GetLastError();
    ReportFailedCall(L"CreateProcessW " + what, error);
    return std::nullopt;
  }
  unique_handle processHandle(process.hProcess), threadHandle(process.hThread);
  WaitScope scope(L"the end of " + what, timeoutMs);
  const DWORD waited = WaitForSingleObject(processHandle.get(), timeoutMs);
  if (waited != WAIT_OBJECT_0) {
    if (waited == WAIT_FAILED) ReportFailedCall(L"WaitForSingleObject on " + what, GetLastError());
    else ReportExpiredWait(L"the end of " + what, timeoutMs, process.dwProcessId);
    TerminateProcess(processHandle.get(), 1);
    return std::nullopt;
  }
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(processHandle.get(), &exitCode)) {
    ReportFailedCall(L"GetExitCodeProcess of " + what, GetLastError());
    return std::nullopt;
  }
  return exitCode;
}

}  // namespace

std::optional<DWORD> RunCommand(std::wstring commandLine, DWORD timeoutMs) {
  return RunAndWait(std::move(commandLine), timeoutMs, nullptr);
}

CapturedRun RunCapturingOutput(std::wstring commandLine, DWORD timeoutMs) {
  wchar_t folder[MAX_PATH] = {}, file[MAX_PATH] = {};
  CapturedRun run;
  if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"out", 0, file)) {
    ReportFailedCall(L"making a file for the output of " + commandLine, GetLastError());
    return run;
  }
  {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    unique_hfile output(CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                    CREATE_ALWAYS, 0, nullptr));
    if (!output) {
      ReportFailedCall(L"opening " + std::wstring(file), GetLastError());
      return run;
    }
    run.exitCode = RunAndWait(std::move(commandLine), timeoutMs, output.get());
  }
  run.output = ReadWholeFile(file);
  std::erase(run.output, '\r');  // programs write text-mode lines
  DeleteFileW(file);
  return run;
}

std::optional<DWORD> RunInstalled(const std::wstring& arguments, DWORD timeoutMs) {
  return RunCommand(L"\"" + std::wstring(kInstalledProgram) + L"\" " + arguments, timeoutMs);
}

std::vector<std::wstring> ObservedLines(const wchar_t* suffix) {
  const std::string bytes = ReadWholeFile(std::wstring(kInstalledProgram) + suffix);
  std::wstring text(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), static_cast<int>(text.size()));
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

bool WaitForObservedLine(const wchar_t* suffix, const std::wstring& text, DWORD timeoutMs) {
  const bool seen = WaitUntil(timeoutMs, [&] {
    for (const std::wstring& line : ObservedLines(suffix)) {
      if (line.find(text) != std::wstring::npos) return true;
    }
    return false;
  });
  if (!seen) ReportExpiredWait(L"the line \"" + text + L"\" in " + kInstalledProgram + suffix, timeoutMs);
  return seen;
}

namespace {
unique_sc_handle OpenTheService(DWORD access) {
  unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return {};
  return unique_sc_handle(OpenServiceW(manager.get(), kServiceName, access));
}
}  // namespace

DWORD ServiceState() {
  unique_sc_handle service = OpenTheService(SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
  return status.dwCurrentState;
}

bool WaitForServiceState(DWORD state, DWORD timeoutMs) {
  DWORD seen = 0;
  if (WaitUntil(timeoutMs, [&] { return (seen = ServiceState()) == state; })) return true;
  ReportExpiredWait(L"the service to reach state " + std::to_wstring(state) + L" (it is in state " +
                        std::to_wstring(seen) + L")",
                    timeoutMs);
  return false;
}

com_ptr<ILabelUtil> StartTheServiceWatchingTheDrives() {
  if (!InstallProgram() || RunInstalled(L"/Service") != 0u) return {};
  com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
  // The watch is armed once the service has started.
  if (!labels || !WaitForObservedLine(L".events", L"Service started")) return {};
  return labels;
}

bool StartTheService() {
  unique_sc_handle service = OpenTheService(SERVICE_START | SERVICE_QUERY_STATUS);
  if (!service || !StartServiceW(service.get(), 0, nullptr)) {
    ReportFailedCall(L"starting the service " + std::wstring(kServiceName), GetLastError());
    return false;
  }
  return WaitForServiceState(SERVICE_RUNNING);
}

bool SendServiceControl(DWORD control) {
  unique_sc_handle service = OpenTheService(SERVICE_STOP | SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  if (service && ControlService(service.get(), control, &status)) return true;
  ReportFailedCall(L"ControlService " + std::to_wstring(control) + L" to " + kServiceName, GetLastError());
  return false;
}

std::vector<DWORD> FindProcesses(const wchar_t* fileName) {
  std::vector<DWORD> found;
  unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (lstrcmpiW(entry.szExeFile, fileName) == 0) found.push_back(entry.th32ProcessID);
  }
  return found;
}

com_ptr<ILabelUtil> CreateLabelUtilByProgId() {
  CLSID clsid;
  com_ptr<ILabelUtil> labels;
  HRESULT hr = CLSIDFromProgID(L"PelkoLabelSvr.LabelUtil", &clsid);
  if (SUCCEEDED(hr)) {
    // Starting the service through COM takes Wine about a second.
    WaitScope scope(L"CoCreateInstance of PelkoLabelSvr.LabelUtil", kComCallBoundMs);
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_ILabelUtil, labels.put_void());
  }
  if (FAILED(hr)) ReportFailedCall(L"creating PelkoLabelSvr.LabelUtil", static_cast<DWORD>(hr));
  return labels;
}

ULONG LabelOf(ILabelUtil* labels, const std::wstring& path) {
  unique_bstr text(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
  ULONG value = 0xDEAD;
  WaitScope scope(L"ILabelUtil::GetLabel " + path, kComCallBoundMs);
  return SUCCEEDED(labels->GetLabel(text.get(), &value)) ? value : 0xDEAD;
}

HRESULT SetLabelOf(ILabelUtil* labels, const std::wstring& path, ULONG value) {
  unique_bstr text(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
  WaitScope scope(L"ILabelUtil::SetLabel " + path, kComCallBoundMs);
  return labels->SetLabel(text.get(), value);
}

std::optional<DWORD> WaitForLabel(ILabelUtil* labels, const std::wstring& path, ULONG expected, DWORD timeoutMs) {
  const ULONGLONG started = TickNowMs();
  ULONG seen = 0;
  if (WaitUntil(timeoutMs, [&] { return (seen = LabelOf(labels, path)) == expected; }, 10)) {
    return static_cast<DWORD>(TickNowMs() - started);
  }
  ReportExpiredWait(L"the label of " + path + L" to become " + std::to_wstring(expected) + L" (it is " +
                        std::to_wstring(seen) + L")",
                    timeoutMs);
  return std::nullopt;
}

std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& key, const std::wstring& name,
                                               REGSAM view) {
  unique_hkey opened;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, opened.put()) != ERROR_SUCCESS) return std::nullopt;
  wchar_t value[1024] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(opened.get(), name.empty() ? nullptr : name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  return std::wstring(value);
}

bool RegistryKeyExists(HKEY root, const std::wstring& key, REGSAM view) {
  unique_hkey opened;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, opened.put()) == ERROR_SUCCESS;
}

}  // namespace pelko::testing
