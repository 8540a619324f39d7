#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// A serial port's settings as the program edits and stores them. Copied by value everywhere.
struct CommSettings {
    int32_t PortNumber = 0;  // n of COMn; 0 = no port chosen, -1 = an entry that is not a port
    int32_t BaudRate = 9600;
    int32_t DataBits = 8;
    int32_t Parity = 0;       // index into kParityNames
    int32_t StopBits = 0;     // index into kStopBitNames
    int32_t FlowControl = 0;  // index into kFlowControlNames; kept and edited, never applied

    bool operator==(const CommSettings&) const = default;
};

// The name lists, in index order; the COM settings dialog shows exactly these.
inline constexpr std::array<std::wstring_view, 3> kParityNames = {L"None", L"Odd", L"Even"};
inline constexpr std::array<std::wstring_view, 3> kStopBitNames = {L"1", L"1.5", L"2"};
inline constexpr std::array<std::wstring_view, 3> kFlowControlNames = {L"None", L"Xon/Xoff",
                                                                       L"RTS/CTS"};

// Turns the six texts of a settings dialog back into settings. The port number is the decimal
// value of the port text without its first three characters ("COM12" gives 12); baud rate and
// data bits are decimal; each name becomes its index by exact comparison, 0 when not listed. A
// text that is not a number gives 0 (conversion stops at the first non-digit).
CommSettings ParseCommSettings(std::wstring_view port, std::wstring_view baudRate,
                               std::wstring_view dataBits, std::wstring_view parity,
                               std::wstring_view stopBits, std::wstring_view flowControl);

// The mode-string letter of a parity index; an index outside the list gives 'n'.
char ParityLetter(int32_t parityIndex);

// The mode-string text of a stop-bit index; an index outside the list gives "1".
std::string_view StopBitText(int32_t stopBitIndex);

// "baud=%d parity=%c data=%d stop=%s". The flow-control index takes no part.
std::string BuildModeString(int32_t baudRate, int32_t parityIndex, int32_t dataBits,
                            int32_t stopBitIndex);
