// The Omega tools' runs against a simulated controller: register writes with read-back, the save
// run and its file, the reset run and its configurations.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices/OmegaTempController.h"
#include "sim/OmegaControllerSim.h"
#include "support/TestPortDirectory.h"
#include "tools/omega/RegisterHex.h"
#include "tools/omega/RegisterTable.h"
#include "tools/omega/SettingsResetRun.h"
#include "tools/omega/SettingsSaveRun.h"
#include "tools/omega/TempCtrlSettingsFile.h"

void PrintTo(const RegisterEntry& entry, std::ostream* out) {
    *out << std::hex << entry.Register << '=' << entry.Value << '/' << entry.Width;
}

namespace {

using platform::MessageStyle;
using testing_support::kFirstTestPort;
constexpr int kPort = kFirstTestPort;
using Texts = std::vector<std::wstring>;
using Commands = std::vector<std::string>;
using End = RunOutcome::End;

// The dialog of either run: answers its questions and records what the run told it, in order.
class View final : public ISettingsSaveView, public ISettingsResetView {
public:
    void SetProgress(double percent, const std::wstring& text) override {
        percents.push_back(percent);
        steps.push_back(text);
        if (onProgress) {
            onProgress(steps.size());
        }
    }
    // Recorded as the box would caption them: any style but Plain ahead of the text.
    void ShowMessage(const std::wstring& text, MessageStyle style) override {
        static const wchar_t* const kCaption[] = {L"", L"Error: ", L"Stop: ", L"Success: "};
        messages.push_back(kCaption[static_cast<int>(style)] + text);
    }
    int SelectedPortIndex() override { return port == 0 ? 0 : 1; }
    std::wstring SelectedPortText() override { return L"COM" + std::to_wstring(port); }
    std::filesystem::path OutputPath() override { return path; }
    std::filesystem::path InputPath() override { return path; }
    bool UseFactoryDefaults() override { return factory; }
    std::wstring SelectedConfiguration() override { return configuration; }
    int ProgressPosition() override {
        return percents.empty() ? 0 : static_cast<int>(std::lround(percents.back()));
    }
    void SetRunning(bool on) override { running.push_back(on); }
    platform::AutoResetEvent& CancelEvent() override { return cancel; }
    std::wstring Last() const { return steps.empty() ? L"" : steps.back(); }

    std::vector<double> percents;
    Texts steps;  // the status line, one per progress report
    Texts messages;
    std::vector<bool> running;
    int port = kFirstTestPort;  // 0: none chosen
    bool factory = false;
    std::wstring configuration;
    std::filesystem::path path;
    platform::AutoResetEvent cancel;
    std::function<void(size_t steps)> onProgress;
};

// Short pauses so that a read that never comes back costs milliseconds, not seconds. The line
// settings a run opens with are taken from the controller just before it opens: a
// pseudo-terminal carries no character frame.
CommSettings openedWith;
void Quick(COmegaTempController& controller) {
    controller.ReplyTimeout = 150;
    controller.ReadBackDelayMs = 1;
    openedWith = controller.Settings;
}

const auto ReadAll = [](const std::filesystem::path& path) {
    return std::string(std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {});
};
const auto WriteFile = [](const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
};

class OmegaTools : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        controller = std::make_unique<sim::COmegaControllerSim>(kFirstTestPort, PortDir());
        ASSERT_TRUE(controller->Start());
        std::filesystem::create_directories(Files());
    }
    // A folder for the tools' files, apart from the published ports.
    std::filesystem::path Files() const { return std::filesystem::path(PortDir()) / "files"; }
    // What is in it: a run leaves nothing beside the file it was given.
    auto Entries() const { return std::distance(std::filesystem::directory_iterator(Files()), {}); }
    RegisterTable Registers() const {
        RegisterTable shown;
        for (RegisterEntry entry : omega::RtdHeatFilterwheelTable()) {
            entry.Value = controller->Register(entry.Register);
            shown.Set(std::move(entry));
        }
        return shown;
    }

    std::unique_ptr<sim::COmegaControllerSim> controller;
};

const auto RowName = [](const auto& info) { return std::string(info.param.name); };

// A save replaces what was at the path only with a complete file. However it ends short of one,
// what was there is left as it was at every moment of the run (which is what a kill would
// leave), and nothing is left beside it.
struct SaveRun {
    const char* name;
    bool pipe;                   // at the path, or an earlier save
    int port;                    // 0: none chosen
    size_t cancelAtStep;         // the progress report at which "Cancel" is pressed
    size_t silentAtStep, steps;  // ... at which the controller stops answering; how many
    const wchar_t* last;
    size_t messages;
    const wchar_t* firstMessage;
};

class OmegaSaves : public OmegaTools, public testing::WithParamInterface<SaveRun> {};

