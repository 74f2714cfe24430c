// The Python module kvga: the exception classes, the callable holder and the module itself.
#include <exception>

#include <pybind11/pybind11.h>

#include "kv/rtl/random.h"
#include "kv/vocabulary/ga_exceptions.h"
#include "python/src/kvga_python.h"

namespace kvpy {

TPyCallable::TPyCallable(py::object Fn, const char* What) {
    if (!PyCallable_Check(Fn.ptr()))
        throw py::type_error(std::string(What) + " must be callable or None, got " +
                             py::repr(Fn).cast<std::string>());
    FFn = std::shared_ptr<py::object>(new py::object(std::move(Fn)), [](py::object* P) {
        // The interpreter may be gone when the last copy dies at exit: then the reference is
        // left to it.
        if (Py_IsInitialized()) {
            py::gil_scoped_acquire Gil;
            delete P;
        }
    });
}

int ItemIndex(int64_t Index, int Count) {
    const int64_t At = Index < 0 ? Index + Count : Index;
    if (At < 0 || At >= Count)
        throw kv::EListError("List index out of bounds (" + std::to_string(Index) +
                             ") in a list of " + std::to_string(Count));
    return static_cast<int>(At);
}

double FloatResult(const py::object& Value, const char* What) {
    if (PyFloat_Check(Value.ptr()))
        return PyFloat_AS_DOUBLE(Value.ptr());
    if (!PyNumber_Check(Value.ptr()) || PyComplex_Check(Value.ptr()))
        throw py::type_error(std::string(What) + " must return a real number, got " +
                             py::repr(Value).cast<std::string>());
    const double D = PyFloat_AsDouble(Value.ptr());
    if (D == -1.0 && PyErr_Occurred())
        throw py::error_already_set();
    return D;
}

void RegisterExceptions(py::module_& M) {
    // New exception classes with one or more bases, kept for the life of the process.
    auto Make = [&M](const char* Name, py::tuple Bases, const char* Doc) {
        const std::string Full = std::string("kvga.") + Name;
        PyObject* Class = PyErr_NewExceptionWithDoc(Full.c_str(), Doc, Bases.ptr(), nullptr);
        if (!Class)
            throw py::error_already_set();
        M.add_object(Name, py::handle(Class));
        return Class;
    };
    static PyObject* Error =
        Make("Error", py::make_tuple(py::handle(PyExc_Exception)),
             "The base of every error the library raises; str(e) is the library's message.");
    static PyObject* KvError =
        Make("KvError", py::make_tuple(py::handle(Error)), "An error of the library's components.");
    static PyObject* GAError = Make("GAError", py::make_tuple(py::handle(KvError)),
                                    "An error of the genetic-algorithm engine or its genes.");
    static PyObject* GPError = Make("GPError", py::make_tuple(py::handle(GAError)),
                                    "An error of the genetic-programming layer.");
    static PyObject* ListError =
        Make("ListError", py::make_tuple(py::handle(Error), py::handle(PyExc_IndexError)),
             "An index outside a list, or an operation on an empty list.");
    static PyObject* ConvertError =
        Make("ConvertError", py::make_tuple(py::handle(Error), py::handle(PyExc_ValueError)),
             "A text that does not convert, or an assignment between unrelated classes.");
    static PyObject* IntfCastError =
        Make("IntfCastError", py::make_tuple(py::handle(Error)),
             "A document whose root element is not the one asked for.");
    static PyObject* XmlError = Make("XmlError", py::make_tuple(py::handle(Error)),
                                     "A document that cannot be read at all.");
    py::register_exception_translator([](std::exception_ptr P) {
        try {
            if (P)
                std::rethrow_exception(P);
        } catch (const kv::EGPException& E) {
            PyErr_SetString(GPError, E.what());
        } catch (const kv::EGAException& E) {
            PyErr_SetString(GAError, E.what());
        } catch (const kv::EKvException& E) {
            PyErr_SetString(KvError, E.what());
        } catch (const kv::EListError& E) {
            PyErr_SetString(ListError, E.what());
        } catch (const kv::EConvertError& E) {
            PyErr_SetString(ConvertError, E.what());
        } catch (const kv::EIntfCastError& E) {
            PyErr_SetString(IntfCastError, E.what());
        } catch (const kv::EXmlError& E) {
            PyErr_SetString(XmlError, E.what());
        } catch (const kv::Exception& E) {
            PyErr_SetString(Error, E.what());
        } catch (TPyErrorCarrier& E) {
            E.Error.restore();
        }
    });
}

} // namespace kvpy

PYBIND11_MODULE(kvga, M) {
    namespace py = pybind11;
    M.doc() = "kvga: genetic algorithms and genetic programming (C++ engine, Python bindings).\n\n"
              "Individuals, genes, populations and instructions belong to their engine or machine: "
              "one kept after the engine dropped it raises GAError when used.";
    kvpy::RegisterExceptions(M);
    M.def(
        "rand_seed", [](uint64_t Seed) { kv::RandSeed(Seed); }, py::arg("seed"),
        "Seeds the calling thread's random source (an engine with random_seed set draws from "
        "its own stream instead).");
    M.def(
        "random", [] { return kv::Random(); },
        "A uniform draw in [0, 1) from the current random source (inside an engine's operation, "
        "the engine's own stream when it has one).");
    kvpy::BindGeneticAlgorithm(M);
    kvpy::BindGeneticProgram(M);
    kvpy::BindRecords(M);
}
