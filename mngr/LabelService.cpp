#include "LabelService.h"

#include <ole2.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "Module.h"
#include "ObserverSeam.h"
#include "UniqueHandle.h"

namespace pelko {
namespace {

// The elements of a one-dimensional array of vartype, readable while this lives.
template <typename Element>
class ArrayView {
 public:
  ArrayView(const VARIANT& holder, VARTYPE vartype) {
    if (holder.vt != (VT_ARRAY | vartype) || !holder.parray || SafeArrayGetDim(holder.parray) != 1) return;
    VARTYPE stored = VT_EMPTY;
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetVartype(holder.parray, &stored)) || stored != vartype ||
        FAILED(SafeArrayGetLBound(holder.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(holder.parray, 1, &upper)) ||
        FAILED(SafeArrayAccessData(holder.parray, reinterpret_cast<void**>(&m_data)))) {
      m_data = nullptr;
      return;
    }
    m_array = holder.parray;
    m_size = upper >= lower ? static_cast<std::size_t>(upper - lower) + 1 : 0;
  }
  ~ArrayView() {
    if (m_array) SafeArrayUnaccessData(m_array);
  }
  ArrayView(const ArrayView&) = delete;
  ArrayView& operator=(const ArrayView&) = delete;

  explicit operator bool() const { return m_array != nullptr; }
  std::size_t size() const { return m_size; }
  const Element& operator[](std::size_t index) const { return m_data[index]; }

 private:
  SAFEARRAY* m_array = nullptr;
  Element* m_data = nullptr;
  std::size_t m_size = 0;
};

constexpr std::uint8_t kPending = 0, kExists = 1, kLeftOut = 2;
constexpr std::size_t kNoItem = static_cast<std::size_t>(-1);

// The drive or share a path lies on ("C:\", "\\server\share\"): a check
// that hangs there tells that the others would too.
std::wstring VolumeOf(const std::wstring& path) {
  if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\') {
    const std::size_t server = path.find(L'\\', 2);
    const std::size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
    return share == std::wstring::npos ? path : path.substr(0, share + 1);
  }
  return path.substr(0, std::min<std::size_t>(3, path.size()));
}

// No "insert a disk" box while a path on a drive without its medium is
// checked. PathFileExistsW sets this for the whole process, which several
// checkers at once would undo for one another; from Windows 7 on it is set
// for the thread alone.
class QuietThreadErrors {
 public:
  QuietThreadErrors() {
    if (!Api() || !Api()(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &m_before)) m_before = kNotSet;
  }
  ~QuietThreadErrors() {
    if (m_before != kNotSet) Api()(m_before, nullptr);
  }
  QuietThreadErrors(const QuietThreadErrors&) = delete;
  QuietThreadErrors& operator=(const QuietThreadErrors&) = delete;

 private:
  using SetThreadErrorModeFn = BOOL(WINAPI*)(DWORD, DWORD*);
  static constexpr DWORD kNotSet = static_cast<DWORD>(-1);
  static SetThreadErrorModeFn Api() {
    static const auto api = reinterpret_cast<SetThreadErrorModeFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadErrorMode")));
    return api;
  }
  DWORD m_before = kNotSet;
};

// A COM apartment for a worker thread, left when the thread is done with COM.
class ThreadApartment {
 public:
  ThreadApartment() : m_entered(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~ThreadApartment() {
    if (m_entered) CoUninitialize();
  }
  ThreadApartment(const ThreadApartment&) = delete;
  ThreadApartment& operator=(const ThreadApartment&) = delete;
  explicit operator bool() const { return m_entered; }

 private:
  bool m_entered;
};

}  // namespace

com_ptr<ILabelUtil> CreateLabelUtil() {
  CLSID clsid{};
  com_ptr<IUnknown> unknown;
  com_ptr<ILabelUtil> labels;
  if (FAILED(CLSIDFromProgID(L"PelkoLabelSvr.LabelUtil", &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr,
                              CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                              IID_IUnknown, unknown.put_void())) ||
      FAILED(OleRun(unknown.get())) || FAILED(unknown.query(labels))) {
    return nullptr;
  }
  return labels;
}

std::vector<LabelledItem> GetAllLabels(ILabelUtil& labels) {
  constexpr ULONG kEveryLabel = 0;
  ULONG count = 0;
  unique_variant paths, values;
  if (FAILED(labels.GetLabelCollection(kEveryLabel, &count, paths.get(), values.get())) || count == 0) return {};

  const ArrayView<BSTR> pathArray(*paths.get(), VT_BSTR);
  const ArrayView<ULONG> labelArray(*values.get(), VT_UI4);
  if (!pathArray || !labelArray) return {};
  const std::size_t items = std::min<std::size_t>({count, pathArray.size(), labelArray.size()});
  std::vector<LabelledItem> result;
  result.reserve(items);
  for (std::size_t index = 0; index < items; ++index) {
    const BSTR path = pathArray[index];
    result.push_back({path ? std::wstring(path, SysStringLen(path)) : std::wstring(), labelArray[index]});
  }
  return result;
}

std::vector<LabelledItem> GetAllLabelsInOwnApartment() {
  const ThreadApartment apartment;
  if (!apartment) return {};
  const com_ptr<ILabelUtil> labels = CreateLabelUtil();
  return labels ? GetAllLabels(*labels.get()) : std::vector<LabelledItem>();
}

PathCheck PathCheck::FromSeam() {
  PathCheck check;
  const std::optional<std::wstring> seam = ReadSeamValue(ThisModule(), L".path-check");
  if (!seam) return check;
  const std::size_t split = seam->find(L';');
  check.delayMs = static_cast<DWORD>(wcstoul(seam->substr(0, split).c_str(), nullptr, 10));
  if (split != std::wstring::npos) check.hangPattern = seam->substr(split + 1);
  return check;
}

