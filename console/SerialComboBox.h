#pragma once

#include <QComboBox>
#include <vector>

// A drop-down list of the machine's serial ports, "COM<n>" each, filled once when it is made and
// never again. A port another program holds is listed too. The entries carry no data: the port
// number is always read back from the text.
class CSerialComboBox : public QComboBox {
    Q_OBJECT

public:
    // Fills the list from EnumerateSerialPorts.
    explicit CSerialComboBox(QWidget* parent = nullptr);
    // Fills the list from ports the owner has already found, in the order given.
    explicit CSerialComboBox(const std::vector<int>& ports, QWidget* parent = nullptr);

    // -1 when nothing is selected; otherwise the selected text without its first three
    // characters as a decimal number (0 when that is not a number).
    int GetSelectedPort() const;

private:
    void Fill(const std::vector<int>& ports);
};
