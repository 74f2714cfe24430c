// Bindings of the genetic-programming layer: the execution stack, instructions with Python
// callables, the stack machine, the machine bound to an engine and the genetic-program engine.
//
// Values on the stack cross as Python values: None (empty), int, float, bool and str; a currency
// amount reads as a float. An int that fits 32 bits is pushed as the library's integer, a larger
// one as its 64-bit integer.
//
// Exceptions. The machine catches every std::exception an instruction raises and ends the program
// with an error state (OnError). A Python exception raised by an instruction callable does not
// stop there: it leaves the machine (TPyErrorCarrier) and reaches the Python caller of execute,
// evolve or evaluate with its own class, so that a mistake in an instruction is seen.
//
// Ownership. A machine made from Python belongs to Python; a GeneticProgram made with a machine
// keeps it alive. Instructions and the stack belong to their machine; the stack handed to an
// instruction callable keeps its machine alive. A worker's copy of the machine (a parallel round)
// that Python still refers to when the round ends passes to Python (TPyGeneticProgram).
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/var_rec.h"
#include "kv/rtl/variant.h"
#include "python/src/kvga_python.h"

namespace kvpy {

namespace {

using namespace kv;

constexpr auto Ref = py::return_value_policy::reference;
constexpr auto RefInternal = py::return_value_policy::reference_internal;

py::object ToPython(const Variant& V) {
    switch (V.VarType()) {
    case varEmpty:
        return py::none();
    case varInteger:
        return py::int_(std::get<int32_t>(V.Value()));
    case varInt64:
        return py::int_(std::get<int64_t>(V.Value()));
    case varDouble:
        return py::float_(std::get<double>(V.Value()));
    case varBoolean:
        return py::bool_(std::get<bool>(V.Value()));
    case varCurrency:
        return py::float_(V.AsDouble());
    case varString:
        return py::str(std::get<std::string>(V.Value()));
    }
    return py::none();
}

Variant FromPython(const py::handle& V) {
    if (V.is_none())
        return Variant();
    if (py::isinstance<py::bool_>(V))
        return Variant(V.cast<bool>());
    if (py::isinstance<py::int_>(V)) {
        if (V < py::int_(INT64_MIN) || V > py::int_(INT64_MAX))
            throw py::type_error("a stack int must fit 64 bits, got " + std::string(py::repr(V)));
        const int64_t I = V.cast<int64_t>();
        if (I >= INT32_MIN && I <= INT32_MAX)
            return Variant(static_cast<int32_t>(I));
        return Variant(I);
    }
    if (py::isinstance<py::float_>(V))
        return Variant(V.cast<double>());
    if (py::isinstance<py::str>(V))
        return Variant(V.cast<std::string>());
    throw py::type_error("a stack value must be None, int, float, bool or str, got " +
                         std::string(py::repr(V)));
}

TVarRecList ArgsOf(const py::iterable& Args) {
    TVarRecList Out;
    for (const py::handle A : Args)
        Out.emplace_back(FromPython(A));
    return Out;
}

using TInstructionRef = TItemRef<TVMInstruction, TVMInstructionSet>;

// The Python object of a machine: the one Python owns, or one that refers to a worker's copy
// (which passes to it if it is still alive when the round ends: TPyGeneticProgram).
py::object MachineObject(TKvVirtualMachine* Machine) {
    return Machine ? py::cast(Machine, Ref) : py::none();
}

// A checked reference to an instruction of a machine's set (see TItemRef).
py::object InstructionObject(TVMInstruction* Item) {
    TVMInstructionSet* Set = Item->GetCollection();
    if (!Set)
        throw EGPException("An instruction outside an instruction set cannot be handed to Python");
    // Whether the machine Owner (None: a set without a machine, trusted) still has List.
    const auto Holds = [](const py::object& Owner, const TVMInstructionSet* List) {
        if (Owner.is_none())
            return true;
        auto* M = Owner.cast<TKvVirtualMachine*>();
        return M != nullptr && M->GetInstructionSet() == List;
    };
    return py::cast(TInstructionRef(Item, Set, MachineObject(Set->GetOwner()), Holds, "instruction",
                                    "machine"));
}

// Calls a Python instruction callable; its exception leaves the machine (see the file comment).
struct TExecuteAdapter {
    TPyCallable Fn;
    void operator()(TObject*, TVMExecutionStack* Stack, TVMInstruction* Item) const {
        py::gil_scoped_acquire Gil;
        try {
            // The stack keeps its machine alive like vm.stack does.
            TVMInstructionSet* Set = Item->GetCollection();
            py::object Machine = MachineObject(Set ? Set->GetOwner() : nullptr);
            py::object StackObject =
                Machine.is_none() ? py::cast(Stack, Ref) : py::cast(Stack, RefInternal, Machine);
            Fn(StackObject, InstructionObject(Item));
        } catch (py::error_already_set& E) {
            throw TPyErrorCarrier{std::move(E)};
        }
    }
};

struct TNotifyAdapter {
    TPyCallable Fn;
    void operator()(TObject*) const {
        py::gil_scoped_acquire Gil;
        Fn();
    }
};

TVMExecuteEvent ExecuteEvent(const py::object& Fn, const char* Name) {
    if (Fn.is_none())
        return TVMExecuteEvent();
    return TExecuteAdapter{TPyCallable(Fn, Name)};
}

std::vector<std::string> Lines(const TStrings& S) {
    std::vector<std::string> Out;
    for (int K = 0; K < S.GetCount(); ++K)
        Out.push_back(S.GetString(K));
    return Out;
}

void Fill(TStringList& L, const std::vector<std::string>& Texts) {
    for (const std::string& T : Texts)
        L.Add(T);
}

// The genetic-program engine made from Python. In a parallel round each worker runs on a copy of
// the machine, which the library's engine destroys when the round ends; a Python object that
// reached a copy (gp.vm in a fitness callable, instruction.machine, the stack handed to an
// instruction) and was kept past the round would then refer to freed memory. This engine makes
// and keeps the copies itself, and when the round ends hands a copy that Python still refers to
// over to its Python object, which then owns it and keeps the engine alive (a copy reads its
// programs through the engine without being bound to it); the other copies are destroyed.
class TPyGeneticProgram : public TKvGeneticProgram {
protected:
    void BeginConcurrentEvaluation(int32_t Workers) override {
        TKvGeneticProgram::BeginConcurrentEvaluation(Workers); // checks the machine
        FOriginal = GetGPVirtualMachine();
    }

