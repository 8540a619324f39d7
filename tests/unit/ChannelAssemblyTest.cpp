// What every driver inherits from the command channel, fed byte by byte with no port at all.
#include <gtest/gtest.h>

#include "devices/ShutterBoxDevice.h"
#include "support/ReplyFeeder.h"

namespace {

class ChannelAssembly : public ::testing::Test {
protected:
    testing_support::ReplyFeeder<CShutterBoxDevice> device;
};

TEST_F(ChannelAssembly, LinesNobodyWaitsForChangeNothing) {
    device.Expect("#0R", /*pending=*/false);
    device.Feed("\x01\xFE");
    EXPECT_FALSE(device.Completed());
    EXPECT_EQ(device.ReplyValid, 0);

    device.Expect("!0D", /*pending=*/false);
    device.Feed("2\rkey=value\r");
    EXPECT_FALSE(device.Completed());
    EXPECT_TRUE(device.StatusTable.empty());

    // Late bytes that run the counter past the end of a two-byte frame start a fresh frame
    // rather than write outside the line.
    device.Expect("#0R", false);
    device.ReplyValue = 57;
    device.Feed("\x01\xFE\x01");
    EXPECT_EQ(device.ReceiveLine.size(), 2u);
    device.ReplyValue = -3;
    device.Feed("\x01");
    EXPECT_EQ(device.ReceiveLine.size(), 2u);
}

TEST_F(ChannelAssembly, BytesReadBeforeTheCommandIsWrittenAreNotCountedIntoItsReply) {
    device.Prepare("#0R");
    device.Feed("\x01");  // the tail of an earlier answer, read just before the write
    device.Written();
    device.Feed(std::string("\x00\xFF", 2));
    ASSERT_TRUE(device.Completed());
    EXPECT_EQ(device.ReplyValid, 1);
    EXPECT_EQ(device.ReplyValue, 0);

    device.Prepare("!0D");
    device.Feed("1\r");  // a whole stale line would otherwise pass for the header
    EXPECT_FALSE(device.Completed());
    device.Written();
    device.Feed("2\rk=v\r");
    ASSERT_TRUE(device.Completed());
    EXPECT_EQ(device.StatusTable.size(), 1u);
}

TEST_F(ChannelAssembly, ALineForACommandWithoutParserIsDroppedAndTheCommandStaysPending) {
    device.Expect("!0XYZ");
    device.Feed("whatever\r");
    EXPECT_FALSE(device.Completed());
    EXPECT_TRUE(device.ReplyPendingEvent.IsSet());
    // Commands are compared as the NUL-terminated text they are on the wire.
    device.Expect(std::string("#0R\0junk", 8));
    device.Feed("\x01\xFE");
    EXPECT_TRUE(device.Completed());
}

TEST_F(ChannelAssembly, AnEndlessLineIsBoundedAndThenDropped) {
    device.Expect("!0D");
    const std::string chunk(1000, 'A');
    for (int i = 0; i < 1000; ++i) {
        device.Feed(chunk);
        ASSERT_LE(device.ReceiveLine.size(), CCommandChannel::kMaxReplyLine);
    }
    device.Feed("\r");
    EXPECT_FALSE(device.Completed()) << "an overlong line is garbage, not a header";
    EXPECT_EQ(device.ReplyValid, 0);
    device.Feed("1\r");
    EXPECT_TRUE(device.Completed()) << "the line after it is read normally";
}

TEST_F(ChannelAssembly, AStatusTableCannotBeGrownWithoutEnd) {
    device.Expect("!0D");
    device.Feed("999999999999\r");
    for (int i = 0; i < 5000; ++i) {
        device.Feed("k" + std::to_string(i) + "=v\r");
    }
    EXPECT_FALSE(device.Completed());
    EXPECT_LE(device.StatusTable.size(), CShutterBoxDevice::kMaxStatusEntries);
}

}  // namespace
