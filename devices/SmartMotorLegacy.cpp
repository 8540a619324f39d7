#include "devices/SmartMotorLegacy.h"

CSmartMotorLegacy::CSmartMotorLegacy()
    : CSmartMotor(Quirks{.shutterSubroutine = "GOSUB1", .shutterTakesCommandLock = false}) {}

CSmartMotorLegacy::~CSmartMotorLegacy() {
    Close();
}
