#include "devices/SmartMotorLegacy.h"

CSmartMotorLegacy::~CSmartMotorLegacy() {
    Close();
}
