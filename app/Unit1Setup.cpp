// The Setup tab: the nine experiment fields, the optics calculator's panel
// and the settings file.
#include "app/Unit1.h"

#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/widgets/SpinEdits.h"
#include "setup/FileValues.h"
#include "setup/Optics.h"
#include "setup/SettingsFile.h"

namespace vinsk {

namespace {

QLabel* NewLabel(QWidget* parent, const char* name, const QString& caption)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

QLabel* Heading(QWidget* parent, const char* name, const QString& caption)
{
    QLabel* l = NewLabel(parent, name, caption);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

QLabel* TitleHeading(QWidget* parent, const char* name, const QString& caption)
{
    QLabel* l = NewLabel(parent, name, caption);
    QFont f(QStringLiteral("Arial"), 12);
    f.setBold(true);
    l->setFont(f);
    return l;
}

} // namespace

QWidget* TVinsk_main::BuildSetupTab()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("TabSheet1"));
    const auto& fields = SetupFields();
    const char sep = FState.DecimalSeparator;

    for (std::size_t i = 0; i < SetupEdits.size(); ++i) {
        auto* e = new TFloatSpinEdit(sep, tab);
        e->setObjectName(QLatin1String(fields[i].Name));
        e->setToolTip(QString::fromUtf8(fields[i].Hint));
        e->setFixedWidth(80);
        e->SetValue(static_cast<long double>(FState.Experiment.*(fields[i].Param)) / fields[i].Factor);
        SetupEdits[i] = e;
    }
    auto caption = [&](std::size_t i) { return QString::fromUtf8(fields[i].Caption); };

    // Input fields, left.
    auto* input = new QWidget(tab);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    int row = 0;
    grid->addWidget(Heading(input, "Label2", QStringLiteral("Mount:")), row++, 0, 1, 5);
    grid->addWidget(NewLabel(input, "Label3", caption(0)), row, 0);
    grid->addWidget(SetupEdits[0], row++, 1);
    grid->addWidget(Heading(input, "Label4", QStringLiteral("Camera:")), row++, 0, 1, 5);
    grid->addWidget(NewLabel(input, "Label5", caption(1)), row, 0);
    grid->addWidget(SetupEdits[1], row, 1);
    grid->addWidget(NewLabel(input, "Label6", QStringLiteral("x")), row, 2, Qt::AlignCenter);
    grid->addWidget(SetupEdits[2], row++, 3);
    grid->addWidget(NewLabel(input, "Label7", caption(3)), row, 0);
    grid->addWidget(SetupEdits[3], row, 1);
    grid->addWidget(NewLabel(input, "Label8", QStringLiteral("x")), row, 2, Qt::AlignCenter);
    grid->addWidget(SetupEdits[4], row++, 3);
    grid->addWidget(Heading(input, "Label9", QStringLiteral("Lens (scope):")), row++, 0, 1, 5);
    grid->addWidget(NewLabel(input, "Label13", caption(5)), row, 0);
    grid->addWidget(SetupEdits[5], row++, 1);
    grid->addWidget(NewLabel(input, "Label14", caption(6)), row, 0);
    grid->addWidget(SetupEdits[6], row++, 1);
    grid->addWidget(Heading(input, "Label15", QStringLiteral("Exposition:")), row++, 0, 1, 5);
    grid->addWidget(NewLabel(input, "Label17", caption(7)), row, 0);
    grid->addWidget(SetupEdits[7], row, 1);
    Label16 = NewLabel(input, "Label16", QStringLiteral("(i. e. 8 min.)"));
    QFont italic = Label16->font();
    italic.setItalic(true);
    Label16->setFont(italic);
    grid->addWidget(Label16, row++, 2, 1, 3);
    grid->addWidget(NewLabel(input, "Label18", caption(8)), row, 0);
    grid->addWidget(SetupEdits[8], row++, 1);
    grid->setColumnStretch(4, 1);

