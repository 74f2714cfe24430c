// Shared pieces of the Python module kvga: the holder of a Python callable kept inside the
// library's std::function events, and the functions that bind each part of the library.
//
// GIL. The module releases the GIL around the library's own work (initialize, evolve, evaluate,
// save and load) and every callback takes it back only while Python code runs. A callable is held
// by a TPyCallable: a shared pointer to the Python object whose deleter takes the GIL, so that a
// std::function holding one may be copied and destroyed on any thread (the genetic-program
// engine copies its machine, callbacks and all, for the workers of a parallel round).
//
// Exceptions. A Python exception raised by a callback leaves it as pybind11's error_already_set,
// passes through the library's exception-safe paths and reaches the Python caller with its own
// class; the library's exceptions (kv::Exception and its descendants) become the module's
// exception classes with the same message (RegisterExceptions).
#pragma once

#include <memory>
#include <string>

#include <pybind11/pybind11.h>

#include "kv/ga/genes.h"
#include "kv/ga/individual.h"
#include "kv/ga/population.h"
#include "kv/rtl/exceptions.h"
#include "kv/vocabulary/ga_exceptions.h"

namespace kv {
class TKvCustomGeneticAlgorithm;
}

namespace kvpy {

namespace py = pybind11;

// A Python callable shared by the copies of a std::function. Calls and the final release take
// the GIL; copying does not need it.
class TPyCallable {
public:
    TPyCallable() = default;
    // Holds Fn (which must be callable: TypeError naming What otherwise). Called with the GIL.
    TPyCallable(py::object Fn, const char* What);

    // The callable (None when empty). Called with the GIL.
    py::object Get() const { return FFn ? *FFn : py::none(); }
    // Calls the callable with Args; the caller holds the GIL.
    template <class... Args>
    py::object operator()(Args&&... A) const {
        return (*FFn)(std::forward<Args>(A)...);
    }

private:
    std::shared_ptr<py::object> FFn;
};

// A Python exception on its way out of code that catches every std::exception (the machine ends a
// program whose instruction raised one with an error state): it derives from nothing, passes such
// handlers and becomes the Python exception again at the module's boundary.
struct TPyErrorCarrier {
    py::error_already_set Error;
};

// Python's reference to an item of one of an engine's collections: an individual of a population
// or a gene of the genotype. The engine's later work may delete the item (a load, an assignment,
// a clear, a smaller population, a deleted gene), so every use finds it again, at its last known
// place first, and raises GAError once it has left its collection, instead of touching freed
// memory (an item made later at the same address has another ID). The collections live as long
// as their engine (or machine), which Owner keeps alive. An instruction handed to an instruction
// callable of a parallel worker belongs to the worker's copy of the machine, which Owner keeps
// alive too once the round has ended (the Python object then owns the copy).
//
// A collection itself may go while its owner lives (a loaded checkpoint drops the previous
// generation), so Holds(Owner, List) first asks the owner whether List is still one of its
// collections: List is not touched when it is not.
template <class TItem, class TList>
class TItemRef {
public:
    // Whether Owner still has List (called with the GIL).
    using THolds = bool (*)(const py::object& Owner, const TList* List);

    // What names the item and Where its owner in the message of a reference that has gone.
    TItemRef(TItem* Item, TList* List, py::object Owner, THolds Holds, const char* What,
             const char* Where)
        : FOwner(std::move(Owner)), FList(List), FItem(Item), FHolds(Holds), FID(Item->GetID()),
          FIndex(Item->GetIndex()), FWhat(What), FWhere(Where) {}

    TItem& Get() const {
        if (!FHolds(FOwner, FList))
            Gone();
        const int Count = FList->GetCount();
        if (FIndex < 0 || FIndex >= Count || FList->GetItem(FIndex) != FItem) {
            FIndex = -1;
            for (int K = 0; K < Count && FIndex < 0; ++K)
                if (FList->GetItem(K) == FItem)
                    FIndex = K;
            if (FIndex < 0)
                Gone();
        }
        if (FItem->GetID() != FID)
            Gone();
        return *FItem;
    }
    // The same item (both still in place).
    bool Is(const TItemRef& Other) const { return &Get() == &Other.Get(); }
    // The item's collection (checked like Get).
    TList& GetList() const {
        Get();
        return *FList;
    }

private:
    [[noreturn]] void Gone() const {
        throw kv::EGAException(kv::Format(
            "This %s is no longer in its %s (it was deleted, or its list was loaded, assigned, "
            "cleared or dropped): take it from the %s again",
            FWhat, FWhere, FWhere));
    }

    py::object FOwner;
    TList* FList;
    TItem* FItem;
    THolds FHolds;
    int FID;
    mutable int FIndex;
    const char* FWhat;
    const char* FWhere;
};

using TIndividualRef = TItemRef<kv::TKvGAIndividual, kv::TKvGAPopulation>;
using TGeneRef = TItemRef<kv::TKvGAGene, kv::TKvGAGenes>;

// The Python object of an engine made from Python (None for nullptr).
py::object EngineObject(kv::TKvCustomGeneticAlgorithm* Engine);
// A Python reference to an individual of an engine's population (EGAException for one outside a
// population). Called with the GIL.
py::object IndividualObject(kv::TKvGAIndividual* Item);

// The callable held by the std::function Event when it is one of Adapter's, else None.
template <class Adapter, class Event>
py::object CallableOf(const Event& E) {
    const Adapter* A = E.template target<Adapter>();
    return A ? A->Fn.Get() : py::none();
}

// Index into a list of Count items, Python style (negative counts from the end); EListError
// naming the index outside the list.
int ItemIndex(int64_t Index, int Count);

// A Python float from a callback's result, or TypeError naming the callback and the value.
double FloatResult(const py::object& Value, const char* What);

void RegisterExceptions(py::module_& M);
void BindGeneticAlgorithm(py::module_& M);
void BindGeneticProgram(py::module_& M);
void BindRecords(py::module_& M);

} // namespace kvpy
