#include "Win32LabelDatabase.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "DataFolder.h"
#include "UniqueHandle.h"
#include "Utf16.h"

namespace pelko {
namespace {

constexpr wchar_t kFileName[] = L"labels.lst";
constexpr wchar_t kTemporarySuffix[] = L".tmp";
// Local system and administrators full control, users read and execute;
// protected, so nothing is inherited from the user-writable parent.
constexpr wchar_t kFolderAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";

bool IsSharingError(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

bool IsMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool CreateSecuredFolder(const std::wstring& path) {
  unique_hlocal descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderAccess, SDDL_REVISION_1, descriptor.put(), nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  return CreateDirectoryW(path.c_str(), &attributes) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// "-YYYYMMDD-HHMMSS", local time, so a user can tell when it happened.
std::wstring TimeStamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t text[32];
  swprintf(text, 32, L"-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
           now.wSecond);
  return text;
}

}  // namespace

Win32LabelDatabase::Win32LabelDatabase(std::wstring base) : m_base(std::move(base)) {
  if (!m_base.empty() && m_base.back() == L'\\') m_base.pop_back();
  m_vendorFolder = m_base + L"\\" + kVendorSubfolder;
  m_folder = m_base + L"\\" + kProductDataSubfolder;
  m_file = m_folder + L"\\" + kFileName;
  m_temporary = m_file + kTemporarySuffix;
}

std::unique_ptr<Win32LabelDatabase> Win32LabelDatabase::ForProductDataFolder() {
  auto base = CommonAppDataFolder();
  if (!base) return nullptr;
  return std::make_unique<Win32LabelDatabase>(std::move(*base));
}

bool Win32LabelDatabase::Fail(const wchar_t* what, const std::wstring& path, unsigned long error) {
  wchar_t code[16];
  swprintf(code, 16, L"%lu", error);
  m_lastError = ToU16(std::wstring(what) + L" " + path + L" (error " + code + L")");
  SetLastError(error);
  return false;
}

// Both folders below the trusted base must be real folders, not links: a
// user who plants a junction there must not steer the service's writes.
bool Win32LabelDatabase::CheckNoLinks(bool createMissing) {
  for (const std::wstring* folder : {&m_vendorFolder, &m_folder}) {
    DWORD attributes = GetFileAttributesW(folder->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && createMissing) {
      if (!CreateSecuredFolder(*folder)) return Fail(L"could not create the folder", *folder, GetLastError());
      attributes = GetFileAttributesW(folder->c_str());
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(L"cannot reach the folder", *folder, GetLastError());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return Fail(L"refusing the linked folder", *folder, ERROR_ACCESS_DENIED);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(L"not a folder:", *folder, ERROR_DIRECTORY);
  }
  return true;
}

ILabelDatabase::ReadOutcome Win32LabelDatabase::Read(std::vector<std::uint8_t>& contents) {
  contents.clear();
  const DWORD fileAttributes = GetFileAttributesW(m_file.c_str());
  if (fileAttributes == INVALID_FILE_ATTRIBUTES && IsMissingError(GetLastError())) return ReadOutcome::Missing;
  if (!CheckNoLinks(/*createMissing=*/false)) return ReadOutcome::Unreadable;

  for (int attempt = 1;; ++attempt) {
    // The link itself is opened, never its target.
    unique_hfile file(CreateFileW(m_file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                                  nullptr));
    DWORD error = file ? ERROR_SUCCESS : GetLastError();
    if (file) {
      BY_HANDLE_FILE_INFORMATION information;
      LARGE_INTEGER size;
      if (!GetFileInformationByHandle(file.get(), &information) || !GetFileSizeEx(file.get(), &size)) {
        Fail(L"cannot examine", m_file, GetLastError());
        return ReadOutcome::Unreadable;
      }
      if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        Fail(L"refusing the linked file", m_file, ERROR_ACCESS_DENIED);
        return ReadOutcome::Unreadable;
      }
      try {
        contents.resize(static_cast<std::size_t>(size.QuadPart));
      } catch (const std::bad_alloc&) {
        Fail(L"too large to load:", m_file, ERROR_NOT_ENOUGH_MEMORY);
        return ReadOutcome::Unreadable;
      }
      std::size_t done = 0;
      while (done < contents.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(contents.size() - done, 1u << 24));
        DWORD read = 0;
        if (!ReadFile(file.get(), contents.data() + done, chunk, &read, nullptr)) {
          error = GetLastError();
          break;
        }
        if (read == 0) break;  // shorter than it said: decode what there is
        done += read;
      }
      if (error == ERROR_SUCCESS) {
        contents.resize(done);
        return ReadOutcome::Read;
      }
      contents.clear();
    }
    if (IsMissingError(error)) return ReadOutcome::Missing;
    if (!IsSharingError(error) || attempt >= m_readAttempts) {
      Fail(L"cannot read", m_file, error);
      return ReadOutcome::Unreadable;
    }
    Sleep(m_retryPauseMs);
  }
}

bool Win32LabelDatabase::Replace(const std::function<bool(const ByteSink&)>& produce) {
  if (!CheckNoLinks(/*createMissing=*/true)) return false;

  // One fixed temporary name: a leftover from a crash is removed (the link
  // itself, if someone planted one), then the name is created exclusively.
  DeleteFileW(m_temporary.c_str());
  unique_hfile temporary(Injected(Step::CreateTemporary)
                             ? INVALID_HANDLE_VALUE
                             : CreateFileW(m_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!temporary) {
    return Fail(L"could not create", m_temporary, Injected(Step::CreateTemporary) ? ERROR_ACCESS_DENIED : GetLastError());
  }

  DWORD writeError = ERROR_SUCCESS;
  const ByteSink sink = [&](std::span<const std::uint8_t> bytes) {
    DWORD written = 0;
    if (Injected(Step::Write) ||
        !WriteFile(temporary.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
      writeError = Injected(Step::Write) ? ERROR_DISK_FULL : (GetLastError() ? GetLastError() : ERROR_WRITE_FAULT);
      return false;
    }
    return true;
  };
  bool complete = produce(sink);
  if (complete && (Injected(Step::Flush) || !FlushFileBuffers(temporary.get()))) {
    writeError = Injected(Step::Flush) ? ERROR_WRITE_FAULT : GetLastError();
    complete = false;
  }
  temporary.reset();
  if (!complete) {
    DeleteFileW(m_temporary.c_str());
    return Fail(L"could not write", m_temporary, writeError ? writeError : ERROR_WRITE_FAULT);
  }

  if (Injected(Step::Replace) ||
      !MoveFileExW(m_temporary.c_str(), m_file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = Injected(Step::Replace) ? ERROR_SHARING_VIOLATION : GetLastError();
    DeleteFileW(m_temporary.c_str());
    return Fail(L"could not replace", m_file, error);
  }
  return true;
}

std::optional<std::u16string> Win32LabelDatabase::SetAside(bool keepOriginal) {
  if (!CheckNoLinks(/*createMissing=*/false)) return std::nullopt;
  if (GetFileAttributesW(m_file.c_str()) == INVALID_FILE_ATTRIBUTES && IsMissingError(GetLastError())) {
    return std::u16string();  // someone removed it: nothing left to keep
  }
  const std::wstring stem = m_file + L".bad" + TimeStamp();
  // Two in the same second get "-2", "-3"...: an earlier copy is never overwritten.
  for (int n = 1; n < 100; ++n) {
    std::wstring target = stem;
    if (n > 1) target += L"-" + std::to_wstring(n);
    const BOOL done = !Injected(Step::SetAside) && (keepOriginal ? CopyFileW(m_file.c_str(), target.c_str(), TRUE)
                                                                 : MoveFileExW(m_file.c_str(), target.c_str(),
                                                                               MOVEFILE_WRITE_THROUGH));
    if (done) return ToU16(target);
    const DWORD error = Injected(Step::SetAside) ? ERROR_SHARING_VIOLATION : GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      Fail(keepOriginal ? L"could not copy aside" : L"could not move aside", m_file, error);
      return std::nullopt;
    }
  }
  Fail(L"no free name to set aside", m_file, ERROR_FILE_EXISTS);
  return std::nullopt;
}

}  // namespace pelko
