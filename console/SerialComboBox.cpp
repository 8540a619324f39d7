#include "console/SerialComboBox.h"

#include "serial/CommSettings.h"
#include "serial/SerialPortList.h"

namespace {

std::vector<int> MachinePorts() {
    std::vector<int> ports;
    EnumerateSerialPorts(ports);
    return ports;
}

}  // namespace

CSerialComboBox::CSerialComboBox(QWidget* parent) : CSerialComboBox(MachinePorts(), parent) {}

CSerialComboBox::CSerialComboBox(const std::vector<int>& ports, QWidget* parent)
    : QComboBox(parent) {
    Fill(ports);
}

void CSerialComboBox::Fill(const std::vector<int>& ports) {
    for (int port : ports) {
        addItem(QStringLiteral("COM%1").arg(port));
    }
    if (count() > 0) {
        setCurrentIndex(0);
    }
}

int CSerialComboBox::GetSelectedPort() const {
    if (currentIndex() < 0) {
        return -1;
    }
    // The settings dialogs read their port text by exactly this rule; one conversion serves
    // both, so a text the one accepts the other reads the same.
    return ParseCommSettings(currentText().toStdWString(), {}, {}, {}, {}, {}).PortNumber;
}
