#include "ManagerTestSupport.h"

#include <cstdint>
#include <span>

#include "LabelFileCodec.h"
#include "ServiceTestSupport.h"
#include "TestDiagnostics.h"
#include "WineTestSupport.h"

namespace pelko::testing {

std::vector<std::string> Observed(const wchar_t* suffix) {
  std::vector<std::string> lines;
  const std::string text = ReadWholeFile(std::wstring(kInstalledManager) + suffix);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return lines;
}

ManagerWindows FindParts(HWND frame) {
  ManagerWindows parts;
  parts.frame = frame;
  parts.ribbon = FindWindowExW(frame, nullptr, L"Norvane.PelkoLabels.Ribbon", nullptr);
  if (parts.ribbon) {
    parts.toolbars = ChildWindowsOfClass(parts.ribbon, TOOLBARCLASSNAMEW);
    parts.captions = ChildWindowsOfClass(parts.ribbon, L"Static");
    parts.tabs = FindWindowExW(parts.ribbon, nullptr, WC_TABCONTROLW, nullptr);
  }
  parts.status = FindWindowExW(frame, nullptr, STATUSCLASSNAMEW, nullptr);
  for (HWND form = FindWindowExW(frame, nullptr, L"#32770", nullptr); form && !parts.list;
       form = FindWindowExW(frame, form, L"#32770", nullptr))
    parts.list = FindWindowExW(form, nullptr, WC_LISTVIEWW, nullptr);
  return parts;
}

StartedProgram StartManager(const std::wstring& arguments) {
  return StartOnTestDesktop(Quoted(kInstalledManager) + (arguments.empty() ? L"" : L" " + arguments));
}

HWND StartMain(StartedProgram& program, DWORD boundMs) {
  program = StartManager();
  if (!program.Started()) return nullptr;
  HWND frame = WaitForTopLevelWindow(kFrameClass, kTitle, program.ProcessId(), boundMs);
  if (!frame) {
    ReportExpiredWait(L"the manager's main window", boundMs, program.ProcessId());
    return nullptr;
  }
  if (const HWND list = FindParts(frame).list) WaitForFilledList(list, boundMs);
  return frame;
}

bool WaitForFilledList(HWND list, DWORD boundMs) {
  if (WaitUntil(boundMs, [&] { return !GetPropW(list, kListFillingProperty); }, 10)) return true;
  ReportExpiredWait(L"the end of the label list's fill", boundMs);
  return false;
}

bool WriteLabelDatabase(const std::vector<std::pair<std::wstring, ULONG>>& labels) {
  std::string bytes;
  const ByteSink sink = [&bytes](std::span<const std::uint8_t> piece) {
    bytes.append(reinterpret_cast<const char*>(piece.data()), piece.size());
    return true;
  };
  LabelFileEncoder encoder(sink);
  if (!encoder.Begin(LABELS_VERSION, static_cast<std::int32_t>(labels.size()))) return false;
  for (const auto& [path, label] : labels) {
    if (!encoder.Record(std::u16string_view(reinterpret_cast<const char16_t*>(path.data()), path.size()), label))
      return false;
  }
  CreateDirectoryW(L"C:\\ProgramData\\Norvane", nullptr);
  CreateDirectoryW(L"C:\\ProgramData\\Norvane\\Pelko Labels", nullptr);
  return encoder.Finish() && WriteWholeFile(kDatabaseFile, bytes);
}

bool RunUnixScript(const std::string& script, DWORD boundMs) {
  // Wine does not track a Unix program it starts: the script leaves a mark.
  // It goes to /bin/sh as a file, as Wine splits a command line by the rules
  // of Windows, not of the shell.
  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, folder);
  const std::wstring file = std::wstring(folder) + L"pelko-unix-script.sh";
  const std::wstring mark = file + L".done";
  DeleteFileW(mark.c_str());
  const std::string unixFile = UnixPathOf(file), unixMark = UnixPathOf(mark);
  if (unixFile.empty() || unixMark.empty() || !WriteWholeFile(file, script + " && touch '" + unixMark + "'\n")) return false;
  std::wstring commandLine = L"/bin/sh \"" + std::wstring(unixFile.begin(), unixFile.end()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(L"\\\\?\\unix\\bin\\sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ReportFailedCall(L"CreateProcessW " + commandLine, GetLastError());
    return false;
  }
  const unique_handle processHandle(process.hProcess), threadHandle(process.hThread);
  if (WaitUntil(boundMs, [&] { return FileExists(mark); })) return true;
  ReportExpiredWait(L"the Unix script " + file, boundMs);
  return false;
}

bool WritePathCheckSeam(const std::string& value) {
  return WriteWholeFile(std::wstring(kInstalledManager) + L".path-check", value);
}

std::optional<DWORD> Close(HWND frame, StartedProgram& program) {
  PostMessageW(frame, WM_CLOSE, 0, 0);
  return program.WaitForExit(15000);
}

}  // namespace pelko::testing
