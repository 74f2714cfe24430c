// Hostile inputs: files a user might hand the library, from the malicious (entity bombs, 100,000
// levels of nesting) to the merely broken (truncated, wrong encoding, sizes out of range). Each is
// loaded into an engine through one of the public entry points and must be answered exactly as
// documented: refused with its error class and the engine as it was (a full save compared), or
// accepted with the documented result. Either way the engine keeps working afterwards, and the
// memory the load takes stays within a bound proportional to the input.
//
// The files are in tests/data/hostile/; the big ones are made here at test time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/xml/KvGADomainXML.h"
#include "tests/fuzz/fuzz_engines.h"

using namespace kv;
namespace fs = std::filesystem;

namespace {

// How an input reaches the engine.
enum TEntry {
    enEngine,     // LoadFromFile, and LoadFromStream with the same bytes
    enDomain,     // LoadFromXML(LoadGADomain(file))
    enGenoType,   // GetGenes()->LoadFromXML(LoadGenoType(file))
    enChromosomes // GetPopulation()->LoadFromXML(LoadChromosomes(file))
};

// What the library answers.
enum TAnswer { anLoads, anXmlError, anIntfCastError, anConvertError };

struct THostileInput {
    std::string Name; // a file in tests/data/hostile, or a generated input
    TEntry Entry;
    TAnswer Answer;
    std::function<std::string()> Make;               // the bytes of a generated input
    std::function<void(TKvGeneticAlgorithm&)> Check; // the documented result of a load
};

fs::path TempDir() {
    const char* Dir = std::getenv("KVGA_TEST_TMP");
    fs::path P = fs::path(Dir != nullptr ? Dir : fs::temp_directory_path().string()) / "hostile";
    fs::create_directories(P);
    return P;
}

std::string Repeat(const std::string& Text, size_t Count) {
    std::string S;
    S.reserve(Text.size() * Count);
    for (size_t I = 0; I < Count; ++I)
        S += Text;
    return S;
}

std::string Replaced(std::string Text, const std::string& Old, const std::string& New) {
    const size_t At = Text.find(Old);
    EXPECT_NE(At, std::string::npos) << Old;
    if (At != std::string::npos)
        Text.replace(At, Old.size(), New);
    return Text;
}

// The sample engine's documents, from which most hostile inputs are made.
std::string SampleEngineText() {
    TKvGeneticAlgorithm GA;
    fuzz::MakeSampleEngine(GA);
    return fuzz::SaveEngine(GA);
}

std::string SampleChromosomesText() {
    TKvGeneticAlgorithm GA;
    fuzz::MakeSampleEngine(GA);
    return fuzz::SaveChromosomes(GA);
}

// The engine the inputs are loaded into: unlike the sample engine in every saved part, so that a
// document that loads shows in the save and one that is refused must leave this one.
void MakeStartEngine(TKvGeneticAlgorithm& GA) {
    for (int I = 0; I < 2; ++I) {
        TKvGAGene* Gene = GA.GetGenes()->Add();
        Gene->SetName(I == 0 ? "Left" : "Right");
        Gene->SetGeneType(gtInteger);
        Gene->SetSize(16);
    }
    for (int I = 0; I < 5; ++I)
        GA.GetPopulation()->Add()->GetBits()->SetBit(I * 3, true);
    GA.SetGeneration(99);
    GA.SetSelectionMethod(smElitist);
    GA.SetTournamentField(4);
    GA.SetCrossoverProbability(0.375);
    GA.SetMutationProbability(0.125);
    GA.SetInversionProbability(0.5);
    GA.SetCrossoverMethod(cmWordBoundary);
}

// The peak of the resident memory since Reset, above what was resident then (Linux: resetting
// the peak through /proc/self/clear_refs). Available() is false where that cannot be done.
class TPeakMemory {
public:
    bool Available() const noexcept { return FAvailable; }
    void Reset() {
        std::ofstream Clear("/proc/self/clear_refs");
        Clear << "5";
        Clear.flush();
        FAvailable = Clear.good() && Read("VmHWM:") > 0;
        FBase = Read("VmRSS:");
    }
    long long GrowthBytes() const { return (Read("VmHWM:") - FBase) * 1024; }

private:
    static long long Read(const std::string& Key) {
        std::ifstream Status("/proc/self/status");
        std::string Line;
        while (std::getline(Status, Line))
            if (Line.rfind(Key, 0) == 0)
                return std::atoll(Line.c_str() + Key.size());
        return 0;
    }
    bool FAvailable = false;
    long long FBase = 0;
};

bool IsAnswer(const Exception& E, TAnswer Answer) {
    switch (Answer) {
    case anXmlError:
        return typeid(E) == typeid(EXmlError);
    case anIntfCastError:
        return typeid(E) == typeid(EIntfCastError);
    case anConvertError:
        return typeid(E) == typeid(EConvertError);
    default:
        return false;
    }
}

void Load(TKvGeneticAlgorithm& GA, TEntry Entry, const fs::path& File, bool FromStream) {
    switch (Entry) {
    case enEngine:
        if (FromStream) {
            std::ifstream In(File, std::ios::binary);
            GA.LoadFromStream(In);
        } else {
            GA.LoadFromFile(File.string());
        }
        break;
    case enDomain:
        GA.LoadFromXML(*LoadGADomain(File.string()));
        break;
    case enGenoType:
        GA.GetGenes()->LoadFromXML(*LoadGenoType(File.string()));
        break;
    case enChromosomes:
        GA.GetPopulation()->LoadFromXML(*LoadChromosomes(File.string()));
        break;
    }
}

// The engine still saves and breeds after whatever it was handed. (Bred chromosomes may hold a
// code past the last entry of an enumerated gene, which cannot be saved: EGAException.)
void ExpectWorking(TKvGeneticAlgorithm& GA) {
    EXPECT_NO_THROW(fuzz::SaveEngine(GA));
    GA.SetInitialPopulation(6);
    GA.SetOnEvaluateFitness(
        [](TObject*, TKvGAIndividual* Item, TGAFitness& F) { F = 1 + Item->GetIndex() % 3; });
    EXPECT_NO_THROW(GA.Evolve(1));
    try {
        fuzz::SaveEngine(GA);
    } catch (const EGAException&) {
    }
}

// ---- the documented results of the inputs that load ----

// The engine is the sample engine: the input said what the sample document says.
void IsSample(TKvGeneticAlgorithm& GA) {
    EXPECT_EQ(fuzz::SaveEngine(GA), SampleEngineText());
}

std::vector<THostileInput> Inputs() {
    const auto XmlError = [](const char* Name, TEntry Entry = enEngine) {
        return THostileInput{Name, Entry, anXmlError, nullptr, nullptr};
    };
    const auto IntfCast = [](const char* Name, TEntry Entry = enEngine) {
        return THostileInput{Name, Entry, anIntfCastError, nullptr, nullptr};
    };
    const auto Convert = [](const char* Name, TEntry Entry = enEngine) {
        return THostileInput{Name, Entry, anConvertError, nullptr, nullptr};
    };
    const auto Loads = [](const char* Name, TEntry Entry,
                          std::function<void(TKvGeneticAlgorithm&)> Check) {
        return THostileInput{Name, Entry, anLoads, nullptr, std::move(Check)};
    };
    std::vector<THostileInput> In = {
        // Entities are never expanded: any document type declaration is refused.
        XmlError("billion_laughs.xml"),
        XmlError("external_entity.xml"),
        XmlError("parameter_entity.xml"),
        // Documents that end too soon.
        XmlError("truncated_half.xml"),
        XmlError("truncated_in_tag.xml"),
        XmlError("truncated_bom.xml"),
        XmlError("unclosed_cdata.xml"),
        XmlError("unclosed_comment.xml"),
        // Bytes that are no text in the declared or detected encoding.
        XmlError("invalid_utf8.xml"),
        XmlError("overlong_utf8.xml"),
        XmlError("utf8_surrogate.xml"),
        XmlError("utf8_beyond_unicode.xml"),
        XmlError("lone_continuation_byte.xml"),
        XmlError("utf16_odd_length.xml"),
        XmlError("utf16_lone_surrogate.xml"),
        XmlError("nul_byte.xml"),
        XmlError("nul_character_reference.xml"),
        XmlError("surrogate_character_reference.xml"),
        // No document at all.
        XmlError("empty.xml"),
        XmlError("only_whitespace.xml"),
        XmlError("only_declaration.xml"),
        XmlError("only_comment.xml"),
        // Roots: the wrong one does not bind; more than one, or text beside it, is no document.
        IntfCast("wrong_root.xml"),
        IntfCast("wrong_root_case.xml"),
        IntfCast("namespaced_root.xml"),
        XmlError("two_roots.xml"),
        XmlError("text_after_root.xml"),
        // GenoType holds gene elements only; comments and processing instructions are dropped
        // when a document is read, so they stand for nothing.
        Loads("comment_in_genotype.xml", enEngine, IsSample),
        Loads("processing_instruction_in_genotype.xml", enEngine, IsSample),
        IntfCast("text_in_genotype.xml"),
        IntfCast("cdata_in_genotype.xml"),
        IntfCast("unknown_gene_element.xml"),
        // A single element given twice: the first one counts.
        Loads("duplicated_generation.xml", enEngine,
              [](TKvGeneticAlgorithm& GA) {
                  EXPECT_EQ(GA.GetGeneration(), 7);
                  IsSample(GA);
              }),
        Loads("duplicated_genotype_domain.xml", enDomain,
              [](TKvGeneticAlgorithm& GA) {
                  ASSERT_EQ(GA.GetGenes()->GetCount(), 4);
                  EXPECT_EQ(GA.GetGenes()->GetItem(0)->GetName(), "Flag");
                  EXPECT_EQ(GA.GetGeneSize(), 20);
              }),
        // Sizes: negative, beyond 2^24 bits for a chromosome or 2^32 bits for a population, or no
        // 32-bit integer at all, are refused before anything is allocated for them.
        Convert("negative_genotype_size.xml"),
        Convert("huge_genotype_size.xml"),
        Convert("overflowing_genotype_size.xml"),
        Convert("hex_genotype_size.xml"),
        Convert("negative_gene_size.xml"),
        Convert("huge_gene_size.xml"),
        Convert("genes_beyond_limit.xml", enGenoType),
        Convert("population_beyond_limit.xml", enDomain),
        // Bits: only 0 and 1; a shorter text leaves the rest of the chromosome 0, a longer one
        // gives its first bits.
        Convert("bits_other_characters.xml"),
        Convert("bits_inner_space.xml", enChromosomes),
        Convert("bits_unicode_digits.xml", enChromosomes),
        Loads("bits_short.xml", enChromosomes,
              [](TKvGeneticAlgorithm& GA) {
                  EXPECT_EQ(GA.GetPopulation()->GetItem(0)->GetBits()->ToBitString(),
                            "1011" + std::string(28, '0'));
              }),
        Loads("bits_long.xml", enChromosomes,
              [](TKvGeneticAlgorithm& GA) {
                  EXPECT_EQ(GA.GetPopulation()->GetItem(0)->GetBits()->ToBitString(),
                            "10110011100011110100" + std::string(12, '1'));
              }),
        // Enumerated settings: identifiers only, never numbers or the empty text.
        Convert("unknown_fitness_method.xml"),
        Convert("unknown_selection_method.xml"),
        Convert("unknown_crossover_method.xml"),
        Convert("selection_method_by_number.xml"),
        Convert("empty_crossover_method.xml"),
        // Values: required, convertible, of their type.
        Convert("missing_tournament_field.xml"),
        Convert("generation_not_a_number.xml"),
        Convert("generation_overflow.xml"),
        Convert("boolean_word.xml"),
        Convert("probability_too_large_for_single.xml"),
        // Probabilities that are no fraction from 0 to 1 are ignored by their writers.
        Loads("probability_nan.xml", enEngine,
              [](TKvGeneticAlgorithm& GA) {
                  EXPECT_EQ(GA.GetCrossoverProbability(), 0.375);
                  EXPECT_EQ(GA.GetGeneration(), 7);
              }),
        Loads("probability_infinite.xml", enEngine,
              [](TKvGeneticAlgorithm& GA) {
                  EXPECT_EQ(GA.GetMutationProbability(), 0.125);
                  EXPECT_EQ(GA.GetGeneration(), 7);
              }),
        Convert("huge_tournament_field.xml"),
    };

    // ---- generated: too big to keep in the repository ----
    const auto Generated = [&In](const char* Name, TEntry Entry, TAnswer Answer,
                                 std::function<std::string()> Make,
                                 std::function<void(TKvGeneticAlgorithm&)> Check = nullptr) {
        In.push_back(THostileInput{Name, Entry, Answer, std::move(Make), std::move(Check)});
    };
    Generated("nesting_100000_deep", enEngine, anXmlError, [] {
        return "<GeneticAlgorithm>" + Repeat("<Domain>", 100000) + Repeat("</Domain>", 100000) +
               "</GeneticAlgorithm>";
    });
    Generated("genes_100000_deep", enGenoType, anXmlError, [] {
        return "<GenoType>" + Repeat("<BooleanGene>", 100000) + Repeat("</BooleanGene>", 100000) +
               "</GenoType>";
    });
    Generated("nesting_one_level_too_deep", enEngine, anXmlError, [] {
        return Repeat("<GeneticAlgorithm>", MaxXMLDepth + 1) +
               Repeat("</GeneticAlgorithm>", MaxXMLDepth + 1);
    });
    Generated("junk_10_mb", enEngine, anXmlError, [] { return std::string(10 << 20, 'x'); });
    Generated("unterminated_10_mb_text", enEngine, anXmlError, [] {
        return Replaced(SampleEngineText(), "<Name>Best</Name>",
                        "<Name>" + std::string(10 << 20, 'B'));
    });
    Generated(
        "name_10_mb", enEngine, anLoads,
        [] {
            return Replaced(SampleEngineText(), "<Name>Best</Name>",
                            "<Name>" + std::string(10 << 20, 'B') + "</Name>");
        },
        [](TKvGeneticAlgorithm& GA) {
            EXPECT_EQ(GA.GetPopulation()->GetItem(0)->GetName(), std::string(10 << 20, 'B'));
        });
    Generated(
        "comment_10_mb", enEngine, anLoads,
        [] {
            return Replaced(SampleEngineText(), "<Domain>",
                            "<Domain><!--" + std::string(10 << 20, 'c') + "-->");
        },
        IsSample);
    Generated("bits_beyond_limit", enChromosomes, anConvertError, [] {
        return Replaced(SampleChromosomesText(), "10110011100011110100",
                        std::string(MaxChromosomeBits + 1, '1'));
    });
    // 17 KB asking for 2^32 bits: the padding beyond the Bits texts is bounded.
    Generated("padding_beyond_limit", enEngine, anConvertError, [] {
        return Replaced(
            Replaced(SampleEngineText(), "<GenoType Size=\"20\"", "<GenoType Size=\"16777216\""),
            "<Chromosomes>",
            "<Chromosomes>" + Repeat("<Chromosome><Name>E</Name></Chromosome>", 256));
    });
    Generated(
        "chromosomes_100000", enChromosomes, anLoads,
        [] { return "<Chromosomes>" + Repeat("<Chromosome/>", 100000) + "</Chromosomes>"; },
        [](TKvGeneticAlgorithm& GA) {
            EXPECT_EQ(GA.GetPopulation()->GetCount(), 100000);
            EXPECT_EQ(GA.GetPopulation()->GetItem(99999)->GetBits()->GetSize(), 32);
        });
    return In;
}

} // namespace

