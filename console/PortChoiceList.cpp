#include "console/PortChoiceList.h"

#include <QComboBox>
#include <string>

#include "console/PortListFill.h"
#include "console/PortWatch.h"

QComboBox* MakePortChoiceList(std::string_view prefix, int first, int last, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setObjectName("portList");
    // Wide enough for "-- Select One --" and an adapter's name.
    list->setMinimumContentsLength(16);
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    list->addItem("-- Select One --");
    const auto refill = [list, prefix = std::string(prefix), first, last] {
        console::FillPortList(list, SurveyPorts(first, last), prefix, 1);
    };
    refill();
    list->setCurrentIndex(0);
    console::RefillOnPortChanges(list, refill);
    console::ExplainChoices(list);
    return list;
}
