// The firmware updater: its run against scripted hosts (what it calls, in which order, what it
// shows), its notification handling, and the serial SMI host against a simulated SmartMotor.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "devices/SmartMotor.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"
#include "tools/firmware/FirmwareProgress.h"
#include "tools/firmware/FirmwareUpdateRun.h"
#include "tools/firmware/SerialSmiHost.h"

namespace {

namespace fs = std::filesystem;
using sim::CSmartMotorSim;
using testing::HasSubstr;
using testing_support::kFirstTestPort;

// Every answer of the simulated motor comes within milliseconds or not at all.
constexpr SmiTimeouts kShort{250, 1000, 1000, 600};

const std::wstring kPortText = L"Com" + std::to_wstring(kFirstTestPort);

// A program of every byte value but FF, acknowledgement, CR, blank and address bytes included.
std::string MakeProgram(size_t size, unsigned seed) {
    std::string program(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        program[i] = static_cast<char>((i * 7 + seed) % 255);
    }
    return program;
}

const auto WriteFile = [](const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
};
const auto ReadFile = [](const fs::path& path) {
    return std::string(
        std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
};

// What the one backup in folder holds; how many there are when there is not exactly one.
std::string BackupIn(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("Backup ")) {
            found.push_back(ReadFile(entry.path()));
        }
    }
    return found.size() == 1 ? found[0] : std::to_string(found.size()) + " backups";
}

const auto Narrow = [](const std::wstring& text) { return std::string(text.begin(), text.end()); };
const auto Wide = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };

// The window, as the updater sees it: choices set by the test, everything shown and every
// notification recorded, and the calls of a scripted host, in order, in Log.
class FakeView : public IFirmwareUpdateView {
public:
    int PortIndex = 1;
    std::wstring Path;
    std::vector<std::wstring> Shown;  // messages, and the SMI error boxes marked as such
    std::vector<std::pair<int32_t, int32_t>> Notes;
    std::vector<bool> Cursor;
    std::vector<std::string> Log;

    int SelectedPortIndex() override { return PortIndex; }
    std::wstring SelectedPortText() override { return kPortText; }
    std::wstring FirmwarePath() override { return Path; }
    void SetWaitCursor(bool on) override { Cursor.push_back(on); }
    void ShowMessage(const std::wstring& text, platform::MessageStyle style) override {
        EXPECT_EQ(style, platform::MessageStyle::Plain);
        Shown.push_back(text);
    }
    void ShowSmiError(const std::wstring& why) override { Shown.push_back(L"SMI error: " + why); }
    void OnSmiNotification(int32_t code, int32_t value) override {
        Notes.emplace_back(code, value);
    }
};

// A host that logs the calls made on it to the view. How it fails: "no motion" or "no path"
// lacks that interface (and those after it), "null motor" gives no motor, and any other text
// fails the call whose log entry starts with it.
class ScriptedHost : public ISMIHost, public ISMICMotion, public ISMIPath {
public:
    ScriptedHost(FakeView& view, std::string fail) : view_(view), fail_(std::move(fail)) {}
    ~ScriptedHost() override { view_.Log.emplace_back("release host"); }

    ISMICMotion* QueryCMotion() override { return fail_ == "no motion" ? nullptr : this; }
    ISMIPath* QueryPath() override { return fail_.starts_with("no ") ? nullptr : this; }
    SmiStatus SetNotify(SmiNotifyCallback) override { return Do("SetNotify"); }
    SmiStatus SetPortName(const std::wstring& n) override { return Do("SetPortName " + Narrow(n)); }
    SmiStatus SetBaudRate(int32_t n) override { return Do("SetBaudRate " + std::to_string(n)); }
    SmiStatus HostSetupQuery(int32_t&) override { return Do("HostSetupQuery"); }
    SmiStatus HostSetupOption(int32_t n) override {
        return Do("HostSetupOption " + std::to_string(n));
    }
    SmiStatus GetMotor(int32_t number, std::unique_ptr<ISMIMotor>& motor) override {
        SmiStatus status = Do("GetMotor " + std::to_string(number));
        if (status && fail_ != "null motor") {
            motor = std::make_unique<Motor>(*this);
        }
        return status;
    }

private:
    struct Motor : ISMIMotor {
        explicit Motor(ScriptedHost& h) : host(h) {}
        ~Motor() override { host.view_.Log.emplace_back("release motor"); }
        SmiStatus BackupProgram(const std::wstring&) override { return host.Do("BackupProgram"); }
        SmiStatus DownloadProgram(const std::wstring& path, int32_t verify, int32_t&) override {
            return host.Do("DownloadProgram " + Narrow(path) + " " + std::to_string(verify));
        }
        ScriptedHost& host;
    };

