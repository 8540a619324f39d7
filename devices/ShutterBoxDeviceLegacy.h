#pragma once

#include "devices/ShutterBoxDevice.h"

// The shutter controller box made before 2009. It knows only the shutter commands: set, and read
// back as two raw bytes. It has no identification, status or light sensor, so those requests
// time out.
class CShutterBoxDeviceLegacy : public CShutterBoxDevice {
public:
    CShutterBoxDeviceLegacy();
    ~CShutterBoxDeviceLegacy() override;
};
