// omega save and omega reset: the Omega tools' runs with the terminal for their window.
#include <cmath>
#include <filesystem>

#include "cli/ToolStep.h"
#include "cli/Tools.h"
#include "tools/omega/SettingsResetRun.h"
#include "tools/omega/SettingsSaveRun.h"

namespace cli {

namespace {

// What the window's port list holds for the port, and the run reads its number from.
std::wstring PortEntry(int port) {
    return L"COM" + std::to_wstring(port);
}

class CSaveView final : public CTerminalView<ISettingsSaveView> {
public:
    CSaveView(CTerminal& terminal, int port, const std::string& path)
        : CTerminalView(terminal), port_(port), path_(path) {}

    int SelectedPortIndex() override { return 1; }
    std::wstring SelectedPortText() override { return PortEntry(port_); }
    std::filesystem::path OutputPath() override { return path_; }
    void SetRunning(bool) override {}
    platform::AutoResetEvent& CancelEvent() override { return cancel_; }

private:
    int port_;
    std::filesystem::path path_;
    platform::AutoResetEvent cancel_;
};

class CResetView final : public CTerminalView<ISettingsResetView> {
public:
    CResetView(CTerminal& terminal, int port, std::wstring configuration, const std::string& path,
               bool factoryDefaults)
        : CTerminalView(terminal),
          port_(port),
          configuration_(std::move(configuration)),
          path_(path),
          factoryDefaults_(factoryDefaults) {}

    int SelectedPortIndex() override { return 1; }
    std::wstring SelectedPortText() override { return PortEntry(port_); }
    bool UseFactoryDefaults() override { return factoryDefaults_; }
    std::wstring SelectedConfiguration() override { return configuration_; }
    std::filesystem::path InputPath() override { return path_; }
    // Where a window's bar would stand.
    int ProgressPosition() override {
        return static_cast<int>(std::lround(std::isfinite(percent_) ? percent_ : 0.0));
    }
    void SetRunning(bool) override {}
    platform::AutoResetEvent& CancelEvent() override { return cancel_; }

private:
    int port_;
    std::wstring configuration_;
    std::filesystem::path path_;
    bool factoryDefaults_;
    platform::AutoResetEvent cancel_;
};

}  // namespace

int OmegaSave(int port, const std::string& file, CTerminal& terminal, CReport& report) {
    CToolStep step("omega-save", terminal, report);
    report.AddPort("controller", port);
    if (const auto problem = OutputProblem("file", file, false)) {
        return step.Refuse(platform::FailureKind::FileError, *problem);
    }
    CSaveView view(terminal, port, file);
    // Ctrl-C is the window's Cancel: the run stops before the next register.
    const COnInterrupt cancel([&view] { view.CancelEvent().Set(); });
    return step.Finish(RunSettingsSave(view), file);
}

int OmegaReset(int port, const std::string& configuration, const std::string& file,
               bool factoryDefaults, CTerminal& terminal, CReport& report) {
    CToolStep step("omega-reset", terminal, report);
    report.AddPort("controller", port);
    if (!file.empty()) {
        if (const auto problem = InputProblem("--file", file)) {
            return step.Refuse(platform::FailureKind::FileError, *problem);
        }
    }
    std::wstring chosen(kCustomSettingsFile);
    for (const std::wstring_view name : kResetConfigurations) {
        if (file.empty() && Narrow(name) == configuration) {
            chosen = name;
        }
    }
    CResetView view(terminal, port, chosen, file, factoryDefaults);
    const COnInterrupt cancel([&view] { view.CancelEvent().Set(); });
    return step.Finish(RunSettingsReset(view),
                       (file.empty() ? configuration : file) + " written, controller restarted");
}

std::vector<std::string> OmegaConfigurations() {
    std::vector<std::string> names;
    for (const std::wstring_view name : kResetConfigurations) {
        if (name != kCustomSettingsFile) {
            names.push_back(Narrow(name));
        }
    }
    return names;
}

}  // namespace cli
