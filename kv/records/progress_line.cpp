// The progress line.
#include "kv/records/progress_line.h"

#include <cmath>
#include <iostream>
#include <ostream>

#if __has_include(<unistd.h>)
#include <unistd.h>
#define KVGA_HAS_ISATTY 1
#endif

#include "kv/common/kv_exception.h"
#include "kv/records/detail/record_text.h"

namespace kv {

namespace {

bool IsTerminal(const std::ostream& Out) {
#ifdef KVGA_HAS_ISATTY
    if (&Out == &std::cout)
        return isatty(STDOUT_FILENO) == 1;
    if (&Out == &std::cerr || &Out == &std::clog)
        return isatty(STDERR_FILENO) == 1;
#else
    (void)Out;
#endif
    return false;
}

// 0:07, 12:34, 1:02:03.
std::string Duration(double Seconds) {
    const long Total = std::lround(Seconds);
    const long H = Total / 3600, M = Total / 60 % 60, S = Total % 60;
    char Buf[64];
    if (H > 0)
        std::snprintf(Buf, sizeof Buf, "%ld:%02ld:%02ld", H, M, S);
    else
        std::snprintf(Buf, sizeof Buf, "%ld:%02ld", M, S);
    return Buf;
}

// 950, 41.3k, 2.5M.
std::string Rate(double PerSecond) {
    if (PerSecond >= 1e6)
        return detail::GeneralText(PerSecond / 1e6, 3) + "M";
    if (PerSecond >= 1e3)
        return detail::GeneralText(PerSecond / 1e3, 3) + "k";
    return detail::GeneralText(PerSecond, 3);
}

} // namespace

TKvProgressLine::TKvProgressLine(std::ostream& Out, TProgressStyle Style)
    : FOut(Out), FStyle(Style == psAuto ? (IsTerminal(Out) ? psRedraw : psLines) : Style),
      FStart(std::chrono::steady_clock::now()) {}

TKvProgressLine::~TKvProgressLine() {
    Finish();
}

void TKvProgressLine::SetGenerations(int32_t Value) {
    if (Value < 0)
        throw EKvException(Format("A planned number of generations cannot be %d", Value));
    FGenerations = Value;
}

void TKvProgressLine::SetEvery(int32_t Value) {
    if (Value < 1)
        throw EKvException(
            Format("A progress line is written every 1 or more generations, not %d", Value));
    FEvery = Value;
}

void TKvProgressLine::SetInterval(double Seconds) {
    if (!(Seconds >= 0))
        throw EKvException(Format("A progress line's redraw interval cannot be %s seconds",
                                  detail::ShortestText(Seconds)));
    FInterval = Seconds;
}

void TKvProgressLine::Attached() {
    FStart = std::chrono::steady_clock::now();
    FEvaluations = 0;
    FSeen = 0;
    FShownAt = -1;
}

double TKvProgressLine::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
}

std::string TKvProgressLine::Text(const TKvCustomGeneticAlgorithm& Engine) const {
    const int32_t Generation = Engine.GetGeneration();
    std::string S = "generation " + std::to_string(Generation);
    if (FGenerations > 0)
        S +=
            " of " + std::to_string(FGenerations) + " (" +
            std::to_string(std::lround(100.0 * std::min(Generation, FGenerations) / FGenerations)) +
            "%)";
    if (Engine.GetPopulation()->GetCount() > 0) {
        const TGAFitness Best = Engine.GetFitnessMethod() == fmMaximize ? Engine.GetMaxFitness()
                                                                        : Engine.GetMinFitness();
        S += "  best " + detail::GeneralText(Best, 6) + "  mean " +
             detail::GeneralText(Engine.GetAvgFitness(), 6);
    }
    const double Seconds = Elapsed();
    if (FEvaluations > 0 && Seconds > 0)
        S += "  " + Rate(static_cast<double>(FEvaluations) / Seconds) + " evals/s";
    // The time per generation from the generations bred since attached (the first one seen may
    // be Initialize's).
    const int64_t Bred = Generation - FFirstGeneration;
    if (FGenerations > 0 && Bred > 0 && Generation <= FGenerations)
        S += "  left " + Duration(Seconds / static_cast<double>(Bred) *
                                  static_cast<double>(FGenerations - Generation));
    return S;
}

void TKvProgressLine::Finish() {
    if (!FOpen)
        return;
    FOut << '\n';
    FOut.flush();
    FOpen = false;
    FShown = 0;
}

void TKvProgressLine::AfterEvaluation(const TKvCustomGeneticAlgorithm& Engine) {
    FEvaluations += Engine.GetPopulation()->GetCount();
}

void TKvProgressLine::AfterGeneration(const TKvCustomGeneticAlgorithm& Engine) {
    const int32_t Generation = Engine.GetGeneration();
    if (FSeen++ == 0)
        FFirstGeneration = Generation;
    const bool Last = FGenerations > 0 && Generation >= FGenerations;
    const double Now = Elapsed();
    const bool Due = (Generation - FFirstGeneration) % FEvery == 0 &&
                     (FShownAt < 0 || Now - FShownAt >= FInterval);
    if (!Due && !Last && FShownAt >= 0)
        return;
    FShownAt = Now;
    const std::string S = Text(Engine);
    if (FStyle == psLines) {
        FOut << S << '\n';
        FOut.flush();
        return;
    }
    FOut << '\r' << S;
    if (S.size() < FShown)
        FOut << std::string(FShown - S.size(), ' ');
    FShown = S.size();
    FOpen = true;
    if (Last)
        Finish();
    else
        FOut.flush();
}

} // namespace kv
