#pragma once

#include "devices/SmartMotor.h"

// The motor of legacy instruments. Its motion program has the shutter in subroutine 1; the rest
// is as the current one.
class CSmartMotorLegacy : public CSmartMotor {
public:
    CSmartMotorLegacy() = default;
    ~CSmartMotorLegacy() override;

protected:
    const char* ShutterSubroutine() const override { return "GOSUB1"; }
    // The legacy shutter exchange has always run without the command lock.
    bool ShutterTakesCommandLock() const override { return false; }
};
