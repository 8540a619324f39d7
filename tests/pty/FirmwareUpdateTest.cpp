// The firmware updater: its run against scripted hosts (what it calls, in which order, what it
// shows), its notification handling, and the serial SMI host against a simulated SmartMotor.
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "devices/SmartMotor.h"
#include "sim/SmartMotorSim.h"
#include "support/TestPortDirectory.h"
#include "tools/firmware/FirmwareProgress.h"
#include "tools/firmware/FirmwareUpdateRun.h"
#include "tools/firmware/SerialSmiHost.h"

namespace {

namespace fs = std::filesystem;
using sim::CSmartMotorSim;
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

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<fs::path> BackupsIn(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("Backup ")) {
            found.push_back(entry.path());
        }
    }
    return found;
}

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

// The window, as the updater sees it: choices set by the test, everything shown recorded, the
// notifications applied as the dialog applies them.
class FakeView : public IFirmwareUpdateView {
public:
    int PortIndex = 1;
    std::wstring PortText = kPortText;
    std::wstring Path;
    std::vector<std::wstring> Messages;
    std::vector<std::wstring> Errors;
    std::vector<std::pair<int32_t, int32_t>> Notes;
    std::vector<bool> Cursor;
    CFirmwareProgress Progress;
    std::vector<std::string>* Log = nullptr;

    int SelectedPortIndex() override { return PortIndex; }
    std::wstring SelectedPortText() override { return PortText; }
    std::wstring FirmwarePath() override { return Path; }
    void SetWaitCursor(bool on) override { Cursor.push_back(on); }
    void ShowMessage(const std::wstring& text, platform::MessageStyle style) override {
        EXPECT_EQ(style, platform::MessageStyle::Plain);
        Messages.push_back(text);
    }
    void ShowSmiError(const std::wstring& description) override { Errors.push_back(description); }
    void OnSmiNotification(int32_t code, int32_t value) override {
        Notes.emplace_back(code, value);
        Progress.Apply(code, value);
        if (Log != nullptr) {
            Log->push_back("notify " + std::to_string(code));
        }
    }

    // The codes in order, a run of progress notifications counted as one.
    std::vector<int32_t> Codes() const {
        std::vector<int32_t> codes;
        for (const auto& [code, value] : Notes) {
            if (codes.empty() || code != 2 || codes.back() != 2) {
                codes.push_back(code);
            }
        }
        return codes;
    }
};

// A host that logs the calls made on it and fails the one numbered FailAt (4 SetNotify ...
// 9 GetMotor, 10 BackupProgram, 11 DownloadProgram).
class ScriptedHost : public ISMIHost, public ISMICMotion, public ISMIPath {
public:
    ScriptedHost(std::vector<std::string>& log, std::wstring& backupPath)
        : log_(log), backupPath_(backupPath) {}
    ~ScriptedHost() override { log_.push_back("release host"); }

    int FailAt = 0;
    bool OfferMotion = true;
    bool OfferPath = true;
    bool NullMotor = false;

    ISMICMotion* QueryCMotion() override { return OfferMotion ? this : nullptr; }
    ISMIPath* QueryPath() override { return OfferPath ? this : nullptr; }
    SmiStatus SetNotify(SmiNotifyCallback notify) override {
        notify_ = std::move(notify);
        return Result(4, "SetNotify");
    }
    SmiStatus SetPortName(const std::wstring& name) override {
        return Result(5, "SetPortName " + Narrow(name));
    }
    SmiStatus SetBaudRate(int32_t baud) override {
        return Result(6, "SetBaudRate " + std::to_string(baud));
    }
    SmiStatus HostSetupQuery(int32_t& option) override {
        option = 0;
        return Result(7, "HostSetupQuery");
    }
    SmiStatus HostSetupOption(int32_t option) override {
        return Result(8, "HostSetupOption " + std::to_string(option));
    }
    SmiStatus GetMotor(int32_t number, std::unique_ptr<ISMIMotor>& motor) override {
        notify_(smi_notify::kDetecting, 1);  // arrives while the call runs
        SmiStatus status = Result(9, "GetMotor " + std::to_string(number));
        if (status && !NullMotor) {
            motor = std::make_unique<Motor>(*this);
        }
        return status;
    }

private:
    class Motor : public ISMIMotor {
    public:
        explicit Motor(ScriptedHost& host) : host_(host) {}
        ~Motor() override { host_.log_.push_back("release motor"); }
        SmiStatus BackupProgram(const std::wstring& path) override {
            host_.backupPath_ = path;
            return host_.Result(10, "BackupProgram");
        }
        SmiStatus DownloadProgram(const std::wstring& path, int32_t verify, int32_t&) override {
            return host_.Result(11,
                                "DownloadProgram " + Narrow(path) + " " + std::to_string(verify));
        }

