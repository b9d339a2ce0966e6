#pragma once
// CWorkerThread: one thread that runs a callable until it is told to stop,
// and the one way every thread of the programs is started, stopped and
// waited for.
//
//   CWorkerThread worker;
//   worker.Start([](const CWorkerThread::StopToken& stop) {
//     while (!stop.WaitFor(500)) DoSomeWork();   // a tick, ended early by a stop
//   });
//   ...
//   if (!worker.Stop(1000)) { /* still running: leave what it uses alone */ }
//
// - The stop is a manual-reset event: the body polls it (Requested), sleeps
//   on it (WaitFor) or adds it to its own waits (Event). Start resets it.
// - Stop signals and waits at most its bound. When the thread has ended its
//   handle is closed; when it has not, the handle is kept, so that Running()
//   still tells the truth and a later Stop can wait again: nothing is
//   closed or freed under a live thread. A body that cannot end in time
//   (stuck in a call) may have its stop called off (CancelStop).
// - Any thread may call any member. Concurrent stoppers each wait on the
//   handle, which closes only after the last of them; a Start that comes
//   while a Stop waits makes a new thread, and that Stop then answers false
//   (a thread runs), so it never closes or counts the newer one.
// - The body and the stop event belong to the thread once it runs: the
//   object may go while the thread still runs (the destructor asks it to
//   stop and waits for nothing, as it may run under the loader lock). What
//   else the body touches must then be owned by the body, e.g. a shared_ptr
//   it captured.
// - An exception that leaves the body ends the thread, not the process.

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>

#include "UniqueHandle.h"

namespace pelko {

class CWorkerThread {
 public:
  // The thread's view of its stop.
  class StopToken {
   public:
    explicit StopToken(std::shared_ptr<const unique_handle> event) noexcept : m_event(std::move(event)) {}
    bool Requested() const noexcept { return WaitFor(0); }
    // Sleeps at most ms; true as soon as a stop is asked (or was already).
    bool WaitFor(DWORD ms) const noexcept { return WaitForSingleObject(m_event->get(), ms) != WAIT_TIMEOUT; }
    // For the thread's own WaitForMultipleObjects.
    HANDLE Event() const noexcept { return m_event->get(); }

   private:
    std::shared_ptr<const unique_handle> m_event;
  };
  using Body = std::function<void(const StopToken& stop)>;

  CWorkerThread() = default;
  ~CWorkerThread();
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  // Starts a thread that runs body, with the stop reset. False when a thread
  // runs already (body is then dropped) or none could be made.
  bool Start(Body body) noexcept;

  // Signals the stop and returns at once.
  void RequestStop() noexcept;
  // Takes back a stop the thread has not acted on, so that it goes on.
  void CancelStop() noexcept;
  // Signals the stop and waits at most waitMs. True once the thread has
  // ended (or none ran) and no newer one was started meanwhile.
  bool Stop(DWORD waitMs) noexcept;

  bool Running() const noexcept;
  bool StopRequested() const noexcept;

 private:
  static bool IsAlive(const std::shared_ptr<const unique_handle>& thread) noexcept;
  static DWORD WINAPI ThreadProc(void* start) noexcept;

  mutable std::mutex m_lock;
  std::shared_ptr<unique_handle> m_stopEvent;     // made at the first Start, shared with every thread
  std::shared_ptr<const unique_handle> m_thread;  // shared with the stoppers waiting on it
};

}  // namespace pelko
