#include "cli/Report.h"

#include <unistd.h>

#include <array>
#include <cstring>
#include <ctime>

#include "cli/Terminal.h"
#include "platform/PortTable.h"
#include "platform/RegularFile.h"
#include "platform/Version.h"

namespace cli {

namespace {

std::string IsoTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    std::array<char, 40> text{};
    const size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &utc);
    // UTC, said by the zone letter.
    return std::string(text.data(), length) + "." + std::to_string(1000 + millis).substr(1) + 'Z';
}

std::string HostName() {
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0) {
        return "";
    }
    return name.data();
}

// Text as XML character data or an attribute value. Control characters other than tab and line
// breaks are not allowed in XML 1.0 at all, so they are written as a visible escape.
std::string XmlEscaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') {
                    out += "\\x" + std::string(1, "0123456789ABCDEF"[(c >> 4) & 0xF]) +
                           "0123456789ABCDEF"[c & 0xF];
                } else {
                    out += c;
                }
        }
    }
    return out;
}

bool Prepare(std::unique_ptr<platform::CReplacementFile>& file, const std::string& path,
             const char* option, std::string& error) {
    if (path.empty()) {
        return true;
    }
    file = std::make_unique<platform::CReplacementFile>();
    if (const int code = file->Create(path); code != 0) {
        error =
            std::string(option) + ": cannot write " + path + ": " + platform::FileErrorText(code);
        file.reset();
        return false;
    }
    return true;
}

}  // namespace

nlohmann::json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

const char* ResultOfExit(int exitStatus) {
    switch (exitStatus) {
        case kExitPassed:
            return "passed";
        case kExitFailed:
            return "failed";
        case kExitNoDevice:
            return "no-device";
        case kExitUsage:
            return "usage";
        default:
            return "interrupted";
    }
}

CReport::CReport()
    : started_(std::chrono::system_clock::now()),
      startedSteady_(std::chrono::steady_clock::now()) {}

CReport::~CReport() = default;

bool CReport::Open(const std::string& jsonPath, const std::string& junitPath, std::string& error) {
    return Prepare(json_, jsonPath, "--report", error) &&
           Prepare(junit_, junitPath, "--junit", error);
}

void CReport::SetCommand(const std::vector<std::string>& arguments, std::string command) {
    arguments_ = arguments;
    command_ = std::move(command);
}

void CReport::AddPort(const std::string& role, int number) {
    nlohmann::json port = {{"role", role},
                           {"port", "COM" + std::to_string(number)},
                           {"device", nullptr},
                           {"adapter", nullptr}};
    if (const std::optional<platform::PortEntry> entry = platform::FindPortEntry(number)) {
        port["device"] = TextOrNull(entry->DeviceName());
        port["adapter"] = TextOrNull(entry->adapter);
    }
    ports_.push_back(std::move(port));
}

StepRecord& CReport::AddStep(std::string name) {
    StepRecord step;
    step.Name = std::move(name);
    steps_.push_back(std::move(step));
    return steps_.back();
}

nlohmann::json CReport::Json(int exitStatus) const {
    nlohmann::json steps = nlohmann::json::array();
    for (const StepRecord& step : steps_) {
        steps.push_back(
            {{"name", step.Name},
             {"result", step.Result},
             {"value", TextOrNull(step.Value)},
             {"duration_ms", step.DurationMs},
             {"error", TextOrNull(step.Error)},
             {"failure_kind", step.Kind == platform::FailureKind::None
                                  ? nlohmann::json(nullptr)
                                  : nlohmann::json(platform::FailureKindName(step.Kind))}});
    }
    const double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - startedSteady_)
            .count();
    return {{"schema", "pravikctl-report/1"},
            {"tool", {{"name", "pravikctl"}, {"version", ProgramVersion()}}},
            {"host", HostName()},
            {"started", IsoTime(started_)},
            {"duration_ms", elapsed},
            {"command", command_},
            {"arguments", arguments_},
            {"ports", ports_},
            {"instrument", Instrument},
            {"steps", steps},
            {"result", ResultOfExit(exitStatus)},
            {"exit_status", exitStatus}};
}

std::string CReport::JUnit(int exitStatus) const {
    int failures = 0;
    int skipped = 0;
    double total = 0.0;
    for (const StepRecord& step : steps_) {
        failures += step.Result == "failed" ? 1 : 0;
        skipped += step.Result == "skipped" || step.Result == "not-run" ? 1 : 0;
        total += step.DurationMs;
    }
    const std::string suite = "pravikctl " + command_;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
    xml += "  <testsuite name=\"" + XmlEscaped(suite) + "\" tests=\"" +
           std::to_string(steps_.size()) + "\" failures=\"" + std::to_string(failures) +
           "\" errors=\"" + std::to_string(exitStatus == kExitNoDevice ? 1 : 0) + "\" skipped=\"" +
           std::to_string(skipped) + "\" time=\"" + std::to_string(total / 1000.0) +
           "\" timestamp=\"" + IsoTime(started_) + "\" hostname=\"" + XmlEscaped(HostName()) +
           "\">\n";
    for (const StepRecord& step : steps_) {
        xml += "    <testcase classname=\"pravikctl." + XmlEscaped(command_) + "\" name=\"" +
               XmlEscaped(step.Name) + "\" time=\"" + std::to_string(step.DurationMs / 1000.0) +
               "\"";
        if (step.Result == "failed") {
            xml +=
                ">\n      <failure message=\"" + XmlEscaped(step.Error) + "\" type=\"" +
                (step.Kind == platform::FailureKind::None ? "failed"
                                                          : platform::FailureKindName(step.Kind)) +
                "\">" + XmlEscaped(step.Value) + "</failure>\n    </testcase>\n";
        } else if (step.Result == "skipped" || step.Result == "not-run") {
            xml += ">\n      <skipped message=\"" + XmlEscaped(step.Result) +
                   "\"/>\n    </testcase>\n";
        } else {
            xml += "/>\n";
        }
    }
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

bool CReport::Write(int exitStatus, std::string& error) {
    bool ok = true;
    if (json_) {
        if (const int code = json_->Commit(
                Json(exitStatus).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
                "\n");
            code != 0) {
            error = std::string("--report: cannot write the report: ") + std::strerror(code);
            ok = false;
        }
        json_.reset();
    }
    if (junit_) {
        if (const int code = junit_->Commit(JUnit(exitStatus)); code != 0) {
            error = std::string("--junit: cannot write the report: ") + std::strerror(code);
            ok = false;
        }
        junit_.reset();
    }
    return ok;
}

}  // namespace cli
