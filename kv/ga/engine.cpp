// Construction, owned collections, property writers and the notifications of the collections.
#include "kv/ga/engine.h"

#include <cmath>
#include <limits>

#include "kv/ga/persistence.h"
#include "kv/rtl/exceptions.h"
#include "kv/vocabulary/ga_messages.h"

namespace kv {

namespace {

bool IsFraction(double Value) noexcept {
    return Value >= 0.0 && Value <= 1.0;
}

} // namespace

TKvCustomGeneticAlgorithm::TKvCustomGeneticAlgorithm(TComponent* AOwner) : TComponent(AOwner) {
    // The genotype and the population come from the virtual factories on first access (see
    // GetGenes/GetPopulation), when a derived engine's overrides are in place.
    SetCrossoverProbability(CROSSOVER_PROBABILITY);
    SetInversionProbability(INVERSION_PROBABILITY);
    SetMutationProbability(MUTATION_PROBABILITY);
    SetSelectionMethod(smStochasticTournament);
    SetFitnessCutoff(DEFAULT_FITNESS_CUTOFF);
    SetDiversityLimit(DEFAULT_DIVERSITY_LIMIT);
    SetElitistPct(DEFAULT_ELITIST_PCT);
    SetTournamentField(2);
    SetInitialPopulation(100);
    SetOperations({goCrossover, goMutate, goInvert});
}

TKvCustomGeneticAlgorithm::~TKvCustomGeneticAlgorithm() {
    // Observers that are still added forget the engine (one may remove others as it goes).
    while (!FObservers.empty()) {
        TKvGAObserver* Observer = FObservers.front();
        FObservers.erase(FObservers.begin());
        Observer->EngineDestroyed(*this);
    }
    FPriorityQueue.reset();
    FQueuePopulation = nullptr;
    FFittestIndividual = nullptr;
    FPopulation.reset();
    FPreviousGeneration.reset();
    FGenes.reset();
    FCumNormFitnesses.clear();
    FEvaluator.reset();
}

// ---- owned collections ----

std::unique_ptr<TKvGAGenes>
TKvCustomGeneticAlgorithm::CreateGenes(const TKvGAGeneClass& ItemClass) {
    return std::make_unique<TKvGAGenes>(this, ItemClass);
}

std::unique_ptr<TKvGAPopulation>
TKvCustomGeneticAlgorithm::CreatePopulation(const TKvGAIndividualClass& ItemClass) {
    return std::make_unique<TKvGAPopulation>(this, ItemClass);
}

TKvGAGenes* TKvCustomGeneticAlgorithm::MakeGenes() const {
    // The collections are parts of the engine that exist from the start as far as callers can
    // tell; creating one on first access is not a change of the engine's observable state.
    auto* Self = const_cast<TKvCustomGeneticAlgorithm*>(this);
    std::unique_ptr<TKvGAGenes> Genes = Self->CreateGenes(TKvGAGeneClass());
    if (Genes == nullptr || Genes->GetOwner() != this)
        throw EGAException(
            Format("%s.CreateGenes must return a genotype owned by the engine", ClassName()));
    FGenes = std::move(Genes);
    Self->GenesSizeChange();
    return FGenes.get();
}

TKvGAPopulation* TKvCustomGeneticAlgorithm::MakePopulation() const {
    auto* Self = const_cast<TKvCustomGeneticAlgorithm*>(this);
    std::unique_ptr<TKvGAPopulation> Population = Self->CreatePopulation(TKvGAIndividualClass());
    if (Population == nullptr || Population->GetOwner() != this)
        throw EGAException(Format(
            "%s.CreatePopulation must return a population owned by the engine", ClassName()));
    FPopulation = std::move(Population);
    return FPopulation.get();
}

void TKvCustomGeneticAlgorithm::SetGenes(const TKvGAGenes* Value) {
    CheckChange("SetGenes");
    GetGenes()->Assign(Value);
}

void TKvCustomGeneticAlgorithm::SetPopulation(const TKvGAPopulation* Value) {
    CheckChange("SetPopulation");
    GetPopulation()->Assign(Value);
}

void TKvCustomGeneticAlgorithm::SetPreviousGeneration(const TKvGAPopulation* Value) {
    CheckChange("SetPreviousGeneration");
    if (FPreviousGeneration == nullptr) {
        std::unique_ptr<TKvGAPopulation> Previous =
            CreatePopulation(GetPopulation()->GetIndividualClass());
        if (Previous == nullptr || Previous->GetOwner() != this)
            throw EGAException(Format(
                "%s.CreatePopulation must return a population owned by the engine", ClassName()));
        FPreviousGeneration = std::move(Previous);
    }
    FPreviousGeneration->Assign(Value);
}

// ---- random stream ----

void TKvCustomGeneticAlgorithm::SetRandomSeed(uint64_t Seed) {
    CheckChange("SetRandomSeed");
    if (FRandomSource == nullptr)
        FRandomSource = std::make_unique<TRandomSource>(Seed);
    else
        FRandomSource->SetSeed(Seed);
    FOwnStream = true;
}

// ---- property writers ----

void TKvCustomGeneticAlgorithm::SetMutationProbability(TGAProbability Value) {
    CheckChange("SetMutationProbability");
    if (IsFraction(Value))
        FMutationProbability = Value;
}

void TKvCustomGeneticAlgorithm::SetInversionProbability(TGAProbability Value) {
    CheckChange("SetInversionProbability");
    if (IsFraction(Value))
        FInversionProbability = Value;
}

void TKvCustomGeneticAlgorithm::SetCrossoverProbability(TGAProbability Value) {
    CheckChange("SetCrossoverProbability");
    if (IsFraction(Value))
        FCrossoverProbability = Value;
}

void TKvCustomGeneticAlgorithm::SetElitistPct(TGAProbability Value) {
    CheckChange("SetElitistPct");
    if (IsFraction(Value))
        FElitistPct = Value;
}

void TKvCustomGeneticAlgorithm::SetDiversityLimit(TGAProbability Value) {
    CheckChange("SetDiversityLimit");
    if (IsFraction(Value))
        FDiversityLimit = Value;
}

void TKvCustomGeneticAlgorithm::SetTournamentField(int32_t Value) {
    CheckChange("SetTournamentField");
    // Above the cap every selected parent would cost that many draws (see MaxTournamentField).
    if (Value >= 2 && Value <= MaxTournamentField)
        FTournamentField = Value;
}

void TKvCustomGeneticAlgorithm::SetInitialPopulation(int32_t Value) {
    CheckChange("SetInitialPopulation");
    if (Value != FInitialPopulation)
        FInitialPopulation = Value < 0 ? 0 : Value;
}

void TKvCustomGeneticAlgorithm::SetFitnessMethod(TGAFitnessMethod Value) {
    CheckChange("SetFitnessMethod");
    if (Value == fmMinimize || Value == fmMaximize)
        FFitnessMethod = Value;
}

void TKvCustomGeneticAlgorithm::SetCrossoverMethod(TGACrossoverMethod Value) {
    CheckChange("SetCrossoverMethod");
    if (Value >= cmGeneBoundary && Value <= cmLongwordBoundary)
        FCrossoverMethod = Value;
}

void TKvCustomGeneticAlgorithm::SetCrossoverKind(TGACrossoverKind Value) {
    CheckChange("SetCrossoverKind");
    if (Value >= ckOnePoint && Value <= ckUniform)
        FCrossoverKind = Value;
}

void TKvCustomGeneticAlgorithm::SetMutationMode(TGAMutationMode Value) {
    CheckChange("SetMutationMode");
    if (Value == mmPerBit || Value == mmGeometric)
        FMutationMode = Value;
}

void TKvCustomGeneticAlgorithm::SetGeneSize(int32_t Value) {
    CheckChange("SetGeneSize");
    if (Value < 0)
        throw EGAException(Format("Gene size must not be negative: %i", Value));
    if (Value == FGeneSize)
        return;
    FGeneSize = Value;
    if (FPopulation == nullptr)
        return;
    for (TCollectionItem* Item : FPopulation->Items())
        static_cast<TKvGAIndividual*>(Item)->GetBits()->SetSize(Value);
}

TGAFitness TKvCustomGeneticAlgorithm::GetDiversity() const noexcept {
    if (FMaxFitness == 0)
        return std::numeric_limits<TGAFitness>::infinity();
    return FAvgFitness / FMaxFitness;
}

// ---- the evaluation seam ----

std::unique_ptr<TKvGAEvaluator> TKvCustomGeneticAlgorithm::CreateEvaluator(int32_t Threads) {
    if (Threads == 0)
        return std::make_unique<TKvGASerialEvaluator>();
    return std::make_unique<TKvGAParallelEvaluator>(Threads);
}

void TKvCustomGeneticAlgorithm::SetEvaluationThreads(int32_t Value) {
    CheckChange("SetEvaluationThreads");
    if (Value < 0 && Value != ALL_HARDWARE_THREADS)
        return;
    if (Value == FEvaluationThreads && FEvaluator != nullptr)
        return;
    if (FEvaluating)
        throw EGAException(Format("%s.SetEvaluationThreads cannot replace the evaluator while it "
                                  "evaluates the population",
                                  ClassName()));
    std::unique_ptr<TKvGAEvaluator> Evaluator = CreateEvaluator(Value);
    if (Evaluator == nullptr)
        throw EGAException(
            Format("%s.CreateEvaluator returned no evaluator for %i threads", ClassName(), Value));
    FEvaluator = std::move(Evaluator);
    FEvaluationThreads = Value;
}

TKvGAEvaluator* TKvCustomGeneticAlgorithm::GetEvaluator() {
    if (FEvaluator == nullptr) {
        std::unique_ptr<TKvGAEvaluator> Evaluator = CreateEvaluator(FEvaluationThreads);
        if (Evaluator == nullptr)
            throw EGAException(Format("%s.CreateEvaluator returned no evaluator for %i threads",
                                      ClassName(), FEvaluationThreads));
        FEvaluator = std::move(Evaluator);
    }
    return FEvaluator.get();
}

void TKvCustomGeneticAlgorithm::SetEvaluator(std::unique_ptr<TKvGAEvaluator> Value) {
    CheckChange("SetEvaluator");
    if (FEvaluating)
        throw EGAException(
            Format("%s.SetEvaluator cannot replace the evaluator while it evaluates the population",
                   ClassName()));
    FEvaluator = std::move(Value); // nullptr: made again from EvaluationThreads on first use
}

void TKvCustomGeneticAlgorithm::BeginConcurrentEvaluation(int32_t /*Workers*/) {}

void TKvCustomGeneticAlgorithm::EndConcurrentEvaluation() noexcept {}

TObject* TKvCustomGeneticAlgorithm::AcquireWorkerState() {
    return nullptr;
}

void TKvCustomGeneticAlgorithm::ReleaseWorkerState(TObject* /*State*/) noexcept {}

void TKvCustomGeneticAlgorithm::RaiseIfWorker(const char* Operation) const {
    if (IsWorkerThread())
        throw EGAException(Format("%s.%s cannot be called while the engine evaluates in "
                                  "parallel: a fitness callback must not change the engine",
                                  ClassName(), Operation));
}

// ---- notifications ----

void TKvCustomGeneticAlgorithm::GeneNotify(TKvGAGene* /*Item*/,
                                           TCollectionNotification /*Action*/) {}

void TKvCustomGeneticAlgorithm::GeneUpdate(TKvGAGene* /*Item*/) {}

void TKvCustomGeneticAlgorithm::GenesSizeChange() {
    // A genotype that adds genes while it is being made reports before the engine holds it;
    // MakeGenes catches up once it does.
    if (FGenes == nullptr)
        return;
    const int32_t Total = FGenes->GetSize();
    if (Total > FGeneSize)
        SetGeneSize(Total);
}

void TKvCustomGeneticAlgorithm::PopulationNotify(TKvGAIndividual* Item,
                                                 TCollectionNotification Action) {
    if (Action == cnAdded) {
        Item->GetBits()->SetSize(FGeneSize);
        return;
    }
    if (Item == FFittestIndividual)
        FFittestIndividual = nullptr;
    // The queue holds the individuals of the population it was built from; once one of them
    // leaves, the queue is dropped so that elitist selection never reads a stale entry (it is
    // rebuilt on its next use).
    if (FPriorityQueue != nullptr && Item->TCollectionItem::GetCollection() == FQueuePopulation) {
        FPriorityQueue.reset();
        FQueuePopulation = nullptr;
    }
}

void TKvCustomGeneticAlgorithm::PopulationUpdate(TKvGAIndividual* /*Item*/) {}

} // namespace kv
