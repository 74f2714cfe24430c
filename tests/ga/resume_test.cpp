// An engine's own random stream, checkpoints, and runs continued in another process that end
// byte for byte where the uninterrupted run ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "child_process.h"
#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/random.h"
#include "kv/xml/xml_node.h"

using namespace kv;

namespace {

// The callbacks of a test run; each draws from the thread's current source.
void SetCallbacks(TKvGeneticAlgorithm& E, TGASelectionMethod Method) {
    E.SetOnEvaluateFitness([](TObject*, TKvGAIndividual* Item, TGAFitness& F) {
        const std::string Bits = Item->GetBits()->ToBitString();
        F = static_cast<double>(std::count(Bits.begin(), Bits.end(), '1')) + 0.5 * Random();
    });
    E.SetOnMutation(
        [](TObject*, TKvGAIndividual*, bool& DoMutation) { DoMutation = Random() < 0.9; });
    if (Method == smCustom)
        E.SetOnSelection([](TObject*, TKvGAPopulation* Population, TKvGAIndividual*& Parent) {
            Parent = Population->GetItem(Random(Population->GetCount()));
        });
}

// The whole set-up of a test run: genes, settings that single precision does not hold (0.1 of 5
// individuals is an elitist count of 0, 0.1f of them 1), its own stream and the callbacks.
void SetUpRun(TKvGeneticAlgorithm& E, TGASelectionMethod Method, uint64_t Seed) {
    for (int I = 0; I < 4; ++I) {
        TKvGAGene* Gene = E.GetGenes()->Add();
        Gene->SetGeneType(gtInteger);
        Gene->SetSize(8);
    }
    E.GetGenes()->GetItem(1)->SetMinValue(20); // a range that loading a settings document resets
    TKvGAGene* Colour = E.GetGenes()->Add();
    Colour->SetName("Colour");
    Colour->SetGeneType(gtEnumeration);
    for (const char* Name : {"Red", "Green", "Blue"})
        Colour->GetEnumerations()->Add(Name);
    E.SetGeneSize(40); // beyond the genes
    E.SetInitialPopulation(5);
    E.SetFitnessMethod(fmMaximize);
    E.SetElitistPct(0.1);
    E.SetCrossoverProbability(0.7);
    E.SetMutationProbability(0.03);
    E.SetInversionProbability(0.3);
    E.SetTournamentField(3);
    E.SetCrossoverMethod(cmBitBoundary);
    if (Method == smCustom)
        E.SetOperations({goCrossover, goMutate});
    else
        E.SetSelectionMethod(Method);
    if (Method == smRandom) {
        E.SetCrossoverKind(ckTwoPoint);
        E.SetMutationMode(mmGeometric);
    } else if (Method == smTournament) {
        E.SetCrossoverKind(ckUniform);
    }
    SetCallbacks(E, Method);
    E.SetRandomSeed(Seed);
}

std::string CheckpointText(const TKvGeneticAlgorithm& E) {
    std::ostringstream S;
    E.SaveCheckpoint(S);
    return S.str();
}

std::string PlainText(const TKvGeneticAlgorithm& E) {
    std::ostringstream S;
    E.SaveToStream(S);
    return S.str();
}

void LoadCheckpointText(TKvGeneticAlgorithm& E, const std::string& Text) {
    std::istringstream S(Text);
    E.LoadCheckpoint(S);
}

std::string FileText(const std::filesystem::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
}

const char* const InEnv = "KVGA_RESUME_IN";
const char* const OutEnv = "KVGA_RESUME_OUT";
const char* const MethodEnv = "KVGA_RESUME_METHOD";
const char* const GenerationsEnv = "KVGA_RESUME_GENERATIONS";

} // namespace

