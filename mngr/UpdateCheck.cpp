#include "UpdateCheck.h"

#include <ole2.h>
#include <urlmon.h>

#include <string>

#include "LabelService.h"
#include "Module.h"
#include "ObserverSeam.h"
#include "ProductLinks.h"
#include "ShellSeam.h"
#include "SmallFile.h"
#include "UniqueHandle.h"
#include "Version.h"
#include "VersionRules.h"

namespace pelko {
namespace {

// A version file is a line of text: anything longer is not one.
constexpr DWORD kVersionFileLimit = 4096;
constexpr DottedVersion kThisVersion{PELKO_VERSION_MAJOR, PELKO_VERSION_MINOR, PELKO_VERSION_PATCH,
                                     PELKO_VERSION_TWEAK};

// Asks for a fresh copy (a cached old version file would hide a new one)
// and ends the download as soon as it is too long to be a version file or
// the manager is closing.
class DownloadWatch final : public IBindStatusCallback {
 public:
  explicit DownloadWatch(const CWorkerThread::StopToken& stop) : m_stop(stop) {}

  IFACEMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = (iid == IID_IUnknown || iid == IID_IBindStatusCallback) ? static_cast<IBindStatusCallback*>(this) : nullptr;
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  // Lives on the worker's stack for the one synchronous download.
  IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
  IFACEMETHODIMP_(ULONG) Release() override { return 1; }

  IFACEMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
    if (!flags || !info) return E_INVALIDARG;
    *flags |= BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;
    return S_OK;
  }
  IFACEMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) override {
    return (progress > kVersionFileLimit || progressMax > kVersionFileLimit || m_stop.Requested()) ? E_ABORT : S_OK;
  }
  IFACEMETHODIMP OnStartBinding(DWORD, IBinding*) override { return m_stop.Requested() ? E_ABORT : S_OK; }
  IFACEMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  IFACEMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  IFACEMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  IFACEMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  IFACEMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

 private:
  const CWorkerThread::StopToken& m_stop;
};

// A temporary file the system names, deleted when this goes.
class TemporaryFile {
 public:
  TemporaryFile() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    wchar_t name[MAX_PATH] = {};
    if (length > 0 && length <= MAX_PATH && GetTempFileNameW(folder, L"tmp", 0, name)) m_path = name;
  }
  ~TemporaryFile() {
    if (!m_path.empty()) DeleteFileW(m_path.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::wstring& Path() const { return m_path; }

 private:
  std::wstring m_path;
};

// Where the version file is: the maker's server, or for tests the address
// an administrator put beside the program.
std::wstring VersionFileUrl() {
  const std::optional<std::wstring> seam = ReadSeamValue(ThisModule(), L".version-url");
  return seam && !seam->empty() ? *seam : kVersionFileUrl;
}

}  // namespace

bool StartUpdateCheck(CWorkerThread& worker, std::shared_ptr<UpdateCheckState> state) {
  return worker.Start([state = std::move(state)](const CWorkerThread::StopToken& stop) {
    UpdateCheckThreadProc(state, stop);
  });
}

void UpdateCheckThreadProc(const std::shared_ptr<UpdateCheckState>& state, const CWorkerThread::StopToken& stop) {
  // Its own apartment: the download and the service object need one.
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return;
  {
    const TemporaryFile download;
    std::string text;
    DownloadWatch watch(stop);
    if (download.Path().size() >= 6 &&
        URLDownloadToFileW(nullptr, VersionFileUrl().c_str(), download.Path().c_str(), 0, &watch) == S_OK &&
        !stop.Requested() && ReadSmallFile(download.Path(), kVersionFileLimit, text) && IsNewerVersion(text, kThisVersion)) {
      InterlockedExchange(&state->newVersionFound, 1);
      NotifyNewVersion(*state);
    }
  }
  CoUninitialize();
}

void NotifyNewVersion(UpdateCheckState& state) {
  if (state.notified != 0 || state.newVersionFound == 0) return;
  InterlockedExchange(&state.notified, 1);
  const com_ptr<ILabelUtil> labels = CreateLabelUtil();
  if (!labels) return;
  VARIANT_BOOL told = VARIANT_TRUE;
  if (FAILED(labels->get_IsNewVersionNotified(&told)) || told != VARIANT_FALSE) return;
  PostMessageW(state.frameWindow, WM_NEWVERSIONFOUND, 0, 0);
  labels->put_IsNewVersionNotified(VARIANT_TRUE);
}

void AskToDownloadNewVersion(HWND frame) {
  if (ManagerMessageBox(frame, L"There is a new version available.\r\n\r\nDo you want to download it now?", MB_YESNO,
                        L"New Version") == IDYES) {
    ShellOpen(nullptr, nullptr, kProductWebSite, SW_SHOW);
  }
}

}  // namespace pelko
