#include "devices/InstrumentInfo.h"

#include <tuple>
#include <vector>

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

std::wstring IdentityText(const InstrumentInfo& info) {
    const auto join = [](const std::vector<std::wstring>& parts) {
        std::wstring line;
        for (const std::wstring& part : parts) {
            line += (line.empty() ? L"" : L" \u00B7 ") + part;
        }
        return line;
    };
    std::vector<std::wstring> about;
    if (const std::wstring_view model = vocabulary::InstrumentModel.Name(info.InstrumentModel);
        !model.empty()) {
        about.emplace_back(model);
    }
    if (!info.FirmwareVersion.empty()) {
        about.push_back(L"firmware " + info.FirmwareVersion);
    }
    if (info.NumberOfFilters > 0) {
        about.push_back(std::to_wstring(info.NumberOfFilters) +
                        (info.NumberOfFilters == 1 ? L" filter" : L" filters"));
    }
    std::vector<std::wstring> parts;
    for (const auto& [label, table, index] :
         {std::tuple{L"Shutter", &vocabulary::ShutterType, info.ShutterType},
          std::tuple{L"Motor", &vocabulary::MotorModel, info.MotorModel},
          std::tuple{L"Temperature controller", &vocabulary::TempController,
                     info.TempController}}) {
        if (const std::wstring_view name = table->Name(index); !name.empty()) {
            parts.push_back(std::wstring(label) + L": " + std::wstring(name));
        }
    }
    std::wstring text = join(about);
    if (!parts.empty()) {
        text += (text.empty() ? L"" : L"\n") + join(parts);
    }
    return text;
}

std::optional<std::string> DescribeIdentificationLine(std::string_view line) {
    InstrumentInfo info = InstrumentInfo::Unread();
    info.ApplyIdentificationLine(line);
    const std::wstring text = IdentityText(info);
    std::string narrow;
    for (const wchar_t c : text) {
        if (c < 0x20 || c > 0x7E) {
            return std::nullopt;
        }
        narrow += static_cast<char>(c);
    }
    return narrow.empty() ? std::nullopt : std::optional(narrow);
}
