#include "SmallFile.h"

#include "UniqueHandle.h"

namespace pelko {

bool ReadSmallFile(const std::wstring& path, std::size_t limit, std::string& bytes) {
  const unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return false;
  if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > limit) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  // One byte more than the size said: a file that grew meanwhile is seen.
  bytes.resize(static_cast<std::size_t>(size.QuadPart) + 1);
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return false;
  if (read > limit) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  bytes.resize(read);
  return true;
}

bool WriteFileAside(const std::wstring& path, const std::string& bytes, ExistingFile existing) {
  const std::wstring aside = path + L".tmp";
  const auto failed = [&aside] {
    const DWORD error = GetLastError();
    DeleteFileW(aside.c_str());
    SetLastError(error);
    return false;
  };
  {
    const unique_hfile file(CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.get())) {
      return failed();
    }
  }
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (existing == ExistingFile::Replace ? MOVEFILE_REPLACE_EXISTING : 0);
  return MoveFileExW(aside.c_str(), path.c_str(), flags) || failed();
}

std::string Utf16FileBytes(const std::wstring& text) {
  std::string bytes("\xFF\xFE", 2);
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  return bytes;
}

std::wstring SystemErrorText(DWORD error) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const unique_hlocal owned(text);
  std::wstring message = text ? text : L"";
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  return L"error " + std::to_wstring(error) + (message.empty() ? L"" : L", " + message);
}

}  // namespace pelko
