// Numeric spin edits that work on their text: no limits unless given, any
// text accepted while typing (text that does not parse reads as 0), a change
// notice for every change of the text and only then, and steps of 1 from the
// arrows, the spin buttons and the wheel.
#pragma once

#include <QAbstractSpinBox>
#include <QString>

#include <cstdint>

namespace vinsk {

class TSpinEditBase : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit TSpinEditBase(QWidget* parent = nullptr);

    QString Text() const;
    // Replaces the text only when it differs; only a replaced text notifies.
    void SetText(const QString& text);

    void stepBy(int steps) override;

signals:
    void Change();

protected:
    StepEnabled stepEnabled() const override;
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

    virtual void Step(int steps) = 0;
};

// A floating-point field: the program sets values with one decimal.
class TFloatSpinEdit : public TSpinEditBase {
    Q_OBJECT
public:
    explicit TFloatSpinEdit(char decimalSep, QWidget* parent = nullptr);

    long double Value() const;
    void SetValue(long double v);
    char DecimalSeparator() const { return FSep; }

protected:
    void Step(int steps) override;

private:
    char FSep;
};

// An integer field. With MinValue < MaxValue the value the program sets is
// kept within them, and typed text outside them is corrected when the field
// loses the focus; until then it is used as typed.
class TIntSpinEdit : public TSpinEditBase {
    Q_OBJECT
public:
    explicit TIntSpinEdit(QWidget* parent = nullptr);

    std::int32_t Value() const;
    void SetValue(std::int64_t v);
    void SetLimits(std::int32_t minValue, std::int32_t maxValue);

    // Integer text to value: blanks around it allowed, anything else is 0.
    static std::int32_t TextToInt(const QString& text);

protected:
    void Step(int steps) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    std::int64_t Limited(std::int64_t v) const;

    std::int32_t FMin = 0;
    std::int32_t FMax = 0;
};

} // namespace vinsk