    TObject* AcquireWorkerState() override {
        std::lock_guard<std::mutex> Lock(FCopiesLock);
        if (!FIdle.empty()) {
            TKvGPVirtualMachine* Copy = FIdle.back();
            FIdle.pop_back();
            return Copy;
        }
        FCopies.push_back(FOriginal->CreateCopy());
        FIdle.reserve(FCopies.size());
        return FCopies.back().get();
    }

    void ReleaseWorkerState(TObject* State) noexcept override {
        if (State == nullptr)
            return;
        std::lock_guard<std::mutex> Lock(FCopiesLock);
        // Room was reserved when the copy was made, so this does not allocate.
        FIdle.push_back(static_cast<TKvGPVirtualMachine*>(State));
    }

    void EndConcurrentEvaluation() noexcept override {
        std::vector<std::unique_ptr<TKvGPVirtualMachine>> Copies;
        {
            std::lock_guard<std::mutex> Lock(FCopiesLock);
            Copies.swap(FCopies);
            FIdle.clear();
        }
        if (!Copies.empty() && Py_IsInitialized()) {
            py::gil_scoped_acquire Gil;
            for (std::unique_ptr<TKvGPVirtualMachine>& Copy : Copies)
                try {
                    HandOver(Copy);
                } catch (...) {
                    // Not handed over: destroyed below, as by the library's engine.
                }
            Copies.clear(); // the callbacks the copies hold are released with the GIL
        }
        Copies.clear();
        TKvGeneticProgram::EndConcurrentEvaluation();
    }

private:
    // Gives Copy to the Python object that refers to it, if there is one (called with the GIL).
    void HandOver(std::unique_ptr<TKvGPVirtualMachine>& Copy) {
        py::detail::type_info* Info = py::detail::get_type_info(typeid(TKvGPVirtualMachine));
        const py::handle Object =
            Info ? py::detail::get_object_handle(Copy.get(), Info) : py::handle();
        if (!Object)
            return;
        auto* Instance = reinterpret_cast<py::detail::instance*>(Object.ptr());
        py::detail::value_and_holder Holder = Instance->get_value_and_holder(Info, false);
        if (!Holder || Instance->owned || Holder.holder_constructed() ||
            Holder.value_ptr() != Copy.get())
            return;
        const py::object Engine =
            py::cast(static_cast<TKvGeneticProgram*>(this), py::return_value_policy::reference);
        py::detail::keep_alive_impl(Object, Engine);
        new (std::addressof(Holder.holder<std::unique_ptr<TKvGPVirtualMachine>>()))
            std::unique_ptr<TKvGPVirtualMachine>(Copy.release());
        Holder.set_holder_constructed();
        Instance->owned = true;
    }

