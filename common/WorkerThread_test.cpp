// The worker thread type on its own: start, a bounded stop, a thread that
// ignores the stop, a stop called off, a restart, concurrent stoppers, and a
// thread that outlives its object.

#include "WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace pelko {
namespace {

constexpr DWORD kBoundMs = 5000;  // far beyond what any of these threads needs

unique_handle MakeEvent() { return unique_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

bool Signalled(const unique_handle& event, DWORD timeoutMs = kBoundMs) {
  return WaitForSingleObject(event.get(), timeoutMs) == WAIT_OBJECT_0;
}

// A body that says it runs, then holds on to a gate whatever the stop says,
// then notes whether a stop was asked by then.
struct GatedBody {
  unique_handle started = MakeEvent();
  unique_handle gate = MakeEvent();
  unique_handle checked = MakeEvent();
  std::atomic<bool> sawStop{false};

  // A failed assertion must not leave the thread waiting on a gone gate.
  ~GatedBody() {
    SetEvent(gate.get());
    WaitForSingleObject(checked.get(), kBoundMs);
  }

  // Starts it on worker; true once it runs.
  bool RunOn(CWorkerThread& worker) {
    const bool made = worker.Start([this](const CWorkerThread::StopToken& stop) {
      SetEvent(started.get());
      WaitForSingleObject(gate.get(), INFINITE);
      sawStop = stop.Requested();
      SetEvent(checked.get());
    });
    return made && Signalled(started);
  }
};

TEST(WorkerThread, RunsTheBodyOnItsOwnThreadUntilStopped) {
  CWorkerThread worker;
  EXPECT_FALSE(worker.Running());
  EXPECT_TRUE(worker.Stop(0)) << "nothing ran, nothing to stop";

  unique_handle started = MakeEvent();
  std::atomic<DWORD> bodyThread{0};
  ASSERT_TRUE(worker.Start([&](const CWorkerThread::StopToken& stop) {
    bodyThread = GetCurrentThreadId();
    SetEvent(started.get());
    while (!stop.WaitFor(INFINITE)) {
    }
  }));
  ASSERT_TRUE(Signalled(started));
  EXPECT_NE(bodyThread, GetCurrentThreadId());
  EXPECT_TRUE(worker.Running());
  EXPECT_FALSE(worker.StopRequested());

  EXPECT_TRUE(worker.Stop(kBoundMs));
  EXPECT_FALSE(worker.Running());
  EXPECT_TRUE(worker.Stop(0)) << "an ended thread is not waited for again";
}

TEST(WorkerThread, AThreadThatIgnoresTheStopIsReportedAndKept) {
  CWorkerThread worker;
  GatedBody body;
  ASSERT_TRUE(body.RunOn(worker));

  EXPECT_FALSE(worker.Stop(50));
  EXPECT_TRUE(worker.Running()) << "the handle of a live thread was given up";
  EXPECT_TRUE(worker.StopRequested());
  EXPECT_FALSE(worker.Start([](const CWorkerThread::StopToken&) {})) << "a second thread beside a live one";

  SetEvent(body.gate.get());
  EXPECT_TRUE(worker.Stop(kBoundMs));
  EXPECT_FALSE(worker.Running());
  EXPECT_TRUE(body.sawStop);
}

TEST(WorkerThread, AStopCalledOffLetsTheThreadGoOn) {
  CWorkerThread worker;
  GatedBody body;
  ASSERT_TRUE(body.RunOn(worker));
  ASSERT_FALSE(worker.Stop(50));

  worker.CancelStop();
  EXPECT_FALSE(worker.StopRequested());
  SetEvent(body.gate.get());
  ASSERT_TRUE(Signalled(body.checked));
  EXPECT_FALSE(body.sawStop) << "the thread saw a stop that was called off";
  EXPECT_TRUE(worker.Stop(kBoundMs));
}

TEST(WorkerThread, StartsAgainAfterAStopWithTheStopReset) {
  CWorkerThread worker;
  std::atomic<int> runs{0};
  std::atomic<int> stoppedAtStart{0};
  for (int round = 0; round < 3; ++round) {
    unique_handle started = MakeEvent();
    ASSERT_TRUE(worker.Start([&](const CWorkerThread::StopToken& stop) {
      ++runs;
      if (stop.Requested()) ++stoppedAtStart;
      SetEvent(started.get());
      stop.WaitFor(INFINITE);
    })) << "round " << round;
    ASSERT_TRUE(Signalled(started)) << "round " << round;
    EXPECT_TRUE(worker.Running());
    ASSERT_TRUE(worker.Stop(kBoundMs)) << "round " << round;
    EXPECT_FALSE(worker.Running());
  }
  EXPECT_EQ(runs, 3);
  EXPECT_EQ(stoppedAtStart, 0) << "a new thread inherited the last one's stop";
}

TEST(WorkerThread, ConcurrentStoppersAllSeeTheEnd) {
  CWorkerThread worker;
  GatedBody body;
  ASSERT_TRUE(body.RunOn(worker));

  constexpr int kStoppers = 4;
  std::atomic<int> ended{0};
  std::vector<std::thread> stoppers;
  for (int i = 0; i < kStoppers; ++i) {
    stoppers.emplace_back([&] {
      if (worker.Stop(kBoundMs)) ++ended;
    });
  }
  // Give the stoppers a moment to be waiting at once (bounded: the result is the same either way).
  for (DWORD waited = 0; waited < kBoundMs && !worker.StopRequested(); waited += 10) Sleep(10);
  Sleep(100);
  SetEvent(body.gate.get());
  for (std::thread& stopper : stoppers) stopper.join();
  EXPECT_EQ(ended, kStoppers);
  EXPECT_FALSE(worker.Running());
}

TEST(WorkerThread, AThreadOutlivesItsObjectAndStillSeesTheStop) {
  struct State {
    unique_handle started = MakeEvent();
    unique_handle sawStop = MakeEvent();
  };
  auto state = std::make_shared<State>();
  auto worker = std::make_unique<CWorkerThread>();
  ASSERT_TRUE(worker->Start([state](const CWorkerThread::StopToken& stop) {
    SetEvent(state->started.get());
    stop.WaitFor(INFINITE);
    // The object is gone by now: only what the body owns is touched.
    SetEvent(state->sawStop.get());
  }));
  ASSERT_TRUE(Signalled(state->started));
  worker.reset();
  EXPECT_TRUE(Signalled(state->sawStop)) << "the destructor did not ask the thread to stop";
}

TEST(WorkerThread, AnExceptionFromTheBodyEndsOnlyTheThread) {
  CWorkerThread worker;
  ASSERT_TRUE(worker.Start([](const CWorkerThread::StopToken&) { throw std::runtime_error("out of luck"); }));
  EXPECT_TRUE(worker.Stop(kBoundMs));
  EXPECT_FALSE(worker.Running());
  unique_handle started = MakeEvent();
  ASSERT_TRUE(worker.Start([&](const CWorkerThread::StopToken&) { SetEvent(started.get()); }));
  EXPECT_TRUE(Signalled(started));
  EXPECT_TRUE(worker.Stop(kBoundMs));
}

}  // namespace
}  // namespace pelko