    SmiStatus Do(const std::string& entry) {
        view_.Log.push_back(entry);
        if (fail_.empty() || !entry.starts_with(fail_)) {
            return SmiStatus::Ok();
        }
        return SmiStatus::Fail(platform::FailureKind::InvalidRequest, Wide(fail_) + L" failed");
    }

    FakeView& view_;
    std::string fail_;
};

TEST(FirmwareUpdateRun, ChecksChoicesAndHostThenCallsItInOrderUntilTheFirstFailure) {
    const std::vector<std::string> all = {
        "SetNotify",         "SetPortName " + Narrow(kPortText),
        "SetBaudRate 9600",  "HostSetupQuery",
        "HostSetupOption 0", "GetMotor 1",
        "BackupProgram",     "DownloadProgram /data/fw/new.smx 1"};
    const wchar_t* const path = L"/data/fw/new.smx";
    // The port index and firmware path chosen; "no host", or how the scripted host fails; how
    // many of `all` it logs (-1: none was made); the one plain message, or else an SMI error box.
    const std::tuple<int, const wchar_t*, std::string, int, const wchar_t*> cases[] = {
        {-1, path, "", -1, L"Please select a Com port."},
        {1, L"", "", -1, L"Please select a firmware file."},
        {1, path, "no host", -1, L"Cannot create an instance of \"SMIHost\" class!"},
        {1, path, "no motion", 0, L"The interface \"ISMICMotion\" not found!"},
        {1, path, "no path", 0, L"The interface \"ISMIPath\" not found!"},
        {1, path, "", 8, L"Download complete!"},
        {1, path, "SetNotify", 1, nullptr},
        {1, path, "SetPortName", 2, nullptr},
        {1, path, "SetBaudRate", 3, nullptr},
        {1, path, "HostSetupQuery", 4, nullptr},
        {1, path, "HostSetupOption", 5, nullptr},
        {1, path, "GetMotor", 6, nullptr},
        {1, path, "null motor", 6, nullptr},  // an error even without a description
        {1, path, "BackupProgram", 7, nullptr},
        {1, path, "DownloadProgram", 8, nullptr},
    };
    for (const auto& [portIndex, firmware, host, calls, message] : cases) {
        SCOPED_TRACE(testing::Message() << portIndex << " '" << host << "' " << calls);
        FakeView view;
        view.PortIndex = portIndex;
        view.Path = firmware;
        RunFirmwareUpdate(view, [&, &host = host]() -> std::unique_ptr<ISMIHost> {
            return host == "no host" ? nullptr : std::make_unique<ScriptedHost>(view, host);
        });
        std::vector<std::string> log(all.begin(), all.begin() + std::max(calls, 0));
        if (calls >= 7) {
            log.emplace_back("release motor");  // before the host
        }
        if (calls >= 0) {
            log.emplace_back("release host");
        }
        EXPECT_EQ(view.Log, log);
        const std::wstring error = host == "null motor" ? L"" : Wide(host) + L" failed";
        ASSERT_EQ(view.Shown.size(), 1u);
        EXPECT_EQ(view.Shown[0], message ? message : L"SMI error: " + error);
        EXPECT_EQ(view.Cursor, (std::vector<bool>{true, false}));
    }
}

TEST(FirmwareProgress, ProgressIsAShareOfTheProcessWideTotal) {
    CFirmwareProgress::ResetTotal();
    const wchar_t* const down = L"Downloading new program...";
    const wchar_t* const back = L"Backing up current program...";
    // A notification, whether it changes the display, and what it shows then.
    const std::tuple<int32_t, int32_t, bool, FirmwareProgressDisplay> steps[] = {
        {2, 5, false, {false, L"Status", L"0%", 0}},  // no total yet
        {1, 3, true, {true, down, L"0%", 0}},
        {2, 1, true, {true, down, L"33%", 33}},  // truncated, not rounded
        {3, 0, true, {false, down, L"100%", 33}},
        {4, -4, true, {true, back, L"100%", 33}},
        {2, 1, true, {true, back, L"-25%", 33}},  // a negative total moves the label only
        {5, 1, true, {true, L"Addressing motors...", L"-25%", 33}},
        {2, 100'000'000, true, {true, L"Addressing motors...", L"10000000000%", 100}},
        {6, 1, true, {true, L"Detecting motors...", L"10000000000%", 100}},
        {8, 3, true, {true, L"Getting Motor Information...", L"10000000000%", 100}},
        {9, 7, false, {true, L"Getting Motor Information...", L"10000000000%", 100}},
    };
    CFirmwareProgress progress;
    for (const auto& [code, value, changed, shown] : steps) {
        SCOPED_TRACE(testing::Message() << code << ", " << value);
        EXPECT_EQ(progress.Apply(code, value), changed);
        EXPECT_EQ(progress.Display(), shown);
    }
    // Another window of the same process, before its first step: the old total still counts.
    CFirmwareProgress next;
    EXPECT_TRUE(next.Apply(smi_notify::kProgress, 2));
    EXPECT_EQ(next.Display().PercentText, L"66%");
    CFirmwareProgress::ResetTotal();
}

