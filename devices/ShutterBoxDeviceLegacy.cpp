#include "devices/ShutterBoxDeviceLegacy.h"

CShutterBoxDeviceLegacy::CShutterBoxDeviceLegacy()
    : CShutterBoxDevice(Generation{.textReplies = false, .unknownStateIsMinusOne = false}) {}

CShutterBoxDeviceLegacy::~CShutterBoxDeviceLegacy() {
    Close();
}
