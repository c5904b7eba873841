#include "app/widgets/SpinEdits.h"

#include <QLineEdit>

#include <algorithm>
#include <charconv>
#include <string>

#include "common/NumText.h"

namespace vinsk {

TSpinEditBase::TSpinEditBase(QWidget* parent) : QAbstractSpinBox(parent)
{
    setKeyboardTracking(true);
    setAccelerated(false);
    connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEditBase::Change);
}

QString TSpinEditBase::Text() const
{
    return lineEdit()->text();
}

void TSpinEditBase::SetText(const QString& text)
{
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
}

void TSpinEditBase::stepBy(int steps)
{
    if (isReadOnly() || steps == 0)
        return;
    Step(steps);
    selectAll();
}

QAbstractSpinBox::StepEnabled TSpinEditBase::stepEnabled() const
{
    if (isReadOnly() || !isEnabled())
        return StepNone;
    return StepUpEnabled | StepDownEnabled;
}

QValidator::State TSpinEditBase::validate(QString&, int&) const
{
    return QValidator::Acceptable;
}

void TSpinEditBase::fixup(QString&) const {}

TFloatSpinEdit::TFloatSpinEdit(char decimalSep, QWidget* parent) : TSpinEditBase(parent), FSep(decimalSep) {}

long double TFloatSpinEdit::Value() const
{
    return TextToFloatOrZero(Text().toStdString(), FSep);
}

void TFloatSpinEdit::SetValue(long double v)
{
    SetText(QString::fromStdString(FixedText1(v, FSep)));
}

void TFloatSpinEdit::Step(int steps)
{
    SetValue(Value() + steps);
}

TIntSpinEdit::TIntSpinEdit(QWidget* parent) : TSpinEditBase(parent)
{
    SetText(QStringLiteral("0"));
}

std::int32_t TIntSpinEdit::TextToInt(const QString& text)
{
    const std::string s = text.trimmed().toStdString();
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (first != last && *first == '+')
        ++first;
    std::int32_t v = 0;
    const auto r = std::from_chars(first, last, v);
    if (r.ec != std::errc() || r.ptr != last || first == last)
        return 0;
    return v;
}

std::int32_t TIntSpinEdit::Value() const
{
    return TextToInt(Text());
}

std::int64_t TIntSpinEdit::Limited(std::int64_t v) const
{
    if (FMin < FMax)
        return std::clamp<std::int64_t>(v, FMin, FMax);
    return v;
}

void TIntSpinEdit::SetValue(std::int64_t v)
{
    SetText(QString::number(Limited(v)));
}

void TIntSpinEdit::SetLimits(std::int32_t minValue, std::int32_t maxValue)
{
    FMin = minValue;
    FMax = maxValue;
}

void TIntSpinEdit::Step(int steps)
{
    SetValue(static_cast<std::int64_t>(Value()) + steps);
}

void TIntSpinEdit::focusOutEvent(QFocusEvent* e)
{
    if (FMin < FMax)
        SetValue(Value());
    TSpinEditBase::focusOutEvent(e);
}

} // namespace vinsk