TEST(FirmwareUpdateRun, BackupNamesCarryTheTimeInTheFirmwareFilesFolder) {
    const std::tm when{7, 5, 9, 4, 2, 2025 - 1900, 0, 0, 0, 0, nullptr};  // 4 March 2025, 09:05:07
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {{L"/data/fw/new.smx", L"/data/fw/"},
                                                               {L"new.smx", L""},
                                                               {L"/a/b\\new.smx", L"/a/b\\"},
                                                               {L"/", L"/"}};
    for (const auto& [firmware, folder] : cases) {
        EXPECT_EQ(BackupFileName(firmware, when),
                  std::wstring(folder) + L"Backup 04 Mar 2025 - 09_05_07.sms");
    }
}

class FirmwareUpdateTest : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        motor = std::make_unique<CSmartMotorSim>(kFirstTestPort, PortDir());
        ASSERT_TRUE(motor->Start());
        folder = fs::path(PortDir()) / "fw";
        fs::create_directory(folder);
        firmware = folder / "new.smx";
    }
    void Run(const std::wstring& path) {
        view.Path = path;
        RunFirmwareUpdate(view, [] { return std::make_unique<CSerialSmiHost>(kShort); });
    }

    std::unique_ptr<CSmartMotorSim> motor;
    fs::path folder;
    fs::path firmware;
    FakeView view;
};

TEST_F(FirmwareUpdateTest, ARunBacksUpTheOldProgramBesideTheNewOneAndLoadsItOrSaysWhyNot) {
    motor->SetStoredProgram("ABCDEFGHIJ");
    motor->SetEcho(true);  // as the console's driver leaves it
    WriteFile(firmware, MakeProgram(40, 3));
    // A backup that breaks off is not left behind, and the motor keeps its program.
    motor->BreakUploadAfter(5);
    Run(firmware.wstring());
    // A backup file that cannot be made is found out before the motor is asked for its program.
    Run(L"/nonexistent-pravik-folder/new.smx");
    ASSERT_EQ(view.Shown.size(), 2u);
    EXPECT_THAT(view.Shown[0],
                HasSubstr(L"SMI error: Backing up the motor's program on " + kPortText));
    EXPECT_THAT(view.Shown[0], HasSubstr(L"after 5 bytes"));
    EXPECT_THAT(view.Shown[1], HasSubstr(L"cannot be created"));
    EXPECT_EQ(BackupIn(folder), "0 backups");
    EXPECT_EQ(motor->StoredProgram(), "ABCDEFGHIJ");

    // A folder name beyond ASCII, as technicians' folders are.
    const fs::path accented = folder / u8"Pr\u00FCfung";
    fs::create_directory(accented);
    fs::rename(firmware, accented / "new.smx");
    view = FakeView{};
    Run(folder.wstring() + L"/Pr\u00FCfung/new.smx");
    EXPECT_EQ(view.Shown, std::vector<std::wstring>{L"Download complete!"});
    EXPECT_EQ(BackupIn(accented), "ABCDEFGHIJ");
    EXPECT_EQ(motor->StoredProgram(), MakeProgram(40, 3));
    // Finding the motor, then the backup in blocks of 8 and the download in blocks of 32.
    const std::vector<std::pair<int32_t, int32_t>> notes = {
        {6, 1},         {2, 1}, {3, 0},  {5, 1}, {2, 1},  {3, 0},  {8, 1},  {2, 1}, {3, 0},
        {4, 32 * 1024}, {2, 8}, {2, 10}, {3, 0}, {1, 40}, {2, 32}, {2, 40}, {3, 0}};
    EXPECT_EQ(view.Notes, notes);
}

