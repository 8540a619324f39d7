// The shutter controllers' reply quirks that a simulated box does not show, fed captured
// replies, and the single-filter instrument's answers that need no device. The ordinary replies
// of every generation, a bad check byte and half an answer are the pty tests' (and the fault
// suite's) to check.
#include <gtest/gtest.h>

#include <initializer_list>
#include <tuple>

#include "devices/ShutterBoxDevice.h"
#include "devices/ShutterBoxDeviceLegacy.h"
#include "devices/ShutterController3.h"
#include "devices/Vocabulary.h"
#include "instruments/ShutterBox.h"
#include "support/ReplyFeeder.h"

namespace {

using testing_support::ReplyFeeder;

// A state byte that adds up but is no state, and is a carriage return: two counted bytes are
// data, whatever they are. v2.6 and v3.0 read it as -1; the legacy parser leaves the count.
template <typename Driver>
void ExpectUnknownState(int32_t value) {
    ReplyFeeder<Driver> d;
    d.Expect("#0R");
    d.Feed("\x0D");
    EXPECT_FALSE(d.Completed()) << "one byte must not complete the reply";
    d.Feed("\xF2");
    ASSERT_TRUE(d.Completed());
    EXPECT_EQ(d.ReplyValid, 1);
    EXPECT_EQ(d.ReplyValue, value);
}

TEST(ShutterReplies, AnUnknownStateIsTwoCountedBytesInEveryGeneration) {
    ExpectUnknownState<CShutterBoxDeviceLegacy>(2);
    ExpectUnknownState<CShutterBoxDevice>(-1);
    ExpectUnknownState<CShutterController3>(-1);
    // Nothing but the state is a reply from a legacy box: a status line does not complete one.
    ReplyFeeder<CShutterBoxDeviceLegacy> legacy;
    legacy.Expect("!0D");
    legacy.Feed("1\r");
    EXPECT_FALSE(legacy.Completed());
}

TEST(ShutterReplies, IdentificationFillsTheRecordFromTrimmedKeyValueLines) {
    ReplyFeeder<CShutterBoxDevice> d;
    d.InstrumentInfo.FirmwareVersion = L"old";
    d.Expect("!0IR");
    d.Feed("3\r");
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

// v3.0 keeps status keys exactly, splits at the first "=", and its raw two-byte values may hold
// line ends. (The older box's trimmed lines are the pty tests'.)
TEST(ShutterReplies, Version3StatusLinesAreKeptRaw) {
    ReplyFeeder<CShutterController3> d;
    d.Expect("!0D");
    d.Feed("3\r\n bls =a=b\r\nlsa=\x0D\x0A\r\n" + std::string("rbk=\x00\x0A\r\n", 8));
    ASSERT_TRUE(d.Completed());
    EXPECT_EQ(d.StatusTable.at(L" bls "), L"a=b");
    EXPECT_EQ(d.StatusTable.at(L"lsa"), std::wstring(L"\x0D\x0A"));
    EXPECT_EQ(d.StatusTable.at(L"rbk"), std::wstring(L"\x00\x0A", 2));
}

TEST(ShutterReplies, ThresholdQueries) {
    ReplyFeeder<CShutterController3> d;
    // The saved threshold is two counted bytes: a CR in it is data.
    d.Expect("!0TM?");
    d.Feed("!0TM?=\x0D");
    EXPECT_FALSE(d.Completed());
    d.Feed(std::string("\x00", 1));
    ASSERT_TRUE(d.Completed());
    EXPECT_EQ(d.ReplyValue, 0x0D00);

    d.Expect("!0TH?");
    d.Feed("!0TH?=1a2F\r");
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
    EXPECT_TRUE(LookupKey(vocabulary::MotorModel, "2315d", field));
    EXPECT_EQ(field, 3);
    EXPECT_FALSE(LookupKey(vocabulary::MotorModel, "2315", field));
    EXPECT_EQ(field, 3);
}

TEST(ShutterBox, FilterAndTemperatureAnswersAreFixed) {
    CShutterBox box;
    int32_t position = 0;
    double t = 12.5;
    EXPECT_TRUE(box.GetFilter(position) && box.ReadTemperature(t) &&
                box.GetTemperatureSetpoint(t) && box.SetTemperatureSetpoint(30.0) &&
                box.ChangeFilter(4) && box.ResetFilter(true, true, nullptr, nullptr) &&
                box.ConfigureTempController());
    EXPECT_EQ(position, 1);
    EXPECT_EQ(t, 12.5) << "nothing is written to the out-argument";
    EXPECT_EQ(box.GetLastTemperature(), CShutterBox::kNoTemperature);
    EXPECT_FALSE(box.ProbeTempController(CommSettings{}));
}

// The configured generation selects the driver; a configuration without one fails every device
// operation and touches no driver. A multi-filter one selects, but never connects.
TEST(ShutterBox, TheConfigurationSelectsTheDriverOrFailsEveryDeviceOperation) {
    for (const auto& [kind, generation, driver] : std::initializer_list<std::tuple<int, int, int>>{
             {1, 1, 0}, {1, 3, 2}, {2, 3, 2}, {1, 0, -1}, {1, 4, -1}, {1, -1, -1}, {0, 2, -1}}) {
        SCOPED_TRACE(testing::Message() << kind << ", " << generation);
        CShutterBox box;
        box.Config.InstrumentKind = kind;
        box.Config.ShutterControllerGeneration = generation;
        CShutterBoxDevice* const drivers[] = {&box.LegacyDriver, &box.Driver26, &box.Driver30};
        EXPECT_EQ(box.SelectedDriver(), driver < 0 ? nullptr : drivers[driver]);
        if (kind != vocabulary::kFilterModeSingle || driver < 0) {
            EXPECT_FALSE(box.Connect());  // fails before it opens anything
        }
        InstrumentInfo info;
        info.FirmwareVersion = L"9.9";
        EXPECT_EQ(box.SetDeviceInfo(info), driver >= 0);
        box.SetInstrumentCommSettings(CommSettings{9, 300, 7, 1, 1, 1});
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(drivers[i]->InstrumentInfo.FirmwareVersion, i == driver ? L"9.9" : L"");
            EXPECT_EQ(drivers[i]->Settings.PortNumber == 9, i == driver);
        }
        if (driver >= 0) {
            continue;
        }
        int32_t value = 5;
        EXPECT_FALSE(box.ProbeInstrument(CommSettings{}));
        EXPECT_FALSE(box.GetDeviceInfo(info));
        EXPECT_FALSE(box.GetShutterState(value));
        EXPECT_FALSE(box.SetShutterState(1));
        EXPECT_FALSE(box.GetLightSensorState(value));
        EXPECT_FALSE(box.Disconnect());
        EXPECT_EQ(value, 5);
    }
}

}  // namespace
