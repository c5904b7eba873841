// The plotting run's host without a window, for benchmarks that time the
// core's run: the check points and graph choices it reads are set directly,
// and an error ends the benchmark.
#pragma once

#include <stdexcept>
#include <string>

#include "figures/PlotRun.h"

namespace vinsk::bench {

class TCoreHost : public TPlotHost {
public:
    TCheckPointEdits Edits{};
    TGraphChoices Choices;
    int LayerCount() const override { return 3; }
    TCheckPointEdits ReadCheckPointEdits() const override { return Edits; }
    TGraphChoices ReadChoices() const override { return Choices; }
    void ShowError(const std::string& m) override { throw std::runtime_error(m); }
    void ActivateGraphTab() override {}
    void ClearLogBox() override { Choices.LogScale = false; }
};

} // namespace vinsk::bench
