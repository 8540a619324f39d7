// The three shutter controller generations' reply assembly and parsing, fed captured replies.
#include <gtest/gtest.h>

#include "devices/ShutterBoxDevice.h"
#include "devices/ShutterBoxDeviceLegacy.h"
#include "devices/ShutterController3.h"
#include "devices/Vocabulary.h"
#include "support/ReplyFeeder.h"

namespace {

using testing_support::ReplyFeeder;

struct StateCase {
    std::string bytes;
    int valid;
    int value;        // v2.6 and v3.0
    int legacyValue;  // the legacy parser leaves the byte count for unknown states
};

const StateCase kStateCases[] = {
    {"\x01\xFE", 1, 1, 1},
    {std::string("\x00\xFF", 2), 1, 0, 0},  // a NUL state byte is data, not an end
    {"\x01\xFF", 0, 1, 1},                  // the check byte does not add up
    {"\x02\xFD", 1, -1, 2},                 // adds up, but no such state
    {"\x0D\xF2", 1, -1, 2},                 // a carriage return is data here too
};

template <typename Driver>
void CheckStateReplies(bool legacy) {
    ReplyFeeder<Driver> d;
    for (const StateCase& c : kStateCases) {
        d.Expect("#0R");
        d.Feed(c.bytes.substr(0, 1));
        EXPECT_FALSE(d.Completed()) << "one byte must not complete the reply";
        d.Feed(c.bytes.substr(1));
        ASSERT_TRUE(d.Completed());
        EXPECT_EQ(d.ReplyValid, c.valid);
        EXPECT_EQ(d.ReplyValue, legacy ? c.legacyValue : c.value);
        EXPECT_FALSE(d.ReplyPendingEvent.IsSet());
        EXPECT_TRUE(d.CommandInFlight.empty());
    }
}

TEST(ShutterReplies, StateIsTwoCountedBytesCheckedAgainst255InEveryGeneration) {
    CheckStateReplies<CShutterBoxDeviceLegacy>(true);
    CheckStateReplies<CShutterBoxDevice>(false);
    CheckStateReplies<CShutterController3>(false);
}

TEST(ShutterReplies, LegacyBoxesInterpretNothingButTheState) {
    ReplyFeeder<CShutterBoxDeviceLegacy> d;
    for (const char* command : {"!0IR", "!0D", "!0V"}) {
        d.Expect(command);
        d.Feed("1\rver=1\r*- Zel Dozivazoro Ltd. -*\r");
        EXPECT_FALSE(d.Completed()) << command;
    }
    int32_t state = 0;
    EXPECT_FALSE(d.GetLightSensorState(state));
    EXPECT_EQ(state, 1);
}

template <typename Driver>
void CheckIdentification() {
    ReplyFeeder<Driver> d;
    d.InstrumentInfo.FirmwareVersion = L"old";
    d.Expect("!0IR");
    d.Feed("3\r");
    EXPECT_FALSE(d.Completed());
    EXPECT_EQ(d.InstrumentInfo, InstrumentInfo::Unread()) << "reset at the header";
    d.Feed(" ver =  1.2 \rnof=5\rtct= CNI32-A\r");
    ASSERT_TRUE(d.Completed());
    EXPECT_EQ(d.InstrumentInfo.FirmwareVersion, L"1.2");
    EXPECT_EQ(d.InstrumentInfo.NumberOfFilters, 5);
    EXPECT_EQ(d.InstrumentInfo.TempController, vocabulary::kTempControllerOmega);
    EXPECT_EQ(d.InstrumentInfo.ShutterType, -1) << "not reported: stays unread";

    // A line without "=" is counted and ignored; an unknown value leaves the field unread.
    d.Expect("!0IR");
    d.Feed("3\rgarbage\rsht=CS65\rmot=9999X\r");
    ASSERT_TRUE(d.Completed());
    EXPECT_EQ(d.InstrumentInfo.ShutterType, 2);
    EXPECT_EQ(d.InstrumentInfo.MotorModel, -1);

    // A header of 0 never completes: the count only reaches 0 by counting down.
    d.Expect("!0IR");
    d.Feed("0\rver=1\rdev=talvor\rnof=1\r");
    EXPECT_FALSE(d.Completed());
}

TEST(ShutterReplies, IdentificationFillsTheRecordFromTrimmedKeyValueLines) {
    CheckIdentification<CShutterBoxDevice>();
    CheckIdentification<CShutterController3>();
}

TEST(ShutterReplies, StatusHeaderCountsItselfOnlyOnTheOlderBox) {
    ReplyFeeder<CShutterBoxDevice> v26;
    v26.Expect("!0D");
    v26.Feed("1\r");
    EXPECT_TRUE(v26.Completed());
    EXPECT_TRUE(v26.StatusTable.empty());
    v26.Expect("!0D");
    v26.Feed("3\r bls = 0 \r\nfoo=bar=baz\r");
    ASSERT_TRUE(v26.Completed());
    EXPECT_EQ(v26.StatusTable.at(L"bls"), L"0") << "v2.6 trims keys and values";
    EXPECT_EQ(v26.StatusTable.at(L"foo"), L"bar=baz");

    ReplyFeeder<CShutterController3> v30;
    v30.Expect("!0D");
    v30.Feed("1\r\n");
    EXPECT_FALSE(v30.Completed()) << "v3.0 waits for the one line it announced";
    v30.Feed(" bls =0\r\n");
    ASSERT_TRUE(v30.Completed());
    EXPECT_EQ(v30.StatusTable.at(L" bls "), L"0") << "v3.0 keeps keys exactly";
}

TEST(ShutterReplies, RawStatusValuesMayHoldLineEnds) {
    ReplyFeeder<CShutterController3> d;
    d.Expect("!0D");
    d.Feed("3\r\n");
    d.Feed(std::string("lsa=\x0D\x0A\r\n", 8));
    d.Feed(std::string("rbk=\x00\x0A\r\n", 8));
    EXPECT_FALSE(d.Completed());
    d.Feed("bls=1\r\n");
    ASSERT_TRUE(d.Completed());
    EXPECT_EQ(d.StatusTable.at(L"lsa"), std::wstring(L"\x0D\x0A"));
    EXPECT_EQ(d.StatusTable.at(L"rbk"), std::wstring(L"\x00\x0A", 2));
    EXPECT_EQ(d.StatusTable.at(L"bls"), L"1");
}

TEST(ShutterReplies, ThresholdQueries) {
    ReplyFeeder<CShutterController3> d;
    d.Expect("!0TM?");
    d.Feed("!0TM?=\x12");
    EXPECT_FALSE(d.Completed());
    d.Feed("\x80");
    ASSERT_TRUE(d.Completed());
    EXPECT_EQ(d.ReplyValue, 4736);

    // The saved threshold is counted bytes too: a CR in it is data.
    d.Expect("!0TM?");
    d.Feed(std::string("!0TM?=\x0D\x00", 8));
    ASSERT_TRUE(d.Completed());
    EXPECT_EQ(d.ReplyValue, 0x0D00);

    d.Expect("!0TH?");
    d.Feed("!0TH?=1a2F\r");
    ASSERT_TRUE(d.Completed());
    EXPECT_EQ(d.ReplyValue, 0x1A2F);

    d.Expect("!0TH?");
    d.ReplyValue = 77;
    d.Feed("no equals sign\r");
    ASSERT_TRUE(d.Completed()) << "completes anyway";
    EXPECT_EQ(d.ReplyValue, 77);
    d.Expect("!0TH?");
    d.Feed("=0400\r");
    EXPECT_EQ(d.ReplyValue, 0) << "an \"=\" at the very start is not the separator";

    // The older box has no threshold parser: the line is dropped.
    ReplyFeeder<CShutterBoxDevice> v26;
    v26.Expect("!0TH?");
    v26.Feed("!0TH?=0400\r");
    EXPECT_FALSE(v26.Completed());
}

TEST(Vocabulary, KeysAreLookedUpIgnoringCaseAndMissesChangeNothing) {
    int32_t field = 9;
    EXPECT_TRUE(LookupKey(vocabulary::ShutterType, "cS65", field));
    EXPECT_EQ(field, 2);
    EXPECT_TRUE(LookupKey(vocabulary::MotorModel, "2315D", field));
    EXPECT_EQ(field, 3);
    EXPECT_FALSE(LookupKey(vocabulary::MotorModel, "2315", field));
    EXPECT_EQ(field, 3);
    EXPECT_TRUE(LookupKey(vocabulary::TempController, "cni32", field));
    EXPECT_EQ(field, 1);
    EXPECT_EQ(vocabulary::ShutterController.Name(3), L"Shutter Controller v3.0");
    EXPECT_EQ(vocabulary::ShutterController.Name(4), L"");
    EXPECT_EQ(vocabulary::ShutterType.Name(2), L"") << "CS65 has no display name";
}

}  // namespace
