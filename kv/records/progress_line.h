// TKvProgressLine: a progress line for long runs, written to a stream while the engine runs.
//
// Attached to an engine, it shows after Initialize and after each generation:
//   generation 37 of 200 (18%)  best 12.3456  mean 10.2  41.3k evals/s  left 0:03
// "of N", the percentage and the time left appear when the planned number of generations is set
// (SetGenerations; Evolve(Generations) does not tell observers how many it will breed). Best is
// the generation's best by the engine's FitnessMethod; evaluations per second count the
// individuals scored since the line was attached; the time left assumes the generations still to
// come take as long as those so far.
//
// Style: psRedraw rewrites one line in place ("\r", padded with spaces over a longer earlier
// text); psLines writes plain lines, for logs and pipes; psAuto (the default) takes psRedraw when
// the stream is std::cout, std::cerr or std::clog and that output is a terminal, and psLines
// otherwise. The line is shown every Every generations (1 by default), but not sooner than
// Interval seconds after it was last shown (by default 0.1 for psRedraw and 0 for psLines), and
// always after the first generation seen and the planned last one. A redrawn line is ended with a
// line break by Finish(), which the planned last generation and the destructor call too; call it
// before printing anything else after a run.
//
// Nothing is shown unless the line is attached: progress is off by default. The stream is
// borrowed and must outlive the line (or its last Finish). Errors: SetEvery below 1 or a negative
// SetInterval or SetGenerations raise EKvException naming the value. Write errors of the stream
// are the stream's business (its state flags); the line raises none.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "kv/records/engine_watcher.h"

namespace kv {

enum TProgressStyle { psAuto, psRedraw, psLines };

class TKvProgressLine : public TKvEngineWatcher {
public:
    explicit TKvProgressLine(std::ostream& Out, TProgressStyle Style = psAuto);
    ~TKvProgressLine() override;

    // The style in force (psAuto is resolved when the line is made).
    TProgressStyle GetStyle() const noexcept { return FStyle; }
    int32_t GetGenerations() const noexcept { return FGenerations; }
    // The generation the run is planned to end with; 0 when unknown.
    void SetGenerations(int32_t Value);
    int32_t GetEvery() const noexcept { return FEvery; }
    void SetEvery(int32_t Value);
    double GetInterval() const noexcept { return FInterval; }
    void SetInterval(double Seconds);

    // The text the line shows for Engine now (without a line break).
    std::string Text(const TKvCustomGeneticAlgorithm& Engine) const;
    // Ends a redrawn line with a line break; does nothing when none is open.
    void Finish();

    void AfterEvaluation(const TKvCustomGeneticAlgorithm& Engine) override;
    void AfterGeneration(const TKvCustomGeneticAlgorithm& Engine) override;

protected:
    void Attached() override;

private:
    double Elapsed() const;

    std::ostream& FOut;
    TProgressStyle FStyle;
    int32_t FGenerations = 0;
    int32_t FEvery = 1;
    double FInterval = 0;
    std::chrono::steady_clock::time_point FStart;
    // Since attached: individuals scored, generations seen, and the first generation seen.
    int64_t FEvaluations = 0;
    int64_t FSeen = 0;
    int32_t FFirstGeneration = 0;
    // When the line was last shown (negative: not yet); psRedraw: a line is open, the length of
    // its text.
    double FShownAt = -1;
    bool FOpen = false;
    size_t FShown = 0;
};

} // namespace kv
