// The echo of port traffic in the terminal: how bytes are escaped, the sent lines, and how
// received bytes gather into lines per port.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "console/TrafficEcho.h"

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

std::string Escaped(const std::string& bytes) {
    return EscapeTraffic(Record(1, bytes));
}

TEST(EscapeTraffic, PrintableAsciiIsCopiedAndEverythingElseIsHex) {
    EXPECT_EQ(Escaped("#0R"), "#0R\n");
    EXPECT_EQ(Escaped("#0S\x01\xFE"), "#0S[0x01][0xFE]\n");
    EXPECT_EQ(Escaped(" ~"), " ~\n") << "both ends of the printable range are copied";
    EXPECT_EQ(Escaped(std::string("A\0B", 3)), "A[0x00]B\n") << "a NUL is data, not an end";
    EXPECT_EQ(Escaped("\x1F\x7F\x80\xFF"), "[0x1F][0x7F][0x80][0xFF]\n");
    EXPECT_EQ(Escaped("\xab"), "[0xAB]\n") << "hex digits are upper case";
}

TEST(EscapeTraffic, CarriageReturnAndLineFeedBreakTheLineAndOneBreakEndsIt) {
    EXPECT_EQ(Escaped("OK\r"), "OK[0x0D]\n") << "no second break after an escaped CR";
    EXPECT_EQ(Escaped("A\rB\nC"), "A[0x0D]\nB[0x0A]\nC\n");
    EXPECT_EQ(Escaped("\r\n"), "[0x0D]\n[0x0A]\n");
    EXPECT_EQ(Escaped(""), "\n");
    EXPECT_EQ(Escaped("\x0B\x0C"), "[0x0B][0x0C]\n") << "other control bytes break nothing";
}

TEST(EscapeTraffic, UsesTheRecordsLengthButNeverReadsPastItsBytes) {
    SerialEcho echo = Record(1, std::string("OK\r\0\0", 5));
    echo.Length = 2;
    EXPECT_EQ(EscapeTraffic(echo), "OK\n");
    echo.Length = 5;
    EXPECT_EQ(EscapeTraffic(echo), "OK[0x0D]\n[0x00][0x00]\n");
    echo.Length = 1000;
    EXPECT_EQ(EscapeTraffic(echo), "OK[0x0D]\n[0x00][0x00]\n");
    echo.Length = -1;
    EXPECT_EQ(EscapeTraffic(echo), "\n");
}

TEST(TrafficEcho, SentRecordsAreOneLineEachOnAnyPort) {
    EXPECT_EQ(CTrafficEcho::SentLine(Record(3, "#0R")), "COM3 >> #0R\n");
    EXPECT_EQ(CTrafficEcho::SentLine(Record(12, "#0S\x01\xFE")), "COM12 >> #0S[0x01][0xFE]\n");
    EXPECT_EQ(CTrafficEcho::SentLine(Record(5, "")), "COM5 >> \n") << "empty write";
    EXPECT_EQ(CTrafficEcho::SentLine(Record(250, "X\r")), "COM250 >> X[0x0D]\n");
}

// Feeds bytes one record each, as a port delivers them, and collects the lines logged.
class ReceivedLines : public testing::Test {
protected:
    std::string Feed(const std::string& bytes, int port = kInstrumentPort,
                     bool haveInstrument = true, int instrumentPort = kInstrumentPort,
                     int controllerPort = kControllerPort) {
        std::string logged;
        for (const char byte : bytes) {
            const auto line = echo_.ReceivedByte(Record(port, std::string(1, byte), 1),
                                                 haveInstrument, instrumentPort, controllerPort);
            if (line) {
                EXPECT_FALSE(line->empty());
                logged += *line;
            }
        }
        return logged;
    }

    CTrafficEcho echo_;
};

TEST_F(ReceivedLines, ACarriageReturnCompletesTheLineAndEmptiesItsBuffer) {
    EXPECT_EQ(Feed("OK"), "");
    EXPECT_EQ(echo_.InstrumentLine(), "OK");
    EXPECT_EQ(Feed("\r"), "COM3 << OK[0x0D]\n");
    EXPECT_TRUE(echo_.InstrumentLine().empty());
    EXPECT_EQ(Feed("\r"), "COM3 << [0x0D]\n") << "a bare carriage return is a line too";
}

TEST_F(ReceivedLines, ALineFeedDoesNotEndALineAndTrailingBytesWait) {
    EXPECT_EQ(Feed("A\nB\rC"), "COM3 << A[0x0A]\nB[0x0D]\n");
    EXPECT_EQ(echo_.InstrumentLine(), "C");
    EXPECT_EQ(Feed("\r"), "COM3 << C[0x0D]\n");
}

