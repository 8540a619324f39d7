#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "platform/AutoResetEvent.h"
#include "platform/Event.h"
#include "platform/ManualResetEvent.h"

namespace {

TEST(Events, ManualResetStaysSignalledUntilReset) {
    platform::ManualResetEvent event;
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    event.Set();  // signalling twice is one signal
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(10));
}

TEST(Events, AutoResetIsConsumedByOneWaiter) {
    platform::AutoResetEvent event;
    event.Set();
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}

TEST(Events, WaitForAnyPrefersTheFirstSignalledAndTimesOutWithMinusOne) {
    platform::ManualResetEvent a;
    platform::ManualResetEvent b;
    platform::AutoResetEvent c;
    EXPECT_EQ(platform::WaitForAny({&a, &b, &c}, 5), -1);
    c.Set();
    b.Set();
    EXPECT_EQ(platform::WaitForAny({&a, &b, &c}, 0), 1);
    b.Reset();
    EXPECT_EQ(platform::WaitForAny({&a, &b, &c}, 0), 2);
    EXPECT_EQ(platform::WaitForAny({&a, &b, &c}, 0), -1);  // c was consumed
}

TEST(Events, ASetFromAnotherThreadWakesAnUnboundedWait) {
    platform::ManualResetEvent go;
    platform::ManualResetEvent done;
    int payload = 0;
    std::thread worker([&] {
        go.Wait(platform::kInfinite);
        payload = 42;  // published by the Set below
        done.Set();
    });
    go.Set();
    ASSERT_TRUE(done.Wait(platform::kInfinite));
    EXPECT_EQ(payload, 42);
    worker.join();
}

TEST(Events, AWaiterMayDestroyTheEventAsSoonAsItHasSeenIt) {
    // The caller's events of a background job live on the caller's stack; the job's Set must be
    // finished with the event once the caller has seen it. ThreadSanitizer checks this one.
    for (int i = 0; i < 200; ++i) {
        auto event = std::make_unique<platform::ManualResetEvent>();
        std::thread setter([e = event.get()] { e->Set(); });
        ASSERT_TRUE(event->Wait(platform::kInfinite));
        event.reset();
        setter.join();
    }
}

}  // namespace
