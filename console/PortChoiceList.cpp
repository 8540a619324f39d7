#include "console/PortChoiceList.h"

#include <QComboBox>
#include <QString>

QComboBox* MakePortChoiceList(const char* format, const std::vector<int>& ports, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setObjectName("portList");
    // Wide enough for "-- Select One --" whatever the ports are.
    list->setMinimumContentsLength(16);
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    list->addItem("-- Select One --");
    for (int port : ports) {
        list->addItem(QString::asprintf(format, port));
    }
    list->model()->sort(0);
    list->setCurrentIndex(0);
    return list;
}
