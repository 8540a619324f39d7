#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

// "Ports": every port the program knows, with its number, its device, the adapter behind it and
// whether it can be used now (free, in use and by whom, no permission, unplugged). An adapter
// the port map binds can be given another number, or forgotten so that it is numbered anew the
// next time it is seen. Kept up to date as devices come and go.
class CPortsDlg : public QDialog {
    Q_OBJECT

public:
    explicit CPortsDlg(QWidget* parent = nullptr);

    // Lists the ports again.
    void Refresh();

private:
    void OnRenumber();
    void OnForget();
    void UpdateButtons();
    // The port number of the chosen row, or 0; only rows the map binds when mappedOnly.
    int ChosenPort(bool mappedOnly) const;

    QTableWidget* table_;
    QLabel* note_;
    QPushButton* renumber_;
    QPushButton* forget_;
};
