// The Graph tab: the chart, the controls of the plotting run, and the export
// of the figure.
#include "app/Unit1.h"

#include <QCheckBox>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <optional>

#include "app/chart/Chart1.h"
#include "app/widgets/ImageView.h"
#include "app/widgets/RadioGroup.h"
#include "app/widgets/SpinEdits.h"
#include "figures/CsvExport.h"

namespace vinsk {

namespace {

// Entries of the save dialog's filter, 1-based as the dialog reports them.
enum TPictureFilter : int { FilterBmp = 1, FilterWmf = 2, FilterEmf = 3, FilterCsv = 4, FilterAll = 5 };

bool SameFigure(const TChartModel& a, const TChartModel& b)
{
    return a.Title == b.Title && a.BottomCaption == b.BottomCaption && a.LeftCaption == b.LeftCaption &&
           a.BottomLogarithmic == b.BottomLogarithmic && a.Points == b.Points;
}

} // namespace

QWidget* TVinsk_main::BuildGraphTab()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("TabSheet3"));

    Chart1 = new TChart1(tab);
    Chart1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    auto* panel = new QFrame(tab);
    panel->setObjectName(QStringLiteral("Panel3"));
    panel->setFrameShape(QFrame::StyledPanel);
    // 185 pixels, wider when a statistics line needs it: a number must never
    // be cut.
    panel->setMinimumWidth(185);
    panel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
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
    Label40 = stat("Label40", QString::fromStdString(FState.Statistics.Label40));
    Label42 = stat("Label42", QString::fromStdString(FState.Statistics.Label42));
    Label43 = stat("Label43", QString::fromStdString(FState.Statistics.Label43));

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

    Wire(BitBtn8, &QPushButton::clicked, &TVinsk_main::ShowGraph);
    Wire(RadioGroup2, &TRadioGroup::Click, &TVinsk_main::ShowGraph);
    Wire(RadioGroup1, &TRadioGroup::Click, &TVinsk_main::ShowGraph);
    // Only the user's click plots: the run unticks the box itself and
    // plots the figure again on its own.
    Wire(chLog, &QCheckBox::clicked, &TVinsk_main::ShowGraph);
    Wire(CheckBox2, &QCheckBox::clicked, &TVinsk_main::CheckBox2Click);
    Wire(RxSpinEdit16, &TIntSpinEdit::Change, &TVinsk_main::RxSpinEdit16Change);
    Wire(Chart1, &TChart1::ClickSeries, &TVinsk_main::Chart1ClickSeries);
    Wire(BitBtn11, &QPushButton::clicked, &TVinsk_main::BitBtn11Click);

    SavePictureDialog1.Name = QStringLiteral("SavePictureDialog1");
    SavePictureDialog1.Title = QStringLiteral("Save graph of the Periodic Error");
    SavePictureDialog1.Filter = QStringLiteral(
        "Bitmap picture (*.BMP)|*.bmp|Metafile picture (*.WMF)|*.wmf|Enhaced metafile picture (*.EMF)|*.emf|"
        "Excel CSV file (*.csv)|*.csv|All files (*.*)|*.*");
    SavePictureDialog1.DefaultExt = QStringLiteral("BMP");
    // A name typed without an extension gets the one of the format written
    // (the "All files" entry writes a bitmap).
    SavePictureDialog1.EntryExts = {QStringLiteral("BMP"), QStringLiteral("WMF"), QStringLiteral("EMF"),
                                    QStringLiteral("CSV"), QStringLiteral("BMP")};
    SavePictureDialog1.FilterIndex = FilterBmp;
    SavePictureDialog1.OverwritePrompt = false;
    return tab;
}

void TVinsk_main::ShowGraph()
{
    const TChartModel before = FState.Chart;
    FFigureDue = false;
    try {
        RunPlot(FState, *this);
    } catch (...) {
        // An abandoned run shows what it already plotted, if anything.
        ShowFigure(!SameFigure(FState.Chart, before));
        throw;
    }
    ShowFigure(FFigureDue);
}

void TVinsk_main::ShowFigure(bool redrawChart)
{
    if (redrawChart)
        Chart1->Show(FState.Chart);
    Label40->setText(QString::fromStdString(FState.Statistics.Label40));
    Label42->setText(QString::fromStdString(FState.Statistics.Label42));
    Label43->setText(QString::fromStdString(FState.Statistics.Label43));
}

void TVinsk_main::CheckBox2Click()
{
    const bool on = CheckBox2->isChecked();
    RxSpinEdit16->setEnabled(on);
    Label36->setEnabled(on);
    ShowGraph();
}

void TVinsk_main::RxSpinEdit16Change()
{
    CheckBox2Click();
}

void TVinsk_main::Chart1ClickSeries(int valueIndex)
{
    PostPointValue(FState, static_cast<std::size_t>(valueIndex));
}

void TVinsk_main::BitBtn11Click()
{
    const std::optional<TFileChoice> choice = FDialogs.SaveFile(SavePictureDialog1);
    if (!choice)
        return;
    // The dialog opens the next time with the entry chosen now.
    SavePictureDialog1.FilterIndex = choice->FilterIndex;
    const QString& name = choice->FileName;
    if (choice->FilterIndex != FilterCsv)
        LayOutPage(TabSheet3); // pictures have the chart's on-screen size
    switch (choice->FilterIndex) {
    case FilterWmf:
        SavePictureDialog1.DefaultExt = QStringLiteral("WMF");
        Chart1->SaveWmf(name);
        break;
    case FilterEmf:
        SavePictureDialog1.DefaultExt = QStringLiteral("EMF");
        Chart1->SaveEmf(name);
        break;
    case FilterCsv:
        SavePictureDialog1.DefaultExt = QStringLiteral("CSV");
        SaveChartCsv(FState.Chart, name.toStdString(), FState.DecimalSeparator);
        break;
    default: // FilterBmp, FilterAll
        SavePictureDialog1.DefaultExt = QStringLiteral("BMP");
        Chart1->SaveBmp(name);
        break;
    }
}

int TVinsk_main::LayerCount() const
{
    return Image1->LayerCount();
}

TCheckPointEdits TVinsk_main::ReadCheckPointEdits() const
{
    TCheckPointEdits edits{};
    for (std::size_t k = 0; k < 3; ++k)
        for (std::size_t c = 0; c < 2; ++c)
            edits[2 * k + c] = PointEdits[k][c]->Value();
    return edits;
}

TGraphChoices TVinsk_main::ReadChoices() const
{
    TGraphChoices choices;
    choices.Figure = RadioGroup2->ItemIndex();
    choices.Channel = RadioGroup1->ItemIndex();
    choices.AverageLine = CheckBox2->isChecked();
    choices.AverageWidth = RxSpinEdit16->Value();
    choices.LogScale = chLog->isChecked();
    return choices;
}

void TVinsk_main::ShowError(const std::string& message)
{
    FDialogs.ErrorBox(QString::fromStdString(message));
}

void TVinsk_main::ActivateGraphTab()
{
    FFigureDue = true;
    PageControl1->setCurrentWidget(TabSheet3);
}

void TVinsk_main::ClearLogBox()
{
    // setChecked emits no click, so nothing else plots.
    chLog->setChecked(false);
}

} // namespace vinsk