TEST_F(FirmwareUpdateTest, TheHostFindsTheMotorAndMovesProgramsBothWaysWholeOrSaysWhyNot) {
    {
        CSerialSmiHost host(kShort);
        std::unique_ptr<ISMIMotor> got;
        EXPECT_FALSE(host.GetMotor(1, got)) << "no port named yet";
        EXPECT_FALSE(host.SetPortName(L"-- Select One --"));
        EXPECT_FALSE(host.SetBaudRate(1234));
        EXPECT_FALSE(host.HostSetupOption(1));
        EXPECT_EQ(SmiPortNumber(L"COM12"), 12);
        EXPECT_EQ(SmiPortNumber(L"Com3x"), 0);

        const std::wstring nothingThere = L"Com" + std::to_wstring(kFirstTestPort + 1);
        ASSERT_TRUE(host.SetPortName(nothingThere));
        const SmiStatus opened = host.GetMotor(1, got);
        EXPECT_THAT(opened.Description, HasSubstr(L"Opening " + nothingThere));
        EXPECT_EQ(opened.Kind, platform::FailureKind::NoSuchPort);

        ASSERT_TRUE(host.SetPortName(kPortText));
        EXPECT_FALSE(host.GetMotor(2, got)) << "one motor per instrument";
        // A line held by flow control fails as a silent motor does; the motor is found once the
        // line moves again.
        ASSERT_TRUE(motor->HoldLine(true));
        EXPECT_EQ(host.GetMotor(1, got).Kind, platform::FailureKind::NoReply);
        ASSERT_TRUE(motor->HoldLine(false));
        EXPECT_TRUE(host.GetMotor(1, got));
        EXPECT_TRUE(host.GetMotor(1, got)) << "once more, addressed and without echo now";
        ASSERT_TRUE(got);

        int32_t loaded = -1;
        auto load = [&](const std::string& program) {
            WriteFile(firmware, program);
            return got->DownloadProgram(firmware.wstring(), 1, loaded).Description;
        };
        // Block edges both ways: uploads come in 8s ended by FF, downloads go in 32s; and the
        // largest program there is.
        for (size_t size : {1u, 7u, 8u, 9u, 31u, 32u, 33u, 64u, 100u, 1000u, 32u * 1024}) {
            SCOPED_TRACE("program of " + std::to_string(size) + " bytes");
            const std::string program = MakeProgram(size, static_cast<unsigned>(size));
            ASSERT_EQ(load(program), L"");
            EXPECT_EQ(loaded, static_cast<int32_t>(size));
            EXPECT_EQ(motor->StoredProgram(), program);
            const fs::path backup = folder / ("back" + std::to_string(size) + ".sms");
            ASSERT_TRUE(got->BackupProgram(backup.wstring()));
            EXPECT_EQ(ReadFile(backup), program);
        }

        // Bad files never reach the motor.
        const std::string kept = motor->StoredProgram();
        WriteFile(folder / "empty.smx", "");
        WriteFile(folder / "ff.smx", std::string("ABC\xFF", 4));
        ASSERT_EQ(::mkfifo((folder / "pipe.smx").c_str(), 0600), 0);
        const std::pair<const char*, const wchar_t*> cases[] = {
            {"missing.smx", L"cannot be opened"},
            {"empty.smx", L"is empty"},
            {"ff.smx", L"offset 3"},
            {"pipe.smx", L"is not a file"}};
        loaded = -1;
        for (const auto& [name, why] : cases) {
            const SmiStatus status = got->DownloadProgram((folder / name).wstring(), 1, loaded);
            EXPECT_FALSE(status) << name;
            EXPECT_THAT(status.Description, HasSubstr(why));
            EXPECT_EQ(status.Kind, platform::FailureKind::FileError);
        }
        EXPECT_EQ(loaded, -1);
        EXPECT_EQ(motor->Downloads(), 11u);
        EXPECT_EQ(motor->StoredProgram(), kept);

        // In echo mode the motor echoes "LOAD" and the checksum question, but none of the
        // program: a 06 among the program's bytes (byte 36, in the second block) must not pass
        // for the motor's acknowledgement.
        motor->SetEcho(true);
        const std::string program = MakeProgram(200, 9);
        ASSERT_EQ(program[36], '\x06');
        motor->BreakDownloadAfter(64);  // the second block goes unacknowledged
        const std::wstring broken = load(program);
        EXPECT_THAT(broken, HasSubstr(L"stopped acknowledging after 32 of 200 bytes"));
        EXPECT_THAT(broken, HasSubstr(L"now reads"));
        EXPECT_FALSE(motor->StoredProgramValid());
        EXPECT_EQ(load(program), L"");
        EXPECT_EQ(motor->StoredProgram(), program);
        // Everything acknowledged, but a byte of the short last block lost: the checksum tells.
        motor->BreakDownloadAfter(98);  // in the last 4 bytes, after the third block
        EXPECT_THAT(load(MakeProgram(100, 9)), HasSubstr(L"bad checksum"));
    }
    // The motor left its loading mode: the console's own driver finds it as it always did.
    CSmartMotor driver;
    driver.Settings.PortNumber = kFirstTestPort;
    driver.Timeout.Echo = 200;
    ASSERT_TRUE(driver.OpenPort());
    EXPECT_TRUE(driver.ChangeFilter(3));
}

}  // namespace