TEST_P(OmegaSaves, ReplaceThePathOnlyWithACompleteFile) {
    const SaveRun& row = GetParam();
    const bool saved = std::wstring(row.last) == L"Done.";
    const std::string earlier = omega::FormatSettingsFile(omega::ThermocoupleHeatTable());
    RegisterTable read = omega::RtdHeatFilterwheelTable();
    read[0x0D].Value = 0x63;  // the values are the controller's, not the vocabulary's
    controller->SetRegister(0x0D, 0x63);
    View view;
    view.port = row.port;
    view.path = Files() / "bench7.txt";
    if (!row.pipe) {
        // Readable by its owner alone, as the file that replaces it is.
        WriteFile(view.path, earlier);
        ASSERT_EQ(::chmod(view.path.c_str(), 0600), 0);
    } else {
        // It would hold an open() until someone writes to it: refused at once instead.
        ASSERT_EQ(::mkfifo(view.path.c_str(), 0600), 0);
    }
    const auto before = Entries();
    size_t intactSteps = 0;
    view.onProgress = [&](size_t steps) {
        if (steps == row.cancelAtStep) {
            view.cancel.Set();
        }
        if (steps == row.silentAtStep) {
            controller->DropReplies(1000);
        }
        intactSteps += row.pipe || ReadAll(view.path) == earlier ? 1 : 0;
    };
    const End end = RunSettingsSave(view, Quick).Ending;
    EXPECT_EQ(end, saved ? End::Done : row.cancelAtStep ? End::Cancelled : End::Failed);

    if (!row.pipe) {
        EXPECT_EQ(ReadAll(view.path), saved ? omega::FormatSettingsFile(read) : earlier);
        EXPECT_EQ(std::filesystem::status(view.path).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    EXPECT_EQ(intactSteps + (saved ? 1 : 0), view.steps.size()) << "changed before the end";
    EXPECT_EQ(Entries(), before);
    ASSERT_EQ(view.steps.size(), row.steps);
    // A run that failed on the controller ends its status with the controller's reason.
    EXPECT_TRUE(view.Last().starts_with(row.last)) << testing::PrintToString(view.Last());
    if (row.steps > 2) {
        EXPECT_EQ(view.steps[1], L"Getting Temperature Setpoint 1 ...");
    }
    ASSERT_EQ(view.messages.size(), row.messages);
    EXPECT_EQ(view.messages.empty() ? L"" : view.messages.front(), row.firstMessage);
    EXPECT_EQ(view.running, (std::vector<bool>{true, false}));
    if (saved) {
        EXPECT_EQ(openedWith, (CommSettings{kPort, 9600, 8, 0}));
        EXPECT_NEAR(view.percents[37], 36 * 100.0 / 37, 1e-9);
        EXPECT_EQ(view.percents[38], 100.0);
    }
}

// clang-format off
const SaveRun kSaveRuns[] = {
    {"Saved", false, kPort, 0, 0, 39, L"Done.", 0, L""},
    {"NoPortChosen", false, 0, 0, 0, 0, L"", 1, L"Please select a COM port."},
    {"NamedPipe", true, kPort, 0, 0, 0, L"", 1, L"Error creating output file."},
    {"WrongPort", false, kPort + 1, 0, 0, 2, L"COM202 is not a port on this computer.",
     1, L"Error connecting to temperature controller."},
    // Cancel pressed while connecting takes effect before the first register is read.
    {"CancelWhileConnecting", false, kPort, 1, 0, 2, L"Cancelled.", 0, L""},
    // Silent from the 31st register on: each of the last seven reads fails.
    {"ControllerSilentHalfWay", false, kPort, 0, 32, 39,
     L"Not saved: some registers could not be read.\nNo reply to \"*R28<0D>\" from COM201", 7,
     L"Error getting register 0x21 (Address)."},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Save, OmegaSaves, testing::ValuesIn(kSaveRuns), RowName);

// Each configuration the reset offers is written whole and the controller restarted. A run that
// cannot write all of it ends with errors and without a restart; a settings file that cannot be
// written in full is refused before the controller hears anything, the status line saying why.
const std::string kPipe = "a named pipe";  // it would hold an open() until someone writes to it
const std::string kNoFile = "no file";

struct ResetRun {
    const char* name;
    std::wstring_view configuration;
    std::string file;                      // at the path given
    std::optional<RegisterTable> written;  // empty: nothing is
    Texts messages;
    const wchar_t* last;   // how the status line starts
    bool factory = false;  // a controller fresh from the factory talks 7 bits, odd parity
    bool cancel = false;
    const char* unanswered = "";  // a command the controller never answers
};

class OmegaResets : public OmegaTools, public testing::WithParamInterface<ResetRun> {};

TEST_P(OmegaResets, WriteTheConfigurationThenRestart) {
    const ResetRun& row = GetParam();
    const RegisterTable before = Registers();
    View view;
    view.configuration = row.configuration;
    view.factory = row.factory;
    view.path = Files() / "custom.txt";
    if (row.file == kPipe) {
        ASSERT_EQ(::mkfifo(view.path.c_str(), 0600), 0);
    } else if (row.file != kNoFile) {
        WriteFile(view.path, row.file);
    }
    if (row.cancel) {
        view.cancel.Set();
    }
    controller->SetUnanswered(row.unanswered);
    const End end = RunSettingsReset(view, Quick).Ending;  // Done only if every register took
    EXPECT_EQ(end, row.cancel ? End::Cancelled : row.messages.empty() ? End::Done : End::Failed);

    EXPECT_EQ(openedWith, (CommSettings{kPort, 9600, row.factory ? 7 : 8, row.factory ? 1 : 0}));
    EXPECT_EQ(view.messages, row.messages);
    EXPECT_TRUE(view.Last().starts_with(row.last))
        << std::string(view.Last().begin(), view.Last().end());
    EXPECT_EQ(view.running, (std::vector<bool>{true, false}));
    EXPECT_EQ(Registers(), row.written.value_or(before));
    EXPECT_EQ(controller->Restarts(), row.written ? 1u : 0u);
    if (row.written) {
        const Commands log = controller->Commands();
        EXPECT_EQ(std::count_if(log.begin(), log.end(), [](auto& c) { return c[0] == 'W'; }), 37)
            << "each register once";
        ASSERT_EQ(view.steps.size(), 40u);
        EXPECT_EQ(view.steps[2], L"Setting register 0x02 (Temperature Setpoint 2) to value 0x" +
                                     omega::WideHex(row.written->Find(0x02)->Value, 6) + L" ...");
        EXPECT_EQ(view.steps[38], L"Resetting Controller");
        EXPECT_EQ(view.percents[38], 97.0);  // where the bar stood
        EXPECT_EQ(view.percents[39], 100.0);
    } else {
        const bool refusedFile = IsCustomSettingsFile(view.configuration);
        EXPECT_EQ(controller->Commands(), refusedFile ? Commands{} : Commands{"R1F"});
    }
    if (row.cancel) {
        // Given before the first register, it stops the run there, and is consumed.
        EXPECT_EQ(view.steps[1], L"Cancelled.");
        EXPECT_EQ(view.percents[1], 100.0);
        EXPECT_FALSE(view.cancel.IsSet());
    }
}

const std::string kHeader = "Reg\tValue\t\tDescription\r\n";
const Texts kRefused = {L"Error opening input file."};
const Texts kErrors = {L"Error: Errors encountered!"};
// clang-format off
const ResetRun kResetRuns[] = {
    {"RtdHeatOnAFactoryFreshController", omega::kRtdHeatFilterwheel, "",
     omega::RtdHeatFilterwheelTable(), {}, L"Done.", true},
    {"RtdHeatCool", omega::kRtdHeatCoolFilterwheel, "", omega::RtdHeatCoolFilterwheelTable(), {},
     L"Done."},
    // A register that never reads back is reported, and the run goes on.
    {"InputTypeNeverReadsBack", omega::kThermocoupleHeat, "", omega::ThermocoupleHeatTable(),
     {L"Error: Failed to set parameter (reg = 07, value = 000004)"}, L"Done.", false, false,
     "R07"},
    // A file the save wrote; the choice is matched without regard to case.
    {"SettingsFile", L"custom settings file",
     omega::FormatSettingsFile(omega::RtdHeatCoolFilterwheelTable()),
     omega::RtdHeatCoolFilterwheelTable(), {}, L"Done."},
    {"UnknownConfiguration", L"Peltier", "", {},
     {L"Error: Invalid settings configuration selection.", L"Error: Errors encountered!"},
     L"Done with Errors."},
    {"Cancelled", omega::kThermocoupleHeat, "", {}, kErrors, L"Done with Errors.", false, true},
    {"NamedPipe", kCustomSettingsFile, kPipe, {}, kRefused, L"The path does not name a file."},
    {"NoFile", kCustomSettingsFile, kNoFile, {}, kRefused,
     L"The file cannot be opened: No such file or directory."},
    {"LargerThanASettingsFileCanBe", kCustomSettingsFile,
     std::string(CTempCtrlSettingsFile::kMaxFileSize + 1, '\n'), {}, kRefused,
     L"The file is larger than a settings file can be."},
    {"HeaderOnly", kCustomSettingsFile, kHeader + "End of file", {}, kRefused,
     L"No line of the file sets a register."},
    {"UnknownRegister", kCustomSettingsFile,
     kHeader + "0x07\t0x04\t\tInput Type\r\n0x99\t0x12\tMystery\r\n", {}, kRefused,
     L"line 3: \"0x99 0x12 Mystery\" names register 0x99, which the controller does not have."},
    // What a save whose controller stopped answering would have written.
    {"UnreadRegister", kCustomSettingsFile,
     kHeader + "0x01\t0xFFFFFFFF\tTemperature Setpoint 1\r\nEnd of file", {}, kRefused,
     L"line 2: \"0x01 0xFFFFFFFF Temperature Setpoint 1\" sets register 0x01 (Temperature "
     L"Setpoint 1) to 0xFFFFFFFF, more than its 6 hex digits hold."},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Reset, OmegaResets, testing::ValuesIn(kResetRuns), RowName);

}  // namespace
