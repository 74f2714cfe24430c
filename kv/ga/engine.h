// TKvCustomGeneticAlgorithm and TKvGeneticAlgorithm: the genetic-algorithm engine.
//
// The engine is a component that owns a genotype (Genes), a current population (Population) and a
// previous generation (PreviousGeneration), and breeds the population one generation at a time. The
// caller adds genes, sets parameters and events, then calls Initialize (optional: the first Evolve
// calls it) and Evolve() or Evolve(Generations). Fitness always comes from OnEvaluateFitness (or
// from an override of EvaluateFitness(Item)).
//
// Construction and factories. A new engine has CrossoverProbability 0.98, InversionProbability 0.1,
// MutationProbability 0.01, SelectionMethod smStochasticTournament (its routine installed in
// OnSelection), FitnessCutoff 1.0, DiversityLimit 0.02, ElitistPct 0.1, TournamentField 2,
// InitialPopulation 100 and Operations {goCrossover, goMutate, goInvert}; everything else is zero,
// false, empty or unset. The genotype and the population are created through the overridable
// factories CreateGenes and CreatePopulation on first access (Genes/Population, or any operation
// that needs them), that is right after construction, so a derived engine's factories take part
// even though C++ constructors do not dispatch virtually. The previous generation is created by
// Initialize (or the PreviousGeneration writer) through CreatePopulation with the current
// population's item class; the priority queue of elitist selection on first use.
//
// Ownership. The engine owns its genotype, both populations, the cumulative fitness array and the
// priority queue; FittestIndividual only refers to an individual of the current population and is
// cleared when that individual leaves. Writing Genes, Population or PreviousGeneration copies the
// given collection into the engine's own. The destructor releases the priority queue, the
// population, the previous generation, then the genotype.
//
// Property writers ignore values outside their range: probabilities, ElitistPct and DiversityLimit
// outside 0..1, TournamentField below 2 or above MaxTournamentField (2^16: each selected parent
// costs TournamentField draws), enumerated values that name no member. InitialPopulation
// stores a negative value as 0. GeneSize resizes every chromosome of the current population; it
// grows on its own when the genotype outgrows it, and shrinks only when the caller sets it.
//
// A generation (Evolve): the two populations are exchanged (a double buffer: no individual is
// allocated), then for each pair of places the selection routine picks two parents from the
// previous generation and Reproduce overwrites the children in place; an odd population's last
// child is made alone. The new population is scored, Generation advances, OnEvolve fires. The
// whole generation runs inside an update batch of the population (closed on every path), so no
// per-child change report reaches the engine.
//
// Events, in the order of one Evolve (unassigned events are skipped):
//   OnInitialization, then OnEvaluateFitness per individual   (only when Initialize is due)
//   per pair: OnSelection twice; OnInitializeChild child 1, child 2; OnCrossover child 1, child 2
//   (goCrossover); OnMutation child 1, child 2 (goMutate); OnReproduction child 1, child 2.
//   An odd last child: OnSelection twice; OnInitializeChild, OnCrossover, OnMutation, OnInversion
//   (goInvert), OnReproduction. Inversion of a pair fires no event.
//   OnEvaluateFitness per individual of the new population, in index order; OnEvolve.
//
// Fitness evaluation (EvaluateFitness), in two steps. First EvaluatePopulation scores every
// individual of the current population through EvaluateFitness(Item), by way of the engine's
// evaluator (serial by default: in index order), and stores each result in its individual. Then,
// from the stored values and in index order, the engine computes MinFitness, MaxFitness,
// AvgFitness, the fitness sum and FittestIndividual (through the virtual Fittest, the earlier
// individual staying on a tie), and prepares what the selection method needs: the cumulative
// normalised fitnesses (smRoulette, smStochasticTournament) or the elitist queue (smElitist). While
// the handlers run, the statistics still describe the previous evaluation.
//   A fitness handler must not add, remove or move individuals of the population being scored,
//   nor load, assign, initialise or evolve the engine. The population counts such changes
//   (GetChangeCount); when one happened during a call, the evaluation raises EGAException naming
//   the individual once the handler has returned, before it stores anything or reads the changed
//   population. The individuals scored before keep their new fitness; the statistics, the
//   fittest individual and the selection data keep the previous evaluation's values
//   (FittestIndividual becomes none when that individual left, and the elitist queue is dropped
//   and built again at its next use); the engine stays usable (an Initialize that failed this
//   way is due again at the next Evolve). Changing an individual's chromosome is allowed.
//   NaN: a fitness that is NaN is no number. It ranks below every number under both fitness
//   methods (Fittest, so FittestIndividual and both tournaments; the elitist queue puts it last),
//   has no share of the roulette wheel (its normalised fitness is 0), and is left out of
//   MinFitness, MaxFitness, AvgFitness and the fitness sum. When every individual scores NaN,
//   those statistics are 0, FittestIndividual is the first individual and the fitness cut-off is
//   never reached; roulette and elitist selection draw uniformly, as when every individual scores
//   the same number.
//   Large values: when finite values overflow the fitness sum, the engine keeps the sum scaled
//   down by 2^64, so AvgFitness, Diversity and the normalised fitnesses stay finite (an infinite
//   fitness value still makes them infinite or NaN). Wherever the plain sum is finite, the
//   results are those of the plain sum.
//
// Errors (EGAException): Evolve without OnEvaluateFitness ("No fitness function defined"), with
// custom selection and no OnSelection ("No custom selection function defined") or with Generation
// at 2^31 - 1 (no further generation can be counted), all before anything of the generation
// happens; a selection routine that leaves no parent; a negative GeneSize; a fitness handler that
// changes the population (above); a handler called while a generation is bred (OnSelection,
// OnInitializeChild, OnCrossover, OnMutation, OnInversion, OnReproduction) that adds, removes or
// moves individuals of either population, or loads, assigns, initialises or evolves the engine:
// the operator raises when the handler returns, before it reads a parent or child again, and the
// message names the event. An exception inside a generation leaves the populations exchanged and
// the children written so far, closes the update batch and passes on; Generation and OnEvolve
// stay untouched.
//
// Overloads: Evolve() and EvaluateFitness() are virtual, Evolve(Generations) is not, and
// EvaluateFitness(Item) is virtual on its own. A descendant that overrides one form adds
// `using TKvCustomGeneticAlgorithm::Evolve;` (or EvaluateFitness) to keep the others visible.
//
// Crossover kinds and mutation modes (CrossoverKind, MutationMode; the defaults ckOnePoint and
// mmPerBit are the classic operators, and with them every draw is as described above):
//   ckOnePoint   one point P drawn by CrossoverMethod; Child1 takes bits 0 .. P of Parent1 and the
//                rest of Parent2, Child2 the complement. OnCrossover's CrossoverBit carries P.
//   ckTwoPoint   two different points drawn by CrossoverMethod from the same places one-point
//                crossover chooses from (the first uniformly, the second uniformly among the
//                others: two draws, one when there are fewer than two places); with Lo < Hi, Child1
//                takes bits Lo + 1 .. Hi from Parent2 and the rest from Parent1, Child2 the
//                complement. When the method offers a single place (two genes under cmGeneBoundary,
//                say) both points are that place and the children are copies. OnCrossover's
//                CrossoverBit carries Lo, and a callback that moves it moves that point; Hi stays
//                (the segment then lies between CrossoverBit and Hi, whichever is lower).
//   ckUniform    each bit comes from either parent with probability one half: a random mask of
//                one raw 64-bit value of the stream per word of the chromosome, drawn once for
//                the pair when the first child is crossed; Child1 takes Parent2's bit where the
//                mask is 1, Child2 Parent1's. CrossoverMethod plays no part and no point is drawn:
//                OnCrossover's CrossoverBit carries -1 and is not read back.
//   In every kind the decision is drawn first, OnCrossover fires as described above (twice for a
//   pair, with the same variables) and may veto or force the crossover, and the two children of a
//   pair come out complementary unless the callback changes the variables between its calls.
//   mmGeometric  Mutate flips the same independent share of bits (MutationProbability per bit)
//                but draws the gap to the next flipped bit (TKvGABits::MutateGeometric), about
//                one draw per flipped bit instead of one per bit. The random stream, and so a
//                seeded run, differ from mmPerBit's. OnMutation fires and vetoes as before.
//
// Observers (kv/ga/ga_observer.h) watch a run beside the events: AfterEvaluation after every
// scoring of the population, AfterGeneration after Initialize and after each generation (before
// OnEvolve). The engine does not own them and does not copy them in Assign.
//
// Saving, loading and Assign: see kv/ga/persistence.h. A descendant that overrides one form of
// LoadFromXML or SaveToXML adds `using TKvCustomGeneticAlgorithm::LoadFromXML;` (or SaveToXML).
//
// Random stream. By default every random draw comes from the calling thread's current random
// source (kv/rtl/random.h), which the engine never seeds. SetRandomSeed gives the engine a stream
// of its own: from then on every public operation (Initialize, Evolve, EvaluateFitness, Reproduce
// with the operators it applies, parent selection through SelectParent, and the program runs of a
// genetic program) binds that stream as the thread's current source for its duration, so every
// draw inside it, kv::Random() in the caller's callbacks included, comes from the engine's stream,
// and the previous source is current again when the operation ends, on every path. Two engines
// with streams of their own therefore give the same results whether they run alone or interleaved
// on one thread. The stream is created by the first SetRandomSeed, belongs to the engine and lives
// as long as it (so a callback may reseed or drop it safely); its whole state is read and restored
// through GetRandomSource(). The protected operators (InitializeChild, Crossover, Mutate, Invert)
// and the built-in selection routines run inside those operations; a descendant that calls one
// from its own code outside them binds the stream first (BindRandomSource). Cost: the per-child
// operations (Reproduce, SelectParent, EvaluateFitness(Item)) test a flag; with an own stream an
// operation exchanges a pointer on entry and on exit (not per draw).
//
// Checkpoints (SaveCheckpoint, LoadCheckpoint): see kv/ga/persistence.h.
//
// Evaluators. EvaluatePopulation scores through the engine's evaluator (kv/ga/evaluator.h); the
// statistics, FittestIndividual, the roulette array and the elitist queue are then computed from
// the stored fitness in index order on the calling thread, as above. EvaluationThreads chooses the
// evaluator the engine makes for itself (CreateEvaluator, overridable): 0, the default, scores the
// individuals one after another on the calling thread, exactly as always; n >= 1 scores them on at
// most n threads (1 runs the parallel mode on one thread); ALL_HARDWARE_THREADS on as many as the
// machine runs at once. SetEvaluator installs a caller's evaluator instead. Neither is saved with
// the engine or copied by Assign.
//
// Parallel mode. OnEvaluateFitness (and the per-individual EvaluateFitness(Item)) runs
// concurrently for distinct individuals, on the calling thread and worker threads; every other
// event still fires on the calling thread, in the order above. The callback's contract:
//   - it may read its own individual (Item), the engine's settings, genes and other read-only
//     state, and change nothing but Item's own data it owns outright (nothing, usually): the
//     engine stores the fitness it leaves in Fitness;
//   - it must not change the engine, its populations or genes, and must not read other
//     individuals' fitness (it is being written); shared state of its own it guards itself;
//   - kv::Random() draws from the individual's own stream (kv/ga/evaluator.h), so a seeded run
//     gives identical populations, statistics and documents on any number of threads. Serial mode
//     keeps the one stream of the calling thread, so its results differ from parallel mode's when
//     callbacks draw.
// Calls from a worker. While a parallel round runs, every operation that would change the engine
// raises EGAException ("... cannot be called while the engine evaluates in parallel") when made
// from a fitness callback, instead of racing: Initialize, Evolve, EvaluateFitness(), Reproduce,
// Assign, the loads, every setter (events included), SetEvaluator, SetEvaluationThreads, and
// additions, removals and changes of individuals or genes of the engine's collections. Reads
// (getters, Genes, Population, FittestIndividual, decoding genes) stay allowed, as do the
// genetic-program engine's machine calls (kv/gp/genetic_program.h). A failure on a worker ends the
// round and is raised again on the calling thread with its own class and message; the individuals
// before the first unscored one hold their new fitness, every other one its old fitness, and the
// statistics are untouched, as after a serial evaluation that failed at that individual. Replacing
// the evaluator (SetEvaluator, SetEvaluationThreads) raises EGAException while any evaluation runs.
//
// One thread at a time: the engine is driven from one thread; in parallel mode it uses worker
// threads only inside EvaluateFitness(). Every random draw of the engine's own comes from the
// calling thread's current random source.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kv/common/float_heap.h"
#include "kv/ga/evaluator.h"
#include "kv/ga/ga_events.h"
#include "kv/ga/ga_observer.h"
#include "kv/ga/genes.h"
#include "kv/ga/individual.h"
#include "kv/ga/persistence.h"
#include "kv/ga/population.h"
#include "kv/rtl/bits.h"
#include "kv/rtl/component.h"
#include "kv/rtl/notify_event.h"
#include "kv/rtl/random.h"
#include "kv/vocabulary/KvGAConsts.h"