    private:
        ScriptedHost& host_;
    };

    static std::string Narrow(const std::wstring& text) {
        return std::string(text.begin(), text.end());
    }

    SmiStatus Result(int call, std::string entry) {
        log_.push_back(std::move(entry));
        if (call == FailAt) {
            return SmiStatus::Fail(L"call " + std::to_wstring(call) + L" failed");
        }
        return SmiStatus::Ok();
    }

    std::vector<std::string>& log_;
    std::wstring& backupPath_;
    SmiNotifyCallback notify_;
};

TEST(FirmwareUpdateRun, ChoicesAreCheckedBeforeAHostIsMade) {
    int hostsMade = 0;
    auto factory = [&]() -> std::unique_ptr<ISMIHost> {
        ++hostsMade;
        return nullptr;
    };
    FakeView view;
    view.Path = L"/fw/new.smx";
    for (int index : {0, -1}) {
        view.PortIndex = index;
        RunFirmwareUpdate(view, factory);
    }
    view.PortIndex = 1;
    view.Path.clear();
    RunFirmwareUpdate(view, factory);

    EXPECT_EQ(view.Messages,
              (std::vector<std::wstring>{L"Please select a Com port.", L"Please select a Com port.",
                                         L"Please select a firmware file."}));
    EXPECT_EQ(hostsMade, 0);
    EXPECT_EQ(view.Cursor, (std::vector<bool>{true, false, true, false, true, false}));
}

TEST(FirmwareUpdateRun, AHostThatCannotBeMadeOrLacksAnInterfaceIsNamed) {
    std::vector<std::string> log;
    FakeView view;
    view.Path = L"/fw/new.smx";
    std::wstring backupPath;
    RunFirmwareUpdate(view, [] { return nullptr; });
    for (bool offerMotion : {false, true}) {
        RunFirmwareUpdate(view, [&]() -> std::unique_ptr<ISMIHost> {
            auto host = std::make_unique<ScriptedHost>(log, backupPath);
            host->OfferMotion = offerMotion;
            host->OfferPath = false;
            return host;
        });
    }
    EXPECT_EQ(view.Messages,
              (std::vector<std::wstring>{L"Cannot create an instance of \"SMIHost\" class!",
                                         L"The interface \"ISMICMotion\" not found!",
                                         L"The interface \"ISMIPath\" not found!"}));
    EXPECT_EQ(log, (std::vector<std::string>{"release host", "release host"}))
        << "nothing is called on a host without its interfaces";
    EXPECT_TRUE(view.Errors.empty());
}

