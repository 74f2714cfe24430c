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

// The callable held by the std::function Event when it is one of Adapter's, else None.
template <class Adapter, class Event>
py::object CallableOf(const Event& E) {
    const Adapter* A = E.template target<Adapter>();
    return A ? A->Fn.Get() : py::none();
}

// A Python float from a callback's result, or TypeError naming the callback and the value.
double FloatResult(const py::object& Value, const char* What);

void RegisterExceptions(py::module_& M);
void BindGeneticAlgorithm(py::module_& M);
void BindGeneticProgram(py::module_& M);

} // namespace kvpy
