#include "WineTestSupport.h"

#include <windows.h>

#include "TestDiagnostics.h"
#include "UniqueHandle.h"

namespace pelko::testing {
namespace {

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Wine starts a Unix program given by its \\?\unix path; the handle it
// returns does not track the program, so callers wait for its effect.
bool StartUnixProgram(const wchar_t* program, std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ReportFailedCall(L"CreateProcessW " + commandLine, GetLastError());
    return false;
  }
  unique_handle processHandle(process.hProcess), threadHandle(process.hThread);
  return true;
}

constexpr DWORD kUnixEffectBoundMs = 5000;

// Waits for the effect of a Unix program (see StartUnixProgram).
template <typename Done>
bool WaitForEffect(const std::wstring& what, Done done) {
  if (WaitUntil(kUnixEffectBoundMs, done)) return true;
  ReportExpiredWait(what, kUnixEffectBoundMs);
  return false;
}

}  // namespace

bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::string UnixPathOf(const std::wstring& windowsPath) {
  using Convert = char*(__cdecl*)(const wchar_t*);
  const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) return {};
  char* unixPath = convert(windowsPath.c_str());
  if (!unixPath) return {};
  std::string result(unixPath);
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

std::wstring SiblingBuildTreeFile(const wchar_t* preset, const wchar_t* relative) {
  // The launcher names the build tree that t: maps.
  wchar_t tree[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"PELKO_BUILD_TREE", tree, MAX_PATH)) return {};
  std::wstring unixTree(tree);
  while (!unixTree.empty() && unixTree.back() == L'/') unixTree.pop_back();
  const std::size_t parent = unixTree.rfind(L'/');
  if (parent == std::wstring::npos) return {};
  std::wstring path = L"\\\\?\\unix" + unixTree.substr(0, parent) + L"/" + preset + L"/" + relative;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

bool MakeUnixSymlink(const std::wstring& link, const std::wstring& target) {
  const std::string unixLink = UnixPathOf(link);
  const std::string unixTarget = UnixPathOf(target);
  if (unixLink.empty() || unixTarget.empty()) return false;
  if (!StartUnixProgram(L"\\\\?\\unix\\bin\\ln",
                        L"/bin/ln -s -n -f \"" + Widen(unixTarget) + L"\" \"" + Widen(unixLink) + L"\"")) {
    return false;
  }
  return WaitForEffect(L"the link " + link + L" to appear",
                       [&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

namespace {

std::wstring DriveLinkPath(wchar_t letter) {
  wchar_t prefix[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) return {};
  return std::wstring(prefix) + L"/dosdevices/" + static_cast<wchar_t>(towlower(letter)) + L":";
}

bool DriveOpens(wchar_t letter) {
  const wchar_t root[] = {letter, L':', L'\\', 0};
  unique_hfile directory(CreateFileW(root, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return directory.is_valid();
}

}  // namespace

bool LinkWineDrive(wchar_t letter, const std::string& unixFolder) {
  const std::wstring link = DriveLinkPath(letter);
  if (link.empty() ||
      !StartUnixProgram(L"\\\\?\\unix\\bin\\ln", L"/bin/ln -s -n -f \"" + Widen(unixFolder) + L"\" \"" + link + L"\"")) {
    return false;
  }
  return WaitForEffect(L"drive " + std::wstring(1, letter) + L": to open", [&] { return DriveOpens(letter); });
}

bool UnlinkWineDrive(wchar_t letter) {
  const std::wstring link = DriveLinkPath(letter);
  if (link.empty() || !StartUnixProgram(L"\\\\?\\unix\\bin\\rm", L"/bin/rm -f \"" + link + L"\"")) return false;
  return WaitForEffect(L"drive " + std::wstring(1, letter) + L": to go", [&] { return !DriveOpens(letter); });
}

std::wstring MakeScratchFolder(const wchar_t* name) {
  const std::wstring folder = std::wstring(L"D:\\") + name;
  // rm from Linux: Wine cannot delete a link to a folder.
  const std::string unixFolder = UnixPathOf(folder);
  if (!unixFolder.empty() && GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES &&
      StartUnixProgram(L"\\\\?\\unix\\bin\\rm", L"/bin/rm -rf \"" + Widen(unixFolder) + L"\"")) {
    WaitForEffect(L"the old " + folder + L" to go",
                  [&] { return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES; });
  }
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  }
  return bytes;
}

std::string ReadWholeFile(const std::wstring& path) {
  unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string bytes;
  char chunk[65536];
  DWORD read = 0;
  while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
  return bytes;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  unique_hfile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  if (file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size()) {
    return true;
  }
  ReportFailedCall(L"writing " + path, GetLastError());
  return false;
}

std::string WorkedExampleLabelFile() {
  std::string bytes("\xd9\x07\0\0\x01\0\0\0\x02\0\0\0\x10\0\0\0", 16);
  for (char c : std::string("C:\\a.txt")) bytes += std::string{c, '\0'};
  bytes += std::string("\x01\0\0\0\x18\0\0\0", 8);
  for (char c : std::string("D:\\Work\\Plan")) bytes += std::string{c, '\0'};
  bytes += std::string("\x04\0\0\0", 4);
  return bytes;
}

double PreciseNowMs() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace pelko::testing