TEST(FirmwareUpdateRun, CallsTheHostInOrderAndStopsAtTheFirstFailure) {
    const std::string port(kPortText.begin(), kPortText.end());
    const std::vector<std::string> all = {
        "SetNotify",      "SetPortName " + port, "SetBaudRate 9600",
        "HostSetupQuery", "HostSetupOption 0",   "notify 6",
        "GetMotor 1",     "BackupProgram",       "DownloadProgram /data/fw/new.smx 1"};
    // How much of `all` a failure of call 4, 5, ... 11 leaves in the log.
    const size_t kept[] = {1, 2, 3, 4, 5, 7, 8, 9};
    for (int failAt : {0, 4, 5, 6, 7, 8, 9, 10, 11}) {
        SCOPED_TRACE("failing call " + std::to_string(failAt));
        std::vector<std::string> log;
        std::wstring backupPath;
        FakeView view;
        view.Log = &log;
        view.Path = L"/data/fw/new.smx";
        RunFirmwareUpdate(view, [&] {
            auto host = std::make_unique<ScriptedHost>(log, backupPath);
            host->FailAt = failAt;
            return host;
        });
        std::vector<std::string> expected(
            all.begin(),
            all.begin() + static_cast<long>(failAt == 0 ? all.size() : kept[failAt - 4]));
        if (failAt == 0 || failAt >= 10) {
            expected.push_back("release motor");  // before the host
        }
        expected.push_back("release host");
        EXPECT_EQ(log, expected);
        if (failAt == 0) {
            EXPECT_EQ(view.Messages, std::vector<std::wstring>{L"Download complete!"});
            EXPECT_TRUE(view.Errors.empty());
            // Beside the firmware, named after the local time: "Backup 04 Mar 2025 - 09_05_07.sms".
            // (A shell pattern: GCC 12 warns inside std::regex under the sanitizer build.)
            const std::string path(backupPath.begin(), backupPath.end());
            EXPECT_EQ(::fnmatch("/data/fw/Backup [0-9][0-9] [A-Z][a-z][a-z] [0-9][0-9][0-9][0-9] - "
                                "[0-9][0-9]_[0-9][0-9]_[0-9][0-9].sms",
                                path.c_str(), 0),
                      0)
                << path;
        } else {
            EXPECT_TRUE(view.Messages.empty()) << "no \"Download complete!\" after a failure";
            EXPECT_EQ(view.Errors,
                      std::vector<std::wstring>{L"call " + std::to_wstring(failAt) + L" failed"});
        }
    }
}

TEST(FirmwareUpdateRun, AMissingMotorIsAnErrorEvenWithoutADescription) {
    std::vector<std::string> log;
    std::wstring backupPath;
    FakeView view;
    view.Path = L"new.smx";
    RunFirmwareUpdate(view, [&] {
        auto host = std::make_unique<ScriptedHost>(log, backupPath);
        host->NullMotor = true;
        return host;
    });
    EXPECT_EQ(view.Errors, std::vector<std::wstring>{L""});
    EXPECT_TRUE(view.Messages.empty());
    EXPECT_EQ(log.back(), "release host");
}

TEST(FirmwareProgressTest, ProgressIsAShareOfTheProcessWideTotal) {
    CFirmwareProgress::ResetTotal();
    CFirmwareProgress progress;
    const FirmwareProgressDisplay start = progress.Display();
    EXPECT_FALSE(progress.Apply(smi_notify::kProgress, 5)) << "no total yet";
    EXPECT_EQ(progress.Display(), start);
    EXPECT_FALSE(start.Visible);

    EXPECT_TRUE(progress.Apply(smi_notify::kDownloading, 3));
    EXPECT_TRUE(progress.Display().Visible);
    EXPECT_EQ(progress.Display().StatusText, L"Downloading new program...");
    progress.Apply(smi_notify::kProgress, 1);
    EXPECT_EQ(progress.Display().PercentText, L"33%") << "truncated, not rounded";
    EXPECT_EQ(progress.Display().BarPosition, 33);

    progress.Apply(smi_notify::kFinished, 0);
    EXPECT_FALSE(progress.Display().Visible);
    EXPECT_EQ(progress.Display().PercentText, L"100%");

    // Another window of the same process, before its first step: the old total still counts.
    CFirmwareProgress next;
    EXPECT_TRUE(next.Apply(smi_notify::kProgress, 2));
    EXPECT_EQ(next.Display().PercentText, L"66%");
    EXPECT_FALSE(next.Display().Visible);

    // A negative total moves the label only; counts far past 21 million do not overflow.
    next.Apply(smi_notify::kBackingUp, -4);
    next.Apply(smi_notify::kProgress, 1);
    EXPECT_EQ(next.Display().PercentText, L"-25%");
    EXPECT_EQ(next.Display().BarPosition, 66);
    next.Apply(smi_notify::kMotorInformation, 1);
    next.Apply(smi_notify::kProgress, 100'000'000);
    EXPECT_EQ(next.Display().PercentText, L"10000000000%");
    EXPECT_EQ(next.Display().BarPosition, 100);

    const FirmwareProgressDisplay before = next.Display();
    for (int32_t code : {0, 9, -1}) {
        EXPECT_FALSE(next.Apply(code, 7));
    }
    EXPECT_EQ(next.Display(), before);
    EXPECT_EQ(CFirmwareProgress::Total(), 1);
    CFirmwareProgress::ResetTotal();
}

