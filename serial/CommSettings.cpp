#include "serial/CommSettings.h"

#include <cstdio>

namespace {

// Decimal conversion as the C library's wide atoi does it: leading blanks, an optional sign,
// then digits up to the first non-digit. Saturates instead of overflowing on absurd input.
int32_t WideToInt(std::wstring_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t' || text[i] == L'\n' ||
                               text[i] == L'\r' || text[i] == L'\v' || text[i] == L'\f')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > INT32_MAX) {
            value = static_cast<int64_t>(INT32_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

template <typename List>
int32_t IndexOf(const List& names, std::wstring_view name) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return static_cast<int32_t>(i);
        }
    }
    return 0;
}

}  // namespace

CommSettings ParseCommSettings(std::wstring_view port, std::wstring_view baudRate,
                               std::wstring_view dataBits, std::wstring_view parity,
                               std::wstring_view stopBits, std::wstring_view flowControl) {
    CommSettings settings;
    settings.PortNumber = WideToInt(port.size() > 3 ? port.substr(3) : std::wstring_view());
    settings.BaudRate = WideToInt(baudRate);
    settings.DataBits = WideToInt(dataBits);
    settings.Parity = IndexOf(kParityNames, parity);
    settings.StopBits = IndexOf(kStopBitNames, stopBits);
    settings.FlowControl = IndexOf(kFlowControlNames, flowControl);
    return settings;
}

char ParityLetter(int32_t parityIndex) {
    static constexpr char kLetters[] = {'n', 'o', 'e'};
    return parityIndex >= 0 && parityIndex < 3 ? kLetters[parityIndex] : 'n';
}

std::string_view StopBitText(int32_t stopBitIndex) {
    static constexpr std::string_view kTexts[] = {"1", "1.5", "2"};
    return stopBitIndex >= 0 && stopBitIndex < 3 ? kTexts[stopBitIndex] : "1";
}

std::string BuildModeString(int32_t baudRate, int32_t parityIndex, int32_t dataBits,
                            int32_t stopBitIndex) {
    char buffer[96];
    const std::string_view stop = StopBitText(stopBitIndex);
    std::snprintf(buffer, sizeof buffer, "baud=%d parity=%c data=%d stop=%.*s", baudRate,
                  ParityLetter(parityIndex), dataBits, static_cast<int>(stop.size()), stop.data());
    return buffer;
}
