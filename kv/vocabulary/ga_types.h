// The engine's numeric aliases, enumerations, sets and default constants.
//
// The enumerations are plain enums (on int, so any stored ordinal converts without undefined
// behaviour and can be checked) whose ordinals are the stored numbers and whose identifiers are
// the stored texts (see enum_names.h for the conversions). TGAGeneticOperations and
// TExecutionStates are bit sets (bit n = ordinal n; see enum_set.h).
#pragma once

#include <cstdint>
#include <vector>

#include "kv/vocabulary/enum_names.h"
#include "kv/vocabulary/enum_set.h"

namespace kv {

using TGAFloat = double;       // general floating-point value of the engine
using TGAFitness = double;     // fitness of one individual
using TGAProbability = double; // a probability in 0 .. 1
using TGAFitnessArray = std::vector<TGAFitness>;
using TIntegerArray = std::vector<int32_t>; // encoded programs

// The kind of value a gene holds.
enum TGeneType : int { gtUnknown, gtBoolean, gtInteger, gtFloat, gtEnumeration };

// Where crossover points may fall.
enum TGACrossoverMethod : int {
    cmGeneBoundary,
    cmBitBoundary,
    cmByteBoundary,
    cmWordBoundary,
    cmLongwordBoundary
};

// Whether lower or higher fitness is better.
enum TGAFitnessMethod : int { fmMinimize, fmMaximize };

// How parents are chosen.
enum TGASelectionMethod : int {
    smRoulette,
    smRandom,
    smTournament,
    smStochasticTournament,
    smElitist,
    smCustom
};

// How crossover combines two parents: one cut (the default), two cuts with the segment between
// them from the second parent, or every bit from either parent with probability one half.
enum TGACrossoverKind : int { ckOnePoint, ckTwoPoint, ckUniform };

// How mutation finds the bits it flips: one random draw per bit (the default), or the gap to the
// next flipped bit drawn from the geometric distribution (the same independent flip probability
// per bit, about one draw per flipped bit).
enum TGAMutationMode : int { mmPerBit, mmGeometric };

// The genetic operators reproduction may apply.
enum TGAGeneticOperation : int { goCrossover, goMutate, goInvert };
using TGAGeneticOperations = TEnumSet<TGAGeneticOperation, uint8_t, 3>;

// The state of a virtual machine.
enum TExecutionState : int {
    esInitializing,
    esInitialized,
    esEncoding,
    esEncoded,
    esExecuting,
    esInvalidOperation,
    esInvalidState,
    esError,
    esFinishing,
    esFinished
};
using TExecutionStates = TEnumSet<TExecutionState, uint16_t, 10>;

// What bounds the execution of one program.
enum TExecutionLimit : int { elNumberOfSteps, elNumberOfMilliseconds, elNone };

template <>
struct TEnumInfo<TGeneType> {
    static constexpr const char* TypeName = "TGeneType";
    static constexpr const char* Names[] = {"gtUnknown", "gtBoolean", "gtInteger", "gtFloat",
                                            "gtEnumeration"};
};
template <>
struct TEnumInfo<TGACrossoverMethod> {
    static constexpr const char* TypeName = "TGACrossoverMethod";
    static constexpr const char* Names[] = {"cmGeneBoundary", "cmBitBoundary", "cmByteBoundary",
                                            "cmWordBoundary", "cmLongwordBoundary"};
};
template <>
struct TEnumInfo<TGACrossoverKind> {
    static constexpr const char* TypeName = "TGACrossoverKind";
    static constexpr const char* Names[] = {"ckOnePoint", "ckTwoPoint", "ckUniform"};
};
template <>
struct TEnumInfo<TGAMutationMode> {
    static constexpr const char* TypeName = "TGAMutationMode";
    static constexpr const char* Names[] = {"mmPerBit", "mmGeometric"};
};
template <>
struct TEnumInfo<TGAFitnessMethod> {
    static constexpr const char* TypeName = "TGAFitnessMethod";
    static constexpr const char* Names[] = {"fmMinimize", "fmMaximize"};
};
template <>
struct TEnumInfo<TGASelectionMethod> {
    static constexpr const char* TypeName = "TGASelectionMethod";
    static constexpr const char* Names[] = {"smRoulette",   "smRandom",
                                            "smTournament", "smStochasticTournament",
                                            "smElitist",    "smCustom"};
};
template <>
struct TEnumInfo<TGAGeneticOperation> {
    static constexpr const char* TypeName = "TGAGeneticOperation";
    static constexpr const char* Names[] = {"goCrossover", "goMutate", "goInvert"};
};
template <>
struct TEnumInfo<TExecutionState> {
    static constexpr const char* TypeName = "TExecutionState";
    static constexpr const char* Names[] = {
        "esInitializing",     "esInitialized",  "esEncoding", "esEncoded",   "esExecuting",
        "esInvalidOperation", "esInvalidState", "esError",    "esFinishing", "esFinished"};
};
template <>
struct TEnumInfo<TExecutionLimit> {
    static constexpr const char* TypeName = "TExecutionLimit";
    static constexpr const char* Names[] = {"elNumberOfSteps", "elNumberOfMilliseconds", "elNone"};
};

// Defaults of the engine's properties.
inline constexpr TGAProbability CROSSOVER_PROBABILITY = 0.98;
inline constexpr TGAProbability MUTATION_PROBABILITY = 0.01;
inline constexpr TGAProbability INVERSION_PROBABILITY = 0.1;
inline constexpr double DEFAULT_ELITIST_PCT = 0.1; // a fraction of the population
inline constexpr TGAFitness DEFAULT_FITNESS_CUTOFF = 1.0;
inline constexpr double DEFAULT_DIVERSITY_LIMIT = 0.02;

// The states in which a virtual machine counts as finished (bit pattern 0x03E0).
inline constexpr TExecutionStates FinishedStates{esInvalidOperation, esInvalidState, esError,
                                                 esFinishing, esFinished};

} // namespace kv
