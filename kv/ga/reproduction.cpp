// Reproduction: child set-up, crossover on the five boundary methods, mutation and inversion.
#include "kv/ga/engine.h"
#include "kv/rtl/random.h"

namespace kv {

void TKvCustomGeneticAlgorithm::Reproduce(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                                          TKvGAIndividual* Child) {
    CheckChange("Reproduce");
    InitializeChild(Parent1, Parent2, Child);
    if (FOperations.Contains(goCrossover))
        Crossover(Parent1, Parent2, Child, nullptr);
    if (FOperations.Contains(goMutate))
        Mutate(Child);
    if (FOperations.Contains(goInvert))
        Invert(Child);
    if (FOnReproduction)
        FOnReproduction(this, Child);
}

void TKvCustomGeneticAlgorithm::Reproduce(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                                          TKvGAIndividual* Child1, TKvGAIndividual* Child2) {
    CheckChange("Reproduce");
    InitializeChild(Parent1, Parent2, Child1);
    InitializeChild(Parent2, Parent1, Child2);
    if (FOperations.Contains(goCrossover))
        Crossover(Parent1, Parent2, Child1, Child2);
    if (FOperations.Contains(goMutate)) {
        Mutate(Child1);
        Mutate(Child2);
    }
    if (FOperations.Contains(goInvert)) {
        // A pair is inverted here directly, without Invert and without OnInversion.
        if (Random() < FInversionProbability)
            Child1->GetBits()->Invert(-1, -1);
        if (Random() < FInversionProbability)
            Child2->GetBits()->Invert(-1, -1);
    }
    if (FOnReproduction) {
        FOnReproduction(this, Child1);
        FOnReproduction(this, Child2);
    }
}

void TKvCustomGeneticAlgorithm::InitializeChild(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                                                TKvGAIndividual* Child) {
    Child->Assign(Parent1);
    if (FOnInitializeChild)
        FOnInitializeChild(this, Parent1, Parent2, Child);
}

int32_t TKvCustomGeneticAlgorithm::CrossoverPoint(int32_t BitCount) {
    switch (FCrossoverMethod) {
    case cmGeneBoundary: {
        const TKvGAGenes* Genes = GetGenes();
        const int Count = Genes->GetCount();
        if (Count >= 2)
            return Genes->GetItem(1 + Random(Count - 1))->GetOffset();
        return Random(BitCount);
    }
    case cmByteBoundary:
        return FGeneSize >= 16 ? (1 + Random(BitCount / 8)) * 8 : Random(BitCount);
    case cmWordBoundary:
        return FGeneSize >= 32 ? (1 + Random(BitCount / 16)) * 16 : Random(BitCount);
    case cmLongwordBoundary:
        return FGeneSize >= 64 ? (1 + Random(BitCount / 32)) * 32 : Random(BitCount);
    case cmBitBoundary:
    default:
        return Random(BitCount);
    }
}

void TKvCustomGeneticAlgorithm::Crossover(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                                          TKvGAIndividual* Child1, TKvGAIndividual* Child2) {
    bool DoCrossover = Random() < FCrossoverProbability;
    if (!DoCrossover && !FOnCrossover)
        return;
    TKvGABits* Bits1 = Child1->GetBits();
    int32_t Point = CrossoverPoint(Bits1->GetSize());
    if (FOnCrossover)
        FOnCrossover(this, Parent1, Parent2, Child1, Point, DoCrossover);
    if (DoCrossover)
        Bits1->CrossOver(*Parent1->GetBits(), *Parent2->GetBits(), Point);
    if (Child2 == nullptr)
        return;
    if (FOnCrossover)
        FOnCrossover(this, Parent2, Parent1, Child2, Point, DoCrossover);
    if (DoCrossover)
        Child2->GetBits()->CrossOver(*Parent2->GetBits(), *Parent1->GetBits(), Point);
}

bool TKvCustomGeneticAlgorithm::Mutate(TKvGAIndividual* Item) {
    bool DoMutation = true;
    if (FOnMutation)
        FOnMutation(this, Item, DoMutation);
    if (DoMutation)
        DoMutation = Item->GetBits()->Mutate(FMutationProbability);
    return DoMutation;
}

bool TKvCustomGeneticAlgorithm::Invert(TKvGAIndividual* Item) {
    bool DoInversion = Random() < FInversionProbability;
    if (FOnInversion)
        FOnInversion(this, Item, DoInversion);
    if (DoInversion)
        Item->GetBits()->Invert(-1, -1);
    return DoInversion;
}

} // namespace kv