TEST(FirmwareUpdateRun, BackupNamesCarryTheTimeInTheFirmwareFilesFolder) {
    std::tm when{};
    when.tm_year = 2025 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 4;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 7;
    const std::wstring name = L"Backup 04 Mar 2025 - 09_05_07.sms";
    EXPECT_EQ(BackupFileName(L"/data/fw/new.smx", when), L"/data/fw/" + name);
    EXPECT_EQ(BackupFileName(L"new.smx", when), name) << "no folder: the current one";
    EXPECT_EQ(BackupFileName(L"C:\\fw\\new.smx", when), L"C:\\fw\\" + name);
    EXPECT_EQ(BackupFileName(L"/a/b\\new.smx", when), L"/a/b\\" + name);
    EXPECT_EQ(BackupFileName(L"/", when), L"/" + name);
}

// The serial host against a simulated motor on a pseudo-terminal.
class FirmwareUpdateTest : public testing_support::PortDirectoryTest {
protected:
    void SetUp() override {
        PortDirectoryTest::SetUp();
        motor = std::make_unique<CSmartMotorSim>(kFirstTestPort, PortDir());
        ASSERT_TRUE(motor->Start());
        folder = fs::path(PortDir()) / "fw";
        fs::create_directory(folder);
        firmware = folder / "new.smx";
        view.Path = firmware.wstring();
    }
    void TearDown() override {
        motor.reset();
        PortDirectoryTest::TearDown();
    }
    static SmiHostFactory ShortHost() {
        return [] { return std::make_unique<CSerialSmiHost>(kShort); };
    }
    std::unique_ptr<ISMIMotor> GetMotor(CSerialSmiHost& host) {
        EXPECT_TRUE(host.SetPortName(kPortText));
        std::unique_ptr<ISMIMotor> got;
        const SmiStatus status = host.GetMotor(1, got);
        EXPECT_TRUE(status) << std::string(status.Description.begin(), status.Description.end());
        return got;
    }

    std::unique_ptr<CSmartMotorSim> motor;
    fs::path folder;
    fs::path firmware;
    FakeView view;
};