namespace kv {

class IXMLGeneticAlgorithm;
class IXMLGADomainType;
class IXMLNode;

// Writes a named section of a checkpoint into its element (see SetCheckpointSection).
using TCheckpointWriter = std::function<void(IXMLNode& Section)>;
// Reads and checks a named section of a checkpoint being loaded, changing nothing, and returns
// what applies it (see SetCheckpointSection). Section is nullptr when the checkpoint has none.
using TCheckpointReader = std::function<std::function<void()>(IXMLNode* Section)>;

class TKvCustomGeneticAlgorithm : public TComponent {
public:
    explicit TKvCustomGeneticAlgorithm(TComponent* AOwner = nullptr);
    ~TKvCustomGeneticAlgorithm() override;

    std::string ClassName() const override { return "TKvCustomGeneticAlgorithm"; }

    // ---- lifecycle ----

    // Fills the population up to InitialPopulation, lets OnInitialization initialise it or
    // randomises every chromosome, scores the population, copies it into the previous generation,
    // and resets Generation to 0.
    virtual void Initialize();
    // Breeds one generation (see the class comment). Does nothing on an empty population.
    // EGAException, before anything happens, when Generation is already 2^31 - 1 (it could not
    // count the generation).
    virtual void Evolve();
    // Breeds up to Generations generations, stopping early at the fitness cut-off or the diversity
    // limit when enabled; returns the number of generations actually bred (0 .. Generations).
    // When the engine is not initialised yet, it runs Initialize first, which resets Generation
    // to 0, and counts from there.
    int32_t Evolve(int32_t Generations);

