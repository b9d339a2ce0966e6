#include "WorkerThread.h"

namespace pelko {
namespace {

// What the new thread takes over: its body and its share of the stop event.
struct ThreadStart {
  CWorkerThread::Body body;
  std::shared_ptr<const unique_handle> stopEvent;
};

}  // namespace

CWorkerThread::~CWorkerThread() {
  // Under the loader lock nothing may be waited for; a thread still running
  // keeps its own share of the stop event and sees the stop.
  RequestStop();
}

bool CWorkerThread::IsAlive(const std::shared_ptr<const unique_handle>& thread) noexcept {
  return thread && WaitForSingleObject(thread->get(), 0) == WAIT_TIMEOUT;
}

bool CWorkerThread::Start(Body body) noexcept {
  try {
    std::lock_guard lock(m_lock);
    if (IsAlive(m_thread)) return false;
    if (!m_stopEvent) {
      auto event = std::make_shared<unique_handle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
      if (!*event) return false;
      m_stopEvent = std::move(event);
    }
    ResetEvent(m_stopEvent->get());
    // Everything that may throw comes before the thread exists.
    auto thread = std::make_shared<unique_handle>();
    auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(body), m_stopEvent});
    thread->reset(CreateThread(nullptr, 0, &CWorkerThread::ThreadProc, start.get(), 0, nullptr));
    if (!*thread) return false;
    start.release();  // the thread's now
    m_thread = std::move(thread);
    return true;
  } catch (...) {
    return false;
  }
}

DWORD WINAPI CWorkerThread::ThreadProc(void* parameter) noexcept {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  try {
    start->body(StopToken(start->stopEvent));
  } catch (...) {
    // The thread ends; the process goes on.
  }
  return 0;
}

void CWorkerThread::RequestStop() noexcept {
  std::lock_guard lock(m_lock);
  if (m_stopEvent) SetEvent(m_stopEvent->get());
}

void CWorkerThread::CancelStop() noexcept {
  std::lock_guard lock(m_lock);
  if (m_stopEvent) ResetEvent(m_stopEvent->get());
}

bool CWorkerThread::Stop(DWORD waitMs) noexcept {
  std::shared_ptr<const unique_handle> thread;
  {
    std::lock_guard lock(m_lock);
    if (!m_thread) return true;
    SetEvent(m_stopEvent->get());
    thread = m_thread;
  }
  // Not under the lock: the thread may need the object meanwhile.
  if (WaitForSingleObject(thread->get(), waitMs) != WAIT_OBJECT_0) return false;
  std::lock_guard lock(m_lock);
  if (m_thread == thread) m_thread.reset();
  return !m_thread;
}

bool CWorkerThread::Running() const noexcept {
  std::lock_guard lock(m_lock);
  return IsAlive(m_thread);
}

bool CWorkerThread::StopRequested() const noexcept {
  std::lock_guard lock(m_lock);
  return m_stopEvent && WaitForSingleObject(m_stopEvent->get(), 0) == WAIT_OBJECT_0;
}

}  // namespace pelko
