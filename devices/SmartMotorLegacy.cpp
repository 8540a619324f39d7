#include "devices/SmartMotorLegacy.h"

CSmartMotorLegacy::CSmartMotorLegacy()
    : CSmartMotor(Quirks{.shutterSubroutine = kLegacyShutterSubroutine,
                         .shutterTakesCommandLock = false}) {}

CSmartMotorLegacy::~CSmartMotorLegacy() {
    Close();
}