    // Scores the whole current population (EvaluatePopulation), then computes the statistics and
    // the fittest individual from the stored fitness values and prepares the selection support
    // data (see "Fitness evaluation" in the class comment).
    virtual void EvaluateFitness();
    // The fitness of one individual: OnEvaluateFitness's result, or 0 when it is unassigned.
    virtual TGAFitness EvaluateFitness(TKvGAIndividual* Item);
    // The better of two individuals by FitnessMethod; Parent1 on equal fitness. A NaN fitness
    // ranks below every number under both methods (two NaNs are equal).
    virtual TKvGAIndividual* Fittest(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2);

    // Makes Child from Parent1 and Parent2: copy, then the operators of Operations, then
    // OnReproduction.
    virtual void Reproduce(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                           TKvGAIndividual* Child);
    // Makes two complementary children: Child1 starts as Parent1, Child2 as Parent2.
    virtual void Reproduce(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                           TKvGAIndividual* Child1, TKvGAIndividual* Child2);

    // ---- owned collections ----

    TKvGAGenes* GetGenes() { return FGenes ? FGenes.get() : MakeGenes(); }
    const TKvGAGenes* GetGenes() const { return FGenes ? FGenes.get() : MakeGenes(); }
    // Copies Value into the engine's genotype.
    void SetGenes(const TKvGAGenes* Value);
    // The current population. Evolve exchanges the two populations: read it afresh after Evolve.
    TKvGAPopulation* GetPopulation() { return FPopulation ? FPopulation.get() : MakePopulation(); }
    const TKvGAPopulation* GetPopulation() const {
        return FPopulation ? FPopulation.get() : MakePopulation();
    }
    // Copies Value into the engine's population.
    void SetPopulation(const TKvGAPopulation* Value);
    // The generation the current one was bred from; nullptr before Initialize.
    TKvGAPopulation* GetPreviousGeneration() noexcept { return FPreviousGeneration.get(); }
    const TKvGAPopulation* GetPreviousGeneration() const noexcept {
        return FPreviousGeneration.get();
    }
    // Creates the previous generation if needed, then copies Value into it.
    void SetPreviousGeneration(const TKvGAPopulation* Value);

