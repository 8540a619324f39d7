#include "devices/ReplyMeaning.h"

#include "devices/Athena16TempController.h"
#include "devices/OmegaTempController.h"
#include "devices/ShutterBoxDevice.h"
#include "devices/SmartMotor.h"
#include "serial/WireText.h"

namespace reply_meaning {

std::string_view LineText(std::string_view reply) {
    if (reply.starts_with('\n')) {
        reply.remove_prefix(1);
    }
    while (reply.ends_with('\r') || reply.ends_with('\n')) {
        reply.remove_suffix(1);
    }
    return reply.substr(0, reply.find('\0'));
}

std::string Reading(double value) {
    std::string reading = wire::FormatReal(value);
    if (reading.find_first_not_of("-0123456789") == std::string::npos) {
        reading += ".0";
    }
    return reading;
}

}  // namespace reply_meaning

std::optional<std::string> DescribeReply(std::string_view command, std::string_view reply) {
    for (const auto describe :
         {&CShutterBoxDevice::DescribeReply, &CSmartMotor::DescribeReply,
          &COmegaTempController::DescribeReply, &CAthena16TempController::DescribeReply}) {
        if (std::optional<std::string> meaning = describe(command, reply)) {
            return meaning;
        }
    }
    return std::nullopt;
}
