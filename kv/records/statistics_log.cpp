// The statistics log: one record per generation.
#include "kv/records/statistics_log.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "kv/common/kv_exception.h"
#include "kv/ga/population.h"
#include "kv/records/detail/record_text.h"
#include "kv/rtl/list_index.h"

namespace kv {

namespace {

const char* const BuiltinNames[] = {"generation", "evaluations", "max",       "min",    "mean",
                                    "stddev",     "diversity",   "best_ever", "seconds"};

// Generation and evaluations are whole numbers, shown without a fraction.
constexpr size_t WholeColumns = 2;

std::string CsvField(const std::string& Text) {
    if (Text.find_first_of(",\"\r\n") == std::string::npos)
        return Text;
    std::string Out = "\"";
    for (char C : Text) {
        if (C == '"')
            Out += '"';
        Out += C;
    }
    return Out + "\"";
}

std::string JsonString(const std::string& Text) {
    std::string Out = "\"";
    for (char C : Text) {
        switch (C) {
        case '"':
            Out += "\\\"";
            break;
        case '\\':
            Out += "\\\\";
            break;
        case '\n':
            Out += "\\n";
            break;
        case '\r':
            Out += "\\r";
            break;
        case '\t':
            Out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(C) < 0x20) {
                static const char Hex[] = "0123456789abcdef";
                Out += "\\u00";
                Out += Hex[(C >> 4) & 0xF];
                Out += Hex[C & 0xF];
            } else {
                Out += C;
            }
        }
    }
    return Out + "\"";
}

std::string WholeText(double Value) {
    return detail::FixedText(Value, 0);
}

} // namespace

TKvStatisticsLog::TKvStatisticsLog()
    : FBestEver(std::numeric_limits<TGAFitness>::quiet_NaN()),
      FStart(std::chrono::steady_clock::now()) {}

TKvStatisticsLog::~TKvStatisticsLog() = default;

void TKvStatisticsLog::AddColumn(const std::string& Name, TColumnFunction Compute) {
    if (!FRecords.empty())
        throw EKvException(Format("Cannot add the column \"%s\": the log already holds %d records",
                                  Name, GetCount()));
    if (Name.empty())
        throw EKvException("A column of the statistics log needs a name");
    if (!Compute)
        throw EKvException(Format("The column \"%s\" has no function to compute it", Name));
    const std::vector<std::string> Names = Header();
    if (std::find(Names.begin(), Names.end(), Name) != Names.end())
        throw EKvException(Format("The statistics log already has a column \"%s\"", Name));
    FColumnNames.push_back(Name);
    FColumns.push_back(std::move(Compute));
}

const TKvGenerationRecord& TKvStatisticsLog::GetRecord(int32_t Index) const {
    CheckListIndex(Index, GetCount());
    return FRecords[static_cast<size_t>(Index)];
}

void TKvStatisticsLog::Clear() noexcept {
    FRecords.clear();
    FEvaluations = 0;
    FBestEver = std::numeric_limits<TGAFitness>::quiet_NaN();
    FStart = std::chrono::steady_clock::now();
}

void TKvStatisticsLog::Attached() {
    if (FRecords.empty())
        FStart = std::chrono::steady_clock::now();
}

void TKvStatisticsLog::Record(const TKvCustomGeneticAlgorithm& Engine) {
    TKvGenerationRecord R;
    // The caller columns first: when one raises, nothing has changed.
    R.Columns.reserve(FColumns.size());
    for (const TColumnFunction& Compute : FColumns)
        R.Columns.push_back(Compute(Engine));

    const TGAFitnessMethod Method = Engine.GetFitnessMethod();
    const TKvGAPopulation* Population = Engine.GetPopulation();
    const int Count = Population->GetCount();
    // Over the fitness values that are numbers, as the engine's statistics (a NaN takes no
    // part in them).
    double Sum = 0;
    int Numbers = 0;
    for (int I = 0; I < Count; ++I) {
        const double F = Population->GetItemUnchecked(I)->GetFitness();
        if (!std::isnan(F)) {
            Sum += F;
            ++Numbers;
        }
    }
    if (Numbers > 0) {
        const double Mean = Sum / Numbers;
        double Squares = 0;
        for (int I = 0; I < Count; ++I) {
            const double F = Population->GetItemUnchecked(I)->GetFitness();
            if (!std::isnan(F))
                Squares += (F - Mean) * (F - Mean);
        }
        R.StdDev = std::sqrt(Squares / Numbers);
    }
    if (const TKvGAIndividual* Fittest = Engine.GetFittestIndividual()) {
        const TGAFitness F = Fittest->GetFitness();
        // A fitness that is no number is never the best.
        const bool Better =
            std::isnan(FBestEver) || (Method == fmMaximize ? F > FBestEver : F < FBestEver);
        if (!std::isnan(F) && Better)
            FBestEver = F;
    }
    FFitnessMethod = Method;
    R.Generation = Engine.GetGeneration();
    R.Evaluations = FEvaluations;
    R.MaxFitness = Engine.GetMaxFitness();
    R.MinFitness = Engine.GetMinFitness();
    R.AvgFitness = Engine.GetAvgFitness();
    R.Diversity = Engine.GetDiversity();
    R.BestEver = FBestEver;
    R.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
    FRecords.push_back(std::move(R));
}

