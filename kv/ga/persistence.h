// Saving and loading genotypes, populations and engines as XML documents, and copying engines.
//
// The operations are virtual members of the classes they move (declared in individual.h,
// population.h, genes.h and engine.h) and call each other through their virtual slots, so a
// descendant that overrides one of them takes part wherever it is reached:
//
//   engine.SaveToFile / SaveToStream      a new settings document filled by SaveToXML(settings)
//   engine.SaveToXML(IXMLGeneticAlgorithm) the 13 settings, then SaveToXML(IXMLGADomainType)
//   engine.SaveToXML(IXMLGADomainType)    Genes->SaveToXML(GenoType), Population->SaveToXML(...)
//   population.SaveToXML(IXMLChromosomes) one Chromosome per individual: individual.SaveToXML
//   individual.SaveToXML(IXMLChromosome)  Name (the display name), Genes.Bits (the whole bit
//                                         string) and, inside an engine, the decoded gene values
//                                         through the engine's Genes->SaveToXML(Genes, individual)
//   genes.SaveToXML(IXMLGenoType)         one gene element per gene and the attribute Size
//   ... and the same chain for LoadFromFile / LoadFromStream / LoadFromXML.
//
// What is saved: the settings DiversityLimit, FitnessCutoff, FitnessMethod, Generation,
// UseDiversityLimit, UseFitnessCutoff, CrossoverMethod, CrossoverProbability,
// InversionProbability, MutationProbability, SelectionMethod, ElitistPct (as ElitistPercent) and
// TournamentField; GeneSize (as the GenoType's Size: the larger of GeneSize and the genes' total,
// so chromosomes longer than their genes, as a genetic program's are, come back whole); each gene's
// display name, Size and kind (and range, sign flag and enumeration texts for numeric kinds);
// each individual of the current population with its display name and whole bit string. The
// floating-point settings pass through single precision (0.98 comes back as 0.9800000190734863);
// enumerated settings are written as their identifiers ("smTournament") and read ignoring case.
// Optional settings, each written only when it differs from its default, so that a document of
// an engine that uses none of them is exactly what it was without them: CrossoverKind and
// MutationMode as elements of Reproduction (after MutationProbability: <CrossoverKind>ckUniform
// </CrossoverKind>), and an integer gene's real interval and Gray coding as elements of its
// IntegerGene (after PreserveSignBit: RealLow and RealHigh, doubles, together; GrayCode, a
// boolean). Saving into a node that already holds CrossoverKind or MutationMode overwrites them
// even with the default. On loading, an absent or empty element gives the default (ckOnePoint,
// mmPerBit, no interval, no Gray coding); the elements are read and checked with the rest.
// Not saved: fitness values, statistics, FittestIndividual, the previous generation,
// InitialPopulation, Operations, Initialized, events, gene offsets and genes of type gtUnknown.
// The decoded values are written for readers of the document and never read back.
//
// Saving into a node that already holds items appends to it (genes, values and chromosomes are
// never cleared); single values (Name, Bits, the settings, Size) are overwritten. The decoded
// value of an enumerated gene whose code names no entry (code 3 of a 2-bit gene of 3 entries, as
// random and mutated chromosomes hold) is written empty: the individual's bits are saved whole all
// the same. So is the value of a gene that does not lie wholly inside the individual's chromosome
// (GeneSize set below the genes' total, or a chromosome a callback shortened). A save that fails (a
// name that is not valid UTF-8, say) writes nothing to the stream, and SaveToFile leaves the file
// as it was.
//
// Loading re-creates the genes through their writers, in document order: Name, Size, then (numeric
// kinds) MinValue, MaxValue, PreserveSignBit, then the type, then the enumeration texts one by one.
// So a loaded integer or float gene has the default range of its size and sign flag, and an
// enumerated gene the size and range its texts give, whatever the document says. Inside an engine
// GeneSize first takes the GenoType's Size (0 when absent), grows while the genes are re-created
// when they outgrow it, and every loaded individual gets a chromosome of that length whose bits
// come from its Bits text (white space around the digits is ignored; a shorter text leaves the
// rest 0, surplus digits are ignored). An
// individual outside any engine's population takes the length of its text instead (there is no
// GeneSize to give it one). Loaded individuals have Fitness 0; Initialized, the statistics and
// the settings that the document does not hold stay as they were, and FittestIndividual becomes
// none (its individual is gone). An engine that was loaded but never initialised runs Initialize
// at its first Evolve, which re-randomises the loaded individuals unless OnInitialization reports
// them initialised.
//
// A load is all or nothing. Every LoadFromXML reads and checks its whole node before it changes
// anything, and the engine's loads check the genotype and the chromosomes before they replace
// either: every required value present and convertible, every enumeration identifier known, every
// child of GenoType a gene element, every size within the limits below, every Bits text made of
// 0 and 1 only. A document that fails leaves the engine exactly as it was (settings, genes,
// GeneSize, population and all), and the error names the element and the value. The document is
// not changed by loading. What the guarantee cannot cover: an exception raised while the checked
// content is applied by a descendant's override or an event hook, or the memory running out.
// The engine's domain load reads the document once and hands what it read to the base forms of
// the genotype's and the population's loads it calls; an individual of a class other than
// TKvGAIndividual reads its own node through its (possibly overridden) LoadFromXML.
//
// Limits of a loaded document, refused before anything is allocated for them:
//   MaxChromosomeBits  the GenoType's Size, each gene's Size, the total the genes reach while
//                      they are re-created, and the length of a Bits text: at most 2^24 bits
//   MaxPopulationBits  the individuals of a loaded population times the chromosome length they
//                      get: at most 2^32 bits (512 MiB of chromosomes). Loading a genotype alone
//                      refuses to grow an engine's existing population beyond it as well.
//   MaxTournamentField the TournamentField: at most 2^16. Each parent a tournament selects costs
//                      TournamentField draws, so a document could otherwise make every later
//                      generation run for hours (2^31 - 1 contestants per parent).
// and two settings of each engine (GetDocumentLimits/SetDocumentLimits, TKvDocumentLimits):
//   MaxDocumentBytes   LoadFromFile and LoadFromStream read at most this many bytes (default
//                      2^30, 1 GiB), checked while reading: a longer file or stream, an endless
//                      one (/dev/zero behind a stream) or one whose claimed size is too large is
//                      refused with EXmlError. LoadFromFile reads only a regular file (a symbolic
//                      link is followed): a directory, FIFO, device or socket is refused with
//                      EXmlError naming it, without reading or waiting.
//   MaxPaddingBits     a population loaded into an engine may be padded with at most this many
//                      zero bits in all (default 2^24): the bits its chromosomes get beyond their
//                      Bits texts (GeneSize less the text's length, for each shorter text). Bits
//                      spelled out in the document cost nothing, so every saved document passes,
//                      while a small hand-made one (a GenoType Size of 2^24 and 256 empty
//                      chromosomes: 17 KB asking for 512 MiB) is refused with EConvertError before
//                      a chromosome is made. A document's allocation is thus bounded by its own
//                      size plus this allowance.
// The limits are symmetric: SaveToStream and SaveToFile refuse, with EXmlError and before the
// stream or the file is touched, an engine whose document a load with the same settings would
// refuse (a chromosome or genotype beyond the limits, a padding beyond MaxPaddingBits, a
// TournamentField beyond MaxTournamentField), and one whose text is longer than
// MaxDocumentBytes: before the document is built when the population alone holds more bits than
// that (each bit is a character), else while writing (SaveToFile before the file is touched;
// SaveToStream may then have left the first MaxDocumentBytes bytes in the stream). So nothing is
// saved that cannot be loaded back. The memory running out while loading or saving a file or stream
// raises EXmlError saying so; no foreign exception class (std::bad_alloc, std::length_error, a
// file-system error) leaves these entry points.
//
// Errors of loading:
//   EXmlError       a file or stream that cannot be read, a malformed document
//   EIntfCastError  a root element other than GeneticAlgorithm; a child of GenoType that is not a
//                   BooleanGene, IntegerGene, FloatGene or EnumerationGene element (named)
//   EConvertError   a required value absent, empty or not convertible; an unknown enumeration
//                   identifier; a negative size, or a size or TournamentField beyond the limits; a
//                   Bits text with another character than 0 or 1; an optional value that is present
//                   but not convertible, RealLow without RealHigh (or the reverse), or a real
//                   interval whose bounds are not finite and increasing (each naming the element,
//                   its place and the value)
//
// SaveToFile builds the whole document first, writes it to a new temporary file beside the
// target, flushes it to the disk and renames it over the target, so a failure at any point leaves
// an existing file as it was and no temporary file behind (EXmlError naming the file and the
// system's reason). A target that is a symbolic link has the file it names replaced; the new file
// keeps the permissions of the one it replaces. Only a regular file is replaced: a target that
// is a directory, FIFO, device or socket (after following links), or a symbolic link that names
// no file (dangling), is refused with EXmlError and left as it is.
//
// Assign(Source) from another engine stores Generation, FitnessCutoff, the three probabilities,
// ElitistPct, GeneSize, FitnessMethod, the statistics, DiversityLimit, TournamentField,
// Initialized, CrossoverMethod, the two Use flags, CrossoverKind and MutationMode directly, sets
// SelectionMethod through its writer (a custom OnSelection is not copied: smCustom leaves
// OnSelection unset), and copies the genotype, the population and the previous generation into
// the engine's own collections (a source without a previous generation leaves the target's own
// one empty). FittestIndividual becomes the individual of the same index in the copied
// population (none when the source has none). The selection support data (the fitness sum and
// cumulative fitnesses, and the elitist queue, rebuilt over the copied population) follow, so
// the copy evolves exactly as the source would. Not copied: events, InitialPopulation,
// Operations, DocumentLimits, the component's name and owner.
// Any other source: the cannot-assign error (EConvertError).
//
// Checkpoints (SaveCheckpoint, LoadCheckpoint; files and streams). A checkpoint is the settings
// document above, written by the same SaveToXML, with optional elements added that hold the rest
// of a run, so that a run stopped after any Evolve and continued from its checkpoint, in this or
// another process, gives byte for byte the documents of the run that never stopped:
//
//   GeneticAlgorithm
//     ... the settings and the Domain, as SaveToXML writes them; each Chromosome gets, after its
//         Genes, Fitness: the individual's fitness
//     Checkpoint
//       Initialized, InitialPopulation
//       Operations              the operations' identifiers separated by spaces ("goCrossover
//                               goMutate"), empty for none
//       DiversityLimit, FitnessCutoff, CrossoverProbability, InversionProbability,
//       MutationProbability, ElitistPercent
//                               the floating-point settings in double precision: these win over
//                               the single-precision values of the settings document
//       MaxFitness, MinFitness, AvgFitness, FitnessSum, FittestIndex (-1 for none): the
//                               statistics, for readers; loading makes them again from the
//                               fitness values (bit for bit the same) unless the population is
//                               empty
//       RandomState             only for an engine with a stream of its own (SetRandomSeed):
//         Position              the values of the current block already handed out (0..256)
//         Words                 the 32 lane words the block was generated from, in hexadecimal
//       GeneticProgram          only for a TKvGeneticProgram: ExecutionLimit, LimitNumber,
//                               AutoExecution
//       Sections                the named sections of code above the engine
//                               (SetCheckpointSection), one element per section, named after it
//
// Every double (fitness values, statistics, settings, gene ranges) is written as the shortest
// text that reads back as the same double, so nothing changes on the way. The genes' ranges are
// restored as the document holds them (a plain load gives them their default ranges).
//
// An engine without a stream of its own draws from the thread's stream, which is not the engine's
// to save: its checkpoint holds no RandomState, and loading it leaves the engine drawing from the
// thread's stream. Such a run continues exactly only if the caller restores the thread's stream as
// well (kv::ThreadRandomSource().GetState()/SetState, kept in a section for example). Loading a
// checkpoint with a RandomState gives the engine a stream of its own in that state.
//
// Loading a checkpoint reads and checks the whole document first (the settings document's rules,
// plus: a Checkpoint element, every value of it present and convertible, the fractions within 0 to
// 1, a fitness per chromosome, FittestIndex -1 or a chromosome's index, a RandomState of a valid
// position and 32 words; each registered section's reader), then applies it all; a failure leaves
// the engine, and every section, as they were (EConvertError naming the element and the value, or
// the errors of a plain load). A plain settings document is not a checkpoint (EConvertError). The
// loaded engine has the saved population with its fitness values, statistics, fittest individual
// and selection data, Initialized, InitialPopulation, Operations and Generation: its next Evolve
// breeds the next generation, without initialising or scoring again. The previous generation is
// made again by that Evolve as a copy of the population (only its size matters to a generation).
// Not in a checkpoint: callbacks (set them before or after loading; a custom OnSelection before, so
// that the document's smCustom keeps it), the registered sections themselves, and for a genetic
// program the machine (bind it as before).
#pragma once

