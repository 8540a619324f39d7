// What every tool window's worker rests on: a window destroyed in the middle of a run stops the
// run and serves its calls to the window's thread until it is through, before any member the
// run uses is gone.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <atomic>
#include <memory>
#include <string>

#include "console/WorkerDialog.h"
#include "platform/ManualResetEvent.h"

namespace {

// Kept outside the window, which it outlives: 1 once the run was asked to stop, 2 when it never
// was and gave up waiting.
struct Outcome {
    std::atomic<bool> started{false};
    std::atomic<int> ended{0};
};

class SlowToolWindow final : public CWorkerDialog {
public:
    explicit SlowToolWindow(std::shared_ptr<Outcome> outcome)
        : outcome_(std::move(outcome)), field_(new QLineEdit("bench 7", this)) {}

    void Begin() {
        StartRun([this] {
            outcome_->started = true;
            // A run nobody stops ends on its own, so that a missing stop fails the test rather
            // than hanging it.
            const bool asked = stop_.Wait(10000);
            // After the stop the run still reads a control through the window's thread and
            // writes a member of the window: both must still be there.
            seen_ = TextOf(field_);
            outcome_->ended = asked ? 1 : 2;
        });
    }

protected:
    CWorkerRun& Run() override { return run_; }

private:
    std::shared_ptr<Outcome> outcome_;
    QLineEdit* field_;
    std::wstring seen_;
    platform::ManualResetEvent stop_;
    CWorkerRun run_{[this] { stop_.Set(); }};
};

TEST(WorkerDialog, DestroyedMidRunItStopsTheRunAndServesItToItsEnd) {
    auto outcome = std::make_shared<Outcome>();
    auto window = std::make_unique<SlowToolWindow>(outcome);
    window->Begin();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome->started.load(); }, 10000));
    window.reset();
    EXPECT_EQ(outcome->ended, 1) << "the run was stopped before the window went";
}

}  // namespace
