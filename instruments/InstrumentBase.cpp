#include "instruments/InstrumentBase.h"

#include <utility>

platform::Failure CInstrumentBase::LastFailure() const {
    std::lock_guard lock(failureMutex_);
    return failure_;
}

bool CInstrumentBase::Fail(platform::FailureKind kind, std::string text) {
    std::lock_guard lock(failureMutex_);
    failure_ = {kind, std::move(text)};
    return false;
}

void CInstrumentBase::ForgetFailure() {
    std::lock_guard lock(failureMutex_);
    failure_ = {};
}

void CInstrumentBase::TakeFailure(const CSerialPort& device) {
    platform::Failure failure = device.LastFailure();
    if (!failure) {
        // Every driver records why it returns false; this is only a net under that.
        failure = {platform::FailureKind::DeviceFault,
                   "The device on COM" + std::to_string(device.Settings.PortNumber) +
                       " did not do what was asked."};
    }
    std::lock_guard lock(failureMutex_);
    failure_ = std::move(failure);
}