    // ---- settings ----

    int32_t GetGeneration() const noexcept { return FGeneration; }
    void SetGeneration(int32_t Value) {
        CheckChange("SetGeneration");
        FGeneration = Value;
    }
    TGAFitness GetFitnessCutoff() const noexcept { return FFitnessCutoff; }
    void SetFitnessCutoff(TGAFitness Value) {
        CheckChange("SetFitnessCutoff");
        FFitnessCutoff = Value;
    }
    TGAProbability GetMutationProbability() const noexcept { return FMutationProbability; }
    void SetMutationProbability(TGAProbability Value);
    TGAProbability GetInversionProbability() const noexcept { return FInversionProbability; }
    void SetInversionProbability(TGAProbability Value);
    TGAProbability GetCrossoverProbability() const noexcept { return FCrossoverProbability; }
    void SetCrossoverProbability(TGAProbability Value);
    TGAProbability GetElitistPct() const noexcept { return FElitistPct; }
    void SetElitistPct(TGAProbability Value);
    TGAProbability GetDiversityLimit() const noexcept { return FDiversityLimit; }
    void SetDiversityLimit(TGAProbability Value);
    int32_t GetGeneSize() const noexcept { return FGeneSize; }
    // Stores Value and resizes every chromosome of the current population. EGAException for a
    // negative value.
    void SetGeneSize(int32_t Value);
    TGAFitnessMethod GetFitnessMethod() const noexcept { return FFitnessMethod; }
    void SetFitnessMethod(TGAFitnessMethod Value);
    TGASelectionMethod GetSelectionMethod() const noexcept { return FSelectionMethod; }
    // Stores the method and installs its routine in OnSelection (smCustom: unsets OnSelection).
    void SetSelectionMethod(TGASelectionMethod Value);
    int32_t GetTournamentField() const noexcept { return FTournamentField; }
    // Stores values from 2 to MaxTournamentField (2^16, the cap of a loaded document); ignores
    // others.
    void SetTournamentField(int32_t Value);
    TGACrossoverMethod GetCrossoverMethod() const noexcept { return FCrossoverMethod; }
    void SetCrossoverMethod(TGACrossoverMethod Value);
    bool GetUseFitnessCutoff() const noexcept { return FUseFitnessCutoff; }
    void SetUseFitnessCutoff(bool Value) {
        CheckChange("SetUseFitnessCutoff");
        FUseFitnessCutoff = Value;
    }
    bool GetUseDiversityLimit() const noexcept { return FUseDiversityLimit; }
    void SetUseDiversityLimit(bool Value) {
        CheckChange("SetUseDiversityLimit");
        FUseDiversityLimit = Value;
    }
    int32_t GetInitialPopulation() const noexcept { return FInitialPopulation; }
    void SetInitialPopulation(int32_t Value);
    TGAGeneticOperations GetOperations() const noexcept { return FOperations; }
    void SetOperations(TGAGeneticOperations Value) {
        CheckChange("SetOperations");
        FOperations = Value;
    }

    // How crossover combines the parents (see the class comment); ckOnePoint by default. A value
    // that names no member is ignored.
    TGACrossoverKind GetCrossoverKind() const noexcept { return FCrossoverKind; }
    void SetCrossoverKind(TGACrossoverKind Value);
    // How mutation draws the bits it flips (see the class comment); mmPerBit by default. A value
    // that names no member is ignored.
    TGAMutationMode GetMutationMode() const noexcept { return FMutationMode; }
    void SetMutationMode(TGAMutationMode Value);

    // ---- evaluation (see "Evaluation" and "Parallel mode" above) ----

    int32_t GetEvaluationThreads() const noexcept { return FEvaluationThreads; }
    // 0 (serial, the default), n >= 1 or ALL_HARDWARE_THREADS; any other value is ignored. A new
    // value replaces the evaluator (a caller's too) with CreateEvaluator(Value).
    void SetEvaluationThreads(int32_t Value);
    // The evaluator in use (never nullptr; made by CreateEvaluator on first use).
    TKvGAEvaluator* GetEvaluator();
    // Installs Value as the evaluator; nullptr goes back to CreateEvaluator(EvaluationThreads).
    void SetEvaluator(std::unique_ptr<TKvGAEvaluator> Value);
    // True while a parallel round of this engine runs (between the first and the last callback).
    bool GetEvaluatingInParallel() const noexcept { return FConcurrentEvaluation; }