TEST(EngineStream, EnginesWithOwnStreamsGiveTheSameResultsAloneAndInterleaved) {
    TKvGeneticAlgorithm A, B;
    SetUpRun(A, smRoulette, 11);
    SetUpRun(B, smTournament, 12);
    A.Evolve(8);
    B.Evolve(8);

    // The same runs, interleaved generation by generation with draws from the thread's stream,
    // which the engines leave alone.
    RandSeed(99);
    TRandomSource Thread(99);
    TKvGeneticAlgorithm A2, B2;
    SetUpRun(A2, smRoulette, 11);
    SetUpRun(B2, smTournament, 12);
    for (int G = 0; G < 8; ++G) {
        A2.Evolve();
        ASSERT_EQ(Random(), Thread.NextDouble());
        B2.Evolve();
    }
    EXPECT_EQ(CheckpointText(A2), CheckpointText(A));
    EXPECT_EQ(CheckpointText(B2), CheckpointText(B));
    EXPECT_EQ(Random(), Thread.NextDouble());
}

TEST(EngineStream, IsCurrentInsideOperationsOnlyAndComesBackOnExceptions) {
    TKvGeneticAlgorithm E;
    SetUpRun(E, smRandom, 3);
    TRandomSource* const Own = &ThreadRandomSource();
    TRandomSource* Seen = nullptr;
    E.SetOnEvaluateFitness([&](TObject*, TKvGAIndividual*, TGAFitness&) {
        Seen = &ThreadRandomSource();
        throw EConvertError("stop");
    });
    EXPECT_THROW(E.Evolve(), EConvertError);
    EXPECT_EQ(Seen, E.GetRandomSource());
    EXPECT_EQ(&ThreadRandomSource(), Own);

    // Without its own stream the engine draws from the thread's current source again.
    E.UseThreadRandomSource();
    EXPECT_EQ(E.GetRandomSource(), nullptr);
    EXPECT_THROW(E.Initialize(), EConvertError);
    EXPECT_EQ(Seen, Own);

    // A copy takes the stream's state with it.
    TKvGeneticAlgorithm C, D;
    SetUpRun(C, smElitist, 4);
    C.Evolve(2);
    D.Assign(&C);
    SetCallbacks(D, smElitist);
    C.Evolve(3);
    D.Evolve(3);
    EXPECT_EQ(PlainText(D), PlainText(C));
}

TEST(Checkpoint, RestoresExactlyRunsSectionsAndFailsAsAWhole) {
    TKvGeneticAlgorithm E;
    SetUpRun(E, smElitist, 5);
    E.Evolve(3);
    E.SetCheckpointSection(
        "HallOfFame", [](IXMLNode& S) { S.SetChildText("Best", "x1"); }, nullptr);
    const std::string Text = CheckpointText(E);
    // The plain document stays what it was.
    const std::string Plain = PlainText(E);
    EXPECT_EQ(Plain.find("Checkpoint"), std::string::npos);
    EXPECT_EQ(Plain.find("<Fitness>"), std::string::npos);
    EXPECT_NE(Text.find("<HallOfFame>"), std::string::npos);

    TKvGeneticAlgorithm L;
    SetCallbacks(L, smElitist);
    std::string Seen;
    L.SetCheckpointSection("HallOfFame", nullptr, [&Seen](IXMLNode* S) -> std::function<void()> {
        const std::string Best = S ? S->GetChildText("Best") : "absent";
        return [&Seen, Best] { Seen = Best; };
    });
    LoadCheckpointText(L, Text);
    EXPECT_EQ(Seen, "x1");
    EXPECT_EQ(L.GetElitistPct(), 0.1);
    EXPECT_TRUE(L.GetInitialized());
    EXPECT_EQ(L.GetInitialPopulation(), 5);
    E.RemoveCheckpointSection("HallOfFame");
    EXPECT_EQ(CheckpointText(L), CheckpointText(E));

    // Every failure leaves the engine as it was, and applies no section.
    const std::string Before = CheckpointText(L);
    Seen.clear();
    // The first element Tag's text replaced by Value (std::regex trips a false g++ warning).
    const auto WithText = [&Text](const std::string& Tag, const std::string& Value) {
        const size_t Open = Text.find("<" + Tag + ">");
        const size_t Close = Text.find("</" + Tag + ">", Open);
        EXPECT_NE(Close, std::string::npos) << Tag;
        const size_t First = Open + Tag.size() + 2;
        return Text.substr(0, First) + Value + Text.substr(Close);
    };
    const std::string BadPosition = WithText("Position", "257");
    std::string NoFitness = Text;
    const size_t FitnessAt = NoFitness.find("<Fitness>");
    NoFitness.erase(FitnessAt, NoFitness.find("</Fitness>", FitnessAt) + 10 - FitnessAt);
    std::string BadOperations = Text;
    for (size_t At = BadOperations.find("goMutate"); At != std::string::npos;
         At = BadOperations.find("goMutate", At))
        BadOperations.replace(At, 8, "goMutant");
    for (const std::string& Bad : {BadPosition, NoFitness, BadOperations, Plain})
        EXPECT_THROW(LoadCheckpointText(L, Bad), EConvertError);
    L.SetCheckpointSection("HallOfFame", nullptr, [](IXMLNode*) -> std::function<void()> {
        throw EConvertError("the hall of fame does not read");
    });
    EXPECT_THROW(LoadCheckpointText(L, Text), EConvertError);
    EXPECT_EQ(CheckpointText(L), Before);
    EXPECT_EQ(Seen, "");
    EXPECT_THROW(L.SetCheckpointSection("1st", nullptr, nullptr), EConvertError);

    // A checkpoint of an engine drawing from the thread's stream holds no stream: the loaded
    // engine draws from the thread's stream too.
    E.UseThreadRandomSource();
    const std::string NoStream = CheckpointText(E);
    EXPECT_EQ(NoStream.find("RandomState"), std::string::npos);
    TKvGeneticAlgorithm T;
    T.SetRandomSeed(1);
    LoadCheckpointText(T, NoStream);
    EXPECT_EQ(T.GetRandomSource(), nullptr);
}

