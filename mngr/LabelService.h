#pragma once
// The manager's way into the label service: one LabelUtil object per
// operation, made by its ProgID as every client makes it; and the fill of
// the label list, which asks the service and checks that each item still
// exists on threads of its own.

#include <windows.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "Labels.h"
#include "PelkoLabelSvr.h"
#include "WorkerThread.h"

namespace pelko {

// CLSIDFromProgID, CoCreateInstance (in-process, handler, local or remote),
// OleRun, QueryInterface; null when any step failed.
com_ptr<ILabelUtil> CreateLabelUtil();

struct LabelledItem {
  std::wstring path;
  LabelValue label = kNoLabel;
};

// Every labelled item the service holds, in the service's order. Empty when
// the call fails or its answer is not an array of paths (BSTR) with an
// array of labels (unsigned 32-bit); never more items than both arrays hold.
std::vector<LabelledItem> GetAllLabels(ILabelUtil& labels);
// The same from a thread without COM: in a multithreaded apartment for the call.
std::vector<LabelledItem> GetAllLabelsInOwnApartment();

// Whether a labelled item still exists. For tests, a file
// "PelkoLabelMngr.exe.path-check" beside the program (only an administrator
// can write there) slows each check or makes some hang, as a share that no
// longer answers would: "<ms per check>[;<pattern of paths that hang>]",
// the pattern as PathMatchSpecW reads it.
struct PathCheck {
  DWORD delayMs = 0;
  std::wstring hangPattern;
  static PathCheck FromSeam();
  bool Exists(const std::wstring& path) const;
};

// One fill of the label list. A worker asks the service for every labelled
// item (in an apartment of its own); checkers then test the paths, a few at
// a time. The UI thread polls Collect, which hands out the items whose
// checks are over, existing ones only and in the service's order, so the
// workers never touch a window. A check that has not answered within
// hungCheckMs is given up: its item is left out, later items on the same
// drive or share are left out unchecked, and its thread is abandoned (it
// touches only the fill's shared state, which it keeps alive) while a new
// checker goes on. Destroying the fill cancels it and waits for nothing.
class CLabelListFill {
 public:
  using Items = std::vector<LabelledItem>;
  using Fetch = std::function<Items()>;
  using Check = std::function<bool(const std::wstring& path)>;
  static constexpr DWORD kHungCheckMs = 3000;
  static constexpr int kCheckers = 2;        // the machine's cores are the limit, not the disk
  static constexpr int kMostAbandoned = 8;   // then every item left is left out

  CLabelListFill(Fetch fetch, Check check, DWORD hungCheckMs = kHungCheckMs);
  ~CLabelListFill();
  CLabelListFill(const CLabelListFill&) = delete;
  CLabelListFill& operator=(const CLabelListFill&) = delete;

  bool Start();

  struct Progress {
    bool answered = false;              // the service's answer is in (Items() holds it)
    bool finished = false;              // every item was handed out
    std::vector<std::size_t> existing;  // indices into Items(), in order
  };
  // On the thread that started the fill: what came since the last call.
  Progress Collect(DWORD nowTick);
  // The service's answer, once answered; shared with the rows that show it.
  std::shared_ptr<const Items> Answer() const;
  int AbandonedCheckers() const noexcept { return m_abandoned; }

 private:
  struct Shared;
  struct Checker;
  bool StartChecker();

  std::shared_ptr<Shared> m_shared;
  CWorkerThread m_fetcher;
  std::vector<std::unique_ptr<Checker>> m_checkers;
  std::size_t m_handedOut = 0;
  int m_abandoned = 0;
  DWORD m_hungCheckMs;
};

}  // namespace pelko
