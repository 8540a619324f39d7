#pragma once

#include <array>

#include "devices/ShutterBoxDevice.h"
#include "devices/ShutterBoxDeviceLegacy.h"
#include "devices/ShutterController3.h"
#include "instruments/InstrumentBase.h"

// The single-filter instrument: a shutter controller box and nothing else. It forwards to the
// driver of the configured generation and answers the filter and temperature operations with
// fixed values, so that the console can treat both kinds of instrument alike.
class CShutterBox : public CInstrumentBase {
public:
    // What GetLastTemperature answers: this instrument has no temperature controller.
    static constexpr double kNoTemperature = -9999.0;

    CShutterBox();
    ~CShutterBox() override;

    bool ProbeInstrument(CommSettings settings) override;
    bool ProbeTempController(CommSettings settings) override;
    void SetInstrumentCommSettings(CommSettings settings) override;
    void SetTempControllerCommSettings(CommSettings settings) override;
    bool ResetFilter(bool wait, bool background, platform::Event* successEvent,
                     platform::Event* failureEvent) override;
    bool GetDeviceInfo(InstrumentInfo& info) override;
    bool SetDeviceInfo(InstrumentInfo info) override;
    bool GetShutterState(int32_t& state) override;
    bool SetShutterState(int32_t state) override;
    bool ChangeFilter(int32_t position) override;
    bool GetFilter(int32_t& position) override;
    bool ReadTemperature(double& temperature) override;
    double GetLastTemperature() override;
    bool GetTemperatureSetpoint(double& setpoint) override;
    bool SetTemperatureSetpoint(double setpoint) override;
    bool GetLightSensorState(int32_t& state) override;
    bool Connect() override;
    bool ConfigureTempController() override;
    bool Disconnect() override;

    // The driver the configuration selects, or none.
    CShutterBoxDevice* SelectedDriver();

    CShutterBoxDeviceLegacy LegacyDriver;
    CShutterBoxDevice Driver26;
    CShutterController3 Driver30;

private:
    // Runs operation on the selected driver; without one, fails as not fitted.
    template <typename Operation>
    bool OnDriver(Operation&& operation);

    // Indexed by the configured generation; entry 0 is "none fitted".
    std::array<CShutterBoxDevice*, 4> drivers_;
};
