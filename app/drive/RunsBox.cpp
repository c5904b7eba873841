#include "app/drive/RunsBox.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/drive/DrivePage.h"
#include "common/AtomicFile.h"
#include "drive/PecFiles.h"

namespace vinsk {

namespace {

enum TAverageFile : int { AveragePec = 1, AverageEqmod, AverageCelestron, AverageCelestron3600 };

QString Text(const std::string& s) { return QString::fromStdString(s); }

} // namespace

TRunsBox::TRunsBox(TDriveHost& host, QWidget* parent) : QWidget(parent), FHost(host)
{
    setObjectName(QStringLiteral("DriveRuns"));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(6, 2, 6, 2);
    auto* top = new QHBoxLayout;
    FList = new QListWidget(this);
    FList->setObjectName(QStringLiteral("DriveRunsList"));
    FList->setMaximumHeight(84);
    FList->setToolTip(QStringLiteral("The first run is the one before the correction; the analysis on show comes last"));
    top->addWidget(FList, 1);
    auto* buttons = new QVBoxLayout;
    auto* add = new QPushButton(QStringLiteral("Add a saved run…"), this);
    add->setObjectName(QStringLiteral("DriveRunsAdd"));
    auto* remove = new QPushButton(QStringLiteral("Remove"), this);
    remove->setObjectName(QStringLiteral("DriveRunsRemove"));
    FSamePowerUp = new QCheckBox(QStringLiteral("Same power-up"), this);
    FSamePowerUp->setObjectName(QStringLiteral("DriveRunsSamePowerUp"));
    FSamePowerUp->setToolTip(QStringLiteral("The runs' motor counts were taken without switching the mount off in "
                                            "between: a count starts afresh at power-up"));
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addWidget(FSamePowerUp);
    buttons->addStretch(1);
    top->addLayout(buttons);
    v->addLayout(top);
    FTable = new QTableWidget(0, 8, this);
    FTable->setObjectName(QStringLiteral("DriveRunsTable"));
    FTable->verticalHeader()->hide();
    FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    FTable->setMaximumHeight(120);
    v->addWidget(FTable);
    FChanges = new QLabel(this);
    FChanges->setObjectName(QStringLiteral("DriveRunsChanges"));
    FChanges->setWordWrap(true);
    FChanges->setTextInteractionFlags(Qt::TextSelectableByMouse);
    v->addWidget(FChanges);

    connect(add, &QPushButton::clicked, this, [this] { FHost.Run([this] { AddClick(); }); });
    connect(remove, &QPushButton::clicked, this, [this] { FHost.Run([this] { RemoveClick(); }); });
    connect(FSamePowerUp, &QCheckBox::toggled, this, [this] { FHost.Run([this] { Update(); }); });

    FOpenDialog.Name = QStringLiteral("DriveRunOpenDialog");
    FOpenDialog.Title = QStringLiteral("Add a saved run");
    FOpenDialog.Filter = QStringLiteral("JSON report (*.json)|*.json|All files (*)|*");
    FSaveDialog.Name = QStringLiteral("DriveAverageSaveDialog");
    FSaveDialog.Title = QStringLiteral("Save the averaged PEC");
    FSaveDialog.Filter = QStringLiteral("PEC table (*.txt)|*.txt|EQMOD PEC file (*.txt)|*.txt|Celestron PEC file "
                                        "(*.pec)|*.pec|Celestron PEC file, 3600\u2033 table (*.pec)|*.pec");
    FSaveDialog.DefaultExt = QStringLiteral("txt");
    FSaveDialog.EntryExts = {QStringLiteral("txt"), QStringLiteral("txt"), QStringLiteral("pec"), QStringLiteral("pec")};
    FSaveDialog.OverwritePrompt = true;
    Update();
}

void TRunsBox::SetCurrent(const TDriveResult* result)
{
    FCurrent.reset();
    FCurrentNote.clear();
    if (result && !result->Refused()) {
        // Through the report, as a saved run is read.
        TRunRead read = ReadRunReport(DriveJson(*result), "The analysis on show");
        if (read.Run)
            FCurrent = std::move(*read.Run);
        else
            FCurrentNote = Text(read.Message);
    }
    Update();
}

void TRunsBox::AddClick()
{
    const std::optional<TFileChoice> choice = FHost.Dialogs().OpenFile(FOpenDialog);
    if (!choice)
        return;
    TRunRead read = ReadRunReportFile(choice->FileName.toStdString());
    if (!read.Run) {
        FHost.Dialogs().ErrorBox(Text(read.Message));
        return;
    }
    FSaved.push_back(std::move(*read.Run));
    Update();
}

void TRunsBox::RemoveClick()
{
    const int row = FList->currentRow();
    if (row >= 0 && static_cast<std::size_t>(row) < FSaved.size())
        FSaved.erase(FSaved.begin() + row);
    Update();
}

std::vector<TRunReport> TRunsBox::Runs() const
{
    std::vector<TRunReport> runs = FSaved;
    if (FCurrent)
        runs.push_back(*FCurrent);
    return runs;
}

void TRunsBox::SaveAverageClick(bool invert, const std::string& version)
{
    const std::vector<TRunReport> runs = Runs();
    if (runs.size() < 2) {
        FHost.Dialogs().ErrorBox(QStringLiteral("An average needs two runs or more: add saved runs on the Drive "
                                                "tab's Runs figure."));
        return;
    }
    const TRunsAverage average = AverageRuns(runs, CompareRuns(runs, FSamePowerUp->isChecked()));
    if (average.Refused()) {
        FHost.Dialogs().ErrorBox(Text(average.Message));
        return;
    }
    const std::optional<TFileChoice> choice = FHost.Dialogs().SaveFile(FSaveDialog);
    if (!choice)
        return;
    FSaveDialog.FilterIndex = choice->FilterIndex;
    std::string text;
    if (choice->FilterIndex == AveragePec) {
        text = PecTableText(average.Curve);
    } else {
        TPecFileOptions o;
        o.Invert = invert;
        o.CelestronWormArcsec = choice->FilterIndex == AverageCelestron3600 ? 3600 : 7200;
        o.Version = version;
        o.PictureName = "average of " + std::to_string(runs.size()) + " runs from " + runs.front().Name();
        const TDriveResult& c = average.Curve;
        const TPecFile f = choice->FilterIndex == AverageEqmod ? EqmodPecFile(c, c.PhaseInput, o)
                                                               : CelestronPecFile(c, c.PhaseInput, c.Setup.MountSpeed, o);
        if (f.Refused()) {
            FHost.Dialogs().ErrorBox(Text(f.Message));
            return;
        }
        text = f.Text;
    }
    SaveWholeFile(choice->FileName.toStdString(), text);
}

void TRunsBox::Update()
{
    const char sep = FHost.DecimalSeparator();
    const std::vector<TRunReport> runs = Runs();
    FList->clear();
    for (std::size_t i = 0; i < runs.size(); ++i)
        FList->addItem(QString::number(i + 1) + QStringLiteral(". ") +
                       (FCurrent && i + 1 == runs.size() ? QStringLiteral("(on show) ") : QString()) +
                       Text(runs[i].Name()));
    const std::vector<std::vector<std::string>> rows = RunsTable(runs, sep);
    FTable->setRowCount(static_cast<int>(rows.size() - 1));
    for (std::size_t c = 0; c < rows.front().size(); ++c)
        FTable->setHorizontalHeaderItem(static_cast<int>(c), new QTableWidgetItem(Text(rows.front()[c])));
    for (std::size_t r = 1; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
            FTable->setItem(static_cast<int>(r - 1), static_cast<int>(c), new QTableWidgetItem(Text(rows[r][c])));

    QStringList lines;
    if (!FCurrentNote.isEmpty())
        lines << FCurrentNote;
    FCurves.clear();
    FNoCurves = QStringLiteral("Add saved runs (Drive \u2192 Add a saved run…) to compare them with the analysis");
    if (!runs.empty()) {
        const TRunsComparison c = CompareRuns(runs, FSamePowerUp->isChecked());
        if (c.Refused()) {
            lines << Text(c.Message);
            FNoCurves = Text(c.Message);
        } else {
            for (const std::string& line : RunsChanges(runs, c, sep))
                lines << Text(line);
            for (std::size_t i = 0; i < runs.size(); ++i)
                if (c.Rows[i].Alignment != TRunAlignment::None)
                    FCurves.push_back({QString::number(i + 1) + QStringLiteral(". ") + Text(runs[i].Name()),
                                       AlignedCycle(runs[i], c.Rows[i]), false});
            if (runs.size() >= 2) {
                const TRunsAverage a = AverageRuns(runs, c);
                if (a.Refused()) {
                    lines << QStringLiteral("No average: ") + Text(a.Message);
                } else {
                    lines << Text(AverageText(a, sep));
                    std::vector<double> curve = CurveOnAxis(a.Curve);
                    double mean = 0;
                    for (double v : curve)
                        mean += v / curve.size();
                    for (double& v : curve)
                        v -= mean; // drawn as the runs' cycles are, about its mean
                    FCurves.push_back({QStringLiteral("Average"), std::move(curve), true});
                }
            }
        }
    }
    FChanges->setText(lines.join(QLatin1Char('\n')));
    emit Changed();
}

} // namespace vinsk