TEST_F(ReceivedLines, UnprintableBytesStayInTheLineAndAreAllShown) {
    EXPECT_EQ(Feed(std::string("V\0\x7F\x80\xFF\r", 6)),
              "COM3 << V[0x00][0x7F][0x80][0xFF][0x0D]\n");
}

TEST_F(ReceivedLines, ABinaryReplyIsLoggedInFrontOfTheNextLine) {
    // A shutter state reply: the state and its check byte, no carriage return. The next text
    // reply on the port carries them.
    EXPECT_EQ(Feed("\x01\xFE"), "");
    EXPECT_EQ(echo_.InstrumentLine(), "\x01\xFE");
    EXPECT_EQ(Feed("ver=1.2\r"), "COM3 << [0x01][0xFE]ver=1.2[0x0D]\n");
}

TEST_F(ReceivedLines, EachPortHasItsOwnBufferAndTheInstrumentWinsATie) {
    EXPECT_EQ(Feed("AB", kInstrumentPort), "");
    EXPECT_EQ(Feed("12", kControllerPort), "");
    EXPECT_EQ(Feed("3\r", kControllerPort), "COM7 << 123[0x0D]\n");
    EXPECT_EQ(echo_.InstrumentLine(), "AB");
    EXPECT_EQ(Feed("C\r", kInstrumentPort), "COM3 << ABC[0x0D]\n");

    // Both settings on one port: the instrument's buffer takes the bytes.
    EXPECT_EQ(Feed("X", 4, true, 4, 4), "");
    EXPECT_EQ(echo_.InstrumentLine(), "X");
    EXPECT_TRUE(echo_.ControllerLine().empty());
}

TEST_F(ReceivedLines, BytesNobodyExpectsAreDroppedWithoutDisturbingTheBuffers) {
    EXPECT_EQ(Feed("AB", kInstrumentPort), "");
    EXPECT_EQ(Feed("12", kControllerPort), "");

    EXPECT_EQ(Feed("zz\r", 9), "") << "neither port";
    EXPECT_EQ(Feed("zz\r", kInstrumentPort, false), "") << "no current instrument";
    EXPECT_EQ(Feed("zz\r", kControllerPort, false), "") << "no current instrument";
    EXPECT_EQ(echo_.InstrumentLine(), "AB");
    EXPECT_EQ(echo_.ControllerLine(), "12");

    // A record without a byte adds nothing.
    EXPECT_FALSE(
        echo_.ReceivedByte(Record(kInstrumentPort, ""), true, kInstrumentPort, kControllerPort));
    SerialEcho lying = Record(kInstrumentPort, "");
    lying.Length = 64;
    EXPECT_FALSE(echo_.ReceivedByte(lying, true, kInstrumentPort, kControllerPort));
    EXPECT_EQ(echo_.InstrumentLine(), "AB");
}

TEST_F(ReceivedLines, ARecordWithSeveralBytesLogsEveryLineItCompletes) {
    const auto lines = echo_.ReceivedByte(Record(kInstrumentPort, "A\rB\rC", 1), true,
                                          kInstrumentPort, kControllerPort);
    ASSERT_TRUE(lines);
    EXPECT_EQ(*lines, "COM3 << A[0x0D]\nCOM3 << B[0x0D]\n");
    EXPECT_EQ(echo_.InstrumentLine(), "C");
}

TEST_F(ReceivedLines, ADeviceThatNeverSendsACarriageReturnIsLoggedInBoundedPieces) {
    const std::string flood(CTrafficEcho::kLineLimit * 3 + 10, 'x');
    const std::string logged = Feed(flood);
    const std::string piece = "COM3 << " + std::string(CTrafficEcho::kLineLimit, 'x') + "\n";
    EXPECT_EQ(logged, piece + piece + piece);
    EXPECT_EQ(echo_.InstrumentLine(), std::string(10, 'x')) << "the rest waits as usual";
    EXPECT_EQ(Feed("\r"), "COM3 << " + std::string(10, 'x') + "[0x0D]\n");

    // A line that ends exactly at the bound with its carriage return is one ordinary line.
    const std::string exact = std::string(CTrafficEcho::kLineLimit - 1, 'y') + "\r";
    EXPECT_EQ(Feed(exact), "COM3 << " + exact.substr(0, exact.size() - 1) + "[0x0D]\n");
    EXPECT_TRUE(echo_.InstrumentLine().empty());
}

}  // namespace
