// The Omega tools' runs against a simulated controller: register writes with read-back, the save
// run and its file, the reset run and its configurations.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "devices/OmegaTempController.h"
#include "sim/OmegaControllerSim.h"
#include "support/TestPortDirectory.h"
#include "tools/omega/RegisterTable.h"
#include "tools/omega/SettingsResetRun.h"
#include "tools/omega/SettingsSaveRun.h"
#include "tools/omega/WriteRegisters.h"

void PrintTo(const RegisterEntry& entry, std::ostream* out) {
    *out << std::hex << entry.Register << '=' << entry.Value << '/' << entry.Width;
}

namespace {

using platform::MessageStyle;
using sim::COmegaControllerSim;
using testing_support::kFirstTestPort;

struct Step {
    double percent;
    std::wstring text;
};

// What a run told its dialog, in order.
struct Record : CSetProgressInterface, platform::IMessageSink {
    void SetProgress(double percent, const std::wstring& text) override {
        steps.push_back({percent, text});
        position = static_cast<int>(percent + 0.5);
    }
    void ShowMessage(const std::wstring& text, MessageStyle style) override {
        messages.push_back(text);
        styles.push_back(style);
    }
    std::vector<Step> steps;
    std::vector<std::wstring> messages;
    std::vector<MessageStyle> styles;
    int position = 0;
    std::vector<bool> running;
};

// Short pauses so that a read that never comes back costs milliseconds, not seconds.
void Quick(COmegaTempController& controller) {
    controller.ReplyTimeout = 150;
    controller.ReadBackDelayMs = 1;
    controller.DecimalPointRetryDelayMs = 1;
    controller.EchoFixDelayMs = 1;
}

class SaveView : public ISettingsSaveView {
public:
    void SetProgress(double percent, const std::wstring& text) override {
        record.SetProgress(percent, text);
    }
    void ShowMessage(const std::wstring& text, MessageStyle style) override {
        record.ShowMessage(text, style);
    }
    int SelectedPortIndex() override { return portIndex; }
    std::wstring SelectedPortText() override { return portText; }
    std::filesystem::path OutputPath() override { return path; }
    void SetRunning(bool on) override { record.running.push_back(on); }
    platform::AutoResetEvent& CancelEvent() override { return cancel; }

    Record record;
    int portIndex = 1;
    std::wstring portText = L"COM" + std::to_wstring(kFirstTestPort);
    std::filesystem::path path;
    platform::AutoResetEvent cancel;
};

class ResetView : public ISettingsResetView {
public:
    void SetProgress(double percent, const std::wstring& text) override {
        record.SetProgress(percent, text);
    }
    void ShowMessage(const std::wstring& text, MessageStyle style) override {
        record.ShowMessage(text, style);
    }
    int SelectedPortIndex() override { return portIndex; }
    std::wstring SelectedPortText() override { return portText; }
    bool UseFactoryDefaults() override { return factory; }
    std::wstring SelectedConfiguration() override { return configuration; }
    std::filesystem::path InputPath() override { return path; }
    int ProgressPosition() override { return record.position; }
    void SetRunning(bool on) override { record.running.push_back(on); }
    platform::AutoResetEvent& CancelEvent() override { return cancel; }

    Record record;
    int portIndex = 1;
    std::wstring portText = L"COM" + std::to_wstring(kFirstTestPort);
    bool factory = false;
    std::wstring configuration = std::wstring(omega::kRtdHeatFilterwheel);
    std::filesystem::path path;
    platform::AutoResetEvent cancel;
};

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class OmegaTools : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        controller = std::make_unique<COmegaControllerSim>(kFirstTestPort, PortDir());
        ASSERT_TRUE(controller->Start());
    }
    void TearDown() override {
        controller.reset();
        PortDirectoryTest::TearDown();
    }
    std::filesystem::path File(const std::string& name) const {
        return std::filesystem::path(PortDir()) / name;
    }
    // The controller's registers of the vocabulary, as a table.
    RegisterTable Registers() const {
        RegisterTable table = omega::RtdHeatFilterwheelTable();
        RegisterTable shown;
        for (RegisterEntry entry : table) {
            entry.Value = controller->Register(entry.Register);
            shown.Set(std::move(entry));
        }
        return shown;
    }
    // Every register of the controller set to something no configuration has.
    void Scramble() {
        for (const RegisterEntry& entry : omega::RtdHeatFilterwheelTable()) {
            controller->SetRegister(entry.Register, entry.Width == 2 ? 0x5A : 0x1234);
        }
        controller->SetRegister(0x01, 0x2000C8);  // a set point that reads back non-zero
    }
    ResetView& Reset(const std::wstring_view configuration) {
        resetView = std::make_unique<ResetView>();
        resetView->configuration = std::wstring(configuration);
        return *resetView;
    }
    // The commands the controller was sent, without the open's identification.
    std::vector<std::string> Writes() const {
        std::vector<std::string> writes;
        for (const std::string& command : controller->Commands()) {
            if (command.rfind('W', 0) == 0 || command == "Z02") {
                writes.push_back(command);
            }
        }
        return writes;
    }

    std::unique_ptr<COmegaControllerSim> controller;
    std::unique_ptr<ResetView> resetView;
};