    // ---- random stream (see the class comment) ----

    // Gives the engine a stream of its own (created on the first call), started from Seed.
    void SetRandomSeed(uint64_t Seed);
    // The engine's own stream, or nullptr while it draws from the thread's current source. Its
    // state may be read and set (TRandomSource::GetState/SetState).
    TRandomSource* GetRandomSource() noexcept { return FOwnStream ? FRandomSource.get() : nullptr; }
    const TRandomSource* GetRandomSource() const noexcept {
        return FOwnStream ? FRandomSource.get() : nullptr;
    }
    // Drops the engine's own stream: its operations draw from the thread's current source again.
    void UseThreadRandomSource() {
        CheckChange("UseThreadRandomSource");
        FOwnStream = false;
    }

    // ---- results ----

    TKvGAIndividual* GetFittestIndividual() const noexcept { return FFittestIndividual; }
    TGAFitness GetMaxFitness() const noexcept { return FMaxFitness; }
    TGAFitness GetMinFitness() const noexcept { return FMinFitness; }
    TGAFitness GetAvgFitness() const noexcept { return FAvgFitness; }
    // AvgFitness / MaxFitness, or +infinity when MaxFitness is 0.
    TGAFitness GetDiversity() const noexcept;
    bool GetInitialized() const noexcept { return FInitialized; }

    // ---- events ----

    const TNotifyEvent& GetOnEvolve() const noexcept { return FOnEvolve; }
    void SetOnEvolve(TNotifyEvent Value) {
        CheckChange("SetOnEvolve");
        FOnEvolve = std::move(Value);
    }
    const TKvGAFitnessEvent& GetOnEvaluateFitness() const noexcept { return FOnEvaluateFitness; }
    void SetOnEvaluateFitness(TKvGAFitnessEvent Value) {
        CheckChange("SetOnEvaluateFitness");
        FOnEvaluateFitness = std::move(Value);
    }
    const TKvGAMutationEvent& GetOnMutation() const noexcept { return FOnMutation; }
    void SetOnMutation(TKvGAMutationEvent Value) {
        CheckChange("SetOnMutation");
        FOnMutation = std::move(Value);
    }
    const TKvGAIndividualEvent& GetOnReproduction() const noexcept { return FOnReproduction; }
    void SetOnReproduction(TKvGAIndividualEvent Value) {
        CheckChange("SetOnReproduction");
        FOnReproduction = std::move(Value);
    }
    const TKvGASelectionEvent& GetOnSelection() const noexcept { return FOnSelection; }
    // An assigned routine makes SelectionMethod smCustom; an unassigned one installs roulette
    // selection (SelectionMethod smRoulette).
    void SetOnSelection(TKvGASelectionEvent Value);
    const TKvGAInitializationEvent& GetOnInitialization() const noexcept {
        return FOnInitialization;
    }
    void SetOnInitialization(TKvGAInitializationEvent Value) {
        CheckChange("SetOnInitialization");
        FOnInitialization = std::move(Value);
    }
    const TKvGAParentChildEvent& GetOnInitializeChild() const noexcept {
        return FOnInitializeChild;
    }
    void SetOnInitializeChild(TKvGAParentChildEvent Value) {
        CheckChange("SetOnInitializeChild");
        FOnInitializeChild = std::move(Value);
    }
    const TKvGAInversionEvent& GetOnInversion() const noexcept { return FOnInversion; }
    void SetOnInversion(TKvGAInversionEvent Value) {
        CheckChange("SetOnInversion");
        FOnInversion = std::move(Value);
    }
    const TKvGACrossoverEvent& GetOnCrossover() const noexcept { return FOnCrossover; }
    void SetOnCrossover(TKvGACrossoverEvent Value) {
        CheckChange("SetOnCrossover");
        FOnCrossover = std::move(Value);
    }

    // ---- observers (kv/ga/ga_observer.h) ----
    // Adds Observer (not owned) at the end of the list; adding one already in it does nothing.
    void AddObserver(TKvGAObserver* Observer);
    // Removes Observer; one not in the list is ignored.
    void RemoveObserver(TKvGAObserver* Observer) noexcept;
    int GetObserverCount() const noexcept { return static_cast<int>(FObservers.size()); }

    // ---- saving, loading and copying (persistence_engine.cpp, engine_assign.cpp; see
    // kv/ga/persistence.h) ----
    // Copies another engine's settings, statistics, genotype, population and previous generation.
    void Assign(const TPersistent* Source) override;
    virtual void LoadFromFile(const std::string& FileName);
    virtual void LoadFromStream(std::istream& Stream);
    // The settings document's content: the settings, then the domain.
    virtual void LoadFromXML(IXMLGeneticAlgorithm& GAXML);
    // The domain: the genotype, then the population.
    virtual void LoadFromXML(IXMLGADomainType& GAXML);
    virtual void SaveToFile(const std::string& FileName) const;
    virtual void SaveToStream(std::ostream& Stream) const;
    virtual void SaveToXML(IXMLGeneticAlgorithm& GAXML) const;
    virtual void SaveToXML(IXMLGADomainType& GAXML) const;
    // The limits of this engine's loads and saves (kv/ga/persistence.h); not copied by Assign.
    const TKvDocumentLimits& GetDocumentLimits() const noexcept { return FDocumentLimits; }
    void SetDocumentLimits(const TKvDocumentLimits& Value) {
        CheckChange("SetDocumentLimits");
        FDocumentLimits = Value;
    }

