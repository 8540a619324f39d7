#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "devices/TempControllerBase.h"

// The Athena Legacy 16 series controller, at address 01. Commands are "#01", a command and CR;
// replies end with CR LF. The controller reports temperatures in whole degrees to the driver
// and has one set point.
class CAthena16TempController : public CTempControllerBase {
public:
    CAthena16TempController();
    ~CAthena16TempController() override;

    // Opens and identifies the controller ("#01?9"), whose answer goes to IdentityText.
    bool OpenPort() override;

    // The meaning of a reply line to one of the controller's commands, for the traffic log:
    // the process reading and the set point.
    static std::optional<std::string> DescribeReply(std::string_view command,
                                                    std::string_view reply);

    bool GetTemperature(double& temperature) override;
    bool GetSetpoint(double& setpoint) override;
    // True only when the controller reports back exactly the value asked for; it keeps one
    // decimal, so a value with more is written rounded and fails.
    bool SetSetpoint(double setpoint) override;
    // No second set point on this model: false, nothing sent.
    bool GetSetpoint2(double& setpoint) override;
    bool SetSetpoint2(double setpoint) override;
    // Takes up new settings by itself: true, nothing sent.
    bool ResetController() override;
    bool HasSetpoint2() override { return false; }

protected:
    Reply InterpretReply() override;
    // Lines end at LF; the CR before it is dropped.
    bool AssembleByte(uint8_t byte) override;

private:
    bool ReadValue(const char* text, double& value);
    // Records that this model has no second set point; false.
    bool NoSetpoint2();
    Reply InterpretReading(std::string_view key);
};
