#include "kv/ga/genes.h"

#include <limits>

#include "kv/ga/engine.h"
#include "kv/rtl/exceptions.h"
#include "kv/vocabulary/ga_exceptions.h"

namespace kv {

TKvGAGenes::TKvGAGenes(TPersistent* AOwner, const TKvGAGeneClass& AItemClass)
    : TCollection(AOwner, AItemClass), FEngine(dynamic_cast<TKvCustomGeneticAlgorithm*>(AOwner)) {}

int32_t TKvGAGenes::GetSize() const noexcept {
    const int Count = GetCount();
    if (Count == 0)
        return 0;
    const auto* Last = static_cast<const TKvGAGene*>(GetItemUnchecked(Count - 1));
    const int64_t End = int64_t(Last->GetOffset()) + Last->GetSize();
    return End > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                     : static_cast<int32_t>(End);
}

void TKvGAGenes::UpdateOffsets(int Start) {
    if (Start < 1)
        Start = 1;
    const int Count = GetCount();
    for (int I = Start; I < Count; ++I) {
        const auto* Prev = static_cast<const TKvGAGene*>(GetItemUnchecked(I - 1));
        const int64_t Offset = int64_t(Prev->GetOffset()) + Prev->GetSize();
        if (Offset > std::numeric_limits<int32_t>::max())
            throw EGAException(Format(
                "Gene %i would start at bit %lld, beyond the largest genotype of 2147483647 bits",
                I, static_cast<long long>(Offset)));
        static_cast<TKvGAGene*>(GetItemUnchecked(I))->SetOffset(static_cast<int32_t>(Offset));
    }
}

void TKvGAGenes::SizeChange(int Index) {
    UpdateOffsets(Index + 1);
    if (FEngine != nullptr)
        FEngine->GenesSizeChange();
}

void TKvGAGenes::CheckChange(const char* Operation) const {
    if (FEngine != nullptr)
        FEngine->CheckChange(Operation);
}

void TKvGAGenes::Notify(TCollectionItem* Item, TCollectionNotification Action) {
    if (FEngine != nullptr)
        FEngine->CheckChange("Genes");
    TCollection::Notify(Item, Action);
    // An added gene is last (Insert moves it afterwards and reports that as a general change), so
    // only its own offset is new; the genes before it keep theirs. This keeps building a genotype
    // of n genes linear. A leaving gene is still listed here: the general change that follows its
    // removal lays the rest out again.
    if (Action == cnAdded)
        UpdateOffsets(Item->GetIndex());
    // Every item is a TKvGAGene: the item class admits nothing else, and a gene leaves its
    // genotype from its own destructor.
    if (FEngine != nullptr)
        FEngine->GeneNotify(static_cast<TKvGAGene*>(Item), Action);
}

void TKvGAGenes::Update(TCollectionItem* Item) {
    if (FEngine != nullptr)
        FEngine->CheckChange("Genes");
    if (Item == nullptr) {
        UpdateOffsets(0);
        // A general change (an insertion, a move, a whole Assign) may have lengthened the genotype
        // without any gene reporting a new size.
        if (FEngine != nullptr)
            FEngine->GenesSizeChange();
    }
    if (FEngine != nullptr)
        FEngine->GeneUpdate(static_cast<TKvGAGene*>(Item));
}

} // namespace kv