    BitBtn1 = new QPushButton(QStringLiteral("&Open setings"), input);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setToolTip(QStringLiteral("Open experiment setings"));
    BitBtn2 = new QPushButton(QStringLiteral("&Save setings"), input);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setToolTip(QStringLiteral("Save experiment setings"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    buttons->addStretch(1);

    auto* left = new QVBoxLayout(input);
    left->setContentsMargins(12, 8, 12, 8);
    left->addWidget(TitleHeading(input, "Label1", QStringLiteral("Input data:")));
    left->addSpacing(6);
    left->addLayout(grid);
    left->addSpacing(16);
    left->addLayout(buttons);
    left->addStretch(1);

    // The optics calculator's results, right.
    auto* panel = new QFrame(tab);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFixedWidth(224);
    auto* right = new QVBoxLayout(panel);
    right->setContentsMargins(8, 8, 8, 8);
    right->setSpacing(2);
    right->addWidget(TitleHeading(panel, "Label19", QStringLiteral("Statistic:")));
    right->addSpacing(4);
    auto result = [&](QLabel*& target, const char* name, const char* initial) {
        target = NewLabel(panel, name, QLatin1String(initial));
        right->addWidget(target);
    };
    auto group = [&](const char* name, const QString& text) {
        right->addSpacing(6);
        QLabel* heading = Heading(panel, name, text);
        // Wider fonts than the panel was drawn for would cut a long heading.
        heading->setWordWrap(true);
        right->addWidget(heading);
    };
    group("Label20", QStringLiteral("Angle per pixel [\"/pix]:"));
    result(Label10, "Label10", "width:");
    result(Label11, "Label11", "height:");
    result(Label12, "Label12", "diagonal:");
    group("Label21", QStringLiteral("Angle per sensor [ ' ]"));
    result(Label22, "Label22", "width:");
    result(Label23, "Label23", "height:");
    result(Label24, "Label24", "diagonal:");
    group("Label28", QStringLiteral("Max. exposition time"));
    result(Label27, "Label27", "width:");
    result(Label26, "Label26", "height:");
    result(Label25, "Label25", "diagonal:");
    group("Label29", QStringLiteral("Exposition angle on the sensor"));
    result(Label30, "Label30", "angle [']:");
    result(Label33, "Label33", "ratio of the width [%]:");
    result(Label31, "Label31", "ratio of the height [%]:");
    result(Label32, "Label32", "ratio of the diagonal [%]:");
    right->addStretch(1);
    BitBtn7 = new QPushButton(QStringLiteral("Next >>  Open i&mage"), panel);
    BitBtn7->setObjectName(QStringLiteral("BitBtn7"));
    right->addWidget(BitBtn7);

    auto* layout = new QHBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(input, 1);
    layout->addWidget(panel);

    Wire(SetupEdits[0], &TFloatSpinEdit::Change, &TVinsk_main::RxSpinEdit1Change);
    Wire(SetupEdits[1], &TFloatSpinEdit::Change, &TVinsk_main::RxSpinEdit2Change);
    Wire(SetupEdits[2], &TFloatSpinEdit::Change, &TVinsk_main::RxSpinEdit3Change);
    Wire(SetupEdits[3], &TFloatSpinEdit::Change, &TVinsk_main::RxSpinEdit4Change);
    Wire(SetupEdits[4], &TFloatSpinEdit::Change, &TVinsk_main::RxSpinEdit5Change);
    Wire(SetupEdits[5], &TFloatSpinEdit::Change, &TVinsk_main::RxSpinEdit6Change);
    Wire(SetupEdits[6], &TFloatSpinEdit::Change, &TVinsk_main::RxSpinEdit7Change);
    Wire(SetupEdits[7], &TFloatSpinEdit::Change, &TVinsk_main::RxSpinEdit8Change);
    Wire(SetupEdits[8], &TFloatSpinEdit::Change, &TVinsk_main::RxSpinEdit9Change);
    Wire(BitBtn1, &QPushButton::clicked, &TVinsk_main::OpenFile);
    Wire(BitBtn2, &QPushButton::clicked, &TVinsk_main::SaveFile);
    Wire(BitBtn7, &QPushButton::clicked, &TVinsk_main::BitBtn7Click);

    OpenDialog1.Filter = QString::fromLatin1(SettingsFilter);
    SaveDialog1.Filter = QString::fromLatin1(SettingsFilter);
    SaveDialog1.DefaultExt = QStringLiteral("ini");
    SaveDialog1.OverwritePrompt = true;
    return tab;
}

void TVinsk_main::CaclValue()
{
    const TOpticsTexts t = OpticsTexts(FState.Experiment, FState.DecimalSeparator);
    const std::pair<QLabel*, const std::string*> labels[] = {
        {Label10, &t.Label10}, {Label11, &t.Label11}, {Label12, &t.Label12}, {Label22, &t.Label22},
        {Label23, &t.Label23}, {Label24, &t.Label24}, {Label27, &t.Label27}, {Label26, &t.Label26},
        {Label25, &t.Label25}, {Label30, &t.Label30}, {Label33, &t.Label33}, {Label31, &t.Label31},
        {Label32, &t.Label32},
    };
    for (const auto& [label, text] : labels)
        label->setText(QString::fromStdString(*text));
}

void TVinsk_main::SetupFieldChange(int index)
{
    const std::string text = SetupEdits[static_cast<std::size_t>(index)]->Text().toStdString();
    SetParamFromFieldText(FState.Experiment, index, text, FState.DecimalSeparator);
    SetParamFromFieldText(FDriveSetup, index, text, FState.DecimalSeparator);
    CaclValue();
}

void TVinsk_main::RxSpinEdit1Change() { SetupFieldChange(0); }
void TVinsk_main::RxSpinEdit2Change() { SetupFieldChange(1); }
void TVinsk_main::RxSpinEdit3Change() { SetupFieldChange(2); }
void TVinsk_main::RxSpinEdit4Change() { SetupFieldChange(3); }
void TVinsk_main::RxSpinEdit5Change() { SetupFieldChange(4); }
void TVinsk_main::RxSpinEdit6Change() { SetupFieldChange(5); }
void TVinsk_main::RxSpinEdit7Change() { SetupFieldChange(6); }

void TVinsk_main::RxSpinEdit8Change()
{
    SetupFieldChange(7);
    Label16->setText(QString::fromStdString(ExposureNoteText(SetupEdits[7]->Value(), FState.DecimalSeparator)));
}

void TVinsk_main::RxSpinEdit9Change() { SetupFieldChange(8); }

void TVinsk_main::SaveFile()
{
    const std::optional<TFileChoice> choice = FDialogs.SaveFile(SaveDialog1);
    if (!choice)
        return;
    SaveDialog1.FilterIndex = choice->FilterIndex;
    SaveSettingsFile(choice->FileName.toStdString(), FState.Experiment, TabSheet4->Settings(), FState.DecimalSeparator);
}

void TVinsk_main::OpenFile()
{
    const std::optional<TFileChoice> choice = FDialogs.OpenFile(OpenDialog1);
    if (!choice)
        return;
    OpenDialog1.FilterIndex = choice->FilterIndex;
    const std::string path = choice->FileName.toStdString();
    const TSettingsLoad load = LoadSettingsFile(path, FState.Experiment, TabSheet4->Settings(), FState.DecimalSeparator);
    // The drive's values: a key the file lacks keeps the drive's own value.
    const TSettingsLoad exact = LoadSettingsFile(path, FDriveSetup, FState.DecimalSeparator);
    if (load.VersionMismatch)
        FDialogs.WarningBox(QString::fromLatin1(SettingsVersionWarning));
    SetSetupFields(load.Values.data(), load.Values.size());
    SetDriveSetup(exact.Values.data(), exact.Values.size());
    SetOff([&] { TabSheet4->SetSettings(load.Drive); });
    // Values the file holds but that are no number kept their fields: say
    // which, and take back the note of an earlier file once all were read.
    std::string& panel = FState.Status.Panels[PanelPrompt];
    const std::string note = UnreadSettingsText(load);
    if (!note.empty())
        panel = note;
    else if (!FSettingsNote.empty() && panel == FSettingsNote)
        panel.clear();
    FSettingsNote = note;
}

void TVinsk_main::SetSetupFields(const TSettingsValue* values, std::size_t count)
{
    // Each value goes through its field, in reading order: the field shows
    // it with one decimal and, if that text is new, its change handler sets
    // the parameter from the text.
    const auto& fields = SetupFields();
    for (const TSettingsValue* v = values; v != values + count; ++v)
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (std::string_view(fields[i].Name) == v->FieldName)
                SetOff([&] { SetupEdits[i]->SetValue(v->Value); });
}

void TVinsk_main::OfferFileValues(const TFileSetupValues& values)
{
    // The header's keys that hold no usable number, each with the value its
    // field keeps.
    const QString unusable =
        QString::fromStdString(UnusableFileValuesText(values, FState.Experiment, FState.DecimalSeparator));
    if (!values.Any()) {
        if (!unusable.isEmpty())
            FDialogs.WarningBox(unusable);
        return;
    }
    QString question = QString::fromStdString(FileValuesQuestion(values, FState.DecimalSeparator));
    if (!unusable.isEmpty())
        question += QStringLiteral("\n") + unusable;
    if (!FDialogs.Question(QStringLiteral("Confirm"), question))
        return;
    const std::vector<TSettingsValue> fields = FileValuesForFields(values);
    SetSetupFields(fields.data(), fields.size());
    SetDriveSetup(fields.data(), fields.size());
    TabSheet4->TakeFilePhase(values);
}

void TVinsk_main::SetDriveSetup(const TSettingsValue* values, std::size_t count)
{
    SetExactParams(FDriveSetup, values, count);
    DriveInputsChanged();
}

} // namespace vinsk
