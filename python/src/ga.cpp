// Bindings of the genetic-algorithm engine: enumerations, genes, individuals, populations, the
// engine with its settings and events, and the whole-population evaluator.
//
// Ownership. Genes, individuals and populations belong to their engine. Python reaches genes and
// individuals through checked references (TItemRef, kvga_python.h) that keep the engine alive and
// raise GAError once the engine has deleted the item; the genotype and the populations live as
// long as the engine and are held by plain references that keep it alive.
//
// Chromosome data crosses as copies (individual.words, population.words(), the array handed to
// the whole-population callable): a view would dangle when a chromosome is resized or its
// individual deleted.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/rtl/strings.h"
#include "kv/vocabulary/ga_exceptions.h"
#include "python/src/kvga_python.h"

namespace kvpy {

namespace {

using namespace kv;

constexpr auto Ref = py::return_value_policy::reference;
constexpr auto RefInternal = py::return_value_policy::reference_internal;

// Python's reference to one of an engine's two populations. A loaded checkpoint drops the
// previous generation (the next evolve makes it again), so every use asks the engine first whether
// the population is still one of its own, and raises GAError when it is not instead of touching
// freed memory. Keeps the engine alive.
class TPopulationRef {
public:
    TPopulationRef(TKvGAPopulation* Population, py::object Engine)
        : FEngine(std::move(Engine)), FPopulation(Population) {}

    TKvGAPopulation& Get() const {
        auto* E = FEngine.cast<TKvCustomGeneticAlgorithm*>();
        if (E == nullptr ||
            (E->GetPopulation() != FPopulation && E->GetPreviousGeneration() != FPopulation))
            throw EGAException("This population is no longer the engine's (a loaded checkpoint "
                               "drops the previous generation): take it from the engine again");
        return *FPopulation;
    }

private:
    py::object FEngine;
    TKvGAPopulation* FPopulation;
};

// The Python reference to a population of an engine made from Python (None for nullptr).
py::object PopulationObject(TKvGAPopulation* Population) {
    if (Population == nullptr)
        return py::none();
    TKvCustomGeneticAlgorithm* Engine = Population->GetOwner();
    if (Engine == nullptr)
        throw EGAException("A population without an engine cannot be handed to Python");
    return py::cast(
        TPopulationRef(Population, py::cast(Engine, py::return_value_policy::reference)));
}

// ---- event adapters: each holds the Python callable and calls it with the GIL ----

struct TFitnessAdapter {
    TPyCallable Fn;
    void operator()(TObject*, TKvGAIndividual* Item, TGAFitness& Fitness) const {
        py::gil_scoped_acquire Gil;
        Fitness = FloatResult(Fn(IndividualObject(Item)), "on_evaluate_fitness");
    }
};

struct TNotifyAdapter {
    TPyCallable Fn;
    void operator()(TObject*) const {
        py::gil_scoped_acquire Gil;
        Fn();
    }
};

struct TInitializationAdapter {
    TPyCallable Fn;
    void operator()(TObject*, bool& Initialized) const {
        py::gil_scoped_acquire Gil;
        const py::object R = Fn();
        Initialized = !R.is_none() && py::bool_(R);
    }
};

struct TIndividualAdapter {
    TPyCallable Fn;
    void operator()(TObject*, TKvGAIndividual* Item) const {
        py::gil_scoped_acquire Gil;
        Fn(IndividualObject(Item));
    }
};

struct TParentChildAdapter {
    TPyCallable Fn;
    void operator()(TObject*, TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                    TKvGAIndividual* Child) const {
        py::gil_scoped_acquire Gil;
        Fn(IndividualObject(Parent1), IndividualObject(Parent2), IndividualObject(Child));
    }
};

// on_mutation(individual): False vetoes; on_inversion(individual, decision): the bool returned
// replaces the decision. None keeps it.
struct TMutationAdapter {
    TPyCallable Fn;
    bool PassDecision;
    void operator()(TObject*, TKvGAIndividual* Item, bool& Do) const {
        py::gil_scoped_acquire Gil;
        const py::object R =
            PassDecision ? Fn(IndividualObject(Item), Do) : Fn(IndividualObject(Item));
        if (!R.is_none())
            Do = py::bool_(R);
    }
};

struct TSelectionAdapter {
    TPyCallable Fn;
    void operator()(TObject*, TKvGAPopulation* Population, TKvGAIndividual*& Parent) const {
        py::gil_scoped_acquire Gil;
        const py::object R = Fn(PopulationObject(Population));
        if (R.is_none())
            return; // the engine reports that no parent was chosen
        if (!py::isinstance<TIndividualRef>(R))
            throw py::type_error("on_selection must return an individual of the population, got " +
                                 py::repr(R).cast<std::string>());
        TKvGAIndividual& Chosen = R.cast<const TIndividualRef&>().Get();
        // A parent from elsewhere (another engine, the children being bred) would be bred from
        // without a word.
        if (Chosen.GetCollection() != Population)
            throw py::value_error("on_selection must return an individual of the population it "
                                  "was given, got " +
                                  py::repr(R).cast<std::string>() + " from another population");
        Parent = &Chosen;
    }
};

// on_crossover(parent1, parent2, child, crossover_bit, do_crossover) returns None or the pair
// (crossover_bit, do_crossover) to use.
struct TCrossoverAdapter {
    TPyCallable Fn;
    void operator()(TObject*, TKvGAIndividual* Parent1, TKvGAIndividual* Parent2,
                    TKvGAIndividual* Child, int32_t& Bit, bool& Do) const {
        py::gil_scoped_acquire Gil;
        const py::object R = Fn(IndividualObject(Parent1), IndividualObject(Parent2),
                                IndividualObject(Child), Bit, Do);
        if (R.is_none())
            return;
        if (!py::isinstance<py::tuple>(R) || py::len(R) != 2)
            throw py::type_error("on_crossover must return None or a pair (crossover_bit, "
                                 "do_crossover), got " +
                                 py::repr(R).cast<std::string>());
        const py::tuple T = R;
        // An int (or an integer NumPy scalar) of 32 bits.
        const py::object First = T[0];
        if (!PyIndex_Check(First.ptr()) || py::isinstance<py::bool_>(First) ||
            py::int_(First) < py::int_(INT32_MIN) || py::int_(First) > py::int_(INT32_MAX))
            throw py::type_error("on_crossover's crossover_bit must be an int of 32 bits, got " +
                                 py::repr(R).cast<std::string>());
        Bit = py::int_(First).cast<int32_t>();
        Do = py::bool_(T[1]);
    }
};

// The per-individual fitness event while on_evaluate_population scores the population (the
// engine evolves only with a fitness event set). It is called only when another evaluator has
// replaced the whole-population one.
struct TPopulationPlaceholder {
    void operator()(TObject*, TKvGAIndividual*, TGAFitness&) const {
        throw EGAException("on_evaluate_population no longer scores the population (setting "
                           "evaluation_threads replaced it): set on_evaluate_population or "
                           "on_evaluate_fitness again");
    }
};

// Sets Event from a Python value: None unsets it, a callable installs Adapter{callable}.
template <class Adapter, class Event, class... Extra>
Event MakeEvent(const py::object& Fn, const char* Name, Extra... E) {
    if (Fn.is_none())
        return Event();
    return Event(Adapter{TPyCallable(Fn, Name), E...});
}

// ---- chromosome data ----

py::array_t<uint64_t> WordsOf(const TBits& Bits) {
    py::array_t<uint64_t> A(static_cast<py::ssize_t>(Bits.WordCount()));
    if (Bits.WordCount())
        std::memcpy(A.mutable_data(), Bits.Words(), Bits.WordCount() * sizeof(uint64_t));
    return A;
}

// Copies Words (one word per 64 bits of the chromosome, bits beyond its size ignored) into the
// individual's chromosome.
void SetWords(const TIndividualRef& Ref, const py::array_t<uint64_t, py::array::c_style>& Words) {
    TKvGAIndividual& Item = Ref.Get();
    const TKvGABits& Bits = *Item.GetBits();
    if (Words.ndim() != 1 || static_cast<size_t>(Words.size()) != Bits.WordCount())
        throw py::value_error("words must be a 1-D array of " + std::to_string(Bits.WordCount()) +
                              " unsigned 64-bit words for a chromosome of " +
                              std::to_string(Bits.GetSize()) + " bits, got shape " +
                              py::repr(Words.attr("shape")).cast<std::string>());
    TBits Copy;
    Copy.SetSize(Bits.GetSize());
    if (Copy.WordCount())
        std::memcpy(Copy.Words(), Words.data(), Copy.WordCount() * sizeof(uint64_t));
    Copy.ClearPadding();
    Item.SetBits(&Copy);
}

// The chromosomes of Population as one (individuals x words) array; a shorter chromosome is padded
// with zero words.
py::array_t<uint64_t> PopulationWords(const TKvGAPopulation& Population) {
    const int Count = Population.GetCount();
    size_t Words = 0;
    for (int K = 0; K < Count; ++K)
        Words = std::max(Words, Population.GetItemUnchecked(K)->GetBits()->WordCount());
    py::array_t<uint64_t> A({static_cast<py::ssize_t>(Count), static_cast<py::ssize_t>(Words)});
    uint64_t* Out = A.mutable_data();
    {
        py::gil_scoped_release NoGil; // the copy is the library's work
        for (int K = 0; K < Count; ++K, Out += Words) {
            const TKvGABits& Bits = *Population.GetItemUnchecked(K)->GetBits();
            const size_t N = Bits.WordCount();
            if (N)
                std::memcpy(Out, Bits.Words(), N * sizeof(uint64_t));
            if (N < Words)
                std::memset(Out + N, 0, (Words - N) * sizeof(uint64_t));
        }
    }
    return A;
}

py::array_t<double> PopulationFitness(const TKvGAPopulation& Population) {
    py::array_t<double> A(Population.GetCount());
    double* Out = A.mutable_data();
    for (int K = 0; K < Population.GetCount(); ++K)
        Out[K] = Population.GetItemUnchecked(K)->GetFitness();
    return A;
}

// ---- the whole-population evaluator ----

// Scores the whole population with one Python call: Fn(words) where words is the read-only
// (individuals x words) uint64 array of the chromosomes, returning one fitness per individual (a
// 1-D array or sequence of real numbers, converted to float64). Nothing is stored unless the
// result has the right shape and kind; the callable must not add, remove or move individuals.
class TPyPopulationEvaluator : public TKvGAEvaluator {
public:
    explicit TPyPopulationEvaluator(TPyCallable Fn) : FFn(std::move(Fn)) {}
    std::string ClassName() const override { return "TPyPopulationEvaluator"; }
    int32_t GetWorkers() const noexcept override { return 0; }
    const TPyCallable& GetCallable() const noexcept { return FFn; }

