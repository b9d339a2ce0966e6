// PelkoSetupHelper.exe: the steps of setup that want more care than the
// installer's script language gives. Setup unpacks it into its own
// temporary folder; it is never installed.
//
//   PelkoSetupHelper stop-service          the label service has stopped and its process has ended
//   PelkoSetupHelper start-service         the label service runs
//   PelkoSetupHelper write-config TEMPLATE INSTALLDIR
//                                          a fresh install's configuration, when there is none
//
// Exit code 0 when done, 1 with one line on standard error saying why not.

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "DataFolder.h"
#include "SmallFile.h"
#include "TickClock.h"
#include "UniqueHandle.h"

namespace pelko {
namespace {

constexpr wchar_t kServiceName[] = L"PelkoLabelSvr";
// A stopping service saves first: a million labels take seconds, so this
// is generous; past it something is wrong and setup must say so.
constexpr DWORD kStopBoundMs = 120000;
constexpr DWORD kStartBoundMs = 60000;
constexpr DWORD kPollMs = 100;
constexpr wchar_t kConfigName[] = L"PelkoLabelShlCfg.ini";
constexpr std::string_view kInstallDirMarker = "@INSTALL_DIR@";
constexpr std::size_t kTemplateLimit = 1024 * 1024;

int Fail(const std::wstring& why) {
  std::fwprintf(stderr, L"%ls\n", why.c_str());
  return 1;
}

int FailWithError(const std::wstring& what, DWORD error) { return Fail(what + L": " + SystemErrorText(error)); }

std::optional<SERVICE_STATUS_PROCESS> StatusOf(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                            &needed)) {
    return std::nullopt;
  }
  return status;
}

const wchar_t* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return L"stopped";
    case SERVICE_START_PENDING: return L"starting";
    case SERVICE_STOP_PENDING: return L"stopping";
    case SERVICE_RUNNING: return L"running";
    default: return L"paused";
  }
}

// The service's entry, or nothing with *missing set when it is not installed.
unique_sc_handle OpenLabelService(DWORD access, bool& missing, DWORD& error) {
  missing = false;
  unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    error = GetLastError();
    return unique_sc_handle();
  }
  unique_sc_handle service(OpenServiceW(manager.get(), kServiceName, access));
  if (!service) {
    error = GetLastError();
    missing = error == ERROR_SERVICE_DOES_NOT_EXIST;
  }
  return service;
}

// Stopped means: the service said SERVICE_STOPPED and its process has
// ended. A service reports STOP_PENDING while it still saves its labels,
// and a stop tool that returns then leaves setup replacing a running program.
int StopLabelService() {
  bool missing = false;
  DWORD error = 0;
  const unique_sc_handle service = OpenLabelService(SERVICE_STOP | SERVICE_QUERY_STATUS, missing, error);
  if (missing) return 0;
  if (!service) return FailWithError(L"could not open the label service", error);

  std::optional<SERVICE_STATUS_PROCESS> status = StatusOf(service.get());
  if (!status) return FailWithError(L"could not ask the label service for its state", GetLastError());
  if (status->dwCurrentState == SERVICE_STOPPED) return 0;
  // Held before the stop, so that its end can be seen after the service
  // manager has forgotten the process.
  const unique_handle process(status->dwProcessId ? OpenProcess(SYNCHRONIZE, FALSE, status->dwProcessId) : nullptr);

  SERVICE_STATUS stopping{};
  if (status->dwCurrentState != SERVICE_STOP_PENDING && !ControlService(service.get(), SERVICE_CONTROL_STOP, &stopping)) {
    error = GetLastError();
    if (error != ERROR_SERVICE_NOT_ACTIVE && error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
      return FailWithError(L"could not stop the label service", error);
    }
  }
  const DWORD deadline = GetTickCount() + kStopBoundMs;
  for (;;) {
    status = StatusOf(service.get());
    if (!status) return FailWithError(L"could not ask the label service for its state", GetLastError());
    if (status->dwCurrentState == SERVICE_STOPPED) break;
    if (SystemTickReached(deadline)) {
      return Fail(L"the label service did not stop within " + std::to_wstring(kStopBoundMs / 1000) + L" s (it is " +
                  StateName(status->dwCurrentState) + L")");
    }
    Sleep(kPollMs);
  }
  if (process) {
    if (WaitForSingleObject(process.get(), SystemTicksUntil(deadline)) != WAIT_OBJECT_0) {
      return Fail(L"the label service said it stopped, but its process did not end within " +
                  std::to_wstring(kStopBoundMs / 1000) + L" s");
    }
  }
  return 0;
}

