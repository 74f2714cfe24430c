// Reproduction: child set-up, crossover of the three kinds on the five boundary methods, mutation
// and inversion.
#include <algorithm>

#include "kv/ga/engine.h"
#include "kv/rtl/random.h"

namespace kv {

void TKvCustomGeneticAlgorithm::Reproduce(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                                          TKvGAIndividual* Child) {
    CheckChange("Reproduce");
    if (MustBindRandomSource()) [[unlikely]] {
        const TRandomSourceBinding Bound = BindRandomSource();
        return TKvCustomGeneticAlgorithm::Reproduce(Parent1, Parent2, Child);
    }
    InitializeChild(Parent1, Parent2, Child);
    if (FOperations.Contains(goCrossover))
        Crossover(Parent1, Parent2, Child, nullptr);
    if (FOperations.Contains(goMutate))
        Mutate(Child);
    if (FOperations.Contains(goInvert))
        Invert(Child);
    if (FOnReproduction) {
        FOnReproduction(this, Child);
        CheckBreeding("OnReproduction");
    }
}

void TKvCustomGeneticAlgorithm::Reproduce(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                                          TKvGAIndividual* Child1, TKvGAIndividual* Child2) {
    CheckChange("Reproduce");
    if (MustBindRandomSource()) [[unlikely]] {
        const TRandomSourceBinding Bound = BindRandomSource();
        return TKvCustomGeneticAlgorithm::Reproduce(Parent1, Parent2, Child1, Child2);
    }
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
        CheckBreeding("OnReproduction");
        FOnReproduction(this, Child2);
        CheckBreeding("OnReproduction");
    }
}

void TKvCustomGeneticAlgorithm::InitializeChild(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                                                TKvGAIndividual* Child) {
    Child->Assign(Parent1);
    if (FOnInitializeChild) {
        FOnInitializeChild(this, Parent1, Parent2, Child);
        CheckBreeding("OnInitializeChild");
    }
}

int32_t TKvCustomGeneticAlgorithm::CrossoverPlaces(int32_t BitCount) const {
    switch (FCrossoverMethod) {
    case cmGeneBoundary: {
        const int Count = GetGenes()->GetCount();
        return Count >= 2 ? Count - 1 : BitCount;
    }
    case cmByteBoundary:
        return FGeneSize >= 16 ? BitCount / 8 : BitCount;
    case cmWordBoundary:
        return FGeneSize >= 32 ? BitCount / 16 : BitCount;
    case cmLongwordBoundary:
        return FGeneSize >= 64 ? BitCount / 32 : BitCount;
    case cmBitBoundary:
    default:
        return BitCount;
    }
}

int32_t TKvCustomGeneticAlgorithm::CrossoverPlaceAt(int32_t Place) const {
    switch (FCrossoverMethod) {
    case cmGeneBoundary: {
        const TKvGAGenes* Genes = GetGenes();
        return Genes->GetCount() >= 2 ? Genes->GetItem(1 + Place)->GetOffset() : Place;
    }
    case cmByteBoundary:
        return FGeneSize >= 16 ? (1 + Place) * 8 : Place;
    case cmWordBoundary:
        return FGeneSize >= 32 ? (1 + Place) * 16 : Place;
    case cmLongwordBoundary:
        return FGeneSize >= 64 ? (1 + Place) * 32 : Place;
    case cmBitBoundary:
    default:
        return Place;
    }
}

int32_t TKvCustomGeneticAlgorithm::CrossoverPoint(int32_t BitCount) {
    return CrossoverPlaceAt(Random(CrossoverPlaces(BitCount)));
}

void TKvCustomGeneticAlgorithm::CrossoverPoints(int32_t BitCount, int32_t& Lo, int32_t& Hi) {
    const int32_t Places = CrossoverPlaces(BitCount);
    const int32_t First = Random(Places);
    int32_t Second = First;
    if (Places >= 2) {
        Second = Random(Places - 1);
        if (Second >= First)
            ++Second;
    }
    Lo = CrossoverPlaceAt(std::min(First, Second));
    Hi = CrossoverPlaceAt(std::max(First, Second));
}

void TKvCustomGeneticAlgorithm::Crossover(TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                                          TKvGAIndividual* Child1, TKvGAIndividual* Child2) {
    bool DoCrossover = Random() < FCrossoverProbability;
    if (!DoCrossover && !FOnCrossover)
        return;
    TKvGABits* Bits1 = Child1->GetBits();
    // The kind in force when the pair is crossed (a callback that changes it affects the next
    // pair), the point the event carries, and for two-point crossover the point it does not.
    const TGACrossoverKind Kind = FCrossoverKind;
    int32_t Point = -1;
    int32_t Second = -1;
    switch (Kind) {
    case ckTwoPoint:
        CrossoverPoints(Bits1->GetSize(), Point, Second);
        break;
    case ckUniform:
        break;
    case ckOnePoint:
    default:
        Point = CrossoverPoint(Bits1->GetSize());
        break;
    }
    bool MaskDrawn = false;
    // Crosses Child from its first parent First and its second parent Other.
    auto Cross = [&](TKvGABits& Child, const TKvGABits& First, const TKvGABits& Other) {
        switch (Kind) {
        case ckTwoPoint:
            Child.CrossOver(First, Other, Point, Second);
            break;
        case ckUniform:
            if (!MaskDrawn) {
                // One raw value per word, drawn once for both children of a pair.
                FCrossoverMask.SetSize(Bits1->GetSize());
                uint64_t* Words = FCrossoverMask.Words();
                TRandomSource& Source = ThreadRandomSource();
                for (size_t I = 0; I < FCrossoverMask.WordCount(); ++I)
                    Words[I] = Source.Next();
                FCrossoverMask.ClearPadding();
                MaskDrawn = true;
            }
            Child.CrossOver(First, Other, FCrossoverMask);
            break;
        case ckOnePoint:
        default:
            Child.CrossOver(First, Other, Point);
            break;
        }
    };
    if (FOnCrossover) {
        FOnCrossover(this, Parent1, Parent2, Child1, Point, DoCrossover);
        CheckBreeding("OnCrossover");
        if (Kind == ckUniform)
            Point = -1;
    }
    if (DoCrossover)
        Cross(*Bits1, *Parent1->GetBits(), *Parent2->GetBits());
    if (Child2 == nullptr)
        return;
    if (FOnCrossover) {
        FOnCrossover(this, Parent2, Parent1, Child2, Point, DoCrossover);
        CheckBreeding("OnCrossover");
        if (Kind == ckUniform)
            Point = -1;
    }
    if (DoCrossover)
        Cross(*Child2->GetBits(), *Parent2->GetBits(), *Parent1->GetBits());
}

bool TKvCustomGeneticAlgorithm::Mutate(TKvGAIndividual* Item) {
    bool DoMutation = true;
    if (FOnMutation) {
        FOnMutation(this, Item, DoMutation);
        CheckBreeding("OnMutation");
    }
    if (DoMutation)
        DoMutation = FMutationMode == mmGeometric
                         ? Item->GetBits()->MutateGeometric(FMutationProbability)
                         : Item->GetBits()->Mutate(FMutationProbability);
    return DoMutation;
}

bool TKvCustomGeneticAlgorithm::Invert(TKvGAIndividual* Item) {
    bool DoInversion = Random() < FInversionProbability;
    if (FOnInversion) {
        FOnInversion(this, Item, DoInversion);
        CheckBreeding("OnInversion");
    }
    if (DoInversion)
        Item->GetBits()->Invert(-1, -1);
    return DoInversion;
}

} // namespace kv
