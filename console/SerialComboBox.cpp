#include "console/SerialComboBox.h"

#include "console/PortListFill.h"
#include "console/PortWatch.h"
#include "serial/CommSettings.h"
#include "serial/SerialPortList.h"

namespace {

constexpr int kHighestListedPort = 255;

}  // namespace

CSerialComboBox::CSerialComboBox(QWidget* parent) : QComboBox(parent) {
    Fill();
    console::RefillOnPortChanges(this, [this] { Fill(); });
    console::ExplainChoices(this);
}

void CSerialComboBox::Fill() {
    console::FillPortList(this, SurveyPorts(1, kHighestListedPort), "COM", 0);
}

int CSerialComboBox::GetSelectedPort() const {
    if (currentIndex() < 0) {
        return -1;
    }
    // The settings dialogs read their port text by exactly this rule; one conversion serves
    // both, so a text the one accepts the other reads the same.
    return ParseCommSettings(currentText().toStdWString(), {}, {}, {}, {}, {}).PortNumber;
}