int StartLabelService() {
  bool missing = false;
  DWORD error = 0;
  const unique_sc_handle service = OpenLabelService(SERVICE_START | SERVICE_QUERY_STATUS, missing, error);
  if (!service) return FailWithError(L"could not open the label service", error);
  if (!::StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
    return FailWithError(L"could not start the label service", GetLastError());
  }
  const DWORD deadline = GetTickCount() + kStartBoundMs;
  for (;;) {
    const std::optional<SERVICE_STATUS_PROCESS> status = StatusOf(service.get());
    if (!status) return FailWithError(L"could not ask the label service for its state", GetLastError());
    if (status->dwCurrentState == SERVICE_RUNNING) return 0;
    if (status->dwCurrentState == SERVICE_STOPPED) {
      const DWORD reason = status->dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? status->dwServiceSpecificExitCode
                                                                                    : status->dwWin32ExitCode;
      return FailWithError(L"the label service stopped as it started", reason);
    }
    if (SystemTickReached(deadline)) {
      return Fail(L"the label service did not start within " + std::to_wstring(kStartBoundMs / 1000) + L" s (it is " +
                  StateName(status->dwCurrentState) + L")");
    }
    Sleep(kPollMs);
  }
}

// The template (UTF-8) with the install folder filled in and CRLF line
// ends, as UTF-16 LE: the profile functions then keep any name typed later.
std::wstring FillTemplate(std::string text, const std::wstring& installDir) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, installDir.data(), static_cast<int>(installDir.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string folder(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, installDir.data(), static_cast<int>(installDir.size()), folder.data(), size, nullptr,
                      nullptr);
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  for (std::size_t at = 0; (at = text.find(kInstallDirMarker, at)) != std::string::npos; at += folder.size()) {
    text.replace(at, kInstallDirMarker.size(), folder);
  }
  std::string lines;
  lines.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\r') continue;
    if (c == '\n') lines += '\r';
    lines += c;
  }
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, lines.data(), static_cast<int>(lines.size()),
                                         nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, lines.data(), static_cast<int>(lines.size()), wide.data(), length);
  return wide;
}

int WriteConfig(const std::wstring& templatePath, const std::wstring& installDir) {
  const std::optional<std::wstring> folder = ProductDataFolder();
  if (!folder) return Fail(L"the system names no application-data folder");
  const std::wstring config = *folder + L"\\" + kConfigName;
  // An upgrade keeps the user's scheme and label names.
  if (GetFileAttributesW(config.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
  const DWORD folderAttributes = GetFileAttributesW(folder->c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Fail(L"the label service has not made its data folder " + *folder);
  }
  std::string text;
  if (!ReadSmallFile(templatePath, kTemplateLimit, text)) return FailWithError(L"could not read " + templatePath, GetLastError());
  const std::wstring filled = FillTemplate(std::move(text), installDir);
  if (filled.empty()) return Fail(L"the configuration template " + templatePath + L" is empty or not UTF-8");
  // Not over a file that appeared meanwhile: that one is the user's.
  if (!WriteFileAside(config, Utf16FileBytes(filled), ExistingFile::Keep)) {
    if (GetLastError() == ERROR_ALREADY_EXISTS) return 0;
    return FailWithError(L"could not write " + config, GetLastError());
  }
  return 0;
}

int Usage() {
  return Fail(L"usage: PelkoSetupHelper stop-service | start-service | write-config TEMPLATE INSTALLDIR");
}

}  // namespace
}  // namespace pelko

int wmain(int argc, wchar_t** argv) {
  using namespace pelko;
  if (argc < 2) return Usage();
  const std::wstring_view command = argv[1];
  if (command == L"stop-service" && argc == 2) return StopLabelService();
  if (command == L"start-service" && argc == 2) return StartLabelService();
  if (command == L"write-config" && argc == 4) return WriteConfig(argv[2], argv[3]);
  return Usage();
}