    // ---- checkpoints (persistence_checkpoint.cpp; see kv/ga/persistence.h) ----
    // A checkpoint is the settings document with everything needed to continue the run exactly:
    // loaded into an engine (in this or another process) that has the same callbacks, the next
    // Evolve continues as the saved engine's next Evolve would have, without re-initialising or
    // re-scoring. SaveToFile and LoadFromFile are not changed by any of this.
    void SaveCheckpoint(const std::string& FileName) const;
    void SaveCheckpoint(std::ostream& Stream) const;
    void LoadCheckpoint(const std::string& FileName);
    void LoadCheckpoint(std::istream& Stream);
    // The settings document's content (SaveToXML) followed by the checkpoint's own elements.
    void SaveCheckpointToXML(IXMLGeneticAlgorithm& GAXML) const;
    // Reads a checkpoint document's content: all or nothing, like every load.
    void LoadCheckpointFromXML(IXMLGeneticAlgorithm& GAXML);

    // Registers a named section that code above the engine keeps in the engine's checkpoints
    // (replacing one of the same name). Name must be an XML name made of ASCII letters, digits,
    // '_', '-' and '.', not starting with a digit, '-' or '.' (EConvertError otherwise). Saving
    // calls Writer with the section's empty element; loading calls Reader with the section's
    // element, or nullptr when the checkpoint has none, after the engine's own content has been
    // read and checked and before anything is changed; Reader reads and checks without changing
    // anything and returns the action that applies what it read (empty: nothing to apply), which
    // runs, and must not raise, once the whole checkpoint has been read and checked. An exception
    // from a Reader fails the load and leaves everything as it was. Sections of a checkpoint that
    // nobody registered are ignored. Either function may be empty (the section is then not
    // written, or not read).
    void SetCheckpointSection(std::string_view Name, TCheckpointWriter Writer,
                              TCheckpointReader Reader);
    // Forgets a registered section; false when there was none of that name.
    bool RemoveCheckpointSection(std::string_view Name);

protected:
    // ---- checkpoint content of descendants ----
    // Writes what a descendant adds to a checkpoint into Checkpoint (the checkpoint's element);
    // the base writes nothing.
    virtual void SaveCheckpointState(IXMLNode& Checkpoint) const;
    // Reads and checks what SaveCheckpointState wrote, changing nothing, and returns the action
    // that applies it (it must not raise); the base returns an empty action.
    virtual std::function<void()> ReadCheckpointState(IXMLNode& Checkpoint);

    // Makes the engine's own stream (if any) the thread's current source until the result ends.
    // Inside a parallel round it binds nothing: each individual then draws from its own stream,
    // which the evaluator has bound (and the engine's stream must not be shared by workers).
    TRandomSourceBinding BindRandomSource() const noexcept {
        return TRandomSourceBinding(FOwnStream && !FConcurrentEvaluation ? FRandomSource.get()
                                                                         : nullptr);
    }
    // True when the engine has its own stream and it is not the thread's current source. The
    // operations a generation calls per child start with
    //     if (MustBindRandomSource()) [[unlikely]] { bind; return <this operation, qualified>; }
    // so that without an own stream they pay a test of a flag, not a binding.
    bool MustBindRandomSource() const noexcept {
        return FOwnStream && !FConcurrentEvaluation && &ThreadRandomSource() != FRandomSource.get();
    }

    // ---- the evaluation seam ----
    // The evaluator for a Threads setting: TKvGASerialEvaluator for 0, TKvGAParallelEvaluator
    // otherwise. A descendant may return its own; the result must not be nullptr.
    virtual std::unique_ptr<TKvGAEvaluator> CreateEvaluator(int32_t Threads);
    // Called on the calling thread before a round with Workers threads starts (it may raise, and
    // then nothing was scored) and after it ended, also when it failed.
    virtual void BeginConcurrentEvaluation(int32_t Workers);
    virtual void EndConcurrentEvaluation() noexcept;
    // Per-worker state for a TKvGAWorkerScope (nullptr here; the genetic-program engine hands out
    // a copy of its machine). Acquire may run on any worker thread during a round, concurrently
    // with other Acquire and Release calls; Release gets back what Acquire gave.
    virtual TObject* AcquireWorkerState();
    virtual void ReleaseWorkerState(TObject* State) noexcept;
    // True on a thread inside a TKvGAWorkerScope of this engine.
    bool IsWorkerThread() const noexcept { return TKvGAWorkerScope::CurrentEngine() == this; }
    // Raises EGAException naming Operation when called from a worker of a running parallel round;
    // every operation that changes the engine calls it first.
    void CheckChange(const char* Operation) const {
        if (FConcurrentEvaluation) [[unlikely]]
            RaiseIfWorker(Operation);
    }

    // ---- factories (called on first access to Genes / Population, and for the previous
    // generation); the result must be owned by this engine ----
    virtual std::unique_ptr<TKvGAGenes> CreateGenes(const TKvGAGeneClass& ItemClass);
    virtual std::unique_ptr<TKvGAPopulation>
    CreatePopulation(const TKvGAIndividualClass& ItemClass);

