#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/xml/KvGeneticAlgorithmXML.h"
#include "persistence_fixture.h"

using namespace kv;
using kvtest::Replaced;
using kvtest::SaveText;
using kvtest::Snapshot;
namespace fs = std::filesystem;

namespace {

enum TKind { Convert, IntfCast, Xml };

struct TBadDocument {
    std::string Text;
    TKind Kind;
    std::vector<std::string> Mentions;
};

bool IsKind(const Exception& E, TKind Kind) {
    switch (Kind) {
    case Convert:
        return dynamic_cast<const EConvertError*>(&E) != nullptr;
    case IntfCast:
        return dynamic_cast<const EIntfCastError*>(&E) != nullptr;
    default:
        return dynamic_cast<const EXmlError*>(&E) != nullptr;
    }
}

// An engine unlike BuildEngine's in every saved part, whose document the bad ones are made from.
std::string OtherDocument() {
    TKvGeneticAlgorithm B;
    for (int I = 0; I < 2; ++I) {
        TKvGAGene* Gene = B.GetGenes()->Add();
        Gene->SetGeneType(gtInteger);
        Gene->SetSize(16);
    }
    for (int I = 0; I < 5; ++I)
        B.GetPopulation()->Add()->GetBits()->SetBit(I, true);
    B.SetGeneration(99);
    B.SetFitnessMethod(fmMaximize);
    B.SetSelectionMethod(smElitist);
    B.SetTournamentField(4);
    B.SetDiversityLimit(0.5);
    B.SetFitnessCutoff(7);
    B.SetCrossoverProbability(0.25);
    B.SetInversionProbability(0.75);
    B.SetMutationProbability(0.125);
    B.SetElitistPct(0.375);
    B.SetUseDiversityLimit(true);
    B.SetCrossoverMethod(cmWordBoundary);
    return SaveText(B);
}

std::string Fill(size_t Count, const std::string& Item) {
    std::string S;
    for (size_t I = 0; I < Count; ++I)
        S += Item;
    return S;
}

std::vector<std::string> DirectoryNames(const fs::path& Dir) {
    std::vector<std::string> Names;
    for (const auto& Entry : fs::directory_iterator(Dir))
        Names.push_back(Entry.path().filename().string());
    return Names;
}

std::string Content(const fs::path& File) {
    std::ifstream In(File, std::ios::binary);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}

} // namespace

TEST(PersistenceLoadFailure, EngineUnchangedAndTheErrorNamesTheValue) {
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A);
    A.SetOnInitialization([](TObject*, bool& Done) { Done = true; });
    A.SetOnEvaluateFitness(
        [](TObject*, TKvGAIndividual* Item, TGAFitness& F) { F = 1 + Item->GetIndex(); });
    A.Initialize();
    const std::string Before = Snapshot(A);

    const std::string Good = OtherDocument();
    const size_t LastBits = Good.rfind("<Bits>") + 6;
    const std::vector<TBadDocument> Cases = {
        {Replaced(Good, "<TournamentField>4</TournamentField>", ""), Convert, {"TournamentField"}},
        {Replaced(Good, "fmMaximize", "fmBest"), Convert, {"fmBest", "FitnessMethod"}},
        {Replaced(Good, "<Method>smElitist</Method>", "<Method />"), Convert, {"\"Method\""}},
        {Replaced(Good, ">0.25<", ">abc<"), Convert, {"abc", "CrossoverProbability"}},
        {Replaced(Good, "<UseFitnessCutoff>false", "<UseFitnessCutoff>maybe"), Convert, {"maybe"}},
        {Replaced(Good, "<Reproduction>", "<Other>"), Xml, {}},
        {Replaced(Replaced(Good, "<Reproduction>", "<Other>"), "</Reproduction>", "</Other>"),
         Convert,
         {"Reproduction"}},
        {Replaced(Good, "</IntegerGene>", "</IntegerGene><Comment>x</Comment>"),
         IntfCast,
         {"Comment", "item 1"}},
        {Replaced(Good, "</IntegerGene>", "</IntegerGene>stray"), IntfCast, {"stray"}},
        {Replaced(Good, "<Size>16</Size>", "<Size>-1</Size>"), Convert, {"-1", "Size"}},
        {Replaced(Good, "<Size>16</Size>", "<Size>16777217</Size>"), Convert, {"16777217"}},
        {Replaced(Good, "<Size>16</Size>", "<Size>16777216</Size>"), Convert, {"16777232"}},
        {Replaced(Good, "<MinValue>0</MinValue>", "<MinValue>zz</MinValue>"),
         Convert,
         {"zz", "MinValue"}},
        {Replaced(Good, "Size=\"32\"", "Size=\"-5\""), Convert, {"-5", "GenoType"}},
        {Replaced(Good, "Size=\"32\"", "Size=\"x\""), Convert, {"\"x\"", "GenoType"}},
        {Good.substr(0, LastBits) + "0x" + Good.substr(LastBits + 2),
         Convert,
         {"Chromosome 4", "0x"}},
        {Replaced(Good, "<Chromosomes>",
                  "<Chromosomes><Chromosome><Genes><Bits>" + std::string(16777217, '1') +
                      "</Bits></Genes></Chromosome>"),
         Convert,
         {"Chromosome 0", "16777217"}},
        {Replaced(Replaced(Good, "Size=\"32\"", "Size=\"16777216\""), "<Chromosomes>",
                  "<Chromosomes>" + Fill(300, "<Chromosome />")),
         Convert,
         {"305 chromosomes"}},
        {Replaced(Replaced(Good, "</GenoType>",
                           "<EnumerationGene><Size>16777000</Size><Enumeration>a</Enumeration>"
                           "<Enumeration>b</Enumeration></EnumerationGene></GenoType>"),
                  "<Chromosomes>", "<Chromosomes>" + Fill(300, "<Chromosome />")),
         Convert,
         {"305 chromosomes of 16777032 bits"}},
        {Good.substr(0, Good.size() / 2), Xml, {}},
        {"<GADomain />", IntfCast, {"GeneticAlgorithm"}},
        {"", Xml, {}},
    };
    for (size_t I = 0; I < Cases.size(); ++I) {
        SCOPED_TRACE(I);
        try {
            kvtest::LoadText(A, Cases[I].Text);
            ADD_FAILURE() << "the document loaded";
        } catch (const Exception& E) {
            EXPECT_TRUE(IsKind(E, Cases[I].Kind)) << typeid(E).name() << ": " << E.what();
            for (const std::string& Text : Cases[I].Mentions)
                EXPECT_NE(std::string(E.what()).find(Text), std::string::npos) << E.what();
        }
        EXPECT_EQ(Snapshot(A), Before);
    }
    EXPECT_THROW(A.LoadFromFile("/nonexistent/kvga.xml"), EXmlError);
    EXPECT_EQ(Snapshot(A), Before);
    kvtest::LoadText(A, Good); // the document the bad ones came from is sound
    EXPECT_NE(Snapshot(A), Before);
}

