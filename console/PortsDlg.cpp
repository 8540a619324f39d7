#include "console/PortsDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "console/MessageBox.h"
#include "console/PortWatch.h"
#include "platform/PortMap.h"
#include "serial/SerialPortList.h"

namespace {

enum Column { kPort, kDevice, kAdapter, kState, kColumns };
constexpr int kHighestPort = 256;
constexpr int kMappedRole = Qt::UserRole;

QString StateText(const PortListing& port) {
    switch (port.state) {
        case PortState::Free:
            return "free";
        case PortState::Busy:
            return QString::fromStdString(port.holder ? platform::InUseBy(*port.holder) : "in use");
        case PortState::NoPermission:
            return "no permission (\"dialout\" group)";
        case PortState::Unplugged:
            return "unplugged";
    }
    return {};
}

// Everything udev says of the adapter, for the person who needs to tell two apart.
QString Details(const platform::PortEntry& entry) {
    const platform::TtyDevice& tty = entry.tty;
    QStringList lines;
    if (!tty.vendorId.empty()) {
        lines << QString("USB %1:%2")
                     .arg(QString::fromStdString(tty.vendorId),
                          QString::fromStdString(tty.productId));
    }
    if (!tty.driver.empty()) {
        lines << "driver " + QString::fromStdString(tty.driver);
    }
    for (const std::string& link : {tty.byId, tty.byPath, entry.identity}) {
        if (!link.empty() && !lines.contains(QString::fromStdString(link))) {
            lines << QString::fromStdString(link);
        }
    }
    return lines.join('\n');
}

}  // namespace

CPortsDlg::CPortsDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Ports");
    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName("portTable");
    table_->setHorizontalHeaderLabels({"Port", "Device", "Adapter", "State"});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setMinimumWidth(640);

    note_ = new QLabel(this);
    note_->setObjectName("portNote");
    note_->setWordWrap(true);

    renumber_ = new QPushButton("Renumber ...", this);
    renumber_->setObjectName("renumberButton");
    forget_ = new QPushButton("Forget", this);
    forget_->setObjectName("forgetButton");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(renumber_, QDialogButtonBox::ActionRole);
    buttons->addButton(forget_, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(renumber_, &QPushButton::clicked, this, &CPortsDlg::OnRenumber);
    connect(forget_, &QPushButton::clicked, this, &CPortsDlg::OnForget);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &CPortsDlg::UpdateButtons);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(note_);
    layout->addWidget(buttons);

    Refresh();
    console::RefillOnPortChanges(this, [this] { Refresh(); });
}

void CPortsDlg::Refresh() {
    const int chosen = ChosenPort(false);
    const std::vector<PortListing> ports = SurveyPorts(1, kHighestPort);
    table_->setRowCount(0);
    bool bySocket = false;
    for (const PortListing& port : ports) {
        const int row = table_->rowCount();
        table_->insertRow(row);
        const QString reason = QString::fromStdString(PortListingReason(port));
        const QString cells[kColumns] = {
            QString("COM%1").arg(port.entry.number),
            QString::fromStdString(port.entry.DeviceName()),
            QString::fromStdString(port.entry.adapter),
            StateText(port),
        };
        for (int column = 0; column < kColumns; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setToolTip(column == kAdapter ? Details(port.entry) : reason);
            table_->setItem(row, column, item);
        }
        table_->item(row, kPort)->setData(Qt::UserRole + 1, port.entry.number);
        table_->item(row, kPort)->setData(kMappedRole, !port.entry.identity.empty());
        bySocket = bySocket || port.entry.identity.starts_with("/dev/serial/by-path/");
        if (port.entry.number == chosen) {
            table_->selectRow(row);
        }
    }
    table_->resizeColumnsToContents();
    QString note = QString("Adapters keep their numbers, across replugging, in %1.")
                       .arg(QString::fromStdString(platform::PortMap::DefaultFile()));
    if (bySocket) {
        note +=
            " An adapter without a serial number is known by the USB socket it is in: plug "
            "it into the same socket to keep its number.";
    }
    note_->setText(note);
    UpdateButtons();
}

int CPortsDlg::ChosenPort(bool mappedOnly) const {
    const QList<QTableWidgetItem*> chosen = table_->selectedItems();
    if (chosen.isEmpty()) {
        return 0;
    }
    const QTableWidgetItem* port = table_->item(chosen.front()->row(), kPort);
    if (mappedOnly && !port->data(kMappedRole).toBool()) {
        return 0;
    }
    return port->data(Qt::UserRole + 1).toInt();
}

void CPortsDlg::UpdateButtons() {
    const bool mapped = ChosenPort(true) > 0;
    renumber_->setEnabled(mapped);
    forget_->setEnabled(mapped);
}

void CPortsDlg::OnRenumber() {
    const int from = ChosenPort(true);
    bool ok = false;
    const int to =
        QInputDialog::getInt(this, "Renumber", QString("New number for COM%1:").arg(from), from, 1,
                             platform::PortMap::kHighestNumber, 1, &ok);
    std::string error;
    if (ok && to != from && !platform::RenumberPort(from, to, error)) {
        console::Tell(this, QString::fromStdString(error));
    }
    Refresh();
}

void CPortsDlg::OnForget() {
    std::string error;
    if (!platform::ForgetPort(ChosenPort(true), error)) {
        console::Tell(this, QString::fromStdString(error));
    }
    Refresh();
}
