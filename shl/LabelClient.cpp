#include "LabelClient.h"

#include <ole2.h>
#include <shlobj.h>

#include <algorithm>

#include "ComPtr.h"
#include "MenuRules.h"
#include "PelkoLabelSvr.h"
#include "TickClock.h"
#include "UniqueHandle.h"
#include "Utf16.h"

namespace pelko {

CLabelClient g_labelClient;

namespace {

// The special folders whose items the extension leaves alone.
constexpr int kExcludedFolders[] = {
    CSIDL_APPDATA,   CSIDL_BITBUCKET, CSIDL_CDBURN_AREA, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_STARTUP,
    0x3D /* CSIDL_COMPUTERSNEARME */, CSIDL_CONNECTIONS, CSIDL_CONTROLS, CSIDL_COOKIES, CSIDL_DRIVES,
    CSIDL_FONTS,     CSIDL_HISTORY,   CSIDL_INTERNET,    CSIDL_INTERNET_CACHE,   CSIDL_NETHOOD,
    CSIDL_NETWORK,   CSIDL_PRINTERS,  CSIDL_PRINTHOOD,   CSIDL_PROGRAMS,         CSIDL_SENDTO,
    CSIDL_STARTMENU, CSIDL_STARTUP,   CSIDL_SYSTEM,      CSIDL_WINDOWS,
};

// Failures after which the service object is of no more use: the service
// ended or restarted under it.
bool IsConnectionLost(HRESULT hr) {
  switch (hr) {
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case CO_E_OBJNOTCONNECTED:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
    case HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE):
      return true;
    default:
      return false;
  }
}

}  // namespace

char16_t FoldForPathComparison(char16_t unit) {
  return static_cast<char16_t>(reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(unit)))));
}

std::optional<FolderAndName> SplitFolderAndName(std::u16string_view path) {
  const std::size_t slash = path.rfind(u'\\');
  if (slash == std::u16string_view::npos || slash + 1 == path.size()) return std::nullopt;
  // A drive's root keeps its backslash: "C:" alone names another folder.
  const std::size_t folderLength = (slash > 0 && path[slash - 1] == u':') ? slash + 1 : slash;
  if (folderLength == 0) return std::nullopt;
  return FolderAndName{path.substr(0, folderLength), path.substr(slash + 1)};
}

struct CLabelClient::Request {
  enum class Kind { Lookup, FolderLookup, Apply } kind = Kind::Lookup;
  std::vector<std::wstring> paths;  // the folder, for a folder lookup
  LabelValue value = kNoLabel;  // the label to apply, or the one looked up
  std::shared_ptr<const FolderAnswer> folderAnswer;
  bool succeeded = false;
  bool finished = false;
  bool abandoned = false;  // the caller stopped waiting
};

// The lookup thread's service object, made on first need and again after
// the connection was lost, and its folder query (asked for once per object).
struct CLabelClient::ServiceConnection {
  com_ptr<ILabelUtil> labels;
  com_ptr<ILabelFolderQuery> folders;
  bool folderQueryAsked = false;
};

namespace {

// The names and labels of a folder answer, when both arrays are what the
// interface promises; the service gives them in its path order.
bool ReadFolderAnswer(ULONG count, const VARIANT& names, const VARIANT& labels,
                      std::vector<std::pair<std::u16string, LabelValue>>& labelled) {
  if (count == 0) return true;
  if (names.vt != (VT_ARRAY | VT_BSTR) || labels.vt != (VT_ARRAY | VT_UI4) || !names.parray || !labels.parray ||
      SafeArrayGetDim(names.parray) != 1 || SafeArrayGetDim(labels.parray) != 1 ||
      names.parray->rgsabound[0].cElements < count || labels.parray->rgsabound[0].cElements < count) {
    return false;
  }
  BSTR* nameSlots = nullptr;
  ULONG* labelSlots = nullptr;
  if (FAILED(SafeArrayAccessData(names.parray, reinterpret_cast<void**>(&nameSlots)))) return false;
  const bool read = SUCCEEDED(SafeArrayAccessData(labels.parray, reinterpret_cast<void**>(&labelSlots)));
  if (read) {
    labelled.reserve(count);
    for (ULONG i = 0; i < count; ++i) {
      labelled.emplace_back(ToU16(std::wstring_view(nameSlots[i] ? nameSlots[i] : L"", SysStringLen(nameSlots[i]))),
                            labelSlots[i]);
    }
    SafeArrayUnaccessData(labels.parray);
  }
  SafeArrayUnaccessData(names.parray);
  // Looked up by binary search: never trust an order that is not there.
  auto byName = [](const auto& a, const auto& b) { return ComparePaths(a.first, b.first) < 0; };
  if (!std::is_sorted(labelled.begin(), labelled.end(), byName)) std::sort(labelled.begin(), labelled.end(), byName);
  return read;
}

}  // namespace