TEST_F(FirmwareUpdateTest, ADownloadBacksUpTheOldProgramAndLoadsTheNewOne) {
    const std::string old = CSmartMotorSim::DefaultProgram();
    ASSERT_EQ(old.find('\xFF'), std::string::npos);
    const std::string fresh = MakeProgram(200, 3);
    // A folder name beyond ASCII, as technicians' folders are.
    const fs::path accented = folder /
                              "Pr\xC3\xBC"
                              "fung";
    fs::create_directory(accented);
    WriteFile(accented / "new.smx", fresh);
    const std::string ascii = folder.string();
    view.Path = std::wstring(ascii.begin(), ascii.end()) + L"/Pr\u00FCfung/new.smx";
    CFirmwareProgress::ResetTotal();

    RunFirmwareUpdate(view, ShortHost());

    ASSERT_TRUE(view.Errors.empty()) << std::string(view.Errors[0].begin(), view.Errors[0].end());
    EXPECT_EQ(view.Messages, std::vector<std::wstring>{L"Download complete!"});
    const std::vector<fs::path> backups = BackupsIn(accented);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(ReadFile(backups[0]), old);
    EXPECT_EQ(motor->StoredProgram(), fresh);
    EXPECT_TRUE(motor->StoredProgramValid());
    EXPECT_EQ(motor->Address(), 1);

    EXPECT_EQ(view.Codes(), (std::vector<int32_t>{6, 2, 3, 5, 2, 3, 8, 2, 3, 4, 2, 3, 1, 2, 3}));
    auto lastProgress = [&](int32_t step) {
        int32_t value = -1;
        bool in = false;
        for (const auto& [code, v] : view.Notes) {
            in = code == step || (in && code == 2);
            if (in && code == 2) {
                value = v;
            }
        }
        return value;
    };
    EXPECT_EQ(lastProgress(smi_notify::kBackingUp), static_cast<int32_t>(old.size()));
    EXPECT_EQ(lastProgress(smi_notify::kDownloading), 200);
    EXPECT_EQ(CFirmwareProgress::Total(), 200) << "the download's total is the program's size";
    EXPECT_FALSE(view.Progress.Display().Visible);
    EXPECT_EQ(view.Cursor, (std::vector<bool>{true, false}));

    // The console's own driver finds the motor as it always did.
    CSmartMotor driver;
    driver.Settings.PortNumber = kFirstTestPort;
    driver.Timeout.Echo = 200;
    EXPECT_TRUE(driver.OpenPort());
    EXPECT_TRUE(driver.ChangeFilter(3));
}

TEST_F(FirmwareUpdateTest, ProgramsOfEveryLengthGoBothWaysWhole) {
    CSerialSmiHost host(kShort);
    std::unique_ptr<ISMIMotor> got = GetMotor(host);
    ASSERT_TRUE(got);
    // Block edges both ways: uploads come in 8s ended by FF, downloads go in 32s.
    for (size_t size : {1u, 7u, 8u, 9u, 31u, 32u, 33u, 64u, 100u, 1000u}) {
        SCOPED_TRACE("program of " + std::to_string(size) + " bytes");
        const std::string program = MakeProgram(size, static_cast<unsigned>(size));
        WriteFile(firmware, program);
        int32_t loaded = 0;
        const SmiStatus down = got->DownloadProgram(firmware.wstring(), 1, loaded);
        ASSERT_TRUE(down) << std::string(down.Description.begin(), down.Description.end());
        EXPECT_EQ(loaded, static_cast<int32_t>(size));
        EXPECT_EQ(motor->StoredProgram(), program);

        const fs::path backup = folder / ("back" + std::to_string(size) + ".sms");
        ASSERT_TRUE(got->BackupProgram(backup.wstring()));
        EXPECT_EQ(ReadFile(backup), program);
    }
}

TEST_F(FirmwareUpdateTest, AMotorInEchoModeOrAddressedBeforeIsFoundAgain) {
    motor->SetEcho(true);
    WriteFile(firmware, MakeProgram(40, 1));
    RunFirmwareUpdate(view, ShortHost());
    EXPECT_EQ(view.Messages, std::vector<std::wstring>{L"Download complete!"});

    // The motor now has address 1 and no echo; a second run, from another folder, starts there.
    const fs::path other = folder / "other";
    fs::create_directory(other);
    const std::string second = MakeProgram(70, 2);
    WriteFile(other / "new.smx", second);
    view.Path = (other / "new.smx").wstring();
    RunFirmwareUpdate(view, ShortHost());
    EXPECT_EQ(view.Messages.size(), 2u);
    EXPECT_TRUE(view.Errors.empty());
    EXPECT_EQ(motor->StoredProgram(), second);
    ASSERT_EQ(BackupsIn(other).size(), 1u);
    EXPECT_EQ(ReadFile(BackupsIn(other)[0]), MakeProgram(40, 1));
}

