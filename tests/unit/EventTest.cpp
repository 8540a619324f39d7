#include <gtest/gtest.h>

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

}  // namespace
