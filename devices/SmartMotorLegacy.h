#pragma once

#include "devices/SmartMotor.h"

// The motor of legacy instruments. Its motion program has the shutter in subroutine 1, and the
// shutter exchange runs without the command lock, as it always has; the rest is as the current
// one.
class CSmartMotorLegacy : public CSmartMotor {
public:
    CSmartMotorLegacy();
    ~CSmartMotorLegacy() override;
};
