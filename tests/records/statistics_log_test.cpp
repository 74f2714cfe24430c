// The statistics log's figures against a hand computation, its text forms, and the convergence
// plot drawn from it.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "kv/common/kv_exception.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/records/KvRecords.h"
#include "kv/rtl/random.h"

namespace {

// An engine of Table.size() individuals whose fitness is Table[index]; Initialize keeps the
// chromosomes (all zero).
void Prepare(kv::TKvGeneticAlgorithm& GA, const std::vector<double>& Table,
             kv::TGAFitnessMethod M) {
    GA.GetGenes()->Add()->SetSize(4);
    GA.SetInitialPopulation(static_cast<int>(Table.size()));
    GA.SetFitnessMethod(M);
    GA.SetOnInitialization([](kv::TObject*, bool& Initialized) { Initialized = true; });
    GA.SetOnEvaluateFitness([&Table](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        F = Table[static_cast<size_t>(Item->GetIndex())];
    });
}

TEST(StatisticsLog, FiguresOfASmallPopulationByHand) {
    kv::RandSeed(3);
    std::vector<double> Table = {1, 2, 3, 4};
    kv::TKvGeneticAlgorithm GA;
    Prepare(GA, Table, kv::fmMinimize);
    kv::TKvStatisticsLog Log;
    Log.AddColumn("above 2", [](const kv::TKvCustomGeneticAlgorithm& E) {
        double N = 0;
        for (int I = 0; I < E.GetPopulation()->GetCount(); ++I)
            N += E.GetPopulation()->GetItem(I)->GetFitness() > 2;
        return N;
    });
    EXPECT_THROW(Log.AddColumn("mean", [](const kv::TKvCustomGeneticAlgorithm&) { return 0.0; }),
                 kv::EKvException);
    Log.Attach(GA);
    GA.Initialize();
    Table = {0, 0, 0, 0}; // all zero: the diversity is infinite
    GA.Evolve();
    Table = {6, std::nan(""), 6, 2}; // a NaN takes no part in the figures
    GA.Evolve();

    ASSERT_EQ(Log.GetCount(), 3);
    const kv::TKvGenerationRecord& R0 = Log.GetRecord(0);
    EXPECT_EQ(R0.Generation, 0);
    EXPECT_EQ(R0.Evaluations, 4);
    EXPECT_EQ(R0.MaxFitness, 4);
    EXPECT_EQ(R0.MinFitness, 1);
    EXPECT_EQ(R0.AvgFitness, 2.5);
    EXPECT_DOUBLE_EQ(R0.StdDev, std::sqrt(1.25)); // (2.25 + 0.25 + 0.25 + 2.25) / 4
    EXPECT_EQ(R0.Diversity, 0.625);
    EXPECT_EQ(R0.BestEver, 1);
    EXPECT_EQ(R0.Columns, std::vector<double>{2});
    const kv::TKvGenerationRecord& R2 = Log.GetRecord(2);
    EXPECT_EQ(R2.Generation, 2);
    EXPECT_EQ(R2.Evaluations, 12);
    EXPECT_DOUBLE_EQ(R2.StdDev, std::sqrt(32.0 / 9)); // around the mean 14 / 3 of 6, 6, 2
    EXPECT_EQ(R2.BestEver, 0);                        // from generation 1, under fmMinimize
    EXPECT_GE(R2.Seconds, R0.Seconds);

    // Columns only before the first record.
    EXPECT_THROW(Log.AddColumn("late", [](const kv::TKvCustomGeneticAlgorithm&) { return 0.0; }),
                 kv::EKvException);

    // CSV: shortest numbers, inf as inf; JSON lines: null for what JSON cannot hold.
    std::istringstream Csv(Log.CsvText());
    std::string Line;
    std::getline(Csv, Line);
    EXPECT_EQ(Line, "generation,evaluations,max,min,mean,stddev,diversity,best_ever,seconds,"
                    "above 2");
    std::getline(Csv, Line);
    EXPECT_EQ(Line.rfind("0,4,4,1,2.5,1.118033988749895,0.625,1,", 0), 0u) << Line;
    EXPECT_EQ(Line.substr(Line.rfind(',')), ",2");
    std::getline(Csv, Line);
    EXPECT_EQ(Line.rfind("1,8,0,0,0,0,inf,0,", 0), 0u) << Line;
    std::istringstream Json(Log.JsonLinesText());
    std::getline(Json, Line);
    std::getline(Json, Line);
    EXPECT_EQ(Line.rfind("{\"generation\":1,\"evaluations\":8,\"max\":0,\"min\":0,\"mean\":0,"
                         "\"stddev\":0,\"diversity\":null,\"best_ever\":0,\"seconds\":",
                         0),
              0u)
        << Line;
    EXPECT_EQ(Line.substr(Line.size() - 13), ",\"above 2\":0}");
    // The table: a header and a line per record.
    const std::string Table3 = Log.TableText();
    EXPECT_EQ(std::count(Table3.begin(), Table3.end(), '\n'), 4);
}

std::vector<std::string> Words(const std::string& Text) {
    std::istringstream In(Text);
    std::vector<std::string> W;
    for (std::string S; In >> S;)
        W.push_back(S);
    return W;
}

TEST(ConvergencePlot, WellFormedSvgWithAPointPerRecord) {
    kv::RandSeed(8);
    kv::TKvGeneticAlgorithm GA;
    GA.GetGenes()->Add()->SetSize(10);
    GA.SetInitialPopulation(20);
    GA.SetFitnessMethod(kv::fmMaximize);
    GA.SetOnEvaluateFitness([](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        F = Item->GetBits()->GetAsInteger(0, 10);
    });
    kv::TKvStatisticsLog Log;
    Log.Attach(GA);
    GA.Evolve(44); // more than 40 records: lines without dots

    kv::TKvConvergencePlot Plot("Run <1> & \"friends\"");
    Plot.SetReference(1023, "optimum");
    pugi::xml_document Doc;
    const std::string Svg = Plot.SvgText(Log);
    ASSERT_TRUE(Doc.load_string(Svg.c_str())) << Svg.substr(0, 400);
    const pugi::xml_node Root = Doc.child("svg");
    ASSERT_TRUE(Root);
    const size_t N = static_cast<size_t>(Log.GetCount());
    ASSERT_EQ(N, 45u);
    const pugi::xml_node Best = Root.find_child_by_attribute("polyline", "class", "best");
    const pugi::xml_node Mean = Root.find_child_by_attribute("polyline", "class", "mean");
    const pugi::xml_node Spread = Root.find_child_by_attribute("polygon", "class", "spread");
    EXPECT_EQ(Words(Best.attribute("points").value()).size(), N);
    EXPECT_EQ(Words(Mean.attribute("points").value()).size(), N);
    EXPECT_EQ(Words(Spread.attribute("points").value()).size(), 2 * N);
    EXPECT_FALSE(Root.child("circle"));
    EXPECT_EQ(std::string(Root.find_child_by_attribute("text", "font-weight", "bold").text().get()),
              "Run <1> & \"friends\"");
    // The best line is the generations' maximum: its first point is at the left edge, higher on
    // the page (a smaller y) than the mean's.
    const std::string B0 = Words(Best.attribute("points").value()).front();
    const std::string M0 = Words(Mean.attribute("points").value()).front();
    EXPECT_EQ(B0.substr(0, B0.find(',')), M0.substr(0, M0.find(',')));
    EXPECT_LT(std::stod(B0.substr(B0.find(',') + 1)), std::stod(M0.substr(M0.find(',') + 1)));
}

TEST(ProgressLine, PlainLinesOrOneLineRedrawnInPlace) {
    kv::RandSeed(4);
    std::vector<double> Table = {1, 2, 3};
    kv::TKvGeneticAlgorithm GA;
    Prepare(GA, Table, kv::fmMaximize);
    std::ostringstream Plain, Redrawn;
    {
        kv::TKvProgressLine Lines(Plain); // not a terminal: plain lines
        EXPECT_EQ(Lines.GetStyle(), kv::psLines);
        Lines.SetGenerations(5);
        Lines.SetEvery(2);
        EXPECT_THROW(Lines.SetEvery(0), kv::EKvException);
        kv::TKvProgressLine Line(Redrawn, kv::psRedraw);
        Line.SetInterval(0);
        Line.SetGenerations(5);
        Lines.Attach(GA);
        Line.Attach(GA);
        GA.Initialize();
        GA.Evolve(3);
    } // the redrawn line is finished here
    const std::vector<std::string> Expect = {"generation 0 of 5 (0%)  best 3  mean 2",
                                             "generation 2 of 5 (40%)  best 3  mean 2"};
    std::istringstream In(Plain.str());
    std::vector<std::string> Got;
    for (std::string L; std::getline(In, L);)
        Got.push_back(L);
    ASSERT_EQ(Got.size(), 2u) << Plain.str();
    for (size_t I = 0; I < 2; ++I)
        EXPECT_EQ(Got[I].rfind(Expect[I], 0), 0u) << Got[I];
    const std::string R = Redrawn.str();
    EXPECT_EQ(std::count(R.begin(), R.end(), '\r'), 4);
    EXPECT_EQ(std::count(R.begin(), R.end(), '\n'), 1);
    EXPECT_EQ(R.back(), '\n');
    EXPECT_NE(R.find("\rgeneration 3 of 5 (60%)  best 3"), std::string::npos) << R;
}

} // namespace