TEST_F(FirmwareUpdateTest, AFailedBackupLeavesTheMotorsProgramAndSaysWhy) {
    const std::string old = motor->StoredProgram();
    WriteFile(firmware, MakeProgram(100, 5));
    motor->BreakUploadAfter(20);
    RunFirmwareUpdate(view, ShortHost());

    ASSERT_EQ(view.Errors.size(), 1u);
    const std::wstring& why = view.Errors[0];
    EXPECT_TRUE(Contains(why, L"Backing up")) << std::string(why.begin(), why.end());
    EXPECT_TRUE(Contains(why, kPortText));
    EXPECT_TRUE(Contains(why, L"after 20 bytes"));
    EXPECT_TRUE(view.Messages.empty());
    EXPECT_EQ(motor->Downloads(), 0u) << "no download after a failed backup";
    EXPECT_EQ(motor->StoredProgram(), old);
    EXPECT_TRUE(BackupsIn(folder).empty()) << "a partial backup is not left behind";

    // A backup file that cannot be made is found out before the motor is asked for its program.
    view.Errors.clear();
    view.Path = L"/nonexistent-pravik-folder/new.smx";
    RunFirmwareUpdate(view, ShortHost());
    ASSERT_EQ(view.Errors.size(), 1u);
    EXPECT_TRUE(Contains(view.Errors[0], L"cannot be created"));
    EXPECT_EQ(motor->Downloads(), 0u);
    EXPECT_EQ(motor->StoredProgram(), old);
}

TEST_F(FirmwareUpdateTest, OnlyTheMotors06TakesABlockAndABrokenDownloadIsReported) {
    {
        CSerialSmiHost host(kShort);
        std::unique_ptr<ISMIMotor> got = GetMotor(host);
        ASSERT_TRUE(got);
        // In echo mode the motor echoes "LOAD" and the checksum question, but none of the
        // program: a 06 among the program's bytes (byte 36, in the second block) must not pass
        // for the motor's acknowledgement.
        motor->SetEcho(true);
        const std::string program = MakeProgram(200, 9);
        ASSERT_EQ(program[36], '\x06');
        WriteFile(firmware, program);
        motor->BreakDownloadAfter(64);  // the second block goes unacknowledged
        int32_t loaded = 0;
        const SmiStatus broken = got->DownloadProgram(firmware.wstring(), 1, loaded);
        const std::string why(broken.Description.begin(), broken.Description.end());
        EXPECT_TRUE(Contains(broken.Description, L"stopped acknowledging after 32 of 200 bytes"))
            << why;
        EXPECT_TRUE(Contains(broken.Description, L"now reads")) << why;
        EXPECT_FALSE(motor->StoredProgramValid());
        ASSERT_TRUE(got->DownloadProgram(firmware.wstring(), 1, loaded));
        EXPECT_EQ(motor->StoredProgram(), program);

        // Everything acknowledged, but a byte of the short last block lost: the checksum tells.
        WriteFile(firmware, MakeProgram(100, 9));
        motor->BreakDownloadAfter(98);  // in the last 4 bytes, after the third block
        const SmiStatus lost = got->DownloadProgram(firmware.wstring(), 1, loaded);
        EXPECT_TRUE(Contains(lost.Description, L"bad checksum"))
            << std::string(lost.Description.begin(), lost.Description.end());
    }
    // The motor left its loading mode: the console's driver talks to it as before.
    CSmartMotor driver;
    driver.Settings.PortNumber = kFirstTestPort;
    driver.Timeout.Echo = 200;
    ASSERT_TRUE(driver.OpenPort());
    int32_t state = -1;
    EXPECT_TRUE(driver.GetShutterState(state));
}