bool CLabelClient::InBackoff() const { return m_backingOff && !SystemTickReached(m_retryAfterTick); }

LabelValue CLabelClient::LookupLabel(std::u16string_view path) {
  if (m_cachingAndReuse) {
    if (auto cached = Recall(path)) return *cached;
  }
  return LookupLabelUncached(path, GetTickCount() - kCacheLifetimeMs + 1);
}

LabelValue CLabelClient::LookupLabelUncached(std::u16string_view path, DWORD freshSinceTick) {
  const auto split = SplitFolderAndName(path);
  if (!split || !m_cachingAndReuse || !m_folderQueryEnabled || m_folderQueryMissing) return LookupItem(path);
  if (auto cached = Recall(path, freshSinceTick)) return *cached;
  std::shared_ptr<const FolderAnswer> answer;
  switch (LookupFolder(split->folder, answer)) {
    case FolderOutcome::Answered:
      // Only a label set through ApplyLabel meanwhile can be newer.
      if (auto newer = Recall(path, answer->tick)) return *newer;
      return answer->LabelOf(split->name);
    case FolderOutcome::NotOffered:
      return LookupItem(path);
    case FolderOutcome::Unavailable:
      break;
  }
  return LABEL_UNAVAILABLE;
}

CLabelClient::FolderOutcome CLabelClient::LookupFolder(std::u16string_view folder,
                                                       std::shared_ptr<const FolderAnswer>& answer) {
  try {
    auto request = std::make_shared<Request>();
    request->kind = Request::Kind::FolderLookup;
    request->paths.push_back(ToWide(folder));
    // The lookup thread keeps the answer itself: one that comes too late for
    // this caller still serves the next.
    if (Submit(request, kLookupWaitMs) && request->folderAnswer) {
      answer = request->folderAnswer;
      return FolderOutcome::Answered;
    }
    return m_folderQueryMissing ? FolderOutcome::NotOffered : FolderOutcome::Unavailable;
  } catch (...) {
    return FolderOutcome::Unavailable;
  }
}

LabelValue CLabelClient::LookupItem(std::u16string_view path) {
  try {
    auto request = std::make_shared<Request>();
    request->paths.push_back(ToWide(path));
    if (!Submit(request, kLookupWaitMs)) return LABEL_UNAVAILABLE;
    Remember(path, request->value);
    return request->value;
  } catch (...) {
    return LABEL_UNAVAILABLE;
  }
}

std::optional<LabelValue> CLabelClient::Recall(std::u16string_view path, DWORD sinceTick) {
  std::lock_guard lock(m_cacheLock);
  std::optional<CachedLabel> answer;
  if (const auto found = m_cache.find(path); found != m_cache.end() && TickReached(found->second.tick, sinceTick)) {
    answer = found->second;
  }
  if (m_folderAnswers.empty()) return answer ? std::optional(answer->label) : std::nullopt;
  const auto split = SplitFolderAndName(path);
  if (!split) return answer ? std::optional(answer->label) : std::nullopt;
  const auto folder = m_folderAnswers.find(split->folder);
  // The newer of the item's own answer and its folder's wins.
  if (folder != m_folderAnswers.end() && TickReached(folder->second->tick, sinceTick) &&
      (!answer || !TickReached(answer->tick, folder->second->tick))) {
    return folder->second->LabelOf(split->name);
  }
  return answer ? std::optional(answer->label) : std::nullopt;
}

LabelValue CLabelClient::FolderAnswer::LabelOf(std::u16string_view name) const {
  const auto named = std::lower_bound(labelled.begin(), labelled.end(), name,
                                      [](const auto& entry, std::u16string_view key) { return ComparePaths(entry.first, key) < 0; });
  return (named != labelled.end() && PathsEqual(named->first, name)) ? named->second : kNoLabel;
}

void CLabelClient::RememberFolder(std::u16string folder, std::shared_ptr<const FolderAnswer> answer) {
  std::lock_guard lock(m_cacheLock);
  if (m_folderAnswers.size() >= kFolderAnswerLimit && !m_folderAnswers.contains(folder)) {
    const DWORD now = GetTickCount();
    std::erase_if(m_folderAnswers, [now](const auto& entry) { return now - entry.second->tick >= kCacheLifetimeMs; });
    if (m_folderAnswers.size() >= kFolderAnswerLimit) {
      m_folderAnswers.erase(std::min_element(m_folderAnswers.begin(), m_folderAnswers.end(), [](const auto& a, const auto& b) {
        return !TickReached(a.second->tick, b.second->tick);
      }));
    }
  }
  m_folderAnswers.insert_or_assign(std::move(folder), std::move(answer));
}

