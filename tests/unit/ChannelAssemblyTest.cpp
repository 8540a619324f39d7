// The command channel fed byte by byte, as the monitoring thread feeds it, with no port at all.
#include <gtest/gtest.h>

#include <string>

#include "devices/ShutterBoxDevice.h"

namespace {

class ChannelAssembly : public ::testing::Test {
protected:
    // Puts a command in flight the way SendCommand does, without writing it anywhere.
    void Expect(const std::string& command, bool pending = true) {
        device.CommandInFlight = command;
        device.ReceiveLine.clear();
        device.ReplyValue = 0;
        device.ReplyValid = 0;
        device.ReplyReadyEvent.Reset();
        if (pending) {
            device.ReplyPendingEvent.Set();
        } else {
            device.ReplyPendingEvent.Reset();
        }
    }
    void Feed(const std::string& bytes) {
        for (char c : bytes) {
            device.ReceiveChar(static_cast<uint8_t>(c));
        }
    }
    bool Completed() const { return device.ReplyReadyEvent.IsSet(); }

    CShutterBoxDevice device;
};

TEST_F(ChannelAssembly, ShutterStateRepliesAreTwoCountedBytesCheckedAgainst255) {
    struct Case {
        std::string bytes;
        int valid;
        int value;
    };
    const Case cases[] = {
        {"\x01\xFE", 1, 1},
        {std::string("\x00\xFF", 2), 1, 0},  // a NUL state byte is data, not an end
        {"\x01\xFF", 0, 1},                  // check fails
        {"\x02\xFD", 1, -1},                 // adds up, but no such state
        {"\x0D\xF2", 1, -1},                 // a carriage return is data here too
    };
    for (const Case& c : cases) {
        Expect("#0R");
        Feed(c.bytes.substr(0, 1));
        EXPECT_FALSE(Completed()) << "one byte must not complete the reply";
        Feed(c.bytes.substr(1));
        ASSERT_TRUE(Completed());
        EXPECT_EQ(device.ReplyValid, c.valid);
        EXPECT_EQ(device.ReplyValue, c.value);
        EXPECT_FALSE(device.ReplyPendingEvent.IsSet());
        EXPECT_TRUE(device.CommandInFlight.empty());
    }
}

TEST_F(ChannelAssembly, LinesNobodyWaitsForChangeNothing) {
    Expect("#0R", /*pending=*/false);
    device.ReplyValue = 0;
    Feed("\x01\xFE");
    EXPECT_FALSE(Completed());
    EXPECT_EQ(device.ReplyValid, 0);

    Expect("!0D", /*pending=*/false);
    Feed("2\rkey=value\r");
    EXPECT_FALSE(Completed());
    EXPECT_TRUE(device.StatusTable.empty());

    // Late bytes that run the counter past the end of a two-byte frame start a fresh frame
    // rather than write outside the line.
    Expect("#0R", false);
    device.ReplyValue = 57;
    Feed("\x01\xFE\x01");
    EXPECT_EQ(device.ReceiveLine.size(), 2u);
}

TEST_F(ChannelAssembly, StatusReplyCountsItsHeaderAndTrimsKeysAndValues) {
    Expect("!0D");
    Feed("1\r");
    EXPECT_TRUE(Completed()) << "a header of 1 is the whole reply for this generation";
    EXPECT_TRUE(device.StatusTable.empty());

    Expect("!0D");
    Feed("3\r bls = 0 \r\nfoo=bar=baz\r");
    ASSERT_TRUE(Completed());
    EXPECT_EQ(device.StatusTable.at(L"bls"), L"0");
    EXPECT_EQ(device.StatusTable.at(L"foo"), L"bar=baz");
}

TEST_F(ChannelAssembly, ARepliedLineForACommandWithoutParserIsDropped) {
    Expect("!0XYZ");
    Feed("whatever\r");
    EXPECT_FALSE(Completed());
    EXPECT_TRUE(device.ReplyPendingEvent.IsSet());
}

TEST_F(ChannelAssembly, AnEndlessLineIsBoundedAndThenDropped) {
    Expect("!0D");
    const std::string chunk(1000, 'A');
    for (int i = 0; i < 1000; ++i) {
        Feed(chunk);
        ASSERT_LE(device.ReceiveLine.size(), CCommandChannel::kMaxReplyLine);
    }
    Feed("\r");
    EXPECT_FALSE(Completed()) << "an overlong line is garbage, not a header";
    EXPECT_EQ(device.ReplyValid, 0);
    // The next line is read normally.
    Feed("1\r");
    EXPECT_TRUE(Completed());
}

TEST_F(ChannelAssembly, AStatusTableCannotBeGrownWithoutEnd) {
    Expect("!0D");
    Feed("999999999999\r");
    for (int i = 0; i < 5000; ++i) {
        Feed("k" + std::to_string(i) + "=v\r");
    }
    EXPECT_FALSE(Completed());
    EXPECT_LE(device.StatusTable.size(), CShutterBoxDevice::kMaxStatusEntries);
}

TEST_F(ChannelAssembly, BannerIsCheckedOnlyWhenAsked) {
    Expect("!0V");
    Feed("*- Zel Dozivazoro Ltd. -*\r");
    ASSERT_TRUE(Completed());
    EXPECT_EQ(device.ReplyValid, 1);
    Expect("!0V");
    Feed("*- Someone Else -*\r");
    ASSERT_TRUE(Completed());
    EXPECT_EQ(device.ReplyValid, 0);
}

}  // namespace
