// Each shutter controller generation, and the single-filter instrument, against a simulated box
// of that generation over a pseudo-terminal. How each copes with a misbehaving box is the fault
// suite's.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "devices/ShutterBoxDeviceLegacy.h"
#include "devices/ShutterController3.h"
#include "devices/Vocabulary.h"
#include "instruments/ShutterBox.h"
#include "sim/ShutterControllerSim.h"
#include "support/TestPortDirectory.h"

namespace {

using sim::CShutterControllerSim;
using testing_support::kFirstTestPort;
using Generation = CShutterControllerSim::Generation;

class ShutterControllers : public testing_support::PortDirectoryTest {
protected:
    void StartBox(Generation generation) {
        box = std::make_unique<CShutterControllerSim>(kFirstTestPort, PortDir(), generation);
        ASSERT_TRUE(box->Start());
    }

    std::unique_ptr<CShutterControllerSim> box;
    CShutterController3 v30;
};

struct GenerationCase {
    const char* name;
    Generation generation;
    std::function<std::unique_ptr<CShutterBoxDevice>()> make;
    int statusEntries;        // -1: the box has no status
    const wchar_t* firmware;  // null: the box does not identify itself
    int shutterType;
    bool lightSensor;
};

class EachGeneration : public ShutterControllers,
                       public testing::WithParamInterface<GenerationCase> {};

// Moving the shutter is one protocol for all three (the channel's and the fault suite's tests);
// what differs is the rest. The legacy box answers the shutter commands only; v2.6 adds
// identification and status (its header counting itself), v3.0 the light sensor and three
// status lines of its own.
TEST_P(EachGeneration, AnswersWhatItKnows) {
    const GenerationCase& c = GetParam();
    StartBox(c.generation);
    const std::unique_ptr<CShutterBoxDevice> driver = c.make();
    driver->Settings.PortNumber = kFirstTestPort;
    driver->SettleDelayMs = 0;
    driver->ReplyTimeout = 150;
    ASSERT_TRUE(driver->OpenPort());
    CShutterBoxDevice::StatusMap status;
    EXPECT_EQ(driver->ReadStatus(status), c.statusEntries >= 0);
    EXPECT_EQ(static_cast<int>(status.size()), std::max(c.statusEntries, 0));
    int32_t state = -1;
    EXPECT_EQ(driver->GetLightSensorState(state), c.lightSensor);
    EXPECT_EQ(state, 1) << "light above the threshold, or no sensor";
    if (c.lightSensor) {
        // At the trip point the sensor sees too little light.
        box->SetActiveThreshold(box->TripPoint());
        EXPECT_TRUE(driver->GetLightSensorState(state));
        EXPECT_EQ(state, 0);
    }
    {
        std::lock_guard command(driver->CommandLock);
        driver->ReplyValid = 0;
        EXPECT_EQ(driver->SendCommand("!0IR", true, true), c.firmware != nullptr);
    }
    if (c.firmware != nullptr) {
        const InstrumentInfo& info = driver->InstrumentInfo;
        EXPECT_EQ(info.FirmwareVersion, c.firmware);
        EXPECT_EQ(info.ShutterType, c.shutterType);
        EXPECT_EQ(info.InstrumentModel, 3);  // "miran"
        EXPECT_EQ(info.Processor, 4);        // "PIC16F690"
        // A single-filter instrument has neither: "none" is read, not left unread (-1).
        EXPECT_EQ(info.MotorModel, 0);
        EXPECT_EQ(info.TempController, 0);
    }
}

template <typename Driver>
const auto Make = [] { return std::unique_ptr<CShutterBoxDevice>(std::make_unique<Driver>()); };

INSTANTIATE_TEST_SUITE_P(
    Boxes, EachGeneration,
    testing::Values(GenerationCase{"Legacy", Generation::Legacy, Make<CShutterBoxDeviceLegacy>, -1,
                                   nullptr, 0, false},
                    GenerationCase{"V26", Generation::V26, Make<CShutterBoxDevice>, 2, L"2.6.1", 1,
                                   false},
                    GenerationCase{"V30", Generation::V30, Make<CShutterController3>, 5, L"3.0.2",
                                   vocabulary::kShutterTypeFeedback, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShutterControllers, SetThresholdIsNotCutOffAndTrustsAReadBackOnlyWhenThereIsOne) {
    StartBox(Generation::V30);
    v30.Settings.PortNumber = kFirstTestPort;
    v30.SettleDelayMs = 0;
    ASSERT_TRUE(v30.OpenPort());
    // A write returns once the bytes are queued, not when the device has them. The purge before
    // the next command must throw away only what came in, never what is still going out: here
    // the "!0TH?" read-back follows its "#0T" at once.
    for (uint16_t value = 0x0400; value < 0x0400 + 500; ++value) {
        ASSERT_TRUE(v30.SetThreshold(value)) << std::hex << value;
    }
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
        instrument.Config.ShutterControllerGeneration = 3;
        instrument.Driver30.SettleDelayMs = 0;
    }
    CShutterBox instrument;
};

TEST_F(ShutterBoxInstrument,
       OnlyTheSelectedDriverOpensOnlyOpenOrClosedIsSentAndInfoNamesItsGeneration) {
    StartBox(Generation::V30);
    ASSERT_TRUE(instrument.Connect());
    EXPECT_FALSE(instrument.Driver26.IsOpen());
    int32_t state = -1;
    const uint64_t before = box->ReceivedCount();
    EXPECT_FALSE(instrument.SetShutterState(2));
    EXPECT_TRUE(instrument.GetShutterState(state));
    EXPECT_EQ(box->ReceivedCount(), before + 3) << "state 2 wrote nothing; only the read went out";
    InstrumentInfo info;
    ASSERT_TRUE(instrument.GetDeviceInfo(info));
    EXPECT_EQ(info.ShutterControllerGeneration, 3);
    for (const char* type : {"standard", "CS65", "no-such-type"}) {
        box->SetIdentification({{"sht", type}});
        ASSERT_TRUE(instrument.GetDeviceInfo(info)) << type;
        EXPECT_EQ(info.ShutterControllerGeneration, 2) << type;
    }
}

TEST_F(ShutterBoxInstrument, ProbeInstrumentPutsTheDriversOwnSettingsBack) {
    StartBox(Generation::V26);
    instrument.Config.ShutterControllerGeneration = 2;
    const CommSettings own{77, 19200, 7, 2, 2, 1};
    instrument.SetInstrumentCommSettings(own);
    EXPECT_TRUE(instrument.ProbeInstrument(CommSettings{kFirstTestPort, 9600, 8, 0, 0, 0}));
    EXPECT_EQ(instrument.Driver26.Settings, own);
    EXPECT_FALSE(instrument.Driver26.IsOpen());
    EXPECT_FALSE(instrument.ProbeInstrument(CommSettings{kFirstTestPort + 9, 9600, 8, 0, 0, 0}));
    EXPECT_EQ(instrument.Driver26.Settings, own);
    // Nor does a box that is not there connect.
    instrument.Config.InstrumentPort.PortNumber = kFirstTestPort + 9;
    EXPECT_FALSE(instrument.Connect());
    EXPECT_EQ(instrument.Connected, 0);
}

}  // namespace
