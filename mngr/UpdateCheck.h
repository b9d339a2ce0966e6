#pragma once
// Once per start of the manager, a worker fetches the maker's version file
// and, when it names a newer version than this program's, asks the label
// service whether the user was told during its current run; if not, the
// main window asks the user (WM_NEWVERSIONFOUND) and the service remembers.

#include <windows.h>

#include <memory>

#include "WorkerThread.h"

namespace pelko {

// Posted by the update check to the main window when a newer version exists.
inline constexpr UINT WM_NEWVERSIONFOUND = 3033;

// Shared by the frame and the worker: the frame may be gone while a slow
// download still runs, and the block lives until the worker lets go too.
struct UpdateCheckState {
  explicit UpdateCheckState(HWND frame) : frameWindow(frame) {}
  volatile LONG notified = 0;
  volatile LONG newVersionFound = 0;
  HWND frameWindow;
};

// Starts the check on worker. The frame never waits for it: a stop only
// ends a download early, and the thread keeps its share of state.
bool StartUpdateCheck(CWorkerThread& worker, std::shared_ptr<UpdateCheckState> state);

// The worker's one pass: download (at most a few kilobytes), compare, notify.
void UpdateCheckThreadProc(const std::shared_ptr<UpdateCheckState>& state, const CWorkerThread::StopToken& stop);

// Posts WM_NEWVERSIONFOUND once per block, and only when the service has
// not told the user yet in its current run.
void NotifyNewVersion(UpdateCheckState& state);

// The main window's answer to WM_NEWVERSIONFOUND: the question, and the
// maker's web site when the user says Yes.
void AskToDownloadNewVersion(HWND frame);

}  // namespace pelko
