// The event types of the genetic-algorithm engine.
//
// Every event is a std::function whose first parameter is the object that fires it (the engine,
// passed as TObject*). Parameters the handler may change are references: the engine reads them back
// after the call. An event is "assigned" when the std::function is not empty; the engine skips
// unassigned events without calling anything.
//
//   TKvGAInitializationEvent  Initialize lets the handler fill the chromosomes itself; setting
//                             Initialized to true keeps the engine from randomising them.
//   TKvGAFitnessEvent         computes the fitness of Item into Fitness (which enters as 0).
//   TKvGAIndividualEvent      reports one individual (OnReproduction: a finished child).
//   TKvGAParentChildEvent     a child has been set up as a copy of Parent1 (OnInitializeChild).
//   TKvGAMutationEvent        may veto (or, for inversion, force) an operator on Item through
//                             DoMutation.
//   TKvGASelectionEvent       chooses a parent from Population and leaves it in Parent (which
//                             enters as nullptr).
//   TKvGACrossoverEvent       may move the crossover point (CrossoverBit) and change the crossover
//                             decision (DoMutation) before Child is crossed. CrossoverBit carries
//                             the point of one-point crossover, the lower point of two-point
//                             crossover (moving it moves that point; the other stays), and -1 for
//                             uniform crossover, where it is not read back (engine.h).
//   TKvGeneEvent              reports one gene (declared for callers; the engine fires none).
// OnEvolve uses the plain TNotifyEvent of the run-time layer.
//
// Handlers run synchronously inside the engine call that fires them and may throw: the exception
// passes out of that call (engine.h says what an interrupted generation leaves behind). A handler
// must not destroy the engine that is calling it. A fitness handler must not change the
// population being scored (add, remove or move individuals, or load, assign, initialise or evolve
// the engine): the engine notices it when the handler returns and raises EGAException (engine.h,
// "Fitness evaluation").
#pragma once

#include <cstdint>
#include <functional>

#include "kv/rtl/notify_event.h"
#include "kv/vocabulary/ga_types.h"

namespace kv {

class TObject;
class TKvGAIndividual;
class TKvGAPopulation;
class TKvGAGene;

using TKvGAInitializationEvent = std::function<void(TObject* Sender, bool& Initialized)>;
using TKvGAFitnessEvent =
    std::function<void(TObject* Sender, TKvGAIndividual* Item, TGAFitness& Fitness)>;
using TKvGAIndividualEvent = std::function<void(TObject* Sender, TKvGAIndividual* Item)>;
using TKvGAParentChildEvent = std::function<void(TObject* Sender, TKvGAIndividual* Parent1,
                                                 TKvGAIndividual* Parent2, TKvGAIndividual* Child)>;
using TKvGAMutationEvent =
    std::function<void(TObject* Sender, TKvGAIndividual* Item, bool& DoMutation)>;
using TKvGASelectionEvent =
    std::function<void(TObject* Sender, TKvGAPopulation* Population, TKvGAIndividual*& Parent)>;
using TKvGACrossoverEvent =
    std::function<void(TObject* Sender, TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                       TKvGAIndividual* Child, int32_t& CrossoverBit, bool& DoMutation)>;
using TKvGeneEvent = std::function<void(TObject* Sender, TKvGAGene* Item)>;

} // namespace kv
