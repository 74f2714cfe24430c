// TKvConvergencePlot: a statistics log (kv/records/statistics_log.h) drawn as an SVG line chart
// that opens in any browser.
//
// The chart shows, against the generation: the best fitness of each generation (MaxFitness under
// fmMaximize, MinFitness under fmMinimize, by the log's FitnessMethod), the mean fitness, and a
// shaded band of one standard deviation around the mean, clipped to the generation's minimum and
// maximum (the spread; SetSpread(false) leaves it out). An optional reference value (for example a
// known optimum) is drawn as a dashed line. The chart has axes scaled to "nice" tick steps (1, 2 or
// 5 times a power of ten) around the data, tick labels, grid lines, axis titles, a title and a
// legend beside the plot. A run of one generation, or one whose fitness never changes, still gets a
// sensible range; a record with a non-finite figure breaks a line (and the band) instead of bending
// it. Each line is one polyline per unbroken run of records, with one point per record, and dots
// are added when there are at most 40 records. Texts are escaped for XML; numbers are
// locale-independent.
//
// The plot keeps only its settings; SvgText and SaveToFile read the log they are given.
// Errors: SaveToFile raises EKvException naming the file when it cannot be written (the file
// then keeps its old content). Nothing else raises.
#pragma once

#include <optional>
#include <string>

#include "kv/records/statistics_log.h"

namespace kv {

class TKvConvergencePlot {
public:
    // Title is shown above the chart; FitnessTitle names the vertical axis and, after "best" and
    // "mean", the lines in the legend.
    explicit TKvConvergencePlot(std::string Title = "Fitness per generation",
                                std::string FitnessTitle = "fitness");

    const std::string& GetTitle() const noexcept { return FTitle; }
    void SetTitle(std::string Value) { FTitle = std::move(Value); }
    const std::string& GetFitnessTitle() const noexcept { return FFitnessTitle; }
    void SetFitnessTitle(std::string Value) { FFitnessTitle = std::move(Value); }
    bool GetSpread() const noexcept { return FSpread; }
    void SetSpread(bool Value) noexcept { FSpread = Value; }
    // A horizontal reference line, drawn dashed and named in the legend by Label. A non-finite
    // value draws none.
    void SetReference(double Value, std::string Label);
    void ClearReference() noexcept { FReference.reset(); }

    std::string SvgText(const TKvStatisticsLog& Log) const;
    void SaveToFile(const TKvStatisticsLog& Log, const std::string& FileName) const;

private:
    std::string FTitle;
    std::string FFitnessTitle;
    bool FSpread = true;
    std::optional<double> FReference;
    std::string FReferenceLabel;
};

} // namespace kv