// Runs N generations, checkpoints to a file, continues M generations from it in a new process,
// and compares that process's final checkpoint with the one of an uninterrupted run of N + M.
TEST(Checkpoint, ContinuedInAnotherProcessEndsByteForByteAsTheUninterruptedRun) {
    const std::filesystem::path Dir = kvtest::FreshTestDir("resume_ga");
    const int N = 6, M = 7;
    for (TGASelectionMethod Method :
         {smRoulette, smRandom, smTournament, smStochasticTournament, smElitist, smCustom}) {
        const std::string Name = EnumToIdent(Method);
        TKvGeneticAlgorithm Whole;
        SetUpRun(Whole, Method, 100 + Method);
        Whole.Evolve(N + M);

        TKvGeneticAlgorithm First;
        SetUpRun(First, Method, 100 + Method);
        First.Evolve(N);
        const std::filesystem::path In = Dir / (Name + ".in.xml");
        const std::filesystem::path Out = Dir / (Name + ".out.xml");
        First.SaveCheckpoint(In.string());
        ASSERT_EQ(kvtest::RunThisProgram("ResumeProcess.ContinuesTheGivenCheckpoint",
                                         {{InEnv, In.string()},
                                          {OutEnv, Out.string()},
                                          {MethodEnv, std::to_string(Method)},
                                          {GenerationsEnv, std::to_string(M)}}),
                  0)
            << Name;
        EXPECT_EQ(FileText(Out), CheckpointText(Whole)) << Name;
    }
    std::filesystem::remove_all(Dir);
}

// The second half of the test above, run in a child process; skipped when run on its own.
TEST(ResumeProcess, ContinuesTheGivenCheckpoint) {
    const char* In = std::getenv(InEnv);
    if (In == nullptr)
        GTEST_SKIP() << "run in a child process by the resume test";
    const auto Method = static_cast<TGASelectionMethod>(std::atoi(std::getenv(MethodEnv)));
    TKvGeneticAlgorithm E; // only the callbacks are set; everything else comes from the file
    SetCallbacks(E, Method);
    E.LoadCheckpoint(std::string(In));
    E.Evolve(std::atoi(std::getenv(GenerationsEnv)));
    E.SaveCheckpoint(std::string(std::getenv(OutEnv)));
}