void CLabelClient::Remember(std::u16string_view path, LabelValue label) {
  if (!m_cachingAndReuse) return;
  std::lock_guard lock(m_cacheLock);
  const DWORD now = GetTickCount();
  if (m_cache.size() >= kCacheLimit) {
    std::erase_if(m_cache, [now](const auto& entry) { return now - entry.second.tick >= kCacheLifetimeMs; });
    if (m_cache.size() >= kCacheLimit) m_cache.clear();
  }
  m_cache.insert_or_assign(std::u16string(path), CachedLabel{label, now});
}

void CLabelClient::Forget(std::u16string_view path) {
  std::lock_guard lock(m_cacheLock);
  if (auto found = m_cache.find(path); found != m_cache.end()) m_cache.erase(found);
  if (const auto split = SplitFolderAndName(path)) {
    if (auto folder = m_folderAnswers.find(split->folder); folder != m_folderAnswers.end()) m_folderAnswers.erase(folder);
  }
}

void CLabelClient::SetCachingAndReuseForTesting(bool enabled) {
  m_cachingAndReuse = enabled;
  std::lock_guard lock(m_cacheLock);
  m_cache.clear();
  m_folderAnswers.clear();
}

void CLabelClient::SetFolderQueryForTesting(bool enabled) {
  m_folderQueryEnabled = enabled;
  std::lock_guard lock(m_cacheLock);
  m_folderAnswers.clear();
}

bool CLabelClient::WorkerRunning() const { return m_thread.Running(); }

bool CLabelClient::ApplyLabel(const std::vector<std::u16string>& paths, LabelValue value) {
  try {
    auto request = std::make_shared<Request>();
    request->kind = Request::Kind::Apply;
    request->value = value;
    for (const std::u16string& path : paths) request->paths.push_back(ToWide(path));
    const bool applied = Submit(request, kChangeWaitMs);
    for (const std::u16string& path : paths) {
      if (applied) {
        Remember(path, value);
      } else {
        Forget(path);  // whatever happened, the service is to be asked again
      }
    }
    return applied;
  } catch (...) {
    return false;
  }
}

bool CLabelClient::Submit(const std::shared_ptr<Request>& request, DWORD waitMs) {
  // A failure moments ago: answer at once instead of queueing behind it.
  if (InBackoff()) return false;
  std::unique_lock lock(m_lock);
  // While a stop waits, and from a thread on its way out, nothing more is
  // served. A thread that ended on its own (after a stop that timed out, once
  // its call returned) is replaced below: nobody else would start the next one.
  const bool running = m_thread.Running();
  if (m_stopWaiters > 0 || (running && (m_thread.StopRequested() || m_threadLeftLoop))) return false;
  if (request->kind == Request::Kind::Lookup) {
    // A call that already takes longer than a lookup may wait means the
    // service hangs or starts: lookups do not queue up behind it.
    const bool stuck = m_inFlight && GetTickCount() - m_inFlightSinceTick > kLookupWaitMs;
    if (stuck || m_queue.size() >= kMostQueuedLookups) return false;
  }
  if (!running) {
    m_threadLeftLoop = false;
    m_queue.clear();
    if (!m_thread.Start([this](const CWorkerThread::StopToken& stop) { RunLookupThread(stop); })) return false;
  }
  m_queue.push_back(request);
  m_changed.notify_all();
  const bool finished =
      m_changed.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return request->finished; });
  if (!finished) {
    request->abandoned = true;
    return false;
  }
  return request->succeeded;
}

void CLabelClient::RunLookupThread(const CWorkerThread::StopToken& stop) {
  const bool comReady = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  {
    ServiceConnection connection;
    std::unique_lock lock(m_lock);
    while (!stop.Requested()) {
      if (m_queue.empty()) {
        m_changed.wait(lock);
        continue;
      }
      std::shared_ptr<Request> request = std::move(m_queue.front());
      m_queue.pop_front();
      if (request->abandoned) continue;
      m_inFlight = request;
      m_inFlightSinceTick = GetTickCount();
      lock.unlock();
      if (comReady) Serve(*request, connection);
      lock.lock();
      m_inFlight.reset();
      request->finished = true;
      m_changed.notify_all();
    }
    // Requests still queued are answered "unavailable" by their callers' time-outs.
    m_threadLeftLoop = true;
  }
  if (comReady) CoUninitialize();
}