TEST(PersistenceLoadFailure, EachPartIsAllOrNothingOnItsOwn) {
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A);
    const std::string Before = Snapshot(A);
    auto Doc = NewXMLDocument();
    Doc->LoadFromString(Replaced(Replaced(OtherDocument(), "<Size>16</Size>", "<Size>-2</Size>"),
                                 "<Bits>1", "<Bits>2"));
    auto Domain = GetGeneticAlgorithm(Doc)->GetDomain();
    EXPECT_THROW(A.GetGenes()->LoadFromXML(*Domain->GetGenoType()), EConvertError);
    EXPECT_THROW(A.GetPopulation()->LoadFromXML(*Domain->GetChromosomes()), EConvertError);
    EXPECT_THROW(
        A.GetPopulation()->GetItem(0)->LoadFromXML(*Domain->GetChromosomes()->GetChromosome(0)),
        EConvertError);
    EXPECT_EQ(Snapshot(A), Before);

    // Sound genes and a bad chromosome: the domain is refused before the genes are replaced.
    Doc->LoadFromString(Replaced(OtherDocument(), "<Bits>1", "<Bits>2"));
    EXPECT_THROW(A.LoadFromXML(*GetGeneticAlgorithm(Doc)->GetDomain()), EConvertError);
    EXPECT_EQ(Snapshot(A), Before);
}

TEST(SaveToFile, FailuresLeaveTheOldFileWhole) {
    const fs::path Dir = kvtest::TestDir("atomic");
    const fs::path File = Dir / "engine.xml";
    std::ofstream(File) << "old content";

    // Building fails: a name that is not valid UTF-8.
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A);
    A.GetPopulation()->GetItem(1)->SetName("bad \xFF");
    EXPECT_THROW(A.SaveToFile(File.string()), EConvertError);
    EXPECT_EQ(Content(File), "old content");

    // Writing fails: the file size limit is below the document's size.
    A.GetPopulation()->GetItem(1)->SetName("");
    struct rlimit Old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &Old), 0);
    struct rlimit Low = Old;
    Low.rlim_cur = 512;
    auto OldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &Low), 0);
    bool Failed = false;
    try {
        A.SaveToFile(File.string());
    } catch (const EXmlError&) {
        Failed = true;
    }
    setrlimit(RLIMIT_FSIZE, &Old);
    std::signal(SIGXFSZ, OldHandler);
    EXPECT_TRUE(Failed);
    EXPECT_EQ(Content(File), "old content");
    EXPECT_EQ(DirectoryNames(Dir), std::vector<std::string>{"engine.xml"});

    // Renaming fails: the target is a directory.
    const fs::path Taken = Dir / "taken";
    fs::create_directory(Taken);
    std::ofstream(Taken / "inside") << "x";
    EXPECT_THROW(A.SaveToFile(Taken.string()), EXmlError);
    EXPECT_EQ(DirectoryNames(Taken), std::vector<std::string>{"inside"});
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 2);

    // Success replaces the content, keeps the permissions and writes through a symbolic link.
    fs::permissions(File, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const fs::path Link = Dir / "link.xml";
    fs::create_symlink(File.filename(), Link);
    A.SaveToFile(Link.string());
    EXPECT_TRUE(fs::is_symlink(Link));
    EXPECT_EQ(fs::status(File).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(Content(File), SaveText(A));
    TKvGeneticAlgorithm B;
    B.LoadFromFile(File.string());
    EXPECT_EQ(kvtest::Values(B), kvtest::Values(A));
    fs::remove_all(Dir);
}