    void Evaluate(TKvCustomGeneticAlgorithm& Engine, TKvGAPopulation& Population) override {
        const int Count = Population.GetCount();
        if (Count == 0)
            return;
        const uint64_t Changes = Population.GetChangeCount();
        py::gil_scoped_acquire Gil;
        if (PyErr_CheckSignals() != 0) // Ctrl+C reaches a run whose generations never enter Python
            throw py::error_already_set();
        py::array_t<uint64_t> Words = PopulationWords(Population);
        Words.attr("setflags")(py::arg("write") = false);
        const py::object R = FFn(Words);
        if (Engine.GetPopulation() != &Population || Population.GetChangeCount() != Changes)
            throw EGAException("The population changed while on_evaluate_population ran: it must "
                               "not add, remove or move individuals, nor load, assign, initialise "
                               "or evolve the engine");
        const py::array A = py::array::ensure(R);
        if (!A)
            throw EGAException(Format("on_evaluate_population must return a 1-D array of %i "
                                      "fitness values, got %s",
                                      Count, py::repr(R).cast<std::string>()));
        const char Kind = A.dtype().kind();
        if (A.ndim() != 1 || A.shape(0) != Count || (Kind != 'f' && Kind != 'i' && Kind != 'u'))
            throw EGAException(
                Format("on_evaluate_population must return a 1-D array of %i real numbers "
                       "(float64 or convertible), one per individual; got an array of shape %s "
                       "and dtype %s",
                       Count, py::repr(A.attr("shape")).cast<std::string>(),
                       py::str(A.dtype()).cast<std::string>()));
        const auto Values = py::array_t<double, py::array::forcecast>::ensure(A);
        if (!Values)
            throw py::error_already_set();
        const auto V = Values.unchecked<1>();
        for (int K = 0; K < Count; ++K)
            StoreFitness(Population.GetItemUnchecked(K), V(K));
    }

private:
    TPyCallable FFn;
};

// ---- genes ----

py::object DecodeGene(const TKvGAGene& G, TKvEncodedBits& Bits) {
    switch (G.GetGeneType()) {
    case gtBoolean:
        return py::bool_(G.GeneAsBoolean(Bits));
    case gtInteger:
        if (G.GetUseRealInterval())
            return py::float_(G.GeneAsReal(Bits));
        return py::int_(G.GeneAsInt64(Bits));
    case gtFloat:
        return py::float_(G.GetSize() == 32 ? double(G.GeneAsFloat(Bits)) : G.GeneAsDouble(Bits));
    case gtEnumeration:
        return py::str(G.GeneAsEnumeration(Bits));
    case gtUnknown:
        break;
    }
    return py::str(G.AsString(Bits));
}

// V as the T a gene of G's kind takes (Expected names it), or TypeError naming the gene and V.
// None is no value of any kind.
template <class T>
T GeneValue(const TKvGAGene& G, const py::handle& V, const char* Expected) {
    py::detail::make_caster<T> Caster;
    if (!V.is_none() && Caster.load(V, true))
        return py::detail::cast_op<T>(std::move(Caster));
    throw py::type_error("gene \"" + G.GetName() + "\" takes " + Expected + ", got " +
                         py::repr(V).cast<std::string>());
}

void EncodeGene(TKvGAGene& G, TKvEncodedBits& Bits, const py::handle& V) {
    switch (G.GetGeneType()) {
    case gtBoolean:
        G.SetGeneAsBoolean(Bits, GeneValue<bool>(G, V, "a bool"));
        return;
    case gtInteger:
        if (G.GetUseRealInterval())
            G.SetGeneAsReal(Bits, GeneValue<double>(G, V, "a real number"));
        else
            G.SetGeneAsInt64(Bits, GeneValue<int64_t>(G, V, "an int of 64 bits"));
        return;
    case gtFloat:
        if (G.GetSize() == 32)
            G.SetGeneAsFloat(Bits, GeneValue<float>(G, V, "a real number"));
        else
            G.SetGeneAsDouble(Bits, GeneValue<double>(G, V, "a real number"));
        return;
    case gtEnumeration:
        G.SetGeneAsEnumeration(Bits, GeneValue<std::string>(G, V, "one of its texts (a str)"));
        return;
    case gtUnknown:
        break;
    }
    throw EGAException(Format("Gene \"%s\" has no type: it cannot be encoded", G.GetName()));
}

std::vector<std::string> TextsOf(const TStrings& S) {
    std::vector<std::string> Out;
    for (int K = 0; K < S.GetCount(); ++K)
        Out.push_back(S.GetString(K));
    return Out;
}

void SetEnumerations(TKvGAGene& G, const std::vector<std::string>& Texts) {
    TStringList L;
    for (const std::string& T : Texts)
        L.Add(T);
    G.SetEnumerations(&L);
}

TKvGAGene* GeneByName(TKvGAGenes& Genes, const std::string& Name) {
    for (int K = 0; K < Genes.GetCount(); ++K)
        if (Genes.GetItem(K)->GetName() == Name)
            return Genes.GetItem(K);
    throw py::key_error("no gene named \"" + Name + "\"");
}

// Whether the engine Owner (None: a collection without an engine, trusted) still has List.
bool EngineHoldsGenes(const py::object& Owner, const TKvGAGenes* List) {
    if (Owner.is_none())
        return true;
    auto* E = Owner.cast<TKvCustomGeneticAlgorithm*>();
    return E != nullptr && E->GetGenes() == List;
}

TGeneRef GeneRef(TKvGAGenes& Genes, TKvGAGene* Gene) {
    return TGeneRef(Gene, &Genes, EngineObject(Genes.GetOwner()), &EngineHoldsGenes, "gene",
                    "engine");
}

// Raises ValueError when a property writer ignored Value (it was outside the range).
template <class T>
void RequireStored(bool Stored, const char* Name, T Value, const char* Range) {
    if (!Stored)
        throw py::value_error(std::string(Name) + " must be " + Range + ", got " +
                              std::string(py::repr(py::cast(Value))));
}

std::string SaveToString(const TKvCustomGeneticAlgorithm& GA, bool Checkpoint) {
    std::ostringstream S;
    Checkpoint ? GA.SaveCheckpoint(S) : GA.SaveToStream(S);
    return S.str();
}

} // namespace

py::object EngineObject(TKvCustomGeneticAlgorithm* Engine) {
    return Engine ? py::cast(Engine, Ref) : py::none();
}

py::object IndividualObject(TKvGAIndividual* Item) {
    TKvGAPopulation* Population = Item->GetCollection();
    if (!Population)
        throw EGAException("An individual outside a population cannot be handed to Python");
    // Whether the engine Owner (None: a population without an engine, trusted) still has List.
    const auto Holds = [](const py::object& Owner, const TKvGAPopulation* List) {
        if (Owner.is_none())
            return true;
        auto* E = Owner.cast<TKvCustomGeneticAlgorithm*>();
        return E != nullptr && (E->GetPopulation() == List || E->GetPreviousGeneration() == List);
    };
    return py::cast(TIndividualRef(Item, Population, EngineObject(Population->GetOwner()), Holds,
                                   "individual", "engine"));
}

void BindGeneticAlgorithm(py::module_& M) {
    py::enum_<TGeneType>(M, "GeneType", "The kind of value a gene holds.")
        .value("UNKNOWN", gtUnknown)
        .value("BOOLEAN", gtBoolean)
        .value("INTEGER", gtInteger)
        .value("FLOAT", gtFloat)
        .value("ENUMERATION", gtEnumeration);
    py::enum_<TGACrossoverMethod>(M, "CrossoverMethod", "Where crossover points may fall.")
        .value("GENE_BOUNDARY", cmGeneBoundary)
        .value("BIT_BOUNDARY", cmBitBoundary)
        .value("BYTE_BOUNDARY", cmByteBoundary)
        .value("WORD_BOUNDARY", cmWordBoundary)
        .value("LONGWORD_BOUNDARY", cmLongwordBoundary);
    py::enum_<TGAFitnessMethod>(M, "FitnessMethod", "Whether lower or higher fitness is better.")
        .value("MINIMIZE", fmMinimize)
        .value("MAXIMIZE", fmMaximize);
    py::enum_<TGASelectionMethod>(M, "SelectionMethod", "How parents are chosen.")
        .value("ROULETTE", smRoulette)
        .value("RANDOM", smRandom)
        .value("TOURNAMENT", smTournament)
        .value("STOCHASTIC_TOURNAMENT", smStochasticTournament)
        .value("ELITIST", smElitist)
        .value("CUSTOM", smCustom);
    py::enum_<TGACrossoverKind>(M, "CrossoverKind", "How crossover combines two parents.")
        .value("ONE_POINT", ckOnePoint)
        .value("TWO_POINT", ckTwoPoint)
        .value("UNIFORM", ckUniform);
    py::enum_<TGAMutationMode>(M, "MutationMode", "How mutation finds the bits it flips.")
        .value("PER_BIT", mmPerBit)
        .value("GEOMETRIC", mmGeometric);
    py::enum_<TGAGeneticOperation>(M, "GeneticOperation", "An operator reproduction may apply.")
        .value("CROSSOVER", goCrossover)
        .value("MUTATE", goMutate)
        .value("INVERT", goInvert);

    // ---- individual ----
    py::class_<TIndividualRef>(
        M, "Individual",
        "One candidate solution: a chromosome of bits and the fitness the engine gave it. Owned by "
        "its population: once the engine deletes it (a load, a clear), using it raises GAError.")
        .def_property_readonly("fitness",
                               [](const TIndividualRef& R) { return R.Get().GetFitness(); })
        .def_property_readonly(
            "normalized_fitness",
            [](const TIndividualRef& R) { return R.Get().GetNormalizedFitness(); })
        .def_property(
            "name", [](const TIndividualRef& R) { return R.Get().GetName(); },
            [](const TIndividualRef& R, const std::string& Name) { R.Get().SetName(Name); })
        .def_property_readonly("index", [](const TIndividualRef& R) { return R.Get().GetIndex(); })
        .def_property_readonly(
            "size",
            [](const TIndividualRef& R) {
                const TKvGAIndividual& I = R.Get();
                return I.GetBits()->GetSize();
            },
            "The number of bits of the chromosome.")
        .def_property(
            "bits",
            [](const TIndividualRef& R) {
                const TKvGAIndividual& I = R.Get();
                return I.GetBits()->ToBitString();
            },
            [](const TIndividualRef& R, const std::string& Text) {
                TKvGAIndividual& I = R.Get();
                // Like words, one character per bit: a text of another length is a mistake
                // (the library would pad it with zeros or drop the surplus).
                if (Text.size() != static_cast<size_t>(I.GetBits()->GetSize()))
                    throw py::value_error("bits must have one character per bit of the " +
                                          std::to_string(I.GetBits()->GetSize()) +
                                          "-bit chromosome, got " + std::to_string(Text.size()) +
                                          " characters");
                TKvEncodedBits Copy;
                Copy.SetSize(I.GetBits()->GetSize());
                Copy.SetAsBitString(0, Copy.GetSize(), Text);
                I.SetBits(&Copy);
            },
            "The chromosome as text, one '0' or '1' per bit, bit 0 first (assign a text of that "
            "length).")
        .def_property(
            "words",
            [](const TIndividualRef& R) {
                const TKvGAIndividual& I = R.Get();
                return WordsOf(*I.GetBits());
            },
            &SetWords,
            "A copy of the chromosome as a uint64 array, bit i in word i // 64 at bit i % 64. "
            "Assigning an array of the same length writes the chromosome.")
        .def(
            "to_bytes",
            [](const TIndividualRef& R) {
                const TKvGAIndividual& I = R.Get();
                const TKvGABits& B = *I.GetBits();
                std::string Out((static_cast<size_t>(B.GetSize()) + 7) / 8, '\0');
                for (size_t K = 0; K < Out.size(); ++K)
                    Out[K] = static_cast<char>(B.Words()[K / 8] >> (8 * (K % 8)));
                return py::bytes(Out);
            },
            "The chromosome as bytes, bit i in byte i // 8 at bit i % 8.")
        .def(
            "assign",
            [](const TIndividualRef& R, const TIndividualRef& Source) {
                R.Get().Assign(&Source.Get());
            },
            py::arg("source"), "Copies another individual's fitness, name and chromosome.")
        .def("__repr__", [](const TIndividualRef& R) {
            const TKvGAIndividual& I = R.Get();
            return "<kvga.Individual index=" + std::to_string(I.GetIndex()) +
                   " fitness=" + py::repr(py::float_(I.GetFitness())).cast<std::string>() + ">";
        });

    // ---- population ----
    py::class_<TPopulationRef>(
        M, "Population",
        "The individuals an engine breeds, in index order. Owned by the engine: once the engine "
        "drops it (a loaded checkpoint drops the previous generation), using it raises GAError.")
        .def("__len__", [](const TPopulationRef& R) { return R.Get().GetCount(); })
        .def("__getitem__",
             [](const TPopulationRef& R, int64_t Index) {
                 TKvGAPopulation& P = R.Get();
                 return IndividualObject(P.GetItem(ItemIndex(Index, P.GetCount())));
             })
        .def(
            "__iter__",
            [](const TPopulationRef& R) {
                TKvGAPopulation& P = R.Get();
                py::list Items;
                for (int K = 0; K < P.GetCount(); ++K)
                    Items.append(IndividualObject(P.GetItemUnchecked(K)));
                return py::iter(Items);
            },
            "An iterator over a snapshot of the individuals.")
        .def(
            "add", [](const TPopulationRef& R) { return IndividualObject(R.Get().Add()); },
            "Appends an individual, its chromosome sized to the engine's gene_size.")
        .def(
            "delete",
            [](const TPopulationRef& R, int64_t Index) {
                TKvGAPopulation& P = R.Get();
                P.Delete(ItemIndex(Index, P.GetCount()));
            },
            py::arg("index"))
        .def("clear", [](const TPopulationRef& R) { R.Get().Clear(); })
        .def_property_readonly(
            "fitness", [](const TPopulationRef& R) { return PopulationFitness(R.Get()); },
            "A copy of every individual's fitness as a float64 array.")
        .def(
            "words", [](const TPopulationRef& R) { return PopulationWords(R.Get()); },
            "A copy of the chromosomes as one (individuals x words) uint64 array.")
        .def("__eq__",
             [](const TPopulationRef& A, const TPopulationRef& B) { return &A.Get() == &B.Get(); });

    // ---- genes ----
    py::class_<TGeneRef>(
        M, "Gene",
        "One typed field of the chromosome: a run of size bits at offset. A gene holds no value; "
        "decode and encode read and write it in an individual's chromosome.")
        .def_property(
            "name", [](const TGeneRef& R) { return R.Get().GetName(); },
            [](const TGeneRef& R, const std::string& V) { R.Get().SetName(V); })
        .def_property(
            "kind", [](const TGeneRef& R) { return R.Get().GetGeneType(); },
            [](const TGeneRef& R, TGeneType V) { R.Get().SetGeneType(V); })
        .def_property(
            "size", [](const TGeneRef& R) { return R.Get().GetSize(); },
            [](const TGeneRef& R, int32_t V) { R.Get().SetSize(V); })
        .def_property_readonly("offset", [](const TGeneRef& R) { return R.Get().GetOffset(); })
        .def_property(
            "preserve_sign_bit", [](const TGeneRef& R) { return R.Get().GetPreserveSignBit(); },
            [](const TGeneRef& R, bool V) { R.Get().SetPreserveSignBit(V); })
        .def_property(
            "min_value", [](const TGeneRef& R) { return R.Get().GetMinValue(); },
            [](const TGeneRef& R, double V) { R.Get().SetMinValue(V); })
        .def_property(
            "max_value", [](const TGeneRef& R) { return R.Get().GetMaxValue(); },
            [](const TGeneRef& R, double V) { R.Get().SetMaxValue(V); })
        .def_property(
            "enumerations", [](const TGeneRef& R) { return TextsOf(*R.Get().GetEnumerations()); },
            [](const TGeneRef& R, const std::vector<std::string>& T) {
                SetEnumerations(R.Get(), T);
            },
            "The texts of an enumerated gene (entry i is coded as i); setting them sizes the gene.")
        .def_property(
            "real_interval",
            [](const TGeneRef& R) -> py::object {
                const TKvGAGene& G = R.Get();
                if (!G.GetUseRealInterval())
                    return py::none();
                return py::make_tuple(G.GetRealLow(), G.GetRealHigh());
            },
            [](const TGeneRef& R, const py::object& V) {
                TKvGAGene& G = R.Get();
                if (V.is_none())
                    G.SetUseRealInterval(false);
                else {
                    const auto [Low, High] = V.cast<std::pair<double, double>>();
                    G.SetRealInterval(Low, High);
                }
            },
            "(low, high): an integer gene reads its codes as evenly spaced reals from low to "
            "high; None: no interval.")
        .def_property(
            "gray_code", [](const TGeneRef& R) { return R.Get().GetGrayCode(); },
            [](const TGeneRef& R, bool V) { R.Get().SetGrayCode(V); })
        .def(
            "decode",
            [](const TGeneRef& G, const TIndividualRef& I) {
                return DecodeGene(G.Get(), *I.Get().GetBits());
            },
            py::arg("individual"),
            "The gene's value in the individual: bool, int, float (an integer gene with a real "
            "interval, or a float gene), str (an enumeration) or the bit string (no type).")
        .def(
            "encode",
            [](const TGeneRef& G, const TIndividualRef& R, const py::object& V) {
                TKvGAIndividual& I = R.Get();
                TKvEncodedBits Copy;
                Copy.Assign(I.GetBits());
                EncodeGene(G.Get(), Copy, V);
                I.SetBits(&Copy);
            },
            py::arg("individual"), py::arg("value"),
            "Writes value into the individual's chromosome, clamped to the gene's range.")
        .def(
            "as_string",
            [](const TGeneRef& G, const TIndividualRef& I) {
                return G.Get().AsString(*I.Get().GetBits());
            },
            py::arg("individual"))
        .def("__eq__", [](const TGeneRef& A, const TGeneRef& B) { return A.Is(B); })
        .def("__repr__", [](const TGeneRef& R) {
            const TKvGAGene& G = R.Get();
            return "<kvga.Gene " + py::repr(py::str(G.GetName())).cast<std::string>() + " " +
                   py::str(py::cast(G.GetGeneType())).cast<std::string>() +
                   " size=" + std::to_string(G.GetSize()) +
                   " offset=" + std::to_string(G.GetOffset()) + ">";
        });

    py::class_<TKvGAGenes, std::unique_ptr<TKvGAGenes, py::nodelete>>(
        M, "Genes", "The genotype: the engine's genes laid end to end in index order.")
        .def("__len__", [](const TKvGAGenes& G) { return G.GetCount(); })
        .def("__getitem__",
             [](TKvGAGenes& G, int64_t Index) {
                 return GeneRef(G, G.GetItem(ItemIndex(Index, G.GetCount())));
             })
        .def("__getitem__",
             [](TKvGAGenes& G, const std::string& Name) { return GeneRef(G, GeneByName(G, Name)); })
        .def("__iter__",
             [](py::object Self) {
                 TKvGAGenes& G = Self.cast<TKvGAGenes&>();
                 py::list Items;
                 for (int K = 0; K < G.GetCount(); ++K)
                     Items.append(py::cast(GeneRef(G, G.GetItem(K))));
                 return py::iter(Items);
             })
        .def(
            "add",
            [](TKvGAGenes& Genes, const std::string& Name, std::optional<TGeneType> Kind,
               std::optional<int32_t> Size, std::optional<bool> PreserveSignBit,
               std::optional<std::vector<std::string>> Enumerations,
               std::optional<std::pair<double, double>> RealInterval, std::optional<bool> GrayCode,
               std::optional<double> MinValue, std::optional<double> MaxValue) {
                TKvCustomGeneticAlgorithm* Engine = Genes.GetOwner();
                const int32_t GeneSize = Engine ? Engine->GetGeneSize() : 0;
                TKvGAGene* G = Genes.Add();
                try {
                    G->SetName(Name);
                    if (Kind)
                        G->SetGeneType(*Kind);
                    if (PreserveSignBit)
                        G->SetPreserveSignBit(*PreserveSignBit);
                    if (Size)
                        G->SetSize(*Size);
                    if (Enumerations)
                        SetEnumerations(*G, *Enumerations);
                    if (MinValue)
                        G->SetMinValue(*MinValue);
                    if (MaxValue)
                        G->SetMaxValue(*MaxValue);
                    if (RealInterval)
                        G->SetRealInterval(RealInterval->first, RealInterval->second);
                    if (GrayCode)
                        G->SetGrayCode(*GrayCode);
                } catch (...) {
                    // Nothing half made stays: the gene goes, the chromosomes shrink back.
                    Genes.Delete(G->GetIndex());
                    if (Engine && Engine->GetGeneSize() != GeneSize)
                        Engine->SetGeneSize(GeneSize);
                    throw;
                }
                return GeneRef(Genes, G);
            },
            py::arg("name") = "", py::kw_only(), py::arg("kind") = py::none(),
            py::arg("size") = py::none(), py::arg("preserve_sign_bit") = py::none(),
            py::arg("enumerations") = py::none(), py::arg("real_interval") = py::none(),
            py::arg("gray_code") = py::none(), py::arg("min_value") = py::none(),
            py::arg("max_value") = py::none(),
            "Appends a gene and sets what is given (kind, then sign, size, texts, bounds, "
            "interval); the engine's chromosomes grow to cover it.")
        .def(
            "delete",
            [](TKvGAGenes& G, int64_t Index) { G.Delete(ItemIndex(Index, G.GetCount())); },
            py::arg("index"))
        .def("clear", [](TKvGAGenes& G) { G.Clear(); })
        .def_property_readonly("size", &TKvGAGenes::GetSize, "The genotype's bits.")
        .def(
            "decode",
            [](TKvGAGenes& Genes, const TIndividualRef& R) {
                TKvGAIndividual& I = R.Get();
                py::dict Out;
                for (int K = 0; K < Genes.GetCount(); ++K)
                    Out[py::str(Genes.GetItem(K)->GetName())] =
                        DecodeGene(*Genes.GetItem(K), *I.GetBits());
                return Out;
            },
            py::arg("individual"), "Every gene's value in the individual, by name.")
        .def(
            "encode",
            [](TKvGAGenes& Genes, const TIndividualRef& R, const py::dict& Values) {
                TKvGAIndividual& I = R.Get();
                TKvEncodedBits Copy;
                Copy.Assign(I.GetBits());
                for (const auto& [Name, Value] : Values) {
                    if (!py::isinstance<py::str>(Name))
                        throw py::type_error("values must be keyed by gene name (a str), got " +
                                             py::repr(Name).cast<std::string>());
                    EncodeGene(*GeneByName(Genes, Name.cast<std::string>()), Copy, Value);
                }
                I.SetBits(&Copy);
            },
            py::arg("individual"), py::arg("values"),
            "Writes values (a dict by gene name) into the individual; all or nothing.");

    // ---- engine ----
    using GA = TKvCustomGeneticAlgorithm;
    const auto Release = py::call_guard<py::gil_scoped_release>();
    py::class_<GA>(
        M, "Engine",
        R"doc(The genetic-algorithm engine (the base of GeneticAlgorithm and GeneticProgram).

Describe the chromosome with genes, set the settings and a fitness (on_evaluate_fitness per
individual, or on_evaluate_population for the whole population at once on a NumPy array), then
call evolve(n). Settings that the engine would ignore (a probability outside 0..1, say) raise
ValueError. The engine runs with the GIL released; callbacks take it while Python runs.)doc")
        // lifecycle
        .def("initialize", &GA::Initialize, Release,
             "Fills the population up to initial_population random individuals and scores them.")
        .def(
            "evolve", [](GA& E, int32_t Generations) { return E.Evolve(Generations); }, Release,
            py::arg("generations") = 1,
            "Breeds up to generations generations (initialising first when due); returns the "
            "number bred, fewer when the fitness cut-off or the diversity limit stops the run.")
        .def(
            "evaluate_fitness", [](GA& E) { E.EvaluateFitness(); }, Release,
            "Scores the whole population and recomputes the statistics.")
        // collections
        .def_property_readonly("genes", py::overload_cast<>(&GA::GetGenes), RefInternal)
        .def_property_readonly(
            "population", [](GA& E) { return PopulationObject(E.GetPopulation()); },
            "The current population (evolve exchanges it with the previous generation: read it "
            "afresh after evolve).",
            "The current population (evolve exchanges it with the previous "
            "generation: read it afresh after evolve).")
        .def_property_readonly(
            "previous_generation",
            [](GA& E) { return PopulationObject(E.GetPreviousGeneration()); },
            "The generation evolve bred the population from (None before the first evolve and "
            "after a loaded checkpoint).")
        // settings
        .def_property("generation", &GA::GetGeneration, &GA::SetGeneration)
        .def_property("fitness_cutoff", &GA::GetFitnessCutoff, &GA::SetFitnessCutoff)
        .def_property("mutation_probability", &GA::GetMutationProbability,
                      [](GA& E, double V) {
                          E.SetMutationProbability(V);
                          RequireStored(E.GetMutationProbability() == V, "mutation_probability", V,
                                        "in 0..1");
                      })
        .def_property("inversion_probability", &GA::GetInversionProbability,
                      [](GA& E, double V) {
                          E.SetInversionProbability(V);
                          RequireStored(E.GetInversionProbability() == V, "inversion_probability",
                                        V, "in 0..1");
                      })
        .def_property("crossover_probability", &GA::GetCrossoverProbability,
                      [](GA& E, double V) {
                          E.SetCrossoverProbability(V);
                          RequireStored(E.GetCrossoverProbability() == V, "crossover_probability",
                                        V, "in 0..1");
                      })
        .def_property("elitist_pct", &GA::GetElitistPct,
                      [](GA& E, double V) {
                          E.SetElitistPct(V);
                          RequireStored(E.GetElitistPct() == V, "elitist_pct", V, "in 0..1");
                      })
        .def_property("diversity_limit", &GA::GetDiversityLimit,
                      [](GA& E, double V) {
                          E.SetDiversityLimit(V);
                          RequireStored(E.GetDiversityLimit() == V, "diversity_limit", V,
                                        "in 0..1");
                      })
        .def_property("gene_size", &GA::GetGeneSize, &GA::SetGeneSize,
                      "The chromosome's bits (grows with the genotype).")
        .def_property("fitness_method", &GA::GetFitnessMethod, &GA::SetFitnessMethod)
        .def_property("selection_method", &GA::GetSelectionMethod, &GA::SetSelectionMethod)
        .def_property("tournament_field", &GA::GetTournamentField,
                      [](GA& E, int32_t V) {
                          E.SetTournamentField(V);
                          RequireStored(E.GetTournamentField() == V, "tournament_field", V,
                                        "from 2 to 65536");
                      })
        .def_property("crossover_method", &GA::GetCrossoverMethod, &GA::SetCrossoverMethod)
        .def_property("use_fitness_cutoff", &GA::GetUseFitnessCutoff, &GA::SetUseFitnessCutoff)
        .def_property("use_diversity_limit", &GA::GetUseDiversityLimit, &GA::SetUseDiversityLimit)
        .def_property("initial_population", &GA::GetInitialPopulation,
                      [](GA& E, int32_t V) {
                          RequireStored(V >= 0, "initial_population", V, "0 or more");
                          E.SetInitialPopulation(V);
                      })
        .def_property(
            "operations",
            [](const GA& E) {
                py::set Out;
                for (TGAGeneticOperation Op : {goCrossover, goMutate, goInvert})
                    if (E.GetOperations().Contains(Op))
                        Out.add(py::cast(Op));
                return Out;
            },
            [](GA& E, const py::iterable& Ops) {
                TGAGeneticOperations Set;
                for (const py::handle Op : Ops)
                    Set.Include(Op.cast<TGAGeneticOperation>());
                E.SetOperations(Set);
            },
            "The set of GeneticOperation reproduction applies.")
        .def_property("crossover_kind", &GA::GetCrossoverKind, &GA::SetCrossoverKind)
        .def_property("mutation_mode", &GA::GetMutationMode, &GA::SetMutationMode)
        .def_property(
            "evaluation_threads", &GA::GetEvaluationThreads,
            [](GA& E, int32_t V) {
                E.SetEvaluationThreads(V);
                RequireStored(E.GetEvaluationThreads() == V, "evaluation_threads", V,
                              "0 (serial), a thread count of 1 or more, or -1 (every core)");
            },
            "Threads scoring with on_evaluate_fitness (0: serial). Setting it replaces the "
            "evaluator, on_evaluate_population included. Python callbacks on several threads "
            "take turns on the GIL.")
        .def_property(
            "max_document_bytes",
            [](const GA& E) { return E.GetDocumentLimits().MaxDocumentBytes; },
            [](GA& E, uint64_t V) {
                TKvDocumentLimits L = E.GetDocumentLimits();
                L.MaxDocumentBytes = V;
                E.SetDocumentLimits(L);
            },
            "The largest document, in bytes, that a load reads and a save writes (not saved).")
        .def_property(
            "max_padding_bits", [](const GA& E) { return E.GetDocumentLimits().MaxPaddingBits; },
            [](GA& E, int64_t V) {
                TKvDocumentLimits L = E.GetDocumentLimits();
                L.MaxPaddingBits = V;
                E.SetDocumentLimits(L);
            },
            "The most zero bits a load may pad onto chromosomes written shorter (not saved).")
        // random stream
        .def("set_random_seed", &GA::SetRandomSeed, py::arg("seed"),
             "Gives the engine a random stream of its own started from seed: a seeded run is "
             "repeatable and independent of other engines.")
        .def("use_thread_random_source", &GA::UseThreadRandomSource)
        .def_property_readonly("has_own_random_stream",
                               [](const GA& E) { return E.GetRandomSource() != nullptr; })
        // results
        .def_property_readonly("fittest_individual",
                               [](const GA& E) -> py::object {
                                   TKvGAIndividual* Best = E.GetFittestIndividual();
                                   return Best ? IndividualObject(Best) : py::none();
                               })
        .def_property_readonly("max_fitness", &GA::GetMaxFitness)
        .def_property_readonly("min_fitness", &GA::GetMinFitness)
        .def_property_readonly("avg_fitness", &GA::GetAvgFitness)
        .def_property_readonly("diversity", &GA::GetDiversity)
        .def_property_readonly("initialized", &GA::GetInitialized)
        // events
        .def_property(
            "on_evaluate_fitness",
            [](const GA& E) { return CallableOf<TFitnessAdapter>(E.GetOnEvaluateFitness()); },
            [](GA& E, const py::object& Fn) {
                E.SetOnEvaluateFitness(
                    MakeEvent<TFitnessAdapter, TKvGAFitnessEvent>(Fn, "on_evaluate_fitness"));
                if (dynamic_cast<TPyPopulationEvaluator*>(E.GetEvaluator()))
                    E.SetEvaluator(nullptr);
            },
            "fitness(individual) -> float, called for every individual scored. Setting it "
            "replaces on_evaluate_population.")
        .def_property(
            "on_evaluate_population",
            [](GA& E) -> py::object {
                auto* P = dynamic_cast<TPyPopulationEvaluator*>(E.GetEvaluator());
                return P ? P->GetCallable().Get() : py::none();
            },
            [](GA& E, const py::object& Fn) {
                const bool Placeholder =
                    E.GetOnEvaluateFitness().target<TPopulationPlaceholder>() != nullptr;
                if (Fn.is_none()) {
                    if (dynamic_cast<TPyPopulationEvaluator*>(E.GetEvaluator()))
                        E.SetEvaluator(nullptr);
                    if (Placeholder)
                        E.SetOnEvaluateFitness(nullptr);
                    return;
                }
                auto Evaluator = std::make_unique<TPyPopulationEvaluator>(
                    TPyCallable(Fn, "on_evaluate_population"));
                E.SetEvaluator(std::move(Evaluator));
                if (!Placeholder)
                    E.SetOnEvaluateFitness(TPopulationPlaceholder());
            },
            "fitness(words) -> array: scores the whole population in one call, replacing "
            "on_evaluate_fitness. words is a read-only (individuals x words) uint64 array of the "
            "chromosomes (bit i of individual k in words[k, i // 64] at bit i % 64); the result "
            "is a 1-D array of one real number per individual. Setting it replaces "
            "on_evaluate_fitness (which then reads None); None leaves no fitness set. The "
            "per-individual path is not taken, so a genetic program's auto_execution does not "
            "run programs for it.")
        .def_property(
            "on_evolve", [](const GA& E) { return CallableOf<TNotifyAdapter>(E.GetOnEvolve()); },
            [](GA& E, const py::object& Fn) {
                E.SetOnEvolve(MakeEvent<TNotifyAdapter, TNotifyEvent>(Fn, "on_evolve"));
            },
            "callback() after each generation.")
        .def_property(
            "on_initialization",
            [](const GA& E) { return CallableOf<TInitializationAdapter>(E.GetOnInitialization()); },
            [](GA& E, const py::object& Fn) {
                E.SetOnInitialization(MakeEvent<TInitializationAdapter, TKvGAInitializationEvent>(
                    Fn, "on_initialization"));
            },
            "callback() -> bool when initialize fills the population: True when it set the "
            "chromosomes itself (the engine then does not randomise them).")
        .def_property(
            "on_reproduction",
            [](const GA& E) { return CallableOf<TIndividualAdapter>(E.GetOnReproduction()); },
            [](GA& E, const py::object& Fn) {
                E.SetOnReproduction(
                    MakeEvent<TIndividualAdapter, TKvGAIndividualEvent>(Fn, "on_reproduction"));
            },
            "callback(child) for every finished child.")
        .def_property(
            "on_initialize_child",
            [](const GA& E) { return CallableOf<TParentChildAdapter>(E.GetOnInitializeChild()); },
            [](GA& E, const py::object& Fn) {
                E.SetOnInitializeChild(MakeEvent<TParentChildAdapter, TKvGAParentChildEvent>(
                    Fn, "on_initialize_child"));
            },
            "callback(parent1, parent2, child) once the child is a copy of parent1.")
        .def_property(
            "on_mutation",
            [](const GA& E) { return CallableOf<TMutationAdapter>(E.GetOnMutation()); },
            [](GA& E, const py::object& Fn) {
                E.SetOnMutation(
                    MakeEvent<TMutationAdapter, TKvGAMutationEvent>(Fn, "on_mutation", false));
            },
            "callback(individual) -> bool | None before a mutation: False vetoes it.")
        .def_property(
            "on_inversion",
            [](const GA& E) { return CallableOf<TMutationAdapter>(E.GetOnInversion()); },
            [](GA& E, const py::object& Fn) {
                E.SetOnInversion(
                    MakeEvent<TMutationAdapter, TKvGAInversionEvent>(Fn, "on_inversion", true));
            },
            "callback(individual, decision) -> bool | None: the bool returned replaces the "
            "random decision.")
        .def_property(
            "on_selection",
            [](const GA& E) { return CallableOf<TSelectionAdapter>(E.GetOnSelection()); },
            [](GA& E, const py::object& Fn) {
                E.SetOnSelection(
                    MakeEvent<TSelectionAdapter, TKvGASelectionEvent>(Fn, "on_selection"));
            },
            "callback(population) -> individual: chooses a parent (selection_method becomes "
            "CUSTOM; None installs roulette selection).")
        .def_property(
            "on_crossover",
            [](const GA& E) { return CallableOf<TCrossoverAdapter>(E.GetOnCrossover()); },
            [](GA& E, const py::object& Fn) {
                E.SetOnCrossover(
                    MakeEvent<TCrossoverAdapter, TKvGACrossoverEvent>(Fn, "on_crossover"));
            },
            "callback(parent1, parent2, child, crossover_bit, do_crossover) -> None | "
            "(crossover_bit, do_crossover) before a child is crossed.")
        // saving and loading
        .def(
            "save_to_file",
            [](const GA& E, const std::filesystem::path& P) { E.SaveToFile(P.string()); }, Release,
            py::arg("path"), "Saves the settings, genes and population as an XML document.")
        .def(
            "load_from_file",
            [](GA& E, const std::filesystem::path& P) { E.LoadFromFile(P.string()); }, Release,
            py::arg("path"), "Loads a saved document: all or nothing.")
        .def(
            "save_to_string", [](const GA& E) { return SaveToString(E, false); }, Release)
        .def(
            "load_from_string",
            [](GA& E, const std::string& Text) {
                std::istringstream S(Text);
                E.LoadFromStream(S);
            },
            Release, py::arg("text"))
        .def(
            "save_checkpoint",
            [](const GA& E, const std::filesystem::path& P) { E.SaveCheckpoint(P.string()); },
            Release, py::arg("path"),
            "Saves everything needed to continue the run exactly (fitness, statistics, random "
            "state); an engine with the same callbacks continues it after load_checkpoint.")
        .def(
            "load_checkpoint",
            [](GA& E, const std::filesystem::path& P) { E.LoadCheckpoint(P.string()); }, Release,
            py::arg("path"))
        .def(
            "save_checkpoint_to_string", [](const GA& E) { return SaveToString(E, true); }, Release)
        .def(
            "load_checkpoint_from_string",
            [](GA& E, const std::string& Text) {
                std::istringstream S(Text);
                E.LoadCheckpoint(S);
            },
            Release, py::arg("text"))
        .def(
            "assign", [](GA& E, const GA& Source) { E.Assign(&Source); }, py::arg("source"),
            "Copies another engine's settings, statistics, genes and populations.");
    py::class_<TKvGeneticAlgorithm, GA>(M, "GeneticAlgorithm",
                                        "The genetic-algorithm engine (see Engine).")
        .def(py::init<>());
}

} // namespace kvpy