void CLabelClient::Serve(Request& request, ServiceConnection& connection) {
  auto connect = [&]() -> bool {
    if (connection.labels) return true;
    connection.folders.reset();
    connection.folderQueryAsked = false;
    CLSID clsid;
    com_ptr<IUnknown> unknown;
    if (FAILED(CLSIDFromProgID(L"PelkoLabelSvr.LabelUtil", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                IID_IUnknown, unknown.put_void())) ||
        FAILED(OleRun(unknown.get())) || FAILED(unknown.query(connection.labels))) {
      connection.labels.reset();
      return false;
    }
    ++m_objectsCreated;
    m_folderQueryMissing = false;  // a new object, perhaps of a newer service
    return true;
  };
  // One call on the connection; after a lost connection one new object and
  // one more try. The operation's result, or the failure to connect.
  auto call = [&](auto&& operation) -> HRESULT {
    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!connect()) return E_FAIL;
      hr = operation(connection);
      if (!IsConnectionLost(hr)) break;
      connection.labels.reset();
    }
    return hr;
  };

  bool succeeded = true;
  bool notOffered = false;
  for (const std::wstring& path : request.paths) {
    unique_bstr text(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
    if (!text) {
      succeeded = false;
      break;
    }
    HRESULT hr = E_FAIL;
    if (request.kind == Request::Kind::Lookup) {
      ULONG value = kNoLabel;
      hr = call([&](ServiceConnection& service) {
        ++m_serviceCalls;
        return service.labels->GetLabel(text.get(), &value);
      });
      if (hr == S_OK) request.value = value;
    } else if (request.kind == Request::Kind::FolderLookup) {
      auto answer = std::make_shared<FolderAnswer>();
      hr = call([&](ServiceConnection& service) -> HRESULT {
        if (!service.folderQueryAsked) {
          service.folderQueryAsked = true;
          service.labels.query(service.folders);
        }
        if (!service.folders) return E_NOINTERFACE;
        ++m_serviceCalls;
        ++m_folderQueries;
        answer->tick = GetTickCount();
        ULONG count = 0;
        unique_variant names, labels;
        const HRESULT queried = service.folders->GetFolderLabels(text.get(), &count, names.get(), labels.get());
        if (queried == S_OK && !ReadFolderAnswer(count, *names.get(), *labels.get(), answer->labelled)) return E_UNEXPECTED;
        return queried;
      });
      notOffered = hr == E_NOINTERFACE;
      if (hr == S_OK) {
        request.folderAnswer = answer;
        RememberFolder(ToU16(path), std::move(answer));
      }
    } else {
      hr = call([&](ServiceConnection& service) {
        ++m_serviceCalls;
        return request.value != kNoLabel ? service.labels->SetLabel(text.get(), request.value)
                                         : service.labels->ClearLabel(text.get());
      });
    }
    // S_FALSE is the service's "not made" (it could not lock its table).
    succeeded = hr == S_OK;
    if (!succeeded) break;
  }
  request.succeeded = succeeded;
  // An older service without the folder query is no failure: its callers ask item by item.
  if (notOffered) {
    m_folderQueryMissing = true;
  } else {
    if (!succeeded) m_retryAfterTick = GetTickCount() + kBackoffMs;
    m_backingOff = !succeeded;
  }
  if (!m_cachingAndReuse) connection.labels.reset();
}

bool CLabelClient::StopWorker(DWORD waitMs) {
  {
    // Under the lock: the thread checks the stop under it before it waits.
    std::lock_guard lock(m_lock);
    m_thread.RequestStop();
    ++m_stopWaiters;
    m_changed.notify_all();
  }
  const bool ended = m_thread.Stop(waitMs);
  std::lock_guard lock(m_lock);
  --m_stopWaiters;
  if (ended) {
    if (m_stopWaiters == 0) m_queue.clear();
    return true;
  }
  // The thread is stuck in a call: call the stop off, so that it goes on
  // serving once the call returns instead of ending with nobody to start
  // the next one.
  if (m_stopWaiters == 0 && !m_threadLeftLoop) m_thread.CancelStop();
  return false;
}

void CLabelClient::RebuildExcludedFolders() {
  auto folders = std::make_shared<std::vector<std::u16string>>();
  for (int csidl : kExcludedFolders) {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) && path[0]) {
      folders->push_back(ToU16(path));
    }
  }
  std::lock_guard lock(m_excludedLock);
  m_excludedFolders = std::move(folders);
}

bool CLabelClient::IsSupportedPath(std::u16string_view path) {
  std::shared_ptr<const std::vector<std::u16string>> folders;
  {
    std::lock_guard lock(m_excludedLock);
    folders = m_excludedFolders;
  }
  if (!folders) {
    RebuildExcludedFolders();
    std::lock_guard lock(m_excludedLock);
    folders = m_excludedFolders;
  }
  return pelko::IsSupportedPath(path, *folders, &FoldForPathComparison);
}

}  // namespace pelko
