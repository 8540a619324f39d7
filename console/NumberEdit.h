#pragma once

#include <QLineEdit>

// An edit for a decimal number as the user writes it: digits, the user's decimal separator once,
// and the user's negative sign at the very start. Anything else is refused as typed.
class CNumberEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit CNumberEdit(QWidget* parent = nullptr);

    QChar DecimalSeparator() const { return decimal_; }
    QChar NegativeSign() const { return negative_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QChar decimal_;
    QChar negative_;
};
