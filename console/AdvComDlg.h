#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include "serial/CommSettings.h"

class QComboBox;
class QPushButton;
class QShowEvent;
class CSerialPort;

// "Advanced COM Settings": edits one CommSettings record in full, and can try the settings on a
// device before they are accepted. The caller fills Settings and TestDevice, runs the dialog and
// copies Settings back only when it was accepted; "Test Settings ..." changes Settings too, so a
// cancelled run must not be copied.
class CAdvComDlg : public QDialog {
    Q_OBJECT

public:
    static inline const QString kSelectOne = QStringLiteral("-- Select One --");
    // What the lists offer, and so every rate and width a record can be given here. "152000" is
    // what the list has always offered; it is not a typing slip for 115200, and a record with
    // 115200 shows "-- Select One --".
    static inline const QStringList kBaudRates = {"300",   "2400",  "9600",  "14400",
                                                  "28800", "38400", "57600", "152000"};
    static inline const QStringList kDataBits = {"5", "6", "7", "8"};

    explicit CAdvComDlg(QWidget* parent = nullptr);

    CommSettings Settings;
    // The device whose TestCommSettings "Test Settings ..." calls. Not owned; may be null, and
    // then every test fails.
    CSerialPort* TestDevice = nullptr;

public slots:
    void OnTestSettings();
    // OK: refused while any list still says "-- Select One --".
    void accept() override;

protected:
    // Each time the dialog is shown it starts afresh from Settings, as the caller left it.
    void showEvent(QShowEvent* event) override;

private:
    void Start();
    // The record as the six lists now show it.
    CommSettings ReadLists() const;

    QComboBox* port_;
    QComboBox* baud_;
    QComboBox* dataBits_;
    QComboBox* parity_;
    QComboBox* stopBits_;
    QComboBox* flowControl_;
    QPushButton* test_;
    QPushButton* ok_;
    QPushButton* cancel_;
};
