// TKvStatisticsLog: one record per generation of a run, read as a table and written as CSV or as
// JSON lines.
//
// Attached to an engine, the log counts the individuals scored at every evaluation and appends a
// record after Initialize (generation 0) and after each generation (kv/ga/ga_observer.h). A
// record holds:
//   generation    the engine's Generation
//   evaluations   individuals scored since the log was attached or cleared (every whole-population
//                 evaluation adds the population's size, a direct EvaluateFitness() call too)
//   max, min, mean, diversity   the engine's MaxFitness, MinFitness, AvgFitness and Diversity
//   stddev        the population standard deviation of the fitness values that are numbers
//                 (divided by their count, not count - 1), computed around their own mean; 0
//                 when there are none. A NaN fitness takes no part, as in the engine's figures
//   best_ever     the best fitness of any FittestIndividual the log has seen, by the engine's
//                 FitnessMethod (NaN until there has been one)
//   seconds       wall-clock seconds since the log was attached with no record, or cleared
//   and one value per caller column, in the order the columns were added.
// Record(Engine) appends a record by hand (for an engine the log is not attached to, or a moment
// of the caller's choice); it counts no evaluations.
//
// Caller columns: AddColumn(Name, Compute) adds a named value that Compute works out from the
// engine (usually its population) for every record; Compute must only read the engine, as any
// observer (kv/ga/ga_observer.h). Columns are added before the first record: once the log holds
// records, AddColumn raises. A name must be non-empty and differ from the built-in names and the
// other columns.
//
// Text forms (numbers locale-independent):
//   TableText       a header line and one line per record, columns aligned, numbers with six
//                   significant digits
//   CsvText         the header "generation,evaluations,max,min,mean,stddev,diversity,best_ever,
//                   seconds" plus the caller columns, one line per record; numbers in shortest
//                   round-trip form, non-finite ones as inf, -inf or nan; a name holding a comma,
//                   quote or line break is quoted
//   JsonLinesText   one JSON object per record and line, keys as the CSV header; JSON has no
//                   infinity or NaN, so a non-finite value is written as null
// SaveCsv and SaveJsonLines replace a file as one step (its old content or all of the new).
//
// Errors (EKvException, naming the value): a bad column name, a column added to a log with
// records, a column without Compute, a file that cannot be written; EListError for a record index
// outside 0 .. Count - 1. An exception from a Compute callback passes out (from inside the
// engine's call when attached) and no record is appended.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kv/records/engine_watcher.h"

namespace kv {

// One generation's figures.
struct TKvGenerationRecord {
    int32_t Generation = 0;
    int64_t Evaluations = 0;
    TGAFitness MaxFitness = 0;
    TGAFitness MinFitness = 0;
    TGAFitness AvgFitness = 0;
    TGAFitness StdDev = 0;
    TGAFitness Diversity = 0;
    TGAFitness BestEver = 0;
    double Seconds = 0;
    // The caller columns' values, in the order of the log's column names.
    std::vector<double> Columns;
};

class TKvStatisticsLog : public TKvEngineWatcher {
public:
    using TColumnFunction = std::function<double(const TKvCustomGeneticAlgorithm& Engine)>;

    TKvStatisticsLog();
    ~TKvStatisticsLog() override;

    void AddColumn(const std::string& Name, TColumnFunction Compute);
    // The caller columns' names.
    const std::vector<std::string>& GetColumnNames() const noexcept { return FColumnNames; }

    int32_t GetCount() const noexcept { return static_cast<int32_t>(FRecords.size()); }
    const TKvGenerationRecord& GetRecord(int32_t Index) const;
    const std::vector<TKvGenerationRecord>& GetRecords() const noexcept { return FRecords; }
    // The engine's FitnessMethod at the last record (fmMinimize before the first).
    TGAFitnessMethod GetFitnessMethod() const noexcept { return FFitnessMethod; }
    // Individuals scored so far and the best fitness seen (as the next record would show them).
    int64_t GetEvaluations() const noexcept { return FEvaluations; }
    TGAFitness GetBestEver() const noexcept { return FBestEver; }

    // Forgets the records, the evaluation count and the best fitness, and restarts the clock;
    // the columns stay.
    void Clear() noexcept;
    // Appends a record of Engine's present state.
    void Record(const TKvCustomGeneticAlgorithm& Engine);

    std::string TableText() const;
    std::string CsvText() const;
    std::string JsonLinesText() const;
    void SaveCsv(const std::string& FileName) const;
    void SaveJsonLines(const std::string& FileName) const;

    void AfterEvaluation(const TKvCustomGeneticAlgorithm& Engine) override;
    void AfterGeneration(const TKvCustomGeneticAlgorithm& Engine) override;

protected:
    void Attached() override;

private:
    // The header names: the built-in ones, then the caller columns.
    std::vector<std::string> Header() const;
    // A record's values in header order.
    std::vector<double> Values(const TKvGenerationRecord& R) const;

    std::vector<std::string> FColumnNames;
    std::vector<TColumnFunction> FColumns;
    std::vector<TKvGenerationRecord> FRecords;
    TGAFitnessMethod FFitnessMethod = fmMinimize;
    int64_t FEvaluations = 0;
    TGAFitness FBestEver;
    std::chrono::steady_clock::time_point FStart;
};

} // namespace kv
