#pragma once

#include <QWidget>

class QToolButton;

// A pair of up/down arrow buttons beside an edit, with a position and a range, as a spin button
// control is: it only counts; what the edit shows is up to its owner.
class CSpinButtonCtrl : public QWidget {
    Q_OBJECT

public:
    explicit CSpinButtonCtrl(QWidget* parent = nullptr);

    void SetRange(int lower, int upper);
    void SetPos(int position);  // clamped to the range
    int GetPos() const { return position_; }

signals:
    // An arrow was pressed: the position before the step, and the step (+1 or -1). The position
    // has already moved (within the range) when this is emitted.
    void Stepped(int positionBefore, int delta);

private:
    void Step(int delta);

    QToolButton* up_;
    QToolButton* down_;
    int lower_ = 0;
    int upper_ = 100;
    int position_ = 0;
};
