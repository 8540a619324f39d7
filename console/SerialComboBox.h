#pragma once

#include <QComboBox>

// A drop-down list of the machine's serial ports, one entry a port from COM1 to COM255 as
// PortListFill.h writes them ("COM33  ttyUSB0  FTDI ..."), ordered by number, the first chosen;
// made again whenever a serial device appears or goes. A port another program holds is listed
// too. The port number is always read back from the text.
class CSerialComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit CSerialComboBox(QWidget* parent = nullptr);

    // -1 when nothing is selected; otherwise the selected text without its first three
    // characters as a decimal number (0 when that is not a number).
    int GetSelectedPort() const;

private:
    void Fill();
};
