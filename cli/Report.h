#pragma once

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/Failure.h"
#include "platform/ReplacementFile.h"

namespace cli {

// One step of a run as the report keeps it.
struct StepRecord {
    std::string Name;
    std::string Result = "not-run";  // passed, failed, skipped, not-run
    std::string Value;               // what the step read or did, as the line shows it
    std::string Error;               // why it failed, in the words the console logs
    platform::FailureKind Kind = platform::FailureKind::None;
    double DurationMs = 0.0;
};

// A run's report: a JSON document (docs/report.schema.json) and, for CI systems, JUnit XML.
// The files are set up before any device is touched, so that a path that cannot be written
// fails the command at once; each takes its place only when complete (written beside, flushed,
// renamed), so a killed run leaves what was there before.
class CReport {
public:
    CReport();
    ~CReport();

    // Makes the files' replacements beside jsonPath and junitPath (either may be empty).
    // False, with the reason naming the option, when one cannot be written.
    bool Open(const std::string& jsonPath, const std::string& junitPath, std::string& error);

    void SetCommand(const std::vector<std::string>& arguments, std::string command);
    // A port the run uses, with the device and adapter behind it now.
    void AddPort(const std::string& role, int number);
    // What the instrument said about itself; null until it has.
    nlohmann::json Instrument;

    StepRecord& AddStep(std::string name);
    const std::vector<StepRecord>& Steps() const { return steps_; }
    std::vector<StepRecord>& Steps() { return steps_; }

    nlohmann::json Json(int exitStatus) const;
    std::string JUnit(int exitStatus) const;
    // Writes the files that were asked for. False, with the reason, when one cannot be.
    bool Write(int exitStatus, std::string& error);

private:
    std::vector<std::string> arguments_;
    std::string command_;
    nlohmann::json ports_ = nlohmann::json::array();
    std::vector<StepRecord> steps_;
    std::chrono::system_clock::time_point started_;
    std::chrono::steady_clock::time_point startedSteady_;
    std::unique_ptr<platform::CReplacementFile> json_;
    std::unique_ptr<platform::CReplacementFile> junit_;
};

// A text as the reports write it: null when there is none.
nlohmann::json TextOrNull(const std::string& text);

// "passed", "failed", "no-device", "usage", "interrupted" for an exit status.
const char* ResultOfExit(int exitStatus);

}  // namespace cli