TEST_F(OmegaTools, WriteRegistersReportsEachEntryAndReadsItBack) {
    COmegaTempController omega;
    omega.Settings.PortNumber = kFirstTestPort;
    Quick(omega);
    ASSERT_TRUE(omega.OpenPort());
    Scramble();

    // Set point 1 and the input type never read back; register 0x30 is one only a settings
    // file can bring.
    controller->SetStaleReads(20);
    RegisterTable small;
    small.Set({0x01, 0x2000FA, 6, L"Temperature Setpoint 1"});
    small.Set({0x07, 0x04, 2, L"Input Type"});
    small.Set({0x30, 0x12, 0, L""});
    Record record;
    platform::AutoResetEvent cancel;
    EXPECT_TRUE(omega::WriteRegisters(omega, small, record, cancel, record));

    ASSERT_EQ(record.steps.size(), 3u);
    EXPECT_EQ(record.steps[0].percent, 0.0);
    EXPECT_EQ(record.steps[0].text,
              L"Setting register 0x01 (Temperature Setpoint 1) to value 0x2000FA ...");
    EXPECT_NEAR(record.steps[2].percent, 200.0 / 3, 1e-9);
    EXPECT_EQ(record.steps[1].text, L"Setting register 0x07 (Input Type) to value 0x04 ...");
    EXPECT_EQ(record.messages,
              (std::vector<std::wstring>{L"Failed to set parameter (reg = 01, value = 2000FA)",
                                         L"Failed to set parameter (reg = 07, value = 000004)",
                                         L"Error setting register 0x30 () to 0x12."}));
    EXPECT_EQ(record.styles,
              (std::vector<MessageStyle>{MessageStyle::Error, MessageStyle::Error,
                                         MessageStyle::Plain}));
    // Each went out once, in the register's width; the unknown register not at all.
    EXPECT_EQ(Writes(), (std::vector<std::string>{"W012000FA", "W0704"}));

    // With read-back working the whole vocabulary goes in with no message, never at 100 %.
    controller->SetStaleReads(0);
    Record full;
    EXPECT_TRUE(omega::WriteRegisters(omega, omega::RtdHeatCoolFilterwheelTable(), full, cancel,
                                      full));
    EXPECT_TRUE(full.messages.empty());
    ASSERT_EQ(full.steps.size(), 37u);
    EXPECT_NEAR(full.steps.back().percent, 36 * 100.0 / 37, 1e-9);
    EXPECT_EQ(full.steps.back().text, L"Setting register 0x28 (% High) to value 0x63 ...");
    EXPECT_EQ(Registers(), omega::RtdHeatCoolFilterwheelTable());

    // A cancel given before the call stops it before the first register, and is consumed.
    cancel.Set();
    const uint64_t received = controller->ReceivedCount();
    Record cancelled;
    EXPECT_FALSE(omega::WriteRegisters(omega, omega::ThermocoupleHeatTable(), cancelled, cancel,
                                       cancelled));
    ASSERT_EQ(cancelled.steps.size(), 1u);
    EXPECT_EQ(cancelled.steps[0].percent, 100.0);
    EXPECT_EQ(cancelled.steps[0].text, L"Cancelled.");
    EXPECT_EQ(controller->ReceivedCount(), received);
    EXPECT_FALSE(cancel.IsSet());

    // An empty table is done at once and reports nothing.
    Record empty;
    EXPECT_TRUE(omega::WriteRegisters(omega, RegisterTable(), empty, cancel, empty));
    EXPECT_TRUE(empty.steps.empty());
}

