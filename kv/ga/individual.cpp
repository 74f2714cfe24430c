#include "kv/ga/individual.h"

#include <algorithm>
#include <typeinfo>

#include "kv/ga/engine.h"
#include "kv/ga/population.h"
#include "kv/rtl/exceptions.h"
#include "kv/vocabulary/ga_exceptions.h"

namespace kv {

TKvGAIndividual::~TKvGAIndividual() {
    FBits.reset();
    // Leave the population here rather than in the base destructor, so that its notifications
    // still see a TKvGAIndividual. A collection that deletes its item has already unlisted it.
    if (TCollectionItem::GetCollection() != nullptr) {
        try {
            TCollectionItem::SetCollection(nullptr);
        } catch (...) {
            // A destructor cannot report the hook's failure; the base destructor unlists the item.
        }
    }
}

TKvGABits* TKvGAIndividual::MakeBits() const {
    // The chromosome is a part of the individual from the caller's point of view; creating it on
    // first access does not change what the individual observably is.
    std::unique_ptr<TKvGABits> Bits = const_cast<TKvGAIndividual*>(this)->CreateDNA();
    if (Bits == nullptr || Bits->GetOwner() != this)
        throw EGAException(
            Format("%s.CreateDNA must return a chromosome owned by the individual", ClassName()));
    FBits = std::move(Bits);
    return FBits.get();
}

std::unique_ptr<TKvGABits> TKvGAIndividual::CreateDNA() {
    return std::make_unique<TKvGABits>(this);
}

namespace {

// Makes Dest a copy of Source (size, bits and sign flag). Two plain TKvGABits are copied word by
// word here, which is what their Assign does, without the casts of the general protocol; any
// other chromosome class goes through its own Assign.
void CopyChromosome(TKvGABits& Dest, const TKvGABits& Source) {
    if (&Dest == &Source)
        return;
    if (typeid(Dest) == typeid(TKvGABits) && typeid(Source) == typeid(TKvGABits)) {
        Dest.SetSize(Source.GetSize());
        std::copy_n(Source.Words(), Source.WordCount(), Dest.Words());
        Dest.PreserveSignBit = Source.PreserveSignBit;
        return;
    }
    Dest.Assign(&Source);
}

} // namespace

void TKvGAIndividual::Assign(const TPersistent* Source) {
    // Children are copied from their parents once per child and generation: take the exact class
    // by a type comparison before falling back on the general cast.
    const TKvGAIndividual* S = nullptr;
    if (Source != nullptr && typeid(*Source) == typeid(TKvGAIndividual))
        S = static_cast<const TKvGAIndividual*>(Source);
    else
        S = dynamic_cast<const TKvGAIndividual*>(Source);
    if (S == nullptr) {
        TCollectionItem::Assign(Source);
        return;
    }
    FFitness = S->FFitness;
    FName = S->FName;
    CopyChromosome(*GetBits(), *S->GetBits());
    Changed(false);
}

std::string TKvGAIndividual::GetDisplayName() const {
    return FName.empty() ? TCollectionItem::GetDisplayName() : FName;
}

TKvGAIndividual* TKvGAIndividual::Clone() {
    TKvGAPopulation* Population = GetCollection();
    if (Population == nullptr)
        throw EGAException(Format("Cannot clone the individual \"%s\": it belongs to no population",
                                  GetDisplayName()));
    TKvGAIndividual* Copy = Population->Add();
    Copy->Assign(this);
    return Copy;
}

void TKvGAIndividual::SetName(const std::string& Value) {
    if (Value == FName)
        return;
    FName = Value;
    Changed(false);
}

void TKvGAIndividual::SetBits(const TBits* Value) {
    GetBits()->Assign(Value);
    Changed(false);
}

TKvGAPopulation* TKvGAIndividual::GetCollection() const noexcept {
    return dynamic_cast<TKvGAPopulation*>(TCollectionItem::GetCollection());
}

TGAFitness TKvGAIndividual::GetNormalizedFitness() const noexcept {
    const TKvGAPopulation* Population = GetCollection();
    if (Population == nullptr || Population->GetOwner() == nullptr)
        return 0;
    return Population->GetOwner()->GetNormalizedFitness(FFitness);
}

} // namespace kv