    // ---- notifications from the owned collections ----
    // Hooks for descendants; the base does nothing.
    virtual void GeneNotify(TKvGAGene* Item, TCollectionNotification Action);
    virtual void GeneUpdate(TKvGAGene* Item);
    // Grows GeneSize to the genotype's Size when that is larger.
    virtual void GenesSizeChange();
    // Added: sizes the chromosome to GeneSize. Leaving: the individual stops being the fittest
    // (and the elitist queue built over its population is dropped).
    virtual void PopulationNotify(TKvGAIndividual* Item, TCollectionNotification Action);
    // Hook for descendants; the base does nothing.
    virtual void PopulationUpdate(TKvGAIndividual* Item);

    // ---- reproduction operators ----
    // Child becomes a copy of Parent1; then OnInitializeChild.
    virtual void InitializeChild(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                                 TKvGAIndividual* Child);
    // Crossover of Parent1/Parent2 into Child1 and (when not nullptr) Parent2/Parent1 into
    // Child2, of the CrossoverKind (one point chosen by CrossoverMethod by default), decided with
    // CrossoverProbability.
    virtual void Crossover(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                           TKvGAIndividual* Child1, TKvGAIndividual* Child2);
    // Mutation of Item by MutationMode unless OnMutation vetoes it; true when a bit flipped.
    virtual bool Mutate(TKvGAIndividual* Item);
    // Inverts a random run of Item's bits with InversionProbability (OnInversion may decide);
    // true when the inversion took place.
    virtual bool Invert(TKvGAIndividual* Item);

    // ---- selection ----
    bool IsCustomSelection() const noexcept { return FSelectionMethod == smCustom; }
    // Calls the routine in OnSelection. EGAException when none is in force or when it leaves no
    // parent.
    TKvGAIndividual* SelectParent(TKvGAPopulation* Population);
    // The built-in routines (TKvGASelectionEvent's parameters).
    void SelectRandom(TObject* Sender, TKvGAPopulation* Population, TKvGAIndividual*& Parent);
    void SelectRoulette(TObject* Sender, TKvGAPopulation* Population, TKvGAIndividual*& Parent);
    void SelectTournament(TObject* Sender, TKvGAPopulation* Population, TKvGAIndividual*& Parent);
    void SelectStochasticTournament(TObject* Sender, TKvGAPopulation* Population,
                                    TKvGAIndividual*& Parent);
    // Elitist selection reads the queue built over Population; it builds the queue again when
    // there is none (an individual left the population it was built over) or when it was built
    // over another population (during Evolve, the collection the children overwrite).
    void SelectElitist(TObject* Sender, TKvGAPopulation* Population, TKvGAIndividual*& Parent);

    // ---- evaluation support ----
    // Scores every individual of the current population through the evaluator (GetEvaluator),
    // bracketed by BeginConcurrentEvaluation/EndConcurrentEvaluation when the evaluator has
    // workers, and stores each result in its individual. The serial evaluator scores in index
    // order and raises EGAException when the population changes during a call of
    // EvaluateFitness(Item) (see the class comment).
    virtual void EvaluatePopulation();
    // Fitness / FitnessSum; 0 when the sum is 0 or Fitness is NaN. Finite whenever every fitness
    // of the last evaluation was finite (an overflowing sum is kept scaled, see the class comment).
    TGAFitness GetNormalizedFitness(TGAFitness Fitness) const noexcept;
    // Rebuilds the cumulative normalised fitnesses of the current population.
    void CalculateCumulativeNormalizedFitnesses();
    // Refills the priority queue with the current population, fittest first.
    void PrioritizePopulation();

    // The sum of the numbers of the last evaluation (NaN left out). It may be an infinity when
    // the sum of finite values overflowed; normalisation then works on a scaled copy.
    TGAFitness GetFitnessSum() const noexcept;
    int32_t GetRouletteIndex() const noexcept { return FRouletteIndex; }
    const TGAFitnessArray& GetCumNormFitnesses() const noexcept { return FCumNormFitnesses; }
    // The elitist queue, or nullptr before it has been built.
    const TFloatPriorityQueue* GetPriorityQueue() const noexcept { return FPriorityQueue.get(); }
    // Stores Fitness in Item (for descendants that score individuals their own way).
    static void StoreFitness(TKvGAIndividual* Item, TGAFitness Fitness) noexcept {
        Item->FFitness = Fitness;
    }

private:
    friend class TKvGAGenes;
    friend class TKvGAPopulation;
    friend class TKvGAIndividual;
    friend class TKvGAWorkerScope;