TEST_F(OmegaTools, SaveWritesEveryRegisterOfTheController) {
    SaveView view;
    view.path = File("saved.txt");
    controller->SetRegister(0x0D, 0x63);
    RunSettingsSave(view, Quick);

    EXPECT_TRUE(view.record.messages.empty());
    EXPECT_EQ(view.record.running, (std::vector<bool>{true, false}));
    const std::string text = ReadAll(view.path);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 38);  // 39 lines, no final break
    EXPECT_EQ(text.substr(0, 62), "Reg\tValue\t\tDescription\r\n"
                                  "0x01\t0x2000FA\tTemperature Setpoint 1\r\n");
    EXPECT_NE(text.find("\r\n0x07\t0x11\t\tInput Type\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n0x0D\t0x63\t\tOutput 2 Configuration\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n0x0B\t0x003B\t\tLoop Break Time\r\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("\r\n0x28\t0x63\t\t% High\r\nEnd of file"));

    const std::vector<Step>& steps = view.record.steps;
    ASSERT_EQ(steps.size(), 39u);
    EXPECT_EQ(steps[0].text, L"Connecting to temperature controller ...");
    EXPECT_EQ(steps[1].text, L"Getting Temperature Setpoint 1 ...");
    EXPECT_NEAR(steps[37].percent, 36 * 100.0 / 37, 1e-9);
    EXPECT_EQ(steps[38].percent, 100.0);
    EXPECT_EQ(steps[38].text, L"Done.");
}

TEST_F(OmegaTools, SaveKeepsGoingPastAFailedRead) {
    SaveView view;
    view.path = File("saved.txt");
    controller->SetUnanswered("R01");
    RunSettingsSave(view, Quick);

    EXPECT_EQ(view.record.messages,
              std::vector<std::wstring>{L"Error getting register 0x01 (Temperature Setpoint 1)."});
    const std::string text = ReadAll(view.path);
    EXPECT_NE(text.find("\r\n0x01\t0xFFFFFFFF\tTemperature Setpoint 1\r\n"), std::string::npos);
    const std::vector<Step>& steps = view.record.steps;
    ASSERT_EQ(steps.size(), 39u);
    EXPECT_NEAR(steps[37].percent, 35 * 100.0 / 37, 1e-9);  // one step short
    EXPECT_EQ(steps[38].text, L"Done.");
}

TEST_F(OmegaTools, SaveRefusalsLeaveTheDialogIdle) {
    SaveView noPort;
    noPort.portIndex = 0;
    noPort.path = File("never.txt");
    RunSettingsSave(noPort, Quick);
    EXPECT_EQ(noPort.record.messages, std::vector<std::wstring>{L"Please select a COM port."});
    EXPECT_FALSE(std::filesystem::exists(noPort.path));
    EXPECT_EQ(noPort.record.running, (std::vector<bool>{true, false}));

    SaveView badPath;
    badPath.path = File("no-such-folder") / "saved.txt";
    RunSettingsSave(badPath, Quick);
    EXPECT_EQ(badPath.record.messages, std::vector<std::wstring>{L"Error creating output file."});

    SaveView noController;
    noController.portText = L"COM" + std::to_wstring(kFirstTestPort + 1);
    noController.path = File("empty.txt");
    RunSettingsSave(noController, Quick);
    EXPECT_EQ(noController.record.messages,
              std::vector<std::wstring>{L"Error connecting to temperature controller."});
    EXPECT_EQ(std::filesystem::file_size(noController.path), 0u);

    // Cancel pressed while connecting takes effect before the first register is read.
    SaveView cancelled;
    cancelled.path = File("cancelled.txt");
    cancelled.cancel.Set();
    RunSettingsSave(cancelled, Quick);
    ASSERT_EQ(cancelled.record.steps.size(), 2u);
    EXPECT_EQ(cancelled.record.steps[1].text, L"Cancelled.");
    EXPECT_EQ(cancelled.record.steps[1].percent, 100.0);
    EXPECT_EQ(controller->LastCommand(), "R1F");  // only the open's identification
    EXPECT_EQ(std::filesystem::file_size(cancelled.path), 0u);
    EXPECT_EQ(cancelled.record.running, (std::vector<bool>{true, false}));
}

TEST_F(OmegaTools, ResetWritesEachBuiltInConfigurationThenRestarts) {
    for (const auto& [name, table] :
         {std::pair{omega::kRtdHeatFilterwheel, omega::RtdHeatFilterwheelTable()},
          std::pair{omega::kRtdHeatCoolFilterwheel, omega::RtdHeatCoolFilterwheelTable()},
          std::pair{omega::kThermocoupleHeat, omega::ThermocoupleHeatTable()}}) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        Scramble();
        const uint64_t restarts = controller->Restarts();
        ResetView& view = Reset(name);
        RunSettingsReset(view, Quick);

        EXPECT_TRUE(view.record.messages.empty());
        EXPECT_EQ(Registers(), table);
        EXPECT_EQ(controller->Restarts(), restarts + 1);
        const std::vector<Step>& steps = view.record.steps;
        ASSERT_EQ(steps.size(), 40u);
        EXPECT_EQ(steps[38].text, L"Resetting Controller");
        EXPECT_EQ(steps[38].percent, 97.0);  // where the bar stood
        EXPECT_EQ(steps[39].text, L"Done.");
        EXPECT_EQ(steps[39].percent, 100.0);
        EXPECT_EQ(view.record.running, (std::vector<bool>{true, false}));
    }
}

// The line settings each run opens the controller with. A pseudo-terminal carries no character
// frame, so they are taken from the controller object just before it opens.
CommSettings openedWith;
void Capture(COmegaTempController& omega) {
    Quick(omega);
    openedWith = omega.Settings;
}

