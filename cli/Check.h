#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/Report.h"
#include "cli/Terminal.h"

namespace cli {

// What `pravikctl check` is asked to do.
struct CheckOptions {
    std::string Instrument;  // "multi" or "single"
    int MotorPort = 0;       // multi-filter: the SmartMotor's port
    int ControllerPort = 0;  // multi-filter: the temperature controller's port
    int Port = 0;            // single-filter: the shutter controller's port
    int Baud = 9600;
    int Filters = 0;                 // 0: as many as the instrument says it has
    bool Legacy = false;             // "Enable Legacy Support"
    int MotorGeneration = 2;         // 1: a legacy motion program, 2: a current one
    int TempController = 1;          // 1 Omega, 2 Athena
    int ShutterGeneration = 3;       // 1 legacy, 2 v2.6, 3 v3.0
    std::optional<double> Setpoint;  // what the set-point step writes; else what it read
    std::vector<std::string> Only;
    std::vector<std::string> Skip;
    bool Verbose = false;
    std::string TracePath;  // where a session trace of the traffic goes; empty: none
};

// The groups of steps --only and --skip name, in the order they run.
const std::vector<std::string>& CheckStepGroups();

// Connects to the instrument as the console does, runs the chosen steps and disconnects. Each
// step prints one line and goes into the report. Returns the exit status.
int RunCheck(const CheckOptions& options, CTerminal& terminal, CReport& report);

// What a step prints: name, result, duration and the value or the reason.
std::string StepLine(const StepRecord& step);

}  // namespace cli