    void RaiseIfWorker(const char* Operation) const;
    TKvGAGenes* MakeGenes() const;
    TKvGAPopulation* MakePopulation() const;
    // The crossover point for a child of BitCount bits, drawn by CrossoverMethod: place
    // Random(CrossoverPlaces(BitCount)) of CrossoverPlaceAt.
    int32_t CrossoverPoint(int32_t BitCount);
    // The number of places CrossoverMethod offers a point in a child of BitCount bits (0 for an
    // empty child), and the point at place Place (0 .. count - 1; 0 also for a count of 0).
    int32_t CrossoverPlaces(int32_t BitCount) const;
    int32_t CrossoverPlaceAt(int32_t Place) const;
    // Two different points for ckTwoPoint (equal when there is a single place), Lo <= Hi.
    void CrossoverPoints(int32_t BitCount, int32_t& Lo, int32_t& Hi);
    // Installs the built-in routine of Method in OnSelection.
    void InstallSelectionRoutine(TGASelectionMethod Method);
    // Calls Notice on every observer, in the order they were added.
    void NotifyObservers(void (TKvGAObserver::*Notice)(const TKvCustomGeneticAlgorithm&)) const;
    // The statistics, the fittest individual and the fitness sum from the stored fitness values
    // of the (non-empty) current population, in index order.
    void CalculateStatistics();
    // The support data of the selection method from the stored fitness values: the roulette
    // array for the roulette and the stochastic tournament, the priority queue for elitist.
    void PrepareSelection();
    // Refills the priority queue with Population's individuals, fittest first.
    void PrioritizePopulation(TKvGAPopulation* Population);
    // While Evolve breeds: EGAException naming Event when a handler changed the list of either
    // population (or exchanged them) since breeding began. Does nothing outside breeding.
    void CheckBreeding(const char* Event) const;

    int32_t FGeneration = 0;
    TGAFitness FFitnessCutoff = 0;
    TGAProbability FMutationProbability = 0;
    TGAProbability FInversionProbability = 0;
    TGAProbability FCrossoverProbability = 0;
    TNotifyEvent FOnEvolve;
    TKvGAFitnessEvent FOnEvaluateFitness;
    TKvGAMutationEvent FOnMutation;
    TKvGAIndividualEvent FOnReproduction;
    mutable std::unique_ptr<TKvGAPopulation> FPopulation;
    mutable std::unique_ptr<TKvGAGenes> FGenes;
    TGAProbability FElitistPct = 0;
    int32_t FGeneSize = 0;
    TKvGAIndividual* FFittestIndividual = nullptr;
    TGAFitnessMethod FFitnessMethod = fmMinimize;
    TGASelectionMethod FSelectionMethod = smRoulette;
    TKvGASelectionEvent FOnSelection;
    int32_t FRouletteIndex = 0;
    TGAFitness FMaxFitness = 0;
    TGAFitness FMinFitness = 0;
    TGAProbability FDiversityLimit = 0;
    TGAFitness FAvgFitness = 0;
    std::unique_ptr<TKvGAPopulation> FPreviousGeneration;
    TKvGAInitializationEvent FOnInitialization;
    int32_t FTournamentField = 0;
    bool FInitialized = false;
    TGACrossoverMethod FCrossoverMethod = cmGeneBoundary;
    bool FUseFitnessCutoff = false;
    bool FUseDiversityLimit = false;
    // FitnessSum scaled by 2^-FFitnessSumScale: the scale is 0 unless the sum of finite values
    // overflowed.
    TGAFitness FFitnessSum = 0;
    int FFitnessSumScale = 0;
    // Every individual of the last evaluation scored the same number, or every one NaN (also
    // true before any evaluation and after one of an empty population): roulette and elitist
    // selection then draw uniformly.
    bool FAllScoredAlike = true;
    TGAFitnessArray FCumNormFitnesses;
    std::unique_ptr<TFloatPriorityQueue> FPriorityQueue;
    // While Evolve breeds: the parents' and the children's populations and their change counts
    // when breeding began (FBreedChildren is nullptr otherwise).
    const TKvGAPopulation* FBreedParents = nullptr;
    const TKvGAPopulation* FBreedChildren = nullptr;
    uint64_t FBreedParentChanges = 0;
    uint64_t FBreedChildChanges = 0;
    // The population the priority queue was built from (its individuals are the queue's entries).
    const TKvGAPopulation* FQueuePopulation = nullptr;
    int32_t FInitialPopulation = 0;
    TKvGAParentChildEvent FOnInitializeChild;
    TKvGAInversionEvent FOnInversion;
    TGAGeneticOperations FOperations;
    TKvGACrossoverEvent FOnCrossover;
    int32_t FEvaluationThreads = 0;
    std::unique_ptr<TKvGAEvaluator> FEvaluator;
    // An evaluation runs (any mode) / a parallel round runs. Written only by the calling thread
    // outside rounds; workers read the second.
    bool FEvaluating = false;
    bool FConcurrentEvaluation = false;
    TGACrossoverKind FCrossoverKind = ckOnePoint;
    TGAMutationMode FMutationMode = mmPerBit;
    // The mask of uniform crossover, reused from one pair to the next.
    TBits FCrossoverMask;
    TKvDocumentLimits FDocumentLimits;
    std::vector<TKvGAObserver*> FObservers;
    // The engine's own random stream: kept once made (a bound stream must outlive its binding),
    // in use while FOwnStream is true.
    std::unique_ptr<TRandomSource> FRandomSource;
    bool FOwnStream = false;
    struct TCheckpointSection {
        std::string Name;
        TCheckpointWriter Writer;
        TCheckpointReader Reader;
    };
    std::vector<TCheckpointSection> FCheckpointSections;
};

// The engine a host application places and configures; it adds nothing to
// TKvCustomGeneticAlgorithm.
class TKvGeneticAlgorithm : public TKvCustomGeneticAlgorithm {
public:
    using TKvCustomGeneticAlgorithm::TKvCustomGeneticAlgorithm;
    std::string ClassName() const override { return "TKvGeneticAlgorithm"; }
};

} // namespace kv
