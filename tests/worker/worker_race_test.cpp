// Races between the worker's own writes of the word and the other thread's:
// a Quit stored at any moment of a run is never lost, and a start press in
// the moment after the worker itself stopped a run never begins a run over
// that run's open output.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

#include "app/dialog_resource.h"
#include "app/shell_state.h"
#include "app/startup.h"
#include "tests/fake_encoder/fake_encoder.h"
#include "tests/support/test_seed.h"
#include "tests/worker/worker_support.h"
#include "worker/conversion_worker.h"
#include "worker/worker_state.h"

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr int32_t QuitIterations = 300;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int32_t QuitIterations = 300;
#else
constexpr int32_t QuitIterations = 3000;
#endif
#else
constexpr int32_t QuitIterations = 3000;
#endif

// Aborts the test program when no iteration has finished for a while: a lost
// Quit shows as a join that never returns.
class HangWatchdog {
public:
    explicit HangWatchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              int64_t seen = -1;
              while (!done_) {
                  int64_t now = progress_.load();
                  if (now == seen) {
                      std::fprintf(stderr, "no progress for %llds: the worker hangs\n",
                                   static_cast<long long>(limit.count()));
                      std::abort();
                  }
                  seen = now;
                  changed_.wait_for(lock, limit, [this] { return done_; });
              }
          }) {}
    ~HangWatchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void tick() { progress_.fetch_add(1); }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::atomic<int64_t> progress_{0};
    std::thread thread_;
};

void spinFor(std::chrono::microseconds duration) {
    auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
}

TEST(WorkerRaceTest, AQuitStoredAtAnyMomentOfARunIsNeverLost) {
    prepareFakeEncoder();
    fakeEncoderReset();
    TempFolder folder;
    ASSERT_FALSE(folder.path.empty());
    ASSERT_TRUE(writeSourceArchiveFile(folder.path + "z001.vud", 1, 1024));
    std::string output = folder.path + "out/vud.pac";
    ASSERT_TRUE(makeFolder(folder.path + "out"));
    std::snprintf(sourceFolder, sizeof(sourceFolder), "%s", folder.path.c_str());
    std::snprintf(outputPath, sizeof(outputPath), "%s", output.c_str());
    // No dialog and no loop: every dialog update fails at once, so the
    // worker runs at full speed and its own writes meet the Quit often.
    mainDialog = nullptr;
    setWorkerIdleWait(1);

    const uint32_t seed = testSeed();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> delay(0, 4000);
    HangWatchdog watchdog(std::chrono::seconds(30));
    int32_t completed = 0, quit = 0, cancelled = 0, beforeStart = 0;

    for (int32_t i = 0; i < QuitIterations; ++i) {
        ApplicationRun run{};
        int32_t runsBefore = finishedRunCount();
        ASSERT_TRUE(startWorker(nullptr, &run));
        workerState.store(WorkerStartRequested);
        spinFor(std::chrono::microseconds(delay(random)));
        if (i % 4 == 3) {
            // A cancel press just before the Quit.
            int32_t running = WorkerRunning;
            workerState.compare_exchange_strong(running, WorkerStopping);
        }
        ASSERT_TRUE(stopWorker(&run)) << "iteration " << i << ", seed " << seed;
        watchdog.tick();

        if (finishedRunCount() == runsBefore) {
            ++beforeStart;
            ASSERT_FALSE(pathExists(output)) << "iteration " << i << ", seed " << seed;
            continue;
        }
        ASSERT_EQ(finishedRunCount(), runsBefore + 1);
        RunOutcome outcome = lastRunOutcome();
        if (outcome == RunOutcome::Completed) {
            ++completed;
            OutputArchiveLayout layout;
            std::string reason;
            ASSERT_TRUE(readOutput(output, &layout, &reason)) << reason << ", seed " << seed;
            ASSERT_EQ(layout.archiveCount, 1u);
            ASSERT_EQ(std::remove(output.c_str()), 0);
        } else {
            ASSERT_TRUE(outcome == RunOutcome::Quit || outcome == RunOutcome::Cancelled)
                << runOutcomeName(outcome) << ", iteration " << i << ", seed " << seed;
            (outcome == RunOutcome::Quit ? quit : cancelled) += 1;
            ASSERT_FALSE(pathExists(output)) << "iteration " << i << ", seed " << seed;
        }
    }
    std::printf("completed %d, quit mid-run %d, cancelled %d, quit before the start %d\n",
                completed, quit, cancelled, beforeStart);
    setWorkerIdleWait(WorkerIdleWaitMilliseconds);
}

TEST(WorkerRaceTest, AStartPressWhileTheWorkerStopsARunNeverStartsAnother) {
    fakeEncoderReset();
    TempFolder folder;
    ASSERT_FALSE(folder.path.empty());
    ASSERT_TRUE(writeSourceArchiveFile(folder.path + "z001.vud", 2, 1024));
    std::string output = folder.path + "vud.pac";
    DialogHarness harness(MessageBoxAnswer::Yes);
    harness.setSource(folder.path);
    harness.setOutput(output);

    int32_t presses = 0;
    int32_t startsTaken = 0;
    // Runs in the loop, on the user-interface thread: while it runs, the
    // worker's stop step cannot pass a dialog update. A word seen as Stopping
    // while the button still reads "cancel" is therefore before the stop
    // step's caption update, and so before its end (once the stop step has
    // made its last update it may reach Idle at any moment, and a press may
    // then rightly start a run).
    auto pressWhileStopping = [&] {
        if (workerState.load() != WorkerStopping) return;
        if (harness.itemText(StartButton) != CancelCaption) return;
        presses += 1;
        harness.click(StartButton);
        if (workerState.load() == WorkerStartRequested) startsTaken += 1;
    };
    for (int32_t iteration = 0; iteration < 40 && presses < 5; ++iteration) {
        int32_t runsBefore = finishedRunCount();
        int32_t entriesBefore = fakeEncoderEntryCount();
        harness.post(StartButton);
        ASSERT_TRUE(harness.runUntil(
            [&] { return finishedRunCount() != runsBefore && workerState.load() == WorkerIdle; },
            30000, pressWhileStopping));
        EXPECT_EQ(startsTaken, 0);

        // Nothing more happens: no second run truncates the finished output.
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        EXPECT_EQ(workerState.load(), WorkerIdle);
        EXPECT_EQ(finishedRunCount(), runsBefore + 1);
        EXPECT_EQ(lastRunOutcome(), RunOutcome::Completed);
        EXPECT_EQ(fakeEncoderEntryCount(), entriesBefore + 2);
        OutputArchiveLayout layout;
        std::string reason;
        ASSERT_TRUE(readOutput(output, &layout, &reason)) << reason;
        EXPECT_TRUE(harness.itemEnabled(StartButton));
        EXPECT_TRUE(harness.inputsEnabled());
    }
    std::printf("presses in the stopping window: %d\n", presses);
    EXPECT_TRUE(harness.shutDown());
    // Whether the loop meets that window is the scheduler's affair.
    if (presses == 0) GTEST_SKIP() << "the stopping window was never met; nothing was pressed";
}

}  // namespace
