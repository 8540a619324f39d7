#include "devices/ShutterBoxDeviceLegacy.h"

CShutterBoxDeviceLegacy::CShutterBoxDeviceLegacy()
    : CShutterBoxDevice(Quirks{.textReplies = false, .unknownStateIsMinusOne = false}) {}

CShutterBoxDeviceLegacy::~CShutterBoxDeviceLegacy() {
    Close();
}