TEST(HostileInput, EachIsAnsweredAsDocumentedAndLeavesTheEngineWorking) {
    const fs::path DataDir = fs::path(KVGA_TEST_DATA_DIR) / "hostile";
    const fs::path Tmp = TempDir();
    const std::vector<THostileInput> All = Inputs();
    std::vector<std::string> Files;
    TPeakMemory Memory;
    for (const THostileInput& Input : All) {
        SCOPED_TRACE(Input.Name);
        fs::path File = DataDir / Input.Name;
        if (Input.Make) {
            File = Tmp / Input.Name;
            std::ofstream(File, std::ios::binary) << Input.Make();
        } else {
            Files.push_back(Input.Name);
        }
        ASSERT_TRUE(fs::is_regular_file(File));
        const auto InputSize = static_cast<long long>(fs::file_size(File));
        for (bool FromStream : {false, true}) {
            if (FromStream && Input.Entry != enEngine)
                continue;
            SCOPED_TRACE(FromStream ? "LoadFromStream" : "load from the file");
            TKvGeneticAlgorithm GA;
            MakeStartEngine(GA);
            const std::string Before = fuzz::SaveEngine(GA);
            Memory.Reset();
            try {
                Load(GA, Input.Entry, File, FromStream);
                EXPECT_EQ(Input.Answer, anLoads) << "the input loaded";
                if (Input.Check)
                    Input.Check(GA);
            } catch (const Exception& E) {
                EXPECT_TRUE(IsAnswer(E, Input.Answer)) << typeid(E).name() << ": " << E.what();
                EXPECT_EQ(fuzz::SaveEngine(GA), Before) << "a refused input changed the engine";
            }
            // Everything a load holds at once: the input, its parsed tree and what is made from
            // it. A few copies of the input, and never more than what it describes.
            if (Memory.Available()) {
                EXPECT_LE(Memory.GrowthBytes(), (64ll << 20) + 8 * InputSize);
            }
            ExpectWorking(GA);
        }
        if (Input.Make)
            fs::remove(File);
    }
    // Every file in the directory is in the table.
    std::vector<std::string> OnDisk;
    for (const fs::directory_entry& Entry : fs::directory_iterator(DataDir))
        OnDisk.push_back(Entry.path().filename().string());
    std::sort(OnDisk.begin(), OnDisk.end());
    std::sort(Files.begin(), Files.end());
    EXPECT_EQ(OnDisk, Files);
    EXPECT_GE(All.size(), 30u);
}

TEST(HostileInput, TournamentFieldIsBoundedOnLoading) {
    TKvGeneticAlgorithm GA;
    MakeStartEngine(GA);
    const std::string Sample = SampleEngineText();
    std::istringstream AtLimit(Replaced(Sample, "<TournamentField>3<", "<TournamentField>65536<"));
    GA.LoadFromStream(AtLimit);
    EXPECT_EQ(GA.GetTournamentField(), MaxTournamentField);

    const std::string Before = fuzz::SaveEngine(GA);
    std::istringstream Beyond(Replaced(Sample, "<TournamentField>3<", "<TournamentField>65537<"));
    try {
        GA.LoadFromStream(Beyond);
        ADD_FAILURE() << "a TournamentField of 65537 loaded";
    } catch (const EConvertError& E) {
        EXPECT_NE(std::string(E.what()).find("65537"), std::string::npos) << E.what();
        EXPECT_NE(std::string(E.what()).find("TournamentField"), std::string::npos) << E.what();
    }
    EXPECT_EQ(fuzz::SaveEngine(GA), Before);
}
