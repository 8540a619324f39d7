// The single-filter instrument's answers that need no device.
#include <gtest/gtest.h>

#include "instruments/ShutterBox.h"
#include "devices/Vocabulary.h"

namespace {

TEST(ShutterBox, FilterAndTemperatureAnswersAreFixed) {
    CShutterBox box;
    int32_t position = 0;
    EXPECT_TRUE(box.GetFilter(position));
    EXPECT_EQ(position, 1);
    EXPECT_EQ(box.GetLastTemperature(), CShutterBox::kNoTemperature);
    double t = 12.5;
    EXPECT_TRUE(box.ReadTemperature(t));
    EXPECT_TRUE(box.GetTemperatureSetpoint(t));
    EXPECT_EQ(t, 12.5) << "nothing is written to the out-argument";
    EXPECT_TRUE(box.SetTemperatureSetpoint(30.0));
    EXPECT_TRUE(box.ChangeFilter(4));
    EXPECT_TRUE(box.ResetFilter(true, true, nullptr, nullptr));
    EXPECT_TRUE(box.ConfigureTempController());
    EXPECT_FALSE(box.ProbeTempController(CommSettings{}));
}

TEST(ShutterBox, AConfigurationWithoutAFittedControllerFailsEveryDeviceOperation) {
    for (const auto& [kind, generation] :
         std::initializer_list<std::pair<int, int>>{{1, 0}, {1, 4}, {1, -1}, {0, 2}}) {
        CShutterBox box;
        box.Config.InstrumentKind = kind;
        box.Config.ShutterControllerGeneration = generation;
        int32_t value = 5;
        InstrumentInfo info;
        EXPECT_EQ(box.SelectedDriver(), nullptr);
        EXPECT_FALSE(box.ProbeInstrument(CommSettings{}));
        EXPECT_FALSE(box.GetDeviceInfo(info));
        EXPECT_FALSE(box.SetDeviceInfo(info));
        EXPECT_FALSE(box.GetShutterState(value));
        EXPECT_FALSE(box.SetShutterState(1));
        EXPECT_FALSE(box.GetLightSensorState(value));
        EXPECT_FALSE(box.Connect());
        EXPECT_FALSE(box.Disconnect());
        EXPECT_EQ(value, 5);
        box.SetInstrumentCommSettings(CommSettings{9, 300, 7, 1, 1, 1});
        EXPECT_EQ(box.Driver26.Settings, CommSettings{}) << "no driver touched";
    }
}

TEST(ShutterBox, TheTableSelectsTheDriverOfTheConfiguredGeneration) {
    CShutterBox box;
    box.Config.InstrumentKind = vocabulary::kFilterModeSingle;
    box.Config.ShutterControllerGeneration = 1;
    EXPECT_EQ(box.SelectedDriver(), &box.LegacyDriver);
    box.Config.ShutterControllerGeneration = 3;
    EXPECT_EQ(box.SelectedDriver(), &box.Driver30);
    // A multi-filter configuration still selects (kind is not 0) but never connects.
    box.Config.InstrumentKind = vocabulary::kFilterModeMulti;
    EXPECT_EQ(box.SelectedDriver(), &box.Driver30);
    EXPECT_FALSE(box.Connect());
    EXPECT_EQ(box.Connected, 0);

    InstrumentInfo info;
    info.FirmwareVersion = L"9.9";
    box.SetDeviceInfo(info);
    EXPECT_EQ(box.Driver30.InstrumentInfo.FirmwareVersion, L"9.9");
    EXPECT_TRUE(box.Driver26.InstrumentInfo.FirmwareVersion.empty());
}

}  // namespace
