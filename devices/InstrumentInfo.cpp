#include "devices/InstrumentInfo.h"

#include "devices/Vocabulary.h"
#include "serial/WireText.h"

InstrumentInfo InstrumentInfo::Unread() {
    InstrumentInfo info;
    info.ShutterType = -1;
    info.MotorModel = -1;
    info.Processor = -1;
    info.TempController = -1;
    return info;
}

void InstrumentInfo::ApplyIdentificationLine(std::string_view line) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        return;  // an empty key: counted by the caller, otherwise ignored
    }
    const std::string_view key = wire::Trim(line.substr(0, eq));
    std::string_view value = wire::Trim(line.substr(eq + 1));
    if (key == "ver") {
        FirmwareVersion = wire::Widen(value);
    } else if (key == "dev") {
        LookupKey(vocabulary::InstrumentModel, value, InstrumentModel);
    } else if (key == "nof") {
        NumberOfFilters = wire::ParseDecimal(value);
    } else if (key == "fsz") {
        FilterSize = wire::Widen(value);
    } else if (key == "sht") {
        LookupKey(vocabulary::ShutterType, value, ShutterType);
    } else if (key == "mot") {
        LookupKey(vocabulary::MotorModel, value, MotorModel);
    } else if (key == "prc") {
        LookupKey(vocabulary::Processor, value, Processor);
    } else if (key == "tct") {
        // Controllers report their full model ("CNI32-A"); the table knows the series.
        if (value.substr(0, 5) == "CNI32") {
            value = value.substr(0, 5);
        }
        LookupKey(vocabulary::TempController, value, TempController);
    }
}