void TKvStatisticsLog::AfterEvaluation(const TKvCustomGeneticAlgorithm& Engine) {
    FEvaluations += Engine.GetPopulation()->GetCount();
}

void TKvStatisticsLog::AfterGeneration(const TKvCustomGeneticAlgorithm& Engine) {
    Record(Engine);
}

std::vector<std::string> TKvStatisticsLog::Header() const {
    std::vector<std::string> Names(std::begin(BuiltinNames), std::end(BuiltinNames));
    Names.insert(Names.end(), FColumnNames.begin(), FColumnNames.end());
    return Names;
}

std::vector<double> TKvStatisticsLog::Values(const TKvGenerationRecord& R) const {
    std::vector<double> V = {static_cast<double>(R.Generation),
                             static_cast<double>(R.Evaluations),
                             R.MaxFitness,
                             R.MinFitness,
                             R.AvgFitness,
                             R.StdDev,
                             R.Diversity,
                             R.BestEver,
                             R.Seconds};
    V.insert(V.end(), R.Columns.begin(), R.Columns.end());
    return V;
}

std::string TKvStatisticsLog::TableText() const {
    const std::vector<std::string> Names = Header();
    std::vector<std::vector<std::string>> Cells;
    std::vector<size_t> Widths;
    for (const std::string& N : Names)
        Widths.push_back(N.size());
    for (const TKvGenerationRecord& R : FRecords) {
        const std::vector<double> V = Values(R);
        std::vector<std::string> Row;
        for (size_t C = 0; C < V.size(); ++C) {
            Row.push_back(C < WholeColumns ? WholeText(V[C]) : detail::GeneralText(V[C], 6));
            Widths[C] = std::max(Widths[C], Row.back().size());
        }
        Cells.push_back(std::move(Row));
    }
    auto Line = [&Widths](const std::vector<std::string>& Row) {
        std::string Out;
        for (size_t C = 0; C < Row.size(); ++C) {
            if (C > 0)
                Out += "  ";
            Out.append(Widths[C] - Row[C].size(), ' ');
            Out += Row[C];
        }
        return Out + "\n";
    };
    std::string Out = Line(Names);
    for (const std::vector<std::string>& Row : Cells)
        Out += Line(Row);
    return Out;
}

std::string TKvStatisticsLog::CsvText() const {
    std::string Out;
    const std::vector<std::string> Names = Header();
    for (size_t C = 0; C < Names.size(); ++C)
        Out.append(C > 0 ? "," : "").append(CsvField(Names[C]));
    Out += '\n';
    for (const TKvGenerationRecord& R : FRecords) {
        const std::vector<double> V = Values(R);
        for (size_t C = 0; C < V.size(); ++C)
            Out.append(C > 0 ? "," : "")
                .append(C < WholeColumns ? WholeText(V[C]) : detail::ShortestText(V[C]));
        Out += '\n';
    }
    return Out;
}

std::string TKvStatisticsLog::JsonLinesText() const {
    std::string Out;
    const std::vector<std::string> Names = Header();
    for (const TKvGenerationRecord& R : FRecords) {
        const std::vector<double> V = Values(R);
        Out += '{';
        for (size_t C = 0; C < V.size(); ++C) {
            Out.append(C > 0 ? "," : "").append(JsonString(Names[C])).append(":");
            if (!std::isfinite(V[C]))
                Out += "null";
            else
                Out += C < WholeColumns ? WholeText(V[C]) : detail::ShortestText(V[C]);
        }
        Out += "}\n";
    }
    return Out;
}

void TKvStatisticsLog::SaveCsv(const std::string& FileName) const {
    detail::SaveRecordText(FileName, CsvText());
}

void TKvStatisticsLog::SaveJsonLines(const std::string& FileName) const {
    detail::SaveRecordText(FileName, JsonLinesText());
}

} // namespace kv
