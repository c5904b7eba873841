// The Graph tab: the chart and the controls of the plotting run.
#include "app/Unit1.h"

#include <QCheckBox>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/widgets/RadioGroup.h"
#include "app/widgets/SpinEdits.h"

namespace vinsk {

QWidget* TVinsk_main::BuildGraphTab()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("TabSheet3"));

    // Where the chart goes.
    Chart1 = new QWidget(tab);
    Chart1->setObjectName(QStringLiteral("Chart1"));
    Chart1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    auto* panel = new QFrame(tab);
    panel->setObjectName(QStringLiteral("Panel3"));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFixedWidth(185);
    auto* v = new QVBoxLayout(panel);
    v->setContentsMargins(6, 6, 6, 6);
    v->setSpacing(4);

    BitBtn8 = new QPushButton(QStringLiteral("Plot &Graph"), panel);
    BitBtn8->setObjectName(QStringLiteral("BitBtn8"));
    BitBtn8->setToolTip(QStringLiteral("Plot the graph of the PE"));
    v->addWidget(BitBtn8);

    RadioGroup2 = new TRadioGroup(
        QStringLiteral(" &Figure "),
        {QStringLiteral("Line profile"), QStringLiteral("Periodic error"), QStringLiteral("Error estimation"),
         QStringLiteral("Spectrum")},
        1, panel);
    RadioGroup2->setObjectName(QStringLiteral("RadioGroup2"));
    RadioGroup2->NameItems();
    RadioGroup2->SetItemIndex(0);
    v->addWidget(RadioGroup2);

    RadioGroup1 = new TRadioGroup(QStringLiteral(" &Channel "),
                                  {QStringLiteral("R"), QStringLiteral("G"), QStringLiteral("B"), QStringLiteral("Avg")},
                                  3, panel);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    RadioGroup1->NameItems();
    RadioGroup1->SetItemIndex(3);
    v->addWidget(RadioGroup1);

    chLog = new QCheckBox(QStringLiteral("&Logaritmic scale"), panel);
    chLog->setObjectName(QStringLiteral("chLog"));
    v->addWidget(chLog);

    CheckBox2 = new QCheckBox(QStringLiteral("&Average line"), panel);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    v->addWidget(CheckBox2);

    Label36 = new QLabel(QStringLiteral("&Pixels:"), panel);
    Label36->setObjectName(QStringLiteral("Label36"));
    RxSpinEdit16 = new TIntSpinEdit(panel);
    RxSpinEdit16->setObjectName(QStringLiteral("RxSpinEdit16"));
    RxSpinEdit16->setToolTip(QStringLiteral("Number pixels for the average"));
    RxSpinEdit16->SetLimits(2, 100);
    RxSpinEdit16->SetValue(2);
    RxSpinEdit16->setFixedWidth(60);
    Label36->setBuddy(RxSpinEdit16);
    Label36->setEnabled(false);
    RxSpinEdit16->setEnabled(false);
    auto* pixels = new QHBoxLayout;
    pixels->setContentsMargins(18, 0, 0, 0);
    pixels->addWidget(Label36);
    pixels->addWidget(RxSpinEdit16);
    pixels->addStretch(1);
    v->addLayout(pixels);

    v->addSpacing(8);
    auto* heading = new QLabel(QStringLiteral("Statistic:"), panel);
    heading->setObjectName(QStringLiteral("Label39"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    v->addWidget(heading);
    auto stat = [&](const char* name, const QString& caption) {
        auto* l = new QLabel(caption, panel);
        l->setObjectName(QLatin1String(name));
        v->addWidget(l);
        return l;
    };
    Label40 = stat("Label40", QStringLiteral("Min/Max PE [\"]:  -0 / +0"));
    Label42 = stat("Label42", QStringLiteral("68% interval[\"]:  -0 / +0"));
    Label43 = stat("Label43", QStringLiteral("99% interval [\"]:  -0 / +0"));

    v->addStretch(1);
    BitBtn11 = new QPushButton(QStringLiteral("&Save graph"), panel);
    BitBtn11->setObjectName(QStringLiteral("BitBtn11"));
    BitBtn11->setToolTip(QStringLiteral("Save graph"));
    v->addWidget(BitBtn11);

    auto* layout = new QHBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Chart1, 1);
    layout->addWidget(panel);
    return tab;
}

} // namespace vinsk
