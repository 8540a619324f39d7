#include "console/Remembered.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QSettings>
#include <QStringList>
#include <cstdint>

#include "console/AdvComDlg.h"
#include "console/PortListFill.h"

namespace {

// As high as any port list goes.
constexpr int kHighestPort = 256;

}  // namespace

namespace console {

std::unique_ptr<QSettings> OpenRemembered() {
    if (QCoreApplication::organizationName().isEmpty()) {
        return nullptr;
    }
    return std::make_unique<QSettings>();
}

std::optional<int> RememberedInt(const QSettings& store, const QString& key, int lowest,
                                 int highest) {
    // Stored numbers read back from the file as text.
    bool ok = false;
    const int value = store.value(key).toString().toInt(&ok);
    if (!ok || value < lowest || value > highest) {
        return std::nullopt;
    }
    return value;
}

CommSettings RememberedLineSettings(const QSettings& store, const QString& group,
                                    CommSettings settings) {
    // A number the dialog's list offers.
    const auto listed = [&](const char* key, const QStringList& entries, int32_t& field) {
        const std::optional<int> value = RememberedInt(store, group + key, 1, INT32_MAX);
        if (value && entries.contains(QString::number(*value))) {
            field = *value;
        }
    };
    // An index within its list of names.
    const auto named = [&](const char* key, size_t names, int32_t& field) {
        field = RememberedInt(store, group + key, 0, static_cast<int>(names) - 1).value_or(field);
    };
    listed("/BaudRate", CAdvComDlg::kBaudRates, settings.BaudRate);
    listed("/DataBits", CAdvComDlg::kDataBits, settings.DataBits);
    named("/Parity", kParityNames.size(), settings.Parity);
    named("/StopBits", kStopBitNames.size(), settings.StopBits);
    named("/FlowControl", kFlowControlNames.size(), settings.FlowControl);
    return settings;
}

void RememberLineSettings(QSettings& store, const QString& group, const CommSettings& settings) {
    store.setValue(group + "/BaudRate", settings.BaudRate);
    store.setValue(group + "/DataBits", settings.DataBits);
    store.setValue(group + "/Parity", settings.Parity);
    store.setValue(group + "/StopBits", settings.StopBits);
    store.setValue(group + "/FlowControl", settings.FlowControl);
}

int RestorePortChoice(const QSettings& store, const QString& key, QComboBox* list) {
    const int port = RememberedInt(store, key, 1, kHighestPort).value_or(0);
    if (const int index = IndexOfPort(list, port); index >= 0) {
        list->setCurrentIndex(index);
    }
    return port;
}

void RememberPortChoice(QSettings& store, const QString& key, const QComboBox* list) {
    if (const int port = ChosenPort(list); port > 0) {
        store.setValue(key, port);
    }
}

void RememberToolChoices(QDialog* window, const QString& group, QComboBox* port, QLineEdit* file) {
    if (const std::unique_ptr<QSettings> store = OpenRemembered()) {
        store->beginGroup(group);
        RestorePortChoice(*store, "Port", port);
        if (const QString path = store->value("File").toString();
            file != nullptr && !path.isEmpty()) {
            file->setText(path);
        }
    }
    QObject::connect(window, &QDialog::finished, window, [group, port, file] {
        if (const std::unique_ptr<QSettings> store = OpenRemembered()) {
            store->beginGroup(group);
            RememberPortChoice(*store, "Port", port);
            if (file != nullptr) {
                store->setValue("File", file->text());
            }
        }
    });
}

}  // namespace console