bool PathCheck::Exists(const std::wstring& path) const {
  if (delayMs > 0) Sleep(delayMs);
  // As a share that never answers: the fill must give up on this thread.
  if (!hangPattern.empty() && PathMatchSpecW(path.c_str(), hangPattern.c_str())) Sleep(INFINITE);
  const QuietThreadErrors quiet;
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---- The fill ------------------------------------------------------------------

// What the fill's threads share; each keeps it alive while it runs, so an
// abandoned thread never touches freed memory.
struct CLabelListFill::Shared {
  Fetch fetch;
  Check check;
  // Written by the fetcher before answered is set, read only after.
  std::shared_ptr<const Items> items;
  std::unique_ptr<std::atomic<std::uint8_t>[]> results;
  std::atomic<bool> answered{false};
  std::atomic<std::size_t> next{0};  // the next item a checker takes
  std::atomic<bool> giveUpAll{false};
  std::atomic<int> hungVolumeCount{0};
  std::mutex lock;
  std::vector<std::wstring> hungVolumes;  // under lock

  bool OnHungVolume(const std::wstring& path) {
    if (giveUpAll) return true;
    if (hungVolumeCount == 0) return false;
    const std::wstring volume = VolumeOf(path);
    const std::lock_guard guard(lock);
    return std::any_of(hungVolumes.begin(), hungVolumes.end(),
                       [&](const std::wstring& hung) { return lstrcmpiW(hung.c_str(), volume.c_str()) == 0; });
  }
  void MarkHung(const std::wstring& path) {
    const std::lock_guard guard(lock);
    hungVolumes.push_back(VolumeOf(path));
    ++hungVolumeCount;
  }
  // The first result of an item counts: the checker's, or the give-up's.
  void Settle(std::size_t item, std::uint8_t result) {
    std::uint8_t pending = kPending;
    results[item].compare_exchange_strong(pending, result);
  }
};

struct CLabelListFill::Checker {
  struct State {
    std::atomic<DWORD> since{0};          // when the check of item began (set first)
    std::atomic<std::size_t> item{kNoItem};
    std::atomic<bool> abandoned{false};
  };
  std::shared_ptr<State> state = std::make_shared<State>();
  CWorkerThread thread;
};

CLabelListFill::CLabelListFill(Fetch fetch, Check check, DWORD hungCheckMs)
    : m_shared(std::make_shared<Shared>()), m_hungCheckMs(hungCheckMs) {
  m_shared->fetch = std::move(fetch);
  m_shared->check = std::move(check);
}

// The workers' destructors ask them to stop and wait for nothing.
CLabelListFill::~CLabelListFill() = default;

bool CLabelListFill::Start() {
  return m_fetcher.Start([shared = m_shared](const CWorkerThread::StopToken& stop) {
    Items items = shared->fetch();
    if (stop.Requested()) return;
    shared->results = std::make_unique<std::atomic<std::uint8_t>[]>(items.size());
    shared->items = std::make_shared<const Items>(std::move(items));
    shared->answered = true;
  });
}

bool CLabelListFill::StartChecker() {
  auto checker = std::make_unique<Checker>();
  const bool started = checker->thread.Start(
      [shared = m_shared, state = checker->state](const CWorkerThread::StopToken& stop) {
        const Items& items = *shared->items;
        while (!stop.Requested() && !state->abandoned) {
          const std::size_t item = shared->next++;
          if (item >= items.size()) return;
          const std::wstring& path = items[item].path;
          std::uint8_t result = kLeftOut;
          if (!shared->OnHungVolume(path)) {
            state->since = GetTickCount();
            state->item = item;
            result = shared->check(path) ? kExists : kLeftOut;
            state->item = kNoItem;
          }
          shared->Settle(item, result);
        }
      });
  if (started) m_checkers.push_back(std::move(checker));
  return started;
}

CLabelListFill::Progress CLabelListFill::Collect(DWORD nowTick) {
  Progress progress;
  if (!m_shared->answered) return progress;
  progress.answered = true;
  const Items& items = *m_shared->items;
  const std::size_t count = items.size();
  bool checking = !m_checkers.empty();
  if (!checking && m_handedOut < count) {
    for (int each = 0; each < kCheckers; ++each) checking = StartChecker() || checking;
  }
  // A check that does not answer is given up; a new checker goes on.
  for (std::size_t each = 0; each < m_checkers.size(); ++each) {
    Checker::State& state = *m_checkers[each]->state;
    const std::size_t item = state.item;
    // Signed: a check may have begun after nowTick was read.
    const auto elapsed = static_cast<std::int32_t>(nowTick - state.since);
    if (item == kNoItem || state.abandoned || elapsed < static_cast<std::int32_t>(m_hungCheckMs)) continue;
    state.abandoned = true;
    m_shared->MarkHung(items[item].path);
    m_shared->Settle(item, kLeftOut);
    if (++m_abandoned >= kMostAbandoned) m_shared->giveUpAll = true;
    StartChecker();
  }
  if (!checking) {
    // No thread to check with: nothing can be shown as checked.
    for (std::size_t item = m_handedOut; item < count; ++item) m_shared->Settle(item, kLeftOut);
  }
  for (; m_handedOut < count; ++m_handedOut) {
    const std::uint8_t result = m_shared->results[m_handedOut];
    if (result == kPending) break;
    if (result == kExists) progress.existing.push_back(m_handedOut);
  }
  progress.finished = m_handedOut == count;
  if (progress.finished) m_checkers.clear();
  return progress;
}

std::shared_ptr<const CLabelListFill::Items> CLabelListFill::Answer() const {
  return m_shared->answered ? m_shared->items : nullptr;
}

}  // namespace pelko
