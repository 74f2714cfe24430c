#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
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

TEST(Files, OnlyRegularFilesAreReadOrReplaced) {
    const fs::path Dir = kvtest::TestDir("special");
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A);
    const std::string Before = Snapshot(A);
    const auto Refused = [&](const std::function<void()>& Call, const fs::path& Path) {
        try {
            Call();
            ADD_FAILURE() << Path << " was accepted";
        } catch (const EXmlError& E) {
            EXPECT_NE(std::string(E.what()).find(Path.string()), std::string::npos) << E.what();
        }
    };
    const fs::path Fifo = Dir / "fifo";
    ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
    // Loading refuses at once what is no regular file: no reading until the memory runs out, no
    // waiting for a writer.
    for (const fs::path& Path : {Dir, Fifo, fs::path("/dev/zero")})
        Refused([&] { A.LoadFromFile(Path.string()); }, Path);
    EXPECT_EQ(Snapshot(A), Before);

    // Saving refuses to replace what is no regular file, directly or through a link, and a link
    // that names no file; each stays as it was.
    const fs::path ToFifo = Dir / "to_fifo.xml", Dangling = Dir / "dangling.xml";
    fs::create_symlink(Fifo, ToFifo);
    fs::create_symlink(Dir / "missing" / "engine.xml", Dangling);
    const fs::path Device = Dir / "null";
    const bool HaveDevice = mknod(Device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    for (const fs::path& Path : {Fifo, ToFifo, Dangling, Dir}) {
        Refused([&] { A.SaveToFile(Path.string()); }, Path);
        Refused([&] { NewGeneticAlgorithm()->GetOwnerDocument()->SaveToFile(Path.string()); },
                Path);
    }
    if (HaveDevice) {
        Refused([&] { A.SaveToFile(Device.string()); }, Device);
        EXPECT_TRUE(fs::is_character_file(Device));
    }
    EXPECT_TRUE(fs::is_fifo(Fifo));
    EXPECT_TRUE(fs::is_symlink(ToFifo));
    EXPECT_TRUE(fs::is_symlink(Dangling));
    EXPECT_FALSE(fs::exists(Dir / "missing"));
    fs::remove_all(Dir);
}

TEST(DocumentLimits, LoadsAndSavesRefuseTheSameDocuments) {
    const fs::path Dir = kvtest::TestDir("limits");
    const fs::path File = Dir / "engine.xml";
    TKvGeneticAlgorithm A;
    kvtest::BuildEngine(A);
    const std::string Text = SaveText(A);
    A.SaveToFile(File.string());

    // The document size: exactly at the limit loads, one byte more is refused while reading.
    TKvGeneticAlgorithm B;
    TKvDocumentLimits Limits;
    EXPECT_EQ(B.GetDocumentLimits().MaxDocumentBytes, DefaultMaxXMLDocumentBytes);
    EXPECT_EQ(B.GetDocumentLimits().MaxPaddingBits, DefaultMaxPaddingBits);
    Limits.MaxDocumentBytes = Text.size();
    B.SetDocumentLimits(Limits);
    kvtest::LoadText(B, Text);
    B.LoadFromFile(File.string());
    const std::string Loaded = Snapshot(B);
    Limits.MaxDocumentBytes = Text.size() - 1;
    B.SetDocumentLimits(Limits);
    EXPECT_THROW(kvtest::LoadText(B, Text), EXmlError);
    EXPECT_THROW(B.LoadFromFile(File.string()), EXmlError);
    B.SetDocumentLimits(TKvDocumentLimits());
    EXPECT_EQ(Snapshot(B), Loaded);
    // ... and the engine with that limit does not save what it could not load.
    A.SetDocumentLimits(Limits);
    std::ostringstream Refused;
    EXPECT_THROW(A.SaveToStream(Refused), EXmlError);
    std::ofstream(File) << "old content";
    EXPECT_THROW(A.SaveToFile(File.string()), EXmlError);
    EXPECT_EQ(Content(File), "old content");
    Limits.MaxDocumentBytes = 128; // below the 129 bits of the population: refused before building
    A.SetDocumentLimits(Limits);
    try {
        A.SaveToStream(Refused);
        ADD_FAILURE() << "saved";
    } catch (const EXmlError& E) {
        EXPECT_NE(std::string(E.what()).find("129 bits"), std::string::npos) << E.what();
    }

    // Padding: chromosomes of 2^20 bits with empty Bits texts. 16 of them pad exactly the default
    // allowance and load; 17 are refused before a chromosome is made, unless the bound is lifted.
    const auto Padded = [](int Count) {
        return "<GeneticAlgorithm><DiversityLimit>0</DiversityLimit><FitnessCutoff>0</"
               "FitnessCutoff>"
               "<FitnessMethod>fmMinimize</FitnessMethod><Generation>0</Generation>"
               "<UseDiversityLimit>false</UseDiversityLimit><UseFitnessCutoff>false"
               "</UseFitnessCutoff><Reproduction><CrossoverMethod>cmBitBoundary</CrossoverMethod>"
               "<CrossoverProbability>0</CrossoverProbability><InversionProbability>0"
               "</InversionProbability><MutationProbability>0</MutationProbability>"
               "<SelectionMethod><Method>smRandom</Method><ElitistPercent>0</ElitistPercent>"
               "<TournamentField>2</TournamentField></SelectionMethod></Reproduction><Domain>"
               "<GenoType Size=\"1048576\"/><Chromosomes>" +
               Fill(static_cast<size_t>(Count), "<Chromosome><Name>P</Name></Chromosome>") +
               "</Chromosomes></Domain></GeneticAlgorithm>";
    };
    TKvGeneticAlgorithm C;
    kvtest::LoadText(C, Padded(16));
    EXPECT_EQ(C.GetPopulation()->GetCount(), 16);
    C.GetPopulation()->Clear();
    const std::string Empty = Snapshot(C);
    try {
        kvtest::LoadText(C, Padded(17));
        ADD_FAILURE() << "17 padded chromosomes loaded";
    } catch (const EConvertError& E) {
        EXPECT_NE(std::string(E.what()).find("MaxPaddingBits"), std::string::npos) << E.what();
    }
    EXPECT_EQ(Snapshot(C), Empty);
    Limits = TKvDocumentLimits();
    Limits.MaxPaddingBits = MaxPopulationBits;
    C.SetDocumentLimits(Limits);
    kvtest::LoadText(C, Padded(17));
    EXPECT_EQ(C.GetPopulation()->GetCount(), 17);

    // With no padding allowed, a document that spells out its bits still loads, while an engine
    // with a shortened chromosome refuses to save what it could not load back.
    Limits.MaxPaddingBits = 0;
    TKvGeneticAlgorithm D;
    D.SetDocumentLimits(Limits);
    kvtest::LoadText(D, Text);
    D.GetPopulation()->GetItem(1)->GetBits()->SetSize(D.GetGeneSize() - 1);
    std::ofstream(File) << "old content";
    EXPECT_THROW(D.SaveToFile(File.string()), EXmlError);
    EXPECT_EQ(Content(File), "old content");
    std::ostringstream Nothing;
    EXPECT_THROW(D.SaveToStream(Nothing), EXmlError);
    EXPECT_EQ(Nothing.str(), "");
    fs::remove_all(Dir);
}
