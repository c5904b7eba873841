// The Drive tab's runs: saved reports added by the user and the analysis on
// show, compared with the first (the run before the correction) in a table
// under the chart's Runs figure, and averaged into one PEC curve.
#pragma once

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

#include "app/dialogs/Dialogs.h"
#include "app/drive/DriveChart.h"
#include "drive/Runs.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QTableWidget;

namespace vinsk {

class TDriveHost;

class TRunsBox : public QWidget {
    Q_OBJECT
public:
    TRunsBox(TDriveHost& host, QWidget* parent = nullptr);

    // The analysis on show joins the runs, last; null when there is none.
    void SetCurrent(const TDriveResult* result);
    // Asks for a saved report and adds it; a file that is no run gives its
    // message in an error box and changes nothing.
    void AddClick();
    void RemoveClick();
    // Asks for a file and writes the averaged curve as a PEC table or a
    // mount's PEC file; refusals in an error box.
    void SaveAverageClick(bool invert, const std::string& version);

    // In the order compared: the saved runs as added, then the analysis.
    std::vector<TRunReport> Runs() const;
    std::vector<TRunCurve> Curves() const { return FCurves; }
    QString NoCurves() const { return FNoCurves; }

signals:
    void Changed();

private:
    void Update();

    TDriveHost& FHost;
    std::vector<TRunReport> FSaved;
    std::optional<TRunReport> FCurrent;
    QString FCurrentNote; // why the analysis on show is no run
    std::vector<TRunCurve> FCurves;
    QString FNoCurves;
    QListWidget* FList = nullptr;
    QCheckBox* FSamePowerUp = nullptr;
    QTableWidget* FTable = nullptr;
    QLabel* FChanges = nullptr;
    TFileDialog FOpenDialog, FSaveDialog;
};

} // namespace vinsk