    TKvGPVirtualMachine* FOriginal = nullptr;
    std::mutex FCopiesLock;
    std::vector<std::unique_ptr<TKvGPVirtualMachine>> FCopies;
    std::vector<TKvGPVirtualMachine*> FIdle;
};

} // namespace

void BindGeneticProgram(py::module_& M) {
    py::enum_<TExecutionLimit>(M, "ExecutionLimit", "What bounds the run of one program.")
        .value("NUMBER_OF_STEPS", elNumberOfSteps)
        .value("NUMBER_OF_MILLISECONDS", elNumberOfMilliseconds)
        .value("NONE", elNone);
    py::enum_<TExecutionState>(M, "ExecutionState", "A state of a virtual machine.")
        .value("INITIALIZING", esInitializing)
        .value("INITIALIZED", esInitialized)
        .value("ENCODING", esEncoding)
        .value("ENCODED", esEncoded)
        .value("EXECUTING", esExecuting)
        .value("INVALID_OPERATION", esInvalidOperation)
        .value("INVALID_STATE", esInvalidState)
        .value("ERROR", esError)
        .value("FINISHING", esFinishing)
        .value("FINISHED", esFinished);

    py::class_<TVMExecutionStack, std::unique_ptr<TVMExecutionStack, py::nodelete>>(
        M, "ExecutionStack",
        "A machine's stack of values (None, int, float, bool, str); index 0 is the top.")
        .def("__len__", [](const TVMExecutionStack& S) { return S.GetCount(); })
        .def(
            "push", [](TVMExecutionStack& S, const py::handle& V) { S.Push(FromPython(V)); },
            py::arg("value"))
        .def(
            "pop", [](TVMExecutionStack& S) { return ToPython(S.Pop()); },
            "Removes and returns the top value; kvga.ListError on an empty stack.")
        .def_property_readonly("top",
                               [](const TVMExecutionStack& S) { return ToPython(S.GetTop()); })
        .def("__getitem__",
             [](const TVMExecutionStack& S, int64_t Index) {
                 return ToPython(S.GetItem(ItemIndex(Index, S.GetCount())));
             })
        .def("__setitem__",
             [](TVMExecutionStack& S, int64_t Index, const py::handle& V) {
                 S.SetItem(ItemIndex(Index, S.GetCount()), FromPython(V));
             })
        .def("clear", [](TVMExecutionStack& S) { S.Clear(); })
        .def(
            "values",
            [](const TVMExecutionStack& S) {
                py::list Out;
                for (int K = 0; K < S.GetCount(); ++K)
                    Out.append(ToPython(S.GetItem(K)));
                return Out;
            },
            "The values, top first.");

    py::class_<TInstructionRef>(
        M, "Instruction", "A named instruction of a machine; its execute callable does its work.")
        .def_property(
            "name", [](const TInstructionRef& R) { return R.Get().GetName(); },
            [](const TInstructionRef& R, const std::string& V) { R.Get().SetName(V); })
        .def_property(
            "comment", [](const TInstructionRef& R) { return R.Get().GetComment(); },
            [](const TInstructionRef& R, const std::string& V) { R.Get().SetComment(V); })
        .def_property_readonly("index", [](const TInstructionRef& R) { return R.Get().GetIndex(); })
        .def_property(
            "execute",
            [](const TInstructionRef& R) {
                return CallableOf<TExecuteAdapter>(R.Get().GetOnExecute());
            },
            [](const TInstructionRef& R, const py::object& Fn) {
                R.Get().SetOnExecute(ExecuteEvent(Fn, "execute"));
            },
            "execute(stack, instruction): works on the machine's stack. None: the machine's "
            "on_execute_instruction runs it.")
        .def_property_readonly(
            "machine",
            [](const TInstructionRef& R) -> TKvVirtualMachine* { return R.GetList().GetOwner(); },
            Ref, "The machine running the instruction (in a parallel round, the worker's copy).")
        .def("__eq__", [](const TInstructionRef& A, const TInstructionRef& B) { return A.Is(B); })
        .def("__repr__", [](const TInstructionRef& R) {
            return "<kvga.Instruction '" + R.Get().GetName() + "'>";
        });

    py::class_<TVMInstructionSet, std::unique_ptr<TVMInstructionSet, py::nodelete>>(
        M, "InstructionSet", "A machine's instructions; an instruction's code is its index.")
        .def("__len__", [](const TVMInstructionSet& S) { return S.GetCount(); })
        .def("__getitem__",
             [](TVMInstructionSet& S, int64_t Index) {
                 return InstructionObject(
                     static_cast<TVMInstruction*>(S.GetItem(ItemIndex(Index, S.GetCount()))));
             })
        .def("__getitem__",
             [](TVMInstructionSet& S, const std::string& Name) {
                 TVMInstruction* I = S.GetItemByName(Name);
                 if (!I)
                     throw py::key_error("no instruction named \"" + Name + "\"");
                 return InstructionObject(I);
             })
        .def(
            "add",
            [](TVMInstructionSet& S, const std::string& Name, const py::object& Execute) {
                TVMExecuteEvent Event = ExecuteEvent(Execute, "execute");
                auto* I = static_cast<TVMInstruction*>(S.Add());
                I->SetName(Name);
                I->SetOnExecute(std::move(Event));
                return InstructionObject(I);
            },
            py::arg("name"), py::arg("execute") = py::none(),
            "Appends an instruction (a bound engine's genes are laid out anew).")
        .def(
            "delete",
            [](TVMInstructionSet& S, int64_t Index) { S.Delete(ItemIndex(Index, S.GetCount())); },
            py::arg("index"))
        .def("clear", [](TVMInstructionSet& S) { S.Clear(); });

    using VM = TKvVirtualMachine;
    const auto Release = py::call_guard<py::gil_scoped_release>();
    py::class_<VM>(M, "VirtualMachine",
                   "A stack machine running programs of named instructions over a stack of values.")
        .def(py::init([] { return std::make_unique<VM>(); }))
        .def_property_readonly("instructions", py::overload_cast<>(&VM::GetInstructionSet),
                               RefInternal)
        .def_property_readonly("stack", py::overload_cast<>(&VM::GetStack), RefInternal)
        .def_property(
            "program", [](const VM& V) { return Lines(*V.GetGPProgram()); },
            [](VM& V, const std::vector<std::string>& Names) {
                TStringList L;
                Fill(L, Names);
                V.SetGPProgram(L);
            },
            "The program as instruction names, one per step.")
        .def_property_readonly("encoded_program", &VM::GetEncodedProgram)
        .def_property("execution_index", &VM::GetExecutionIndex, &VM::SetExecutionIndex)
        .def_property_readonly(
            "execution_state",
            [](const VM& V) {
                py::set Out;
                for (int S = esInitializing; S <= esFinished; ++S)
                    if (V.GetExecutionState().Contains(static_cast<TExecutionState>(S)))
                        Out.add(py::cast(static_cast<TExecutionState>(S)));
                return Out;
            })
        .def_property_readonly("finished", &VM::IsFinished)
        .def(
            "initialize",
            [](VM& V, const std::vector<std::string>& Program, const py::iterable& Args) {
                TStringList Names;
                Fill(Names, Program);
                TVarRecList A = ArgsOf(Args);
                py::gil_scoped_release NoGil;
                V.Initialize(Names, A);
            },
            py::arg("program"), py::arg("args") = py::list(),
            "Loads a program of instruction names, pushes args (the last on top) and readies the "
            "run.")
        .def(
            "initialize_stack",
            [](VM& V, const py::iterable& Args) {
                TVarRecList A = ArgsOf(Args);
                py::gil_scoped_release NoGil;
                V.InitializeStack(A);
            },
            py::arg("args"))
        .def(
            "execute",
            [](VM& V, std::optional<int> Steps) {
                if (Steps)
                    V.Execute(*Steps);
                else
                    while (!V.IsFinished())
                        V.Execute(1 << 20);
            },
            Release, py::arg("steps") = py::none(),
            "Runs at most steps steps, or until the program is finished.")
        .def("compile", py::overload_cast<>(&VM::Compile), Release)
        .def_property(
            "on_execute_instruction",
            [](const VM& V) { return CallableOf<TExecuteAdapter>(V.GetOnExecuteInstruction()); },
            [](VM& V, const py::object& Fn) {
                V.SetOnExecuteInstruction(ExecuteEvent(Fn, "on_execute_instruction"));
            },
            "execute(stack, instruction) for the instructions without an execute of their own.")
        .def_property(
            "on_initialize",
            [](const VM& V) { return CallableOf<TNotifyAdapter>(V.GetOnInitialize()); },
            [](VM& V, const py::object& Fn) {
                V.SetOnInitialize(
                    Fn.is_none() ? TNotifyEvent()
                                 : TNotifyEvent(TNotifyAdapter{TPyCallable(Fn, "on_initialize")}));
            },
            "callback() after the stack has been filled.");

    using GPVM = TKvGPVirtualMachine;
    py::class_<GPVM, VM>(M, "GPVirtualMachine",
                         "A machine that reads its program from an individual's chromosome: "
                         "consecutive slots of the one instruction gene it lays out.")
        .def(py::init([] { return std::make_unique<GPVM>(); }))
        .def_property("modulo_decoding", &GPVM::GetModuloDecoding, &GPVM::SetModuloDecoding,
                      "Read a slot value v as instruction v mod count, so every chromosome is a "
                      "program.")
        .def(
            "try_compile",
            [](GPVM& V, const TIndividualRef& Item) { return V.TryCompile(&Item.Get()); }, Release,
            py::arg("individual"),
            "Compiles the individual's program; False when a slot names no instruction.")
        .def(
            "decode_program",
            [](GPVM& V, const TIndividualRef& Item) {
                V.DecodeProgram(&Item.Get());
                return Lines(*V.GetGPProgram());
            },
            py::arg("individual"), "The individual's program as instruction names.");

    using GP = TKvGeneticProgram;
    py::class_<GP, TKvGeneticAlgorithm>(M, "GeneticProgram", R"doc(The engine that breeds programs.

GeneticProgram(vm) binds the engine and the machine both ways and keeps the machine alive. Each
instruction added to the machine lays the engine's genes out anew: add instructions, then set
gene_size to the number of slots times the instruction gene's size.)doc")
        .def(py::init([](GPVM& Machine) {
                 std::unique_ptr<GP> E = std::make_unique<TPyGeneticProgram>();
                 E->SetVM(&Machine);
                 Machine.SetGeneticAlgorithm(E.get());
                 return E;
             }),
             py::arg("vm"), py::keep_alive<1, 2>())
        .def_property_readonly(
            "vm", [](const GP& E) { return E.GetGPVirtualMachine(); }, Ref,
            "The bound machine (in a parallel round, the worker's copy).")
        .def_property("execution_limit", &GP::GetExecutionLimit, &GP::SetExecutionLimit)
        .def_property("limit_number", &GP::GetLimitNumber, &GP::SetLimitNumber)
        .def_property("auto_execution", &GP::GetAutoExecution, &GP::SetAutoExecution,
                      "Run each individual's program before its fitness callable.")
        .def(
            "initialize_stack",
            [](GP& E, const py::iterable& Args) {
                TVarRecList A = ArgsOf(Args);
                py::gil_scoped_release NoGil;
                E.InitializeStack(A);
            },
            py::arg("args") = py::list(),
            "Fills the machine's stack with args and readies the loaded program to run again.")
        .def("execute_program", &GP::ExecuteProgram, Release,
             "Runs the loaded program under the execution limit.")
        .def(
            "execute_individual",
            [](GP& E, const TIndividualRef& Item) {
                TKvGAIndividual& I = Item.Get();
                py::gil_scoped_release NoGil;
                E.ExecuteIndividual(&I);
            },
            py::arg("individual"))
        .def_property(
            "on_initialize_stack",
            [](const GP& E) { return CallableOf<TNotifyAdapter>(E.GetOnInitializeStack()); },
            [](GP& E, const py::object& Fn) {
                E.SetOnInitializeStack(Fn.is_none() ? TNotifyEvent()
                                                    : TNotifyEvent(TNotifyAdapter{
                                                          TPyCallable(Fn, "on_initialize_stack")}));
            },
            "callback() after initialize_stack: the place to push each run's inputs.");
}

} // namespace kvpy