TEST_F(FirmwareUpdateTest, BadProgramFilesAreRefusedBeforeTheMotorHearsOfThem) {
    CSerialSmiHost host(kShort);
    std::unique_ptr<ISMIMotor> got = GetMotor(host);
    ASSERT_TRUE(got);
    const std::string old = motor->StoredProgram();

    WriteFile(folder / "empty.smx", "");
    WriteFile(folder / "big.smx", MakeProgram(32 * 1024 + 1, 0));
    WriteFile(folder / "ff.smx", std::string("ABC\xFF", 4));
    fs::create_directory(folder / "dir.smx");
    ASSERT_EQ(::mkfifo((folder / "pipe.smx").c_str(), 0600), 0);
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"missing.smx", L"cannot be opened"},
        {"empty.smx", L"is empty"},
        {"big.smx", L"bigger than the 32768 bytes"},
        {"ff.smx", L"offset 3"},
        {"dir.smx", L"is not a file"},
        {"pipe.smx", L"is not a file"},
    };
    for (const auto& [name, why] : cases) {
        SCOPED_TRACE(name);
        int32_t loaded = -1;
        const SmiStatus status = got->DownloadProgram((folder / name).wstring(), 1, loaded);
        ASSERT_FALSE(status);
        EXPECT_TRUE(Contains(status.Description, why))
            << std::string(status.Description.begin(), status.Description.end());
        EXPECT_EQ(loaded, -1);
    }
    EXPECT_EQ(motor->Downloads(), 0u);
    EXPECT_EQ(motor->StoredProgram(), old);

    // The largest program there is still goes.
    const std::string full = MakeProgram(32 * 1024, 4);
    WriteFile(firmware, full);
    int32_t loaded = 0;
    EXPECT_TRUE(got->DownloadProgram(firmware.wstring(), 1, loaded));
    EXPECT_EQ(motor->StoredProgram(), full);
}

TEST_F(FirmwareUpdateTest, NoMotorNoPortAndBadSettingsAreDescribed) {
    CSerialSmiHost host(kShort);
    std::unique_ptr<ISMIMotor> got;
    EXPECT_FALSE(host.GetMotor(1, got)) << "no port named yet";
    EXPECT_FALSE(host.SetPortName(L"-- Select One --"));
    EXPECT_FALSE(host.SetPortName(L"Com"));
    EXPECT_FALSE(host.SetBaudRate(1234));
    EXPECT_FALSE(host.HostSetupOption(1));
    EXPECT_EQ(SmiPortNumber(L"COM12"), 12);
    EXPECT_EQ(SmiPortNumber(L"Com3x"), 0);

    ASSERT_TRUE(host.SetPortName(L"Com" + std::to_wstring(kFirstTestPort + 1)));
    SmiStatus status = host.GetMotor(1, got);
    EXPECT_FALSE(status);
    EXPECT_TRUE(Contains(status.Description, L"Opening Com" + std::to_wstring(kFirstTestPort + 1)));

    ASSERT_TRUE(host.SetPortName(kPortText));
    EXPECT_FALSE(host.GetMotor(2, got)) << "one motor per instrument";
    motor->DropReplies(100);  // a motor that says nothing
    status = host.GetMotor(1, got);
    EXPECT_FALSE(status);
    EXPECT_FALSE(got);
    EXPECT_TRUE(Contains(status.Description, L"Detecting motors on " + kPortText))
        << std::string(status.Description.begin(), status.Description.end());

    // A line held by flow control costs no more than the two echo waits of a silent motor (plus
    // what a loaded machine may add); the motor is found once the line moves again.
    motor->DropReplies(0);
    ASSERT_TRUE(motor->HoldLine(true));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(host.GetMotor(1, got));
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              2 * std::chrono::milliseconds(kShort.Echo) + std::chrono::seconds(4));
    ASSERT_TRUE(motor->HoldLine(false));
    EXPECT_TRUE(host.GetMotor(1, got));
}

}  // namespace