TEST_F(OmegaTools, FactoryFreshControllerIsOpenedOnSevenBitsOddParity) {
    ResetView& factory = Reset(omega::kRtdHeatFilterwheel);
    factory.factory = true;
    RunSettingsReset(factory, Capture);
    EXPECT_EQ(openedWith, (CommSettings{kFirstTestPort, 9600, 7, 1, 0, 0}));
    EXPECT_EQ(factory.record.steps.back().text, L"Done.");
    // "COM Settings" is written like any other register; it moves the controller to 8N1.
    EXPECT_EQ(controller->Register(0x10), 0x25u);

    RunSettingsReset(Reset(omega::kRtdHeatFilterwheel), Capture);
    EXPECT_EQ(openedWith, (CommSettings{kFirstTestPort, 9600, 8, 0, 0, 0}));
    SaveView save;
    save.path = File("saved.txt");
    RunSettingsSave(save, Capture);
    EXPECT_EQ(openedWith, (CommSettings{kFirstTestPort, 9600, 8, 0, 0, 0}));
}

TEST_F(OmegaTools, ResetFromSettingsFiles) {
    // A register the vocabulary does not know gets its message and nothing is sent for it.
    const std::filesystem::path custom = File("custom.txt");
    std::ofstream(custom) << "Reg\tValue\t\tDescription\n0x07\t0x04\t\tInput Type\n"
                             "0x99\t0x12\tMystery\nEnd of file";
    ResetView& view = Reset(L"custom settings file");  // matched without regard to case
    view.path = custom;
    RunSettingsReset(view, Quick);
    EXPECT_EQ(view.record.messages,
              std::vector<std::wstring>{L"Error setting register 0x99 () to 0x12."});
    EXPECT_EQ(view.record.steps.back().text, L"Done.");
    EXPECT_EQ(Writes(), (std::vector<std::string>{"W0704", "Z02"}));

    // Only a header and "End of file": nothing to write, the restart all the same.
    const std::filesystem::path bare = File("bare.txt");
    std::ofstream(bare) << "Reg\tValue\t\tDescription\r\nEnd of file";
    ResetView& empty = Reset(kCustomSettingsFile);
    empty.path = bare;
    const uint64_t restarts = controller->Restarts();
    RunSettingsReset(empty, Quick);
    EXPECT_TRUE(empty.record.messages.empty());
    EXPECT_EQ(controller->Restarts(), restarts + 1);

    ResetView& missing = Reset(kCustomSettingsFile);
    missing.path = File("missing.txt");
    RunSettingsReset(missing, Quick);
    EXPECT_EQ(missing.record.messages, std::vector<std::wstring>{L"Error opening input file."});
    EXPECT_EQ(missing.record.running, (std::vector<bool>{true, false}));
}

TEST_F(OmegaTools, ResetThatDoesNotFinishEndsWithErrors) {
    ResetView& unknown = Reset(L"Peltier");
    RunSettingsReset(unknown, Quick);
    EXPECT_EQ(unknown.record.messages,
              (std::vector<std::wstring>{L"Invalid settings configuration selection.",
                                         L"Errors encountered!"}));
    EXPECT_EQ(unknown.record.steps.back().text, L"Done with Errors.");

    ResetView& cancelled = Reset(omega::kThermocoupleHeat);
    cancelled.cancel.Set();
    const uint64_t restarts = controller->Restarts();
    RunSettingsReset(cancelled, Quick);
    EXPECT_EQ(cancelled.record.messages, std::vector<std::wstring>{L"Errors encountered!"});
    ASSERT_GE(cancelled.record.steps.size(), 2u);
    EXPECT_EQ(cancelled.record.steps[1].text, L"Cancelled.");
    EXPECT_EQ(cancelled.record.steps.back().text, L"Done with Errors.");
    EXPECT_EQ(controller->Restarts(), restarts);
    EXPECT_TRUE(Writes().empty());
}

TEST_F(OmegaTools, SavedSettingsRestoreTheController) {
    RunSettingsReset(Reset(omega::kRtdHeatCoolFilterwheel), Quick);
    SaveView save;
    save.path = File("heat-cool.txt");
    RunSettingsSave(save, Quick);
    ASSERT_TRUE(save.record.messages.empty());

    RunSettingsReset(Reset(omega::kThermocoupleHeat), Quick);
    ASSERT_EQ(Registers(), omega::ThermocoupleHeatTable());

    ResetView& restore = Reset(kCustomSettingsFile);
    restore.path = save.path;
    RunSettingsReset(restore, Quick);
    EXPECT_TRUE(restore.record.messages.empty());
    EXPECT_EQ(Registers(), omega::RtdHeatCoolFilterwheelTable());
}

}  // namespace
