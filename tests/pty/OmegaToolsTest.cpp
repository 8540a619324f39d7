// The Omega tools' runs against a simulated controller: register writes with read-back, the save
// run and its file, the reset run and its configurations.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
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
#include "tools/omega/TempCtrlSettingsFile.h"
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
        if (onProgress) {
            onProgress(record.steps.size());
        }
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
    std::function<void(size_t steps)> onProgress;
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

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The names in a folder: what a run leaves behind beside the file it was given.
std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
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
    std::filesystem::path File(const std::string& name) const { return Files() / name; }
    // A folder for the tools' files, apart from the published ports.
    std::filesystem::path Files() const {
        const std::filesystem::path folder = std::filesystem::path(PortDir()) / "files";
        std::filesystem::create_directories(folder);
        return folder;
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
    EXPECT_EQ(record.styles, (std::vector<MessageStyle>{MessageStyle::Error, MessageStyle::Error,
                                                        MessageStyle::Plain}));
    // Each went out once, in the register's width; the unknown register not at all.
    EXPECT_EQ(Writes(), (std::vector<std::string>{"W012000FA", "W0704"}));

    // With read-back working the whole vocabulary goes in with no message, never at 100 %.
    controller->SetStaleReads(0);
    Record full;
    EXPECT_TRUE(
        omega::WriteRegisters(omega, omega::RtdHeatCoolFilterwheelTable(), full, cancel, full));
    EXPECT_TRUE(full.messages.empty());
    ASSERT_EQ(full.steps.size(), 37u);
    EXPECT_NEAR(full.steps.back().percent, 36 * 100.0 / 37, 1e-9);
    EXPECT_EQ(full.steps.back().text, L"Setting register 0x28 (% High) to value 0x63 ...");
    EXPECT_EQ(Registers(), omega::RtdHeatCoolFilterwheelTable());

    // A cancel given before the call stops it before the first register, and is consumed.
    cancel.Set();
    const uint64_t received = controller->ReceivedCount();
    Record cancelled;
    EXPECT_FALSE(
        omega::WriteRegisters(omega, omega::ThermocoupleHeatTable(), cancelled, cancel, cancelled));
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
    // An earlier save, readable by its owner alone: replaced, and still readable by them alone.
    WriteFile(view.path, "old");
    ASSERT_EQ(::chmod(view.path.c_str(), 0600), 0);
    controller->SetRegister(0x0D, 0x63);
    RunSettingsSave(view, Quick);

    EXPECT_TRUE(view.record.messages.empty());
    EXPECT_EQ(view.record.running, (std::vector<bool>{true, false}));
    const std::string text = ReadAll(view.path);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 38);  // 39 lines, no final break
    EXPECT_EQ(text.substr(0, 62),
              "Reg\tValue\t\tDescription\r\n"
              "0x01\t0x2000FA\tTemperature Setpoint 1\r\n");
    EXPECT_NE(text.find("\r\n0x07\t0x11\t\tInput Type\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n0x0D\t0x63\t\tOutput 2 Configuration\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n0x0B\t0x003B\t\tLoop Break Time\r\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("\r\n0x28\t0x63\t\t% High\r\nEnd of file"));
    EXPECT_EQ(std::filesystem::status(view.path).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(Names(Files()), std::vector<std::string>{"saved.txt"});

    const std::vector<Step>& steps = view.record.steps;
    ASSERT_EQ(steps.size(), 39u);
    EXPECT_EQ(steps[0].text, L"Connecting to temperature controller ...");
    EXPECT_EQ(steps[1].text, L"Getting Temperature Setpoint 1 ...");
    EXPECT_NEAR(steps[37].percent, 36 * 100.0 / 37, 1e-9);
    EXPECT_EQ(steps[38].percent, 100.0);
    EXPECT_EQ(steps[38].text, L"Done.");
}

// However a save ends short of a complete file, a settings file saved earlier is left byte for
// byte as it was, at every moment of the run (which is what a kill would leave), and nothing is
// left beside it.
struct FailedSave {
    const char* name;
    int port = kFirstTestPort;
    size_t cancelAtStep = 0;  // the progress report at which "Cancel" is pressed
    size_t silentAtStep = 0;  // ... at which the controller stops answering
    const wchar_t* lastStatus;
    size_t messages;
};

void PrintTo(const FailedSave& row, std::ostream* out) {
    *out << row.name;
}

class OmegaSaveFailures : public OmegaTools, public testing::WithParamInterface<FailedSave> {};

TEST_P(OmegaSaveFailures, LeaveTheSavedFileAsItWas) {
    const FailedSave& row = GetParam();
    const std::string good = omega::FormatSettingsFile(omega::ThermocoupleHeatTable());
    SaveView view;
    view.path = File("bench7.txt");
    view.portText = L"COM" + std::to_wstring(row.port);
    WriteFile(view.path, good);
    size_t unchanged = 0;
    view.onProgress = [&](size_t steps) {
        if (steps == row.cancelAtStep) {
            view.cancel.Set();
        }
        if (steps == row.silentAtStep) {
            controller->DropReplies(1000);
        }
        unchanged += ReadAll(view.path) == good ? 1 : 0;
    };
    RunSettingsSave(view, Quick);

    EXPECT_EQ(ReadAll(view.path), good);
    EXPECT_EQ(unchanged, view.record.steps.size()) << "the file changed during the run";
    EXPECT_EQ(Names(Files()), std::vector<std::string>{"bench7.txt"});
    EXPECT_EQ(view.record.messages.size(), row.messages);
    ASSERT_FALSE(view.record.steps.empty());
    EXPECT_EQ(view.record.steps.back().text, row.lastStatus);
    EXPECT_EQ(view.record.running, (std::vector<bool>{true, false}));
}

INSTANTIATE_TEST_SUITE_P(
    Save, OmegaSaveFailures,
    testing::Values(FailedSave{.name = "WrongPort",
                               .port = kFirstTestPort + 1,
                               .lastStatus = L"Connecting to temperature controller ...",
                               .messages = 1},
                    FailedSave{.name = "CancelMidRun",
                               .cancelAtStep = 12,
                               .lastStatus = L"Cancelled.",
                               .messages = 0},
                    // Silent from the 31st register on: each of the last seven reads fails.
                    FailedSave{.name = "ControllerSilentHalfWay",
                               .silentAtStep = 32,
                               .lastStatus = L"Not saved: some registers could not be read.",
                               .messages = 7}),
    [](const testing::TestParamInfo<FailedSave>& info) { return std::string(info.param.name); });

TEST_F(OmegaTools, SaveRefusalsLeaveTheDialogIdle) {
    SaveView noPort;
    noPort.portIndex = 0;
    noPort.path = File("never.txt");
    RunSettingsSave(noPort, Quick);
    EXPECT_EQ(noPort.record.messages, std::vector<std::wstring>{L"Please select a COM port."});
    EXPECT_EQ(noPort.record.running, (std::vector<bool>{true, false}));

    SaveView badPath;
    badPath.path = File("no-such-folder") / "saved.txt";
    RunSettingsSave(badPath, Quick);
    EXPECT_EQ(badPath.record.messages, std::vector<std::wstring>{L"Error creating output file."});

    // A new path is made only by a save that succeeds: no empty file is left to be mistaken for
    // one.
    SaveView noController;
    noController.portText = L"COM" + std::to_wstring(kFirstTestPort + 1);
    noController.path = File("empty.txt");
    RunSettingsSave(noController, Quick);
    EXPECT_EQ(noController.record.messages,
              std::vector<std::wstring>{L"Error connecting to temperature controller."});

    // Cancel pressed while connecting takes effect before the first register is read.
    SaveView cancelled;
    cancelled.path = File("cancelled.txt");
    cancelled.cancel.Set();
    RunSettingsSave(cancelled, Quick);
    ASSERT_EQ(cancelled.record.steps.size(), 2u);
    EXPECT_EQ(cancelled.record.steps[1].text, L"Cancelled.");
    EXPECT_EQ(cancelled.record.steps[1].percent, 100.0);
    EXPECT_EQ(controller->LastCommand(), "R1F");  // only the open's identification
    EXPECT_EQ(cancelled.record.running, (std::vector<bool>{true, false}));
    EXPECT_TRUE(Names(Files()).empty());
}

// A named pipe given as a path would hold an open() until someone writes to it; the tools must
// refuse it at once instead.
TEST_F(OmegaTools, NamedPipesAreRefusedWithoutWaiting) {
    const std::filesystem::path pipe = File("pipe.txt");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

    SaveView save;
    save.path = pipe;
    RunSettingsSave(save, Quick);
    EXPECT_EQ(save.record.messages, std::vector<std::wstring>{L"Error creating output file."});

    ResetView& reset = Reset(kCustomSettingsFile);
    reset.path = pipe;
    RunSettingsReset(reset, Quick);
    EXPECT_EQ(reset.record.messages, std::vector<std::wstring>{L"Error opening input file."});
    EXPECT_EQ(controller->ReceivedCount(), 0u);
    EXPECT_EQ(Names(Files()), std::vector<std::string>{"pipe.txt"});
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

// A settings file is read and checked whole before the controller hears anything: a file that
// cannot be written in full is refused with one message, the status line naming why and where.
struct BadSettingsFile {
    const char* name;
    std::string text;
    const wchar_t* why;
};

void PrintTo(const BadSettingsFile& row, std::ostream* out) {
    *out << row.name;
}

class OmegaBadSettingsFiles : public OmegaTools,
                              public testing::WithParamInterface<BadSettingsFile> {};

TEST_P(OmegaBadSettingsFiles, AreRefusedBeforeTheControllerHearsAnything) {
    const std::filesystem::path file = File("custom.txt");
    WriteFile(file, GetParam().text);
    ResetView& view = Reset(kCustomSettingsFile);
    view.path = file;
    RunSettingsReset(view, Quick);

    EXPECT_EQ(view.record.messages, std::vector<std::wstring>{L"Error opening input file."});
    EXPECT_EQ(controller->ReceivedCount(), 0u);
    ASSERT_FALSE(view.record.steps.empty());
    EXPECT_NE(view.record.steps.back().text.find(GetParam().why), std::wstring::npos)
        << std::string(view.record.steps.back().text.begin(), view.record.steps.back().text.end());
    EXPECT_EQ(view.record.running, (std::vector<bool>{true, false}));
}

std::string RandomBytes() {
    std::minstd_rand random(7);
    std::string bytes(4096, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

const std::string kHeader = "Reg\tValue\t\tDescription\r\n";

INSTANTIATE_TEST_SUITE_P(
    Reset, OmegaBadSettingsFiles,
    testing::Values(
        BadSettingsFile{"Empty", "", L"No line of the file sets a register."},
        BadSettingsFile{"HeaderOnly", kHeader + "End of file",
                        L"No line of the file sets a register."},
        BadSettingsFile{"TextNote", "Bench 7: RTD, set point 25.0\nCall Ana before a reset\n",
                        L"No line of the file sets a register."},
        BadSettingsFile{"RandomBytes", RandomBytes(), L"No line of the file sets a register."},
        BadSettingsFile{"UnknownRegister",
                        kHeader + "0x07\t0x04\t\tInput Type\r\n0x99\t0x12\tMystery\r\n",
                        L"line 3: \"0x99 0x12 Mystery\" names register 0x99"},
        BadSettingsFile{"ValueTooWide", kHeader + "0x07\t0x1FF\t\tInput Type\r\n",
                        L"line 2: \"0x07 0x1FF  Input Type\" sets register 0x07 (Input Type) "
                        L"to 0x1FF, more than its 2 hex digits hold."},
        // What a save whose controller stopped answering would have written.
        BadSettingsFile{
            "UnreadRegister", kHeader + "0x01\t0xFFFFFFFF\tTemperature Setpoint 1\r\nEnd of file",
            L"line 2: \"0x01 0xFFFFFFFF Temperature Setpoint 1\" sets register 0x01 "
            L"(Temperature Setpoint 1) to 0xFFFFFFFF, more than its 6 hex digits hold."}),
    [](const testing::TestParamInfo<BadSettingsFile>& info) {
        return std::string(info.param.name);
    });

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

    ResetView& restore = Reset(L"custom settings file");  // matched without regard to case
    restore.path = save.path;
    RunSettingsReset(restore, Quick);
    EXPECT_TRUE(restore.record.messages.empty());
    EXPECT_EQ(Registers(), omega::RtdHeatCoolFilterwheelTable());
}

}  // namespace
