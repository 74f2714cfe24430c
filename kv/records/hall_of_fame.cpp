// The hall of fame: the best individuals ever scored.
#include "kv/records/hall_of_fame.h"

#include <algorithm>
#include <cmath>

#include "kv/common/kv_exception.h"
#include "kv/ga/population.h"
#include "kv/rtl/list_index.h"

namespace kv {

TKvHallOfFame::TKvHallOfFame(int32_t Capacity, bool Unique) : FUnique(Unique) {
    SetCapacity(Capacity);
}

TKvHallOfFame::~TKvHallOfFame() {
    Detach(); // here, while Detaching still reaches this class
}

void TKvHallOfFame::SetCapacity(int32_t Value) {
    if (Value < 1)
        throw EKvException(Format("A hall of fame keeps at least one individual, not %d", Value));
    FCapacity = Value;
    if (FEntries.size() > static_cast<size_t>(Value))
        FEntries.resize(static_cast<size_t>(Value));
}

void TKvHallOfFame::SetUnique(bool Value) {
    if (Value == FUnique)
        return;
    FUnique = Value;
    if (FUnique)
        RemoveDuplicates(FEntries);
}

const TKvGAIndividual* TKvHallOfFame::GetItem(int32_t Index) const {
    CheckListIndex(Index, GetCount());
    return FEntries[static_cast<size_t>(Index)].Individual.get();
}

int32_t TKvHallOfFame::GetGeneration(int32_t Index) const {
    CheckListIndex(Index, GetCount());
    return FEntries[static_cast<size_t>(Index)].Generation;
}

bool TKvHallOfFame::Better(TGAFitness A, TGAFitness B) const noexcept {
    if (std::isnan(A))
        return false;
    if (std::isnan(B))
        return true;
    return FFitnessMethod == fmMaximize ? A > B : A < B;
}

void TKvHallOfFame::SetFitnessMethod(TGAFitnessMethod Value) {
    if (Value == FFitnessMethod)
        return;
    FFitnessMethod = Value;
    std::stable_sort(FEntries.begin(), FEntries.end(), [this](const TEntry& A, const TEntry& B) {
        return Better(A.Individual->GetFitness(), B.Individual->GetFitness());
    });
}

void TKvHallOfFame::RemoveDuplicates(std::vector<TEntry>& Entries) {
    std::vector<TEntry> Kept;
    for (TEntry& E : Entries) {
        const bool Seen = std::any_of(Kept.begin(), Kept.end(), [&E](const TEntry& K) {
            return K.Individual->GetBits()->Equals(*E.Individual->GetBits());
        });
        if (!Seen)
            Kept.push_back(std::move(E));
    }
    Entries = std::move(Kept);
}

bool TKvHallOfFame::Add(const TKvGAIndividual& Item, int32_t Generation) {
    const TGAFitness Fitness = Item.GetFitness();
    const bool Full = FEntries.size() >= static_cast<size_t>(FCapacity);
    // The usual case in a long run: not better than the last entry of a full hall.
    if (Full && !Better(Fitness, FEntries.back().Individual->GetFitness()))
        return false;
    if (FUnique) {
        const TKvGABits& Bits = *Item.GetBits();
        for (const TEntry& E : FEntries)
            if (E.Individual->GetBits()->Equals(Bits))
                return false;
    }
    // After every entry that is at least as good (ties to the earlier).
    const auto Place = std::upper_bound(
        FEntries.begin(), FEntries.end(), Fitness,
        [this](TGAFitness F, const TEntry& E) { return Better(F, E.Individual->GetFitness()); });
    const auto Index = Place - FEntries.begin();
    TEntry Entry;
    if (Full) {
        // The last entry drops out; its individual object takes the copy.
        Entry = std::move(FEntries.back());
        FEntries.pop_back();
    } else {
        Entry.Individual = std::make_unique<TKvGAIndividual>();
    }
    Entry.Individual->Assign(&Item);
    Entry.Generation = Generation;
    FEntries.insert(FEntries.begin() + Index, std::move(Entry));
    return true;
}

void TKvHallOfFame::AfterGeneration(const TKvCustomGeneticAlgorithm& Engine) {
    SetFitnessMethod(Engine.GetFitnessMethod());
    const TKvGAPopulation* Population = Engine.GetPopulation();
    const int32_t Generation = Engine.GetGeneration();
    for (int I = 0; I < Population->GetCount(); ++I)
        Add(*Population->GetItem(I), Generation);
}

} // namespace kv
