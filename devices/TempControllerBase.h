#pragma once

#include <cstdint>

#include "serial/CommandChannel.h"

// A temperature controller as the instruments and the Omega tools use it: read the process
// temperature, read and write the set points, make it take up new settings, test a port.
// Temperatures are in the controller's display unit, degrees C. Every operation is true on
// success; a missing or unrecognised reply is a time-out and a false result.
class CTempControllerBase : public CCommandChannel {
public:
    CTempControllerBase();
    ~CTempControllerBase() override;

    // Tries settings for the length of the call: the port's own are put back whatever happens.
    bool TestCommSettings(CommSettings settings) override;
    virtual bool GetTemperature(double& temperature) = 0;
    virtual bool GetSetpoint(double& setpoint) = 0;
    virtual bool SetSetpoint(double setpoint) = 0;
    virtual bool GetSetpoint2(double& setpoint) = 0;
    virtual bool SetSetpoint2(double setpoint) = 0;
    virtual bool ResetController() = 0;
    // Opens and closes the port with the driver's own settings; true when it opened (which for
    // these drivers includes the controller answering its identification).
    virtual bool Probe();
    virtual bool HasSetpoint2() = 0;

    // The value of the last successful GetTemperature; 0.0 until then. Read without I/O.
    double LastTemperature = 0.0;

protected:
    // Every command is its text and one carriage return.
    std::string FrameCommand(std::string_view command) const override;
    // One open attempt, no retry.
    int OpenAttempts() const override { return 1; }
};