#include <cstdint>

#include "kv/xml/xml_node.h"

namespace kv {

// The longest chromosome, and the largest genotype, that a loaded document may describe.
inline constexpr int32_t MaxChromosomeBits = int32_t(1) << 24;
// The most chromosome bits that loading a document may make a population hold.
inline constexpr int64_t MaxPopulationBits = int64_t(1) << 32;
// The largest TournamentField that a loaded document may set.
inline constexpr int32_t MaxTournamentField = int32_t(1) << 16;
// The most bits, in all, that a load may add to chromosomes whose Bits text is shorter than the
// chromosome length, unless an engine's DocumentLimits say otherwise: one longest chromosome
// (2 MiB of chromosomes).
inline constexpr int64_t DefaultMaxPaddingBits = int64_t(1) << 24;

// The settable limits of an engine's loads and saves (TKvCustomGeneticAlgorithm::
// GetDocumentLimits/SetDocumentLimits; see the header comment). Each engine has its own; Assign
// does not copy them.
struct TKvDocumentLimits {
    // The largest settings document, in bytes, that LoadFromFile and LoadFromStream read and
    // SaveToFile and SaveToStream write. UINT64_MAX lifts the limit.
    uint64_t MaxDocumentBytes = DefaultMaxXMLDocumentBytes;
    // The most zero bits a load may pad, in all, onto chromosomes whose Bits text is shorter than
    // the chromosome length the engine gives them. A document that spells out its bits pads
    // nothing. MaxPopulationBits or more lifts the bound; 0 refuses any padding.
    int64_t MaxPaddingBits = DefaultMaxPaddingBits;
};

} // namespace kv
