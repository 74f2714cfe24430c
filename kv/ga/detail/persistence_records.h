// Internal: plain descriptions of what a document holds, read and checked before anything of an
// engine is changed (see kv/ga/persistence.h for the rules they enforce). Only the library's own
// sources include this header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kv/vocabulary/ga_types.h"
#include "kv/xml/xml_node.h"

namespace kv {

class IXMLGenoType;
class IXMLChromosome;
class IXMLChromosomes;
class IXMLGADomainType;
class IXMLGeneticAlgorithm;

namespace detail {

// One gene element.
struct TGeneRecord {
    TGeneType GeneType = gtUnknown;
    std::string Name;
    int32_t Size = 0;
    // IntegerGene, FloatGene and EnumerationGene carry a range and a sign flag.
    bool Numeric = false;
    double MinValue = 0;
    double MaxValue = 0;
    bool PreserveSignBit = false;
    std::vector<std::string> Enumerations;
    // IntegerGene only, all optional: the real interval (RealLow and RealHigh together) and
    // GrayCode.
    bool UseRealInterval = false;
    double RealLow = 0;
    double RealHigh = 1;
    bool GrayCode = false;
};

// A GenoType element.
struct TGenoTypeRecord {
    // The attribute Size (0 when absent).
    int32_t Size = 0;
    std::vector<TGeneRecord> Genes;
    // The GeneSize an engine ends with after loading these genes: Size, grown to the largest
    // total the genes reach while they are re-created one writer call after the other.
    int32_t GeneSize = 0;
};

// Reads and checks a GenoType element (the rules of persistence.h).
TGenoTypeRecord ReadGenoType(IXMLGenoType& Node);

// A Chromosome element: its name and its Bits text.
struct TChromosomeRecord {
    std::string Name;
    std::string Bits;
};

// Reads and checks one Chromosome element; Index is its place for messages (-1: none).
TChromosomeRecord ReadChromosome(IXMLChromosome& Node, int Index = -1);

// Reads and checks every Chromosome item of Node. GeneSize is the length the chromosomes of the
// population they are loaded into will have, or -1 when the population belongs to no engine;
// MaxPaddingBits bounds the bits, in all, that GeneSize adds beyond shorter Bits texts.
std::vector<TChromosomeRecord> ReadChromosomes(IXMLChromosomes& Node, int64_t GeneSize,
                                               int64_t MaxPaddingBits);

// Raises the error that loading the settings document Node into an engine whose MaxPaddingBits
// is the one given would raise (a value absent or not convertible, a size beyond the limits, a
// padding beyond MaxPaddingBits); keeps nothing of what it reads.
void CheckLoadable(IXMLGeneticAlgorithm& Node, int64_t MaxPaddingBits);

// What an engine's domain load has read and checked, handed to the genotype's and the
// population's loads that it calls next with the same nodes, so that a document is read once.
// Each load takes the reading of its own node only, once; the chromosomes only when they were
// checked against the GeneSize the population now has. Scopes nest (per thread).
class TDomainReading {
public:
    TDomainReading(const IXMLGenoType& GenoType, const TGenoTypeRecord& Genes,
                   const IXMLChromosomes& Chromosomes,
                   const std::vector<TChromosomeRecord>& Individuals, int64_t GeneSize) noexcept;
    TDomainReading(const TDomainReading&) = delete;
    TDomainReading& operator=(const TDomainReading&) = delete;
    ~TDomainReading();

    // The reading of Node, or nullptr when the current scope has none for it.
    static const TGenoTypeRecord* TakeGenes(const IXMLGenoType& Node) noexcept;
    static const std::vector<TChromosomeRecord>* TakeChromosomes(const IXMLChromosomes& Node,
                                                                 int64_t GeneSize) noexcept;

private:
    const IXMLGenoType* FGenoType;
    const TGenoTypeRecord* FGenes;
    const IXMLChromosomes* FChromosomes;
    const std::vector<TChromosomeRecord>* FIndividuals;
    int64_t FGeneSize;
    TDomainReading* FOuter;
};

// The settings of a GeneticAlgorithm element (the floating-point ones as the document holds them,
// in single precision).
struct TSettingsRecord {
    float DiversityLimit = 0;
    float FitnessCutoff = 0;
    TGAFitnessMethod FitnessMethod = fmMinimize;
    int32_t Generation = 0;
    bool UseDiversityLimit = false;
    bool UseFitnessCutoff = false;
    TGACrossoverMethod CrossoverMethod = cmGeneBoundary;
    float CrossoverProbability = 0;
    float InversionProbability = 0;
    float MutationProbability = 0;
    TGASelectionMethod SelectionMethod = smRoulette;
    float ElitistPercent = 0;
    int32_t TournamentField = 0;
    // Optional elements of Reproduction; absent or empty, the defaults.
    TGACrossoverKind CrossoverKind = ckOnePoint;
    TGAMutationMode MutationMode = mmPerBit;
};

// Reads and checks the 13 settings of a GeneticAlgorithm element, in the order they are applied,
// and the optional ones.
TSettingsRecord ReadSettings(IXMLGeneticAlgorithm& Node);

// The typed child element Name of Node without creating it: nullptr when absent. A child that
// does not answer to T (a foreign node class) counts as absent.
template <class T>
std::shared_ptr<T> FindChild(IXMLNode& Node, std::string_view Name) {
    return std::dynamic_pointer_cast<T>(Node.FindChildNode(Name));
}

} // namespace detail
} // namespace kv
