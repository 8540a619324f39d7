// The session trace's file: every byte value and the time survive it, a damaged one says which
// line is wrong and why, a recorded device's answers are found for each command and where each
// command ends, and a trace that cannot be written says so once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "serial/SessionTrace.h"
#include "serial/TraceFormat.h"
#include "sim/ReplaySim.h"

namespace {

using testing::HasSubstr;
constexpr auto kWait = std::chrono::seconds(5);

SerialEcho Echo(const std::string& bytes) {
    SerialEcho echo;
    echo.PortNumber = 201;
    echo.Text = bytes;
    echo.Length = static_cast<int32_t>(bytes.size());
    echo.Received = 1;
    return echo;
}

TEST(SessionTrace, KeepsEveryByteValueAndTheTimeToTheMillisecond) {
    char folder[] = "/tmp/pravik-trace-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/session.jsonl";
    std::string every;
    for (int byte = 0; byte < 256; ++byte) {
        every += static_cast<char>(byte);
    }
    {
        CSessionTrace trace;
        trace.BeginFile(path, "single", {{"shutter", {201, 9600, 8, 0, 0, 0}}});
        trace.SettingsRefused({{"shutter", {201, 19200, 7, 2, 2, 0}}}, "COM201 refused them");
        trace.Tap(Echo(every));
        trace.End("asked");
        ASSERT_TRUE(trace.Flush(kWait));
    }
    std::ifstream file(path);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    std::filesystem::remove_all(folder);
    EXPECT_THAT(text, HasSubstr("0123456789:;<=>?@ABC")) << "printable ASCII as it is";
    EXPECT_THAT(text, HasSubstr(R"("type":"settings","role":"shutter","port":201,)"));
    std::string error;
    const auto traffic = trace::ReadTrace(text, error);
    ASSERT_TRUE(traffic) << error;
    ASSERT_EQ(traffic->size(), 1u);
    EXPECT_EQ(traffic->front().Bytes, every);
    constexpr int64_t kMs = 1796576605475;
    EXPECT_EQ(trace::ParseIsoTime("2026-12-06T17:03:25.475Z"), kMs);
    EXPECT_EQ(trace::IsoTime(std::chrono::system_clock::time_point(std::chrono::milliseconds(kMs))),
              "2026-12-06T17:03:25.475Z");
}

TEST(SessionTrace, ADamagedTraceSaysWhichLineAndWhy) {
    const std::string connect = R"({"t":"2026-12-06T17:03:25.475Z","type":"connect"})"
                                "\n";
    const std::string t = R"({"t":"2026-12-06T17:03:25.475Z",)";
    const std::pair<std::string, const char*> damaged[] = {
        {"", "no records"},
        {"{\"t\":", "line 1: not a JSON object"},
        {"[1]", "line 1: not a JSON object"},
        {R"({"t":"2026-12-06T17:03:25Z","type":"connect"})", "line 1: a record needs"},
        {t + R"("type":"tx","port":3,"data":"x"})", "line 1: a trace begins"},
        {connect + t + R"("type":"rx","port":256,"data":"x"})", "line 2: rx needs a port"},
        {connect + "\n" + R"({"t":"2026-13-06T17:03:25.475Z","type":"tx"})", "line 3: a record"},
        {connect + t + R"("type":"tx","port":3,"data":"\u0100"})", "line 2: \"data\" holds"},
    };
    for (const auto& [text, why] : damaged) {
        std::string error;
        EXPECT_FALSE(trace::ReadTrace(text, error)) << text;
        EXPECT_THAT(error, HasSubstr(why));
    }
}

TEST(SessionTrace, EachCommandKeepsEveryAnswerInOrderWithItsDelays) {
    const std::vector<trace::Traffic> traffic = {
        {1000, 3, false, "RP\r"}, {1005, 3, true, "1"},  {1008, 3, true, "\r"},
        {1009, 4, true, "other"}, {1010, 3, false, "Z"}, {1020, 3, false, "RP\r"},
        {1019, 3, true, "2\r"},   {1030, 3, false, ""},  {1031, 3, true, "late"}};
    const trace::RecordedReplies expected = {
        {"RP\r", {{{5, "1"}, {8, "\r"}}, {{0, "2\r"}, {11, "late"}}}}, {"Z", {{}}}};
    EXPECT_EQ(trace::RepliesOnPort(traffic, 3), expected);
}

// A command that begins a longer one is whole where the program's write ends, or where the next
// byte continues no command; bytes that begin none get no answer and are told once.
struct ReplayedDevice : sim::CReplaySim {
    using CReplaySim::CReplaySim;
    void Write(std::string_view bytes) {
        for (const char byte : bytes) {
            OnReceive(static_cast<uint8_t>(byte));
        }
        OnReceiveEnd();
    }
};

TEST(SessionTrace, AReplayedDeviceFindsEachCommandWhereItEnds) {
    ReplayedDevice device(201, "/nonexistent", {{0, 201, false, "A"}, {0, 201, false, "AB"}}, true);
    std::vector<std::string> told;
    device.SetUnknownHandler([&](const std::string& command) { told.push_back(command); });
    for (const auto& [bytes, answered] :
         {std::pair{"A", 1}, {"AB", 2}, {"AAB", 4}, {"Q", 4}, {"AQ", 5}, {"Q", 5}}) {
        device.Write(bytes);
        EXPECT_EQ(device.Answered(), answered) << bytes;
    }
    EXPECT_EQ(told, std::vector<std::string>{"Q"});
}

TEST(SessionTrace, AWriteErrorStopsTheTraceAndSaysSoOnce) {
    CSessionTrace trace;
    std::vector<std::string> told;
    trace.SetStoppedHandler([&](const std::string& why) { told.push_back(why); });
    trace.BeginFile("/dev/full", "multi", {});
    for (int round = 0; round < 3; ++round) {
        trace.Tap(Echo("RP\r"));
        ASSERT_TRUE(trace.Flush(kWait));
    }
    trace.End("asked");
    ASSERT_TRUE(trace.Flush(kWait));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "cannot write /dev/full: No space left on device");
    EXPECT_EQ(trace.Failure(), told[0]);
}

}  // namespace
