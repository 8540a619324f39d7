// The echo of port traffic in the terminal: how bytes are escaped, the sent lines, how received
// bytes gather into lines per port, when waiting bytes are flushed as a partial line, the times
// shown before each line, and each reply paired with its command and what it means.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "devices/ReplyMeaning.h"
#include "serial/TrafficEcho.h"

namespace {

constexpr int kInstrumentPort = 3;
constexpr int kControllerPort = 7;

SerialEcho Record(int port, const std::string& bytes, int received = 0) {
    SerialEcho echo;
    echo.PortNumber = port;
    echo.Text = bytes;
    echo.Length = static_cast<int32_t>(bytes.size());
    echo.Received = received;
    return echo;
}

TEST(EscapeTraffic, PrintableAsciiIsCopiedOtherBytesAreHexAndCrOrLfBreakTheLine) {
    struct Row {
        std::string bytes;
        int32_t length;  // the record's claimed length; -2: that of its bytes
        std::string text;
    };
    const Row rows[] = {
        {"#0S\x01\xFE", -2, "#0S[0x01][0xFE]\n"},
        {" ~", -2, " ~\n"},                          // both ends of the printable range
        {std::string("A\0B", 3), -2, "A[0x00]B\n"},  // a NUL is data, not an end
        {"\x1F\x7F\x80\xFF\xab", -2, "[0x1F][0x7F][0x80][0xFF][0xAB]\n"},
        {"OK\r", -2, "OK[0x0D]\n"},  // no second break after an escaped CR
        {"A\rB\nC", -2, "A[0x0D]\nB[0x0A]\nC\n"},
        {"", -2, "\n"},
        {"\x0B\x0C", -2, "[0x0B][0x0C]\n"},  // other control bytes break nothing
        // The record's length counts, but nothing past its bytes is ever read.
        {std::string("OK\r\0\0", 5), 2, "OK\n"},
        {std::string("OK\r\0\0", 5), 1000, "OK[0x0D]\n[0x00][0x00]\n"},
        {"OK", -1, "\n"},
    };
    for (const Row& row : rows) {
        SerialEcho echo = Record(1, row.bytes);
        if (row.length != -2) {
            echo.Length = row.length;
        }
        EXPECT_EQ(EscapeTraffic(echo), row.text);
    }
    EXPECT_EQ(CTrafficEcho::SentLine(Record(12, "#0S\x01\xFE")), "COM12 >> #0S[0x01][0xFE]\n");
    EXPECT_EQ(CTrafficEcho::SentLine(Record(250, "")), "COM250 >> \n") << "an empty write";
}

// What happens to the traffic, one step at a time: a port reads or writes, or the window flushes
// what waits (the ports quiet since ms, or every port as a connection ends).
enum class Step { Read, Write, Quiet, Close };

// Received records as a port hands them over: the bytes of one read each, and now and then the
// count of bytes it dropped just before them; or another step, at ms.
struct Chunk {
    std::string bytes = {};
    int port = kInstrumentPort;
    int64_t dropped = 0;
    bool haveInstrument = true;
    int instrumentPort = kInstrumentPort;
    int controllerPort = kControllerPort;
    int32_t length = -1;  // the record's claimed length, when it is not that of its bytes
    Step step = Step::Read;
    int ms = 0;  // since 17:03:25.000 local time
};

struct ReceivedCase {
    std::string name;
    std::vector<Chunk> chunks;
    // What the chunks log, in order; text in the error colour is marked "{red}".
    std::string logged = {};
    std::string instrumentLeft = {};
    std::string controllerLeft = {};
    LineTimes times = LineTimes::None;
    int quietDeadline = -1;  // ms, when given
};

const std::string kLong(CTrafficEcho::kLineLimit * 3 + 10, 'x');
const std::string kExact = std::string(CTrafficEcho::kLineLimit - 1, 'y') + "\r";
const std::string kPiece = "COM3 << " + std::string(CTrafficEcho::kLineLimit, 'x') + "\n";
const std::string kTooFast = " dropped: the device sends faster than the log can show.\n";

Chunk Write(const std::string& bytes, int port = kInstrumentPort, int ms = 0) {
    return {.bytes = bytes, .port = port, .step = Step::Write, .ms = ms};
}
Chunk Read(const std::string& bytes, int ms, int port = kInstrumentPort) {
    return {.bytes = bytes, .port = port, .ms = ms};
}

std::vector<ReceivedCase> ReceivedCases() {
    return {
        {.name = "ACarriageReturnCompletesALineSplitAcrossChunks",
         .chunks = {{"ver"}, {"=1."}, {"2\r"}, {"\rNE"}},
         .logged = "COM3 << ver=1.2[0x0D]\nCOM3 << [0x0D]\n",
         .instrumentLeft = "NE"},
        {.name = "SeveralLinesInOneChunkAndALineFeedEndsNone",
         .chunks = {{"A\nB\rC\rD"}},
         .logged = "COM3 << A[0x0A]\nB[0x0D]\nCOM3 << C[0x0D]\n",
         .instrumentLeft = "D"},
        {.name = "EachPortHasItsOwnBuffer",
         .chunks = {{"AB"}, {"12", kControllerPort}, {"3\r", kControllerPort}, {"C\r"}, {"Q"}},
         .logged = "COM7 << 123[0x0D]\nCOM3 << ABC[0x0D]\n",
         .instrumentLeft = "Q"},
        {.name = "TheInstrumentWinsWhenBothSettingsNameOnePort",
         .chunks = {{.bytes = "X", .port = 4, .instrumentPort = 4, .controllerPort = 4}},
         .instrumentLeft = "X"},
        {.name = "BytesNobodyExpectsAreIgnoredWithoutDisturbingTheBuffers",
         .chunks = {{"AB"},
                    {"12", kControllerPort},
                    {"zz\r", 9, 5},
                    {.bytes = "zz\r", .dropped = 5, .haveInstrument = false},
                    {.bytes = "zz\r", .port = kControllerPort, .haveInstrument = false},
                    {.bytes = "", .length = 64}},
         .instrumentLeft = "AB",
         .controllerLeft = "12"},
        {.name = "AGapEndsTheLineBeforeItAndIsReportedInRed",
         .chunks = {{"AB"}, {"CD\rE", kInstrumentPort, 819200}, {"F\r"}},
         .logged = "COM3 << AB\n{red}COM3: 819,200 received bytes" + kTooFast +
                   "COM3 << CD[0x0D]\nCOM3 << EF[0x0D]\n"},
        {.name = "AGapOnARecordOfItsOwnTouchesOnlyItsPort",
         .chunks = {{"AB"}, {"", kControllerPort, 1}, {"", kControllerPort, 1234567}, {"C\r"}},
         .logged = "{red}COM7: 1 received byte" + kTooFast + "{red}COM7: 1,234,567 received bytes" +
                   kTooFast + "COM3 << ABC[0x0D]\n"},
        // At the bound the gathered bytes are logged as a line of their own; the rest waits.
        {.name = "ALineThatNeverEndsIsLoggedInBoundedPieces",
         .chunks = {{kLong.substr(0, 100)}, {kLong.substr(100)}},
         .logged = kPiece + kPiece + kPiece,
         .instrumentLeft = std::string(10, 'x')},
        {.name = "ALineThatEndsExactlyAtTheBoundIsOneLine",
         .chunks = {{kExact}},
         .logged = "COM3 << " + kExact.substr(0, kExact.size() - 1) + "[0x0D]\n"},
        // A box whose replies never end in a carriage return: each reply is flushed by the next
        // command to its port, or once the port has been quiet for 50 ms; the rest of a line
        // flushed early starts a line of its own.
        {.name = "AWriteToAPortFlushesOnlyThatPortsWaitingBytesFirst",
         .chunks = {{"\x01\xFE"}, {"12", kControllerPort}, Write("#0R"), {std::string(1, '\0')}},
         .logged = "COM3 << [0x01][0xFE] [partial]\nCOM3 >> #0R\n",
         .instrumentLeft = std::string(1, '\0'),
         .controllerLeft = "12"},
        {.name = "AQuietPortIsFlushedAndTheRestOfItsLineStartsANewOne",
         .chunks = {Read("ver", 0),
                    Read("=1", 30),
                    Read("AB", 40, kControllerPort),
                    {.step = Step::Quiet, .ms = 79},
                    {.step = Step::Quiet, .ms = 80},
                    Read(".2\r", 100)},
         .logged = "COM3 << ver=1 [partial]\nCOM3 << .2[0x0D]\n",
         .controllerLeft = "AB",
         .quietDeadline = 90},
        {.name = "ClosingFlushesEveryPort",
         .chunks = {{"AB"}, {"\r\nC", kControllerPort}, {.step = Step::Close}, Write("D")},
         .logged =
             "COM7 << [0x0D]\nCOM3 << AB [partial]\nCOM7 << [0x0A]\nC [partial]\nCOM3 >> D\n"},
        {.name = "WithoutTimesNoReplyIsPaired",
         .chunks = {Write("#0R"), Read("\x01\xFE", 5), {.step = Step::Close}},
         .logged = "COM3 >> #0R\nCOM3 << [0x01][0xFE] [partial]\n"},
        // A line's time is that of the read that brought its first byte; so is its time since
        // the command before it on its port, which a closed connection forgets.
        {.name = "TimeOfDayToTheMillisecond",
         .chunks = {Write("#0R", kInstrumentPort, 7),
                    Read("\x01", 1005),
                    Read("\xFE", 1010),
                    Write("!0D", kInstrumentPort, 62047),
                    {.step = Step::Close},
                    Read("bls=0\r", 62050)},
         .logged = "17:03:25.007 COM3 >> #0R\n"
                   "17:03:26.005 COM3 << [0x01][0xFE] [partial]  +998.0 ms  shutter open\n"
                   "17:04:27.047 COM3 >> !0D\n17:04:27.050 COM3 << bls=0[0x0D]\n",
         .times = LineTimes::TimeOfDay},
        // Lines of two ports reach the log a little out of order: no gap is shown as negative.
        // A port written nothing pairs nothing.
        {.name = "SecondsSinceThePreviousLine",
         .chunks = {Write("!0V", kInstrumentPort, 100), Read("OK\r", 112), Read("A", 120),
                    Read("1\r", 130, kControllerPort), Read("\r", 160),
                    Write("X", kControllerPort, 12500)},
         .logged = "+0.000 COM3 >> !0V\n+0.012 COM3 << OK[0x0D]  +12.0 ms\n"
                   "+0.018 COM7 << 1[0x0D]\n+0.000 COM3 << A[0x0D]  +20.0 ms\n+12.370 COM7 >> X\n",
         .times = LineTimes::SincePrevious},
    };
}

class ReceivedLines : public testing::TestWithParam<ReceivedCase> {};

TEST_P(ReceivedLines, LogAndBuffers) {
    std::tm start{};
    std::istringstream("2026-12-06 17:03:25") >> std::get_time(&start, "%Y-%m-%d %H:%M:%S");
    start.tm_isdst = -1;  // local time, as the log shows it
    const auto wall = std::chrono::system_clock::from_time_t(std::mktime(&start));
    const std::chrono::steady_clock::time_point steady{std::chrono::hours(1)};
    CTrafficEcho echo;
    echo.SetTimes(GetParam().times);
    echo.SetMeaning(DescribeReply);
    std::string logged;
    for (const Chunk& chunk : GetParam().chunks) {
        SerialEcho record = Record(chunk.port, chunk.bytes, chunk.step == Step::Read ? 1 : 0);
        record.Dropped = chunk.dropped;
        record.Time = {wall + std::chrono::milliseconds(chunk.ms),
                       steady + std::chrono::milliseconds(chunk.ms)};
        if (chunk.length >= 0) {
            record.Length = chunk.length;
        }
        const std::vector<TrafficText> pieces =
            chunk.step == Step::Read    ? echo.Received(record, chunk.haveInstrument,
                                                        chunk.instrumentPort, chunk.controllerPort)
            : chunk.step == Step::Write ? echo.Sent(record)
            : chunk.step == Step::Quiet
                ? echo.FlushQuiet(record.Time.Monotonic, std::chrono::milliseconds(50))
                : echo.FlushAll();
        for (const TrafficText& piece : pieces) {
            EXPECT_FALSE(piece.Text.empty());
            // The colour a line is in is the one its direction says.
            EXPECT_EQ(piece.Code, piece.Text.find(">>") != std::string::npos   ? kLogSent
                                  : piece.Text.find("<<") != std::string::npos ? kLogReceived
                                                                               : kLogError);
            logged += (piece.Code == kLogError ? "{red}" : "") + piece.Text;
        }
    }
    EXPECT_EQ(logged, GetParam().logged);
    EXPECT_EQ(echo.InstrumentLine(), GetParam().instrumentLeft);
    EXPECT_EQ(echo.ControllerLine(), GetParam().controllerLeft);
    const auto deadline = echo.QuietDeadline(std::chrono::milliseconds(50));
    EXPECT_EQ(deadline.has_value(),
              !echo.InstrumentLine().empty() || !echo.ControllerLine().empty());
    if (GetParam().quietDeadline >= 0 && deadline) {
        EXPECT_EQ((*deadline - steady) / std::chrono::milliseconds(1), GetParam().quietDeadline);
    }
}

INSTANTIATE_TEST_SUITE_P(Chunks, ReceivedLines, testing::ValuesIn(ReceivedCases()),
                         [](const auto& info) { return info.param.name; });

// What each driver's replies mean as the log pairs them with their commands (the bytes on the
// wire both ways); a reply that says nothing known shows only its time.
TEST(ReplyPairing, ARepliesMeaningIsReadByTheDriverOfItsCommand) {
    struct Row {
        std::string command;
        std::string reply;
        std::string meaning;
    };
    const Row rows[] = {
        {"#0R", "\x01\xFE", "shutter open"},
        {"#0R", std::string("\0\xFF", 2), "shutter closed"},
        {"#0R", "\x01\xFF", "check byte wrong"},
        {"#0R", "\x07\xF8", "shutter state unknown"},
        {"#0R", "\x01", ""},
        {"!0TH?", "!0TH?=01a0\r", "threshold 0x01A0"},
        {"!0TH?", "!0TH?\r", ""},
        {"!0TM?", "!0TM?=\x01\r", "saved threshold 0x010D"},
        {"!0D", std::string("5\nsts=ok\nrbk=\x04") + '\0' + "\nbls=0\n", "light sensor 0"},
        {"!0D", "\nbls=1\r", "light sensor 1"},
        {"!0D", "\nsts=ok\r", ""},
        {"!0IR", "ver=3.0.2\r", "firmware 3.0.2"},
        {"!0IR", "tct=CNI32-A\r", "Temperature controller: Omega CNi32 Series"},
        {"!0IR",
         "ver=3.\xB7"
         "0\r",
         ""},
        {"!0IR", "8\r", ""},
        {"GOSUB4\r", "\nFILT:3\r", "filter 3"},
        {"GOSUB4\r", "GOSUB4\r", ""},  // the motor's echo
        {"GOSUB4", "FILT:3\r", ""},    // not a command line
        {"GOSUB6\r", "SHTR:1\r", "shutter open"},
        {"GOSUB1\r", "SHTR:0\r", "shutter closed"},
        {"GOSUB6\r", "SHTR:-1\r", "shutter -1"},
        {"GOSUB0\r", "LIGHT:1\r", "light sensor 1"},
        {"GOSUB100\r", "\nnof=6\r", "6 filters"},
        {"Z\r", "HOME:1\r", "homed"},
        {"RP\r", "1234\r", ""},
        {"*X01\r", "025.0\r", "process 25.0"},
        {"*X01\r", "-3.25\r", "process -3.25"},
        {"*X01\r", "X01\r", ""},
        {"*R01\r", "2000FA\r", "set point 25.0"},
        {"*R02\r", "A00064\r", "set point 2 -10.0"},
        {"#01R00\r", "#01R00=23.7\r", "process 23.0"},  // whole degrees, as the driver reads
        {"#01R01\r", "\n#01R01=25\r", "set point 25.0"},
        {"#01M01 31.5C\r", "#01M01 31.5C\r", "set point 31.5"},
        {"#01R00\r", "ERROR\r", ""},
    };
    for (const Row& row : rows) {
        CTrafficEcho echo;
        echo.SetPairing(true);
        echo.SetMeaning(DescribeReply);
        SerialEcho sent = Record(kInstrumentPort, row.command);
        SerialEcho received = Record(kInstrumentPort, row.reply, 1);
        received.Time.Monotonic = sent.Time.Monotonic + std::chrono::microseconds(5240);
        echo.Sent(sent);
        std::string logged;
        for (const std::vector<TrafficText>& pieces :
             {echo.Received(received, true, kInstrumentPort, kControllerPort), echo.FlushAll()}) {
            for (const TrafficText& piece : pieces) {
                logged += piece.Text;
            }
        }
        EXPECT_TRUE(
            logged.ends_with("  +5.2 ms" + (row.meaning.empty() ? "" : "  " + row.meaning) + "\n"))
            << logged;
    }
}

}  // namespace
