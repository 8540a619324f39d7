// Each shutter controller generation, and the single-filter instrument, against a simulated box
// of that generation over a pseudo-terminal.
#include <gtest/gtest.h>

#include "devices/ShutterBoxDeviceLegacy.h"
#include "devices/ShutterController3.h"
#include "instruments/ShutterBox.h"
#include "devices/Vocabulary.h"
#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"

namespace {

using sim::CShutterControllerSim;
using testing_support::kFirstTestPort;

class ShutterControllers : public testing_support::PortDirectoryTest {
protected:
    CShutterControllerSim& StartBox(CShutterControllerSim::Generation generation) {
        box = std::make_unique<CShutterControllerSim>(kFirstTestPort, PortDir(), generation);
        EXPECT_TRUE(box->Start());
        return *box;
    }
    template <typename Driver>
    void Prepare(Driver& driver) {
        driver.Settings.PortNumber = kFirstTestPort;
        driver.SettleDelayMs = 0;
    }
    void TearDown() override {
        legacy.ClosePort();
        v26.ClosePort();
        v30.ClosePort();
        box.reset();
        PortDirectoryTest::TearDown();
    }

    std::unique_ptr<CShutterControllerSim> box;
    CShutterBoxDeviceLegacy legacy;
    CShutterBoxDevice v26;
    CShutterController3 v30;
};

TEST_F(ShutterControllers, LegacyBoxMovesTheShutterAndAnswersNothingElse) {
    StartBox(CShutterControllerSim::Generation::Legacy);
    Prepare(legacy);
    ASSERT_TRUE(legacy.OpenPort());
    EXPECT_TRUE(legacy.OpenShutter());
    EXPECT_EQ(box->ShutterState(), 1);
    int32_t state = -1;
    EXPECT_TRUE(legacy.GetShutterState(state));
    EXPECT_EQ(state, 1);
    EXPECT_TRUE(legacy.CloseShutter());
    EXPECT_EQ(box->ShutterState(), 0);

    legacy.ReplyTimeout = 150;
    CShutterBoxDevice::StatusMap status;
    EXPECT_FALSE(legacy.ReadStatus(status)) << "the legacy box has no status";
    EXPECT_FALSE(legacy.GetLightSensorState(state));
    EXPECT_EQ(state, 1);
    // The box's state byte 2, which adds up, is valid and leaves the count for the legacy parser.
    box->ForceStateByte(2);
    EXPECT_TRUE(legacy.GetShutterState(state));
    EXPECT_EQ(state, 2);
}

TEST_F(ShutterControllers, Version26IdentifiesItselfAndReportsItsStatus) {
    StartBox(CShutterControllerSim::Generation::V26);
    Prepare(v26);
    ASSERT_TRUE(v26.OpenPort());
    {
        std::lock_guard command(v26.CommandLock);
        v26.ReplyValid = 0;
        ASSERT_TRUE(v26.SendCommand("!0IR", true, true));
    }
    EXPECT_EQ(v26.InstrumentInfo.FirmwareVersion, L"2.6.1");
    EXPECT_EQ(v26.InstrumentInfo.InstrumentModel, 3);  // "miran"
    EXPECT_EQ(v26.InstrumentInfo.ShutterType, 1);      // "standard"
    EXPECT_EQ(v26.InstrumentInfo.Processor, 4);        // "PIC16F690"
    // A single-filter instrument has neither: "none" is read, not left unread (-1).
    EXPECT_EQ(v26.InstrumentInfo.MotorModel, 0);
    EXPECT_EQ(v26.InstrumentInfo.TempController, 0);

    box->SetStatus({{"a", "1"}, {"b", "2"}, {"c", "3"}});
    CShutterBoxDevice::StatusMap status;
    ASSERT_TRUE(v26.ReadStatus(status));
    EXPECT_EQ(status.size(), 3u);
    int32_t state;
    EXPECT_FALSE(v26.GetLightSensorState(state));
}

TEST_F(ShutterControllers, Version3LightSensorFollowsTheThresholdAgainstTheLight) {
    StartBox(CShutterControllerSim::Generation::V30);
    box->SetLightLevel(0x2010);
    Prepare(v30);
    ASSERT_TRUE(v30.OpenPort());
    ASSERT_TRUE(v30.SetThreshold(0x0400));
    ASSERT_TRUE(v30.OpenShutter());
    int32_t sensor = -1;
    ASSERT_TRUE(v30.GetLightSensorState(sensor));
    EXPECT_EQ(sensor, 1) << "plenty of light above the lowest threshold";

    // Raising the threshold to the trip point closes the shutter; one count below opens it.
    ASSERT_TRUE(v30.SetThreshold(0x2010));
    int32_t state = -1;
    ASSERT_TRUE(v30.GetShutterState(state));
    EXPECT_EQ(state, 0);
    ASSERT_TRUE(v30.GetLightSensorState(sensor));
    EXPECT_EQ(sensor, 0);
    ASSERT_TRUE(v30.SendCommand("!0TH-", false, false));
    ASSERT_TRUE(v30.GetShutterState(state));
    EXPECT_EQ(state, 1);
    EXPECT_EQ(box->ActiveThreshold(), 0x200F);

    // 6 dB steps double and halve.
    ASSERT_TRUE(v30.SendCommand("!0TH6-", false, false));
    ASSERT_TRUE(v30.SendCommand("!0TH6+", false, false));
    ASSERT_TRUE(v30.SendCommand("!0TH+", false, false));
    {
        std::lock_guard command(v30.CommandLock);
        v30.ReplyValue = 0;
        ASSERT_TRUE(v30.SendCommand("!0TH?", false, true));
        EXPECT_EQ(v30.ReplyValue, 0x200F);  // 0x200F / 2 = 0x1007, * 2 = 0x200E, + 1
    }
}

TEST_F(ShutterControllers, Version3SavesAndReloadsTheThresholdUnderWriteProtection) {
    StartBox(CShutterControllerSim::Generation::V30);
    Prepare(v30);
    ASSERT_TRUE(v30.OpenPort());
    ASSERT_TRUE(v30.SetThreshold(0x1234));
    ASSERT_TRUE(v30.SendCommand("!0TS", false, false));
    auto savedThreshold = [&] {
        std::lock_guard command(v30.CommandLock);
        v30.ReplyValue = 0;
        EXPECT_TRUE(v30.SendCommand("!0TM?", false, true));
        return v30.ReplyValue.load();
    };
    EXPECT_EQ(savedThreshold(), 0x0400) << "protected: the save is refused";

    ASSERT_TRUE(v30.SetWriteProtect(false));
    EXPECT_EQ(v30.WriteProtected, 0);
    ASSERT_TRUE(v30.SendCommand("!0TS", false, false));
    EXPECT_EQ(savedThreshold(), 0x1234);
    ASSERT_TRUE(v30.SetWriteProtect(true));
    int32_t state;
    ASSERT_TRUE(v30.GetShutterState(state)) << "once answered, the box has seen the command before";
    EXPECT_TRUE(box->WriteProtected());

    ASSERT_TRUE(v30.SetThreshold(0x0800));
    ASSERT_TRUE(v30.ReloadThreshold());
    EXPECT_EQ(savedThreshold(), 0x1234);  // answered after the reload was carried out
    EXPECT_EQ(box->ActiveThreshold(), 0x1234);
}

TEST_F(ShutterControllers, ACommandIsNotCutOffByTheWriteThatFollowsIt) {
    // A write returns once the bytes are queued, not when the device has them. The purge before
    // the next command must throw away only what came in, never what is still going out: here
    // the "!0TH?" read-back follows its "#0T" at once.
    StartBox(CShutterControllerSim::Generation::V30);
    Prepare(v30);
    ASSERT_TRUE(v30.OpenPort());
    for (uint16_t value = 0x0400; value < 0x0400 + 500; ++value) {
        ASSERT_TRUE(v30.SetThreshold(value)) << std::hex << value;
    }
}

TEST_F(ShutterControllers, SetThresholdTrustsAReadBackOnlyWhenThereIsOne) {
    StartBox(CShutterControllerSim::Generation::V30);
    Prepare(v30);
    ASSERT_TRUE(v30.OpenPort());
    box->ForceThresholdReadBack(0x0401);
    EXPECT_FALSE(v30.SetThreshold(0x0500)) << "the box reports another value";
    EXPECT_EQ(box->ActiveThreshold(), 0x0500);
    box->ForceThresholdReadBack(-1);
    box->SetThresholdQueryMute(true);
    v30.ReplyTimeout = 150;
    EXPECT_TRUE(v30.SetThreshold(0x0600)) << "no answer: the value written is taken";
    EXPECT_EQ(box->LastCommand(), "!0TH?");
}

class ShutterBoxInstrument : public ShutterControllers {
protected:
    void SetUp() override {
        ShutterControllers::SetUp();
        instrument.Config.InstrumentKind = vocabulary::kFilterModeSingle;
        instrument.Config.InstrumentPort.PortNumber = kFirstTestPort;
        instrument.Driver30.SettleDelayMs = 0;
        instrument.Driver26.SettleDelayMs = 0;
    }
    void TearDown() override {
        instrument.Disconnect();
        ShutterControllers::TearDown();
    }
    CShutterBox instrument;
};

TEST_F(ShutterBoxInstrument, ConnectsRunsTheShutterAndDisconnects) {
    StartBox(CShutterControllerSim::Generation::V30);
    instrument.Config.ShutterControllerGeneration = 3;
    ASSERT_TRUE(instrument.Connect());
    EXPECT_EQ(instrument.Connected, 1);
    EXPECT_FALSE(instrument.Driver26.IsOpen()) << "only the selected driver opens";
    EXPECT_TRUE(instrument.SetShutterState(1));
    int32_t state = -1;
    EXPECT_TRUE(instrument.GetShutterState(state));
    EXPECT_EQ(state, 1);
    EXPECT_TRUE(instrument.GetLightSensorState(state));
    EXPECT_EQ(state, 1);

    const uint64_t before = box->ReceivedCount();
    EXPECT_FALSE(instrument.SetShutterState(2));
    EXPECT_TRUE(instrument.GetShutterState(state));
    EXPECT_EQ(box->ReceivedCount(), before + 3) << "state 2 wrote nothing; only the read went out";

    EXPECT_TRUE(instrument.Disconnect());
    EXPECT_EQ(instrument.Connected, 0);
    EXPECT_FALSE(instrument.Driver30.IsOpen());
}

TEST_F(ShutterBoxInstrument, DeviceInfoNamesGeneration3OnlyForAFeedbackShutter) {
    StartBox(CShutterControllerSim::Generation::V30);
    instrument.Config.ShutterControllerGeneration = 3;
    ASSERT_TRUE(instrument.Connect());
    InstrumentInfo info;
    ASSERT_TRUE(instrument.GetDeviceInfo(info));
    EXPECT_EQ(info.ShutterType, vocabulary::kShutterTypeFeedback);
    EXPECT_EQ(info.ShutterControllerGeneration, 3);
    EXPECT_EQ(info.MotorModel, 0) << "\"mot=none\"";
    EXPECT_EQ(info.TempController, 0) << "\"tct=none\"";

    for (const char* type : {"standard", "CS65", "no-such-type"}) {
        box->SetIdentification({{"sht", type}});
        ASSERT_TRUE(instrument.GetDeviceInfo(info)) << type;
        EXPECT_EQ(info.ShutterControllerGeneration, 2) << type;
    }
}

TEST_F(ShutterBoxInstrument, ProbeInstrumentPutsTheDriversOwnSettingsBack) {
    StartBox(CShutterControllerSim::Generation::V26);
    instrument.Config.ShutterControllerGeneration = 2;
    const CommSettings own{77, 19200, 7, 2, 2, 1};
    instrument.SetInstrumentCommSettings(own);
    EXPECT_TRUE(instrument.ProbeInstrument(CommSettings{kFirstTestPort, 9600, 8, 0, 0, 0}));
    EXPECT_EQ(instrument.Driver26.Settings, own);
    EXPECT_FALSE(instrument.Driver26.IsOpen());
    EXPECT_FALSE(instrument.ProbeInstrument(CommSettings{kFirstTestPort + 9, 9600, 8, 0, 0, 0}));
    EXPECT_EQ(instrument.Driver26.Settings, own);
}

TEST_F(ShutterBoxInstrument, ConnectFailsWhenTheBoxIsNotThere) {
    instrument.Config.ShutterControllerGeneration = 2;
    EXPECT_FALSE(instrument.Connect());
    EXPECT_EQ(instrument.Connected, 0);
}

}  // namespace
