#include "instruments/ShutterBox.h"

#include "devices/Vocabulary.h"

namespace {

constexpr const char* kNoController =
    "The instrument as configured has no shutter controller of a known generation.";

}  // namespace

CShutterBox::CShutterBox() : drivers_{nullptr, &LegacyDriver, &Driver26, &Driver30} {}

CShutterBox::~CShutterBox() = default;

CShutterBoxDevice* CShutterBox::SelectedDriver() {
    const int32_t generation = Config.ShutterControllerGeneration;
    if (Config.InstrumentKind == 0 || generation < 1 || generation > 3) {
        return nullptr;
    }
    return drivers_[static_cast<size_t>(generation)];
}

template <typename Operation>
bool CShutterBox::OnDriver(Operation&& operation) {
    CShutterBoxDevice* driver = SelectedDriver();
    if (driver == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoController);
    }
    return Run(*driver, [&] { return operation(*driver); });
}

bool CShutterBox::ProbeInstrument(CommSettings settings) {
    CShutterBoxDevice* driver = SelectedDriver();
    if (driver == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoController);
    }
    const CommSettings saved = driver->Settings;
    driver->Settings = settings;
    const bool ok = Run(*driver, [&] { return driver->Probe(); });
    driver->Settings = saved;
    return ok;
}

bool CShutterBox::ProbeTempController(CommSettings /*settings*/) {
    return Fail(platform::FailureKind::NotFitted,
                "A single-filter instrument has no temperature controller.");
}

void CShutterBox::SetInstrumentCommSettings(CommSettings settings) {
    if (CShutterBoxDevice* driver = SelectedDriver()) {
        driver->Settings = settings;
    }
}

void CShutterBox::SetTempControllerCommSettings(CommSettings /*settings*/) {}

bool CShutterBox::ResetFilter(bool /*wait*/, bool /*background*/, platform::Event* /*successEvent*/,
                              platform::Event* /*failureEvent*/) {
    return true;
}

bool CShutterBox::GetDeviceInfo(InstrumentInfo& info) {
    return OnDriver([&](CShutterBoxDevice& driver) { return driver.ReadDeviceInfo(info); });
}

bool CShutterBox::SetDeviceInfo(InstrumentInfo info) {
    CShutterBoxDevice* driver = SelectedDriver();
    if (driver == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoController);
    }
    std::lock_guard reply(driver->ReplyLock);
    driver->InstrumentInfo = std::move(info);
    return true;
}

bool CShutterBox::GetShutterState(int32_t& state) {
    return OnDriver([&](CShutterBoxDevice& driver) { return driver.GetShutterState(state); });
}

bool CShutterBox::SetShutterState(int32_t state) {
    CShutterBoxDevice* driver = SelectedDriver();
    if (driver == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoController);
    }
    switch (state) {
        case 1:
            return Run(*driver, [&] { return driver->OpenShutter(); });
        case 0:
            return Run(*driver, [&] { return driver->CloseShutter(); });
        default:
            return Fail(
                platform::FailureKind::InvalidRequest,
                "Shutter state " + std::to_string(state) + " is neither open (1) nor closed (0).");
    }
}

bool CShutterBox::ChangeFilter(int32_t /*position*/) {
    return true;
}

bool CShutterBox::GetFilter(int32_t& position) {
    position = 1;
    return true;
}

bool CShutterBox::ReadTemperature(double& /*temperature*/) {
    return true;
}

double CShutterBox::GetLastTemperature() {
    return kNoTemperature;
}

bool CShutterBox::GetTemperatureSetpoint(double& /*setpoint*/) {
    return true;
}

bool CShutterBox::SetTemperatureSetpoint(double /*setpoint*/) {
    return true;
}

bool CShutterBox::GetLightSensorState(int32_t& state) {
    return OnDriver([&](CShutterBoxDevice& driver) { return driver.GetLightSensorState(state); });
}

bool CShutterBox::Connect() {
    ForgetFailure();
    if (Config.InstrumentKind != vocabulary::kFilterModeSingle) {
        return Fail(platform::FailureKind::NotFitted,
                    "The instrument is not configured as a single-filter instrument.");
    }
    CShutterBoxDevice* driver = SelectedDriver();
    if (driver == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoController);
    }
    driver->Settings = Config.InstrumentPort;
    const bool ok = Run(*driver, [&] { return driver->OpenPort(); });
    Connected = ok ? 1 : 0;
    return ok;
}

bool CShutterBox::ConfigureTempController() {
    return true;
}

bool CShutterBox::Disconnect() {
    CShutterBoxDevice* driver = SelectedDriver();
    if (driver == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoController);
    }
    const bool ok = driver->ClosePort();
    Connected = ok ? 0 : 1;
    return ok;
}
