// The command-line analyser: one plotting run on a picture file, the same
// way the window does it, with its CSV text and statistics as output.
#pragma once

#include <array>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "figures/PlotRun.h"
#include "linear/ToneCurve.h"
#include "setup/DriveSettings.h"
#include "setup/FileValues.h"

namespace vinsk::cli {

struct TCliOptions {
    std::string Image;
    std::optional<std::string> Dark;
    std::optional<std::string> Flat;
    std::optional<std::string> Settings;
    // Take the Setup values the picture's file carries (FITS header, RAW
    // EXIF); they override the settings file's.
    bool FromHeader = false;
    // Setup values given on the command line, in the fields' units; they
    // override both the settings file and the header.
    std::optional<double> Exposure;    // s
    std::optional<double> PixelWidth;  // µm
    std::optional<double> PixelHeight; // µm
    std::optional<double> Focal;       // mm
    std::optional<double> Aperture;    // mm
    // START x, y, STOP x, y, IN-LINE x, y.
    std::array<long double, 6> CheckPoints{};
    int Figure = FigurePeriodicError;
    int Channel = ChannelAvg;
    std::optional<int> AverageWidth; // the average line, when given
    std::optional<std::string> Csv;  // a file, or "-" for standard output
    // The side of the picture the star started from, for a run that finds
    // its own check points; overrides the settings file's [Drive] StartSide.
    std::optional<TStartSide> StartSide;
    // A guiding program's log instead of a picture: the section (1-based; 0
    // the longest), what the log lacks, and whether only its sections are
    // listed.
    std::optional<std::string> GuideLog;
    int Section = 0;
    std::optional<double> PixelScale; // arc seconds per guide-camera pixel
    std::optional<double> DecDeg;
    bool ListSections = false;
    // The flat's own dark (bias) frame: its offset, taken out of the flat
    // for the light plane; without it the dark frame's is.
    std::optional<std::string> FlatDark;
};

struct TCliResult {
    int ExitCode = 0;
    std::string Error;             // the message of a refused or failed run
    std::string Warning;           // the settings file's version warning
    std::string UnreadSettings;    // the settings keys present but not read
    std::string LinearDropped;     // the window's status text when a frame dropped the linear samples
    std::string UnusableHeader;    // --from-header's keys that hold no usable number
    TChartModel Chart;             // the figure as plotted
    std::array<std::string, 3> Statistics;
    std::optional<std::string> MeasurementError; // posted by the run
    TExperiment Experiment;        // the parameters the run used
};

// Loads the picture, then the dark, the flat-dark and the flat, with the window's
// refusals; the picture's linear samples are kept and calibrated with it, and
// the Setup values its file carries go to header when given. A frame that
// does not match the samples drops them, and state.Status.Linear says so as
// the window's status bar does. Throws what the loading or a refusal throws.
// The picture and its frames are read as light through the curve `choice`
// gives; the picture's curve goes to transfer when given.
void LoadPictures(const TCliOptions& options, TVinskState& state, TFileSetupValues* header = nullptr,
                  const TTransferChoice& choice = {}, TTransfer* transfer = nullptr);

// The header's values when --from-header asks for them, then the command
// line's, through the Setup fields' one-decimal texts. Returns, for
// --from-header, the lines that name the header's unusable keys.
std::string TakeSetupValues(const TCliOptions& options, const TFileSetupValues& header, TExperiment& e,
                            char decimalSep);

// The parameters of the drive analysis: the settings file's, the header's
// (with --from-header) and the command line's values in that order, each
// with every decimal it was given (not the Setup fields' one decimal).
// Throws for a settings file that cannot be read.
TExperiment ExactSetup(const TCliOptions& options, const TFileSetupValues& header, char decimalSep);

// LoadPictures; takes the nine parameters from the settings file, then the
// header's and the command line's values, through the Setup fields'
// one-decimal texts; runs RunPlot. Never throws: a refusal
// or failure gives exit code 1 and its message.
TCliResult RunAnalysis(const TCliOptions& options, char decimalSep);

// The nine parameters from the settings file through the Setup fields'
// one-decimal texts, as the window loads them; the version warning and the
// keys not read into the result's Warning and UnreadSettings. Returns the
// file's [Drive] values over the initial ones. Throws for a file that cannot
// be read.
TDriveSettings LoadSettings(const std::string& path, TExperiment& e, char decimalSep, TCliResult& result);

// Writes the result where the options say (the warnings and the dropped
// linear samples first, to standard error): the CSV to its file or to
// standard output, the statistics (and the measurement error) one a line to
// standard output, or to standard error when the CSV takes standard output.
// Returns the exit code: the result's, or 1 when the CSV file or standard
// output cannot be written (a message on standard error names the reason).
int WriteResult(const TCliOptions& options, const TCliResult& result, char decimalSep, std::FILE* out,
                std::FILE* err);

// Whether every byte of `text` reached the stream; its buffer is flushed so
// that a full disk or a closed descriptor shows here and not after exit.
bool Put(std::FILE* f, const std::string& text);

// An output's failure for standard error: a file that could not be written
// with the system's reason ("Cannot create file x.csv: No space left on
// device"), anything else its message.
std::string FailureText(const std::exception& e);

// The refusal of an output file (named by its option, e.g. "--csv") that is
// the picture, a frame or the settings file under any name (the same device
// and inode), or nothing. "-" and a file that does not exist yet never clash.
std::optional<std::string> OutputClash(const TCliOptions& options, const char* outputOption,
                                       const std::optional<std::string>& output);

} // namespace vinsk::cli
