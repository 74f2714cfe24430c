// Bindings of the run records: the hall of fame and the statistics log, attached to an engine as
// observers.
//
// attach(engine) makes the engine keep the record alive (the engine only knows it by address);
// either may be destroyed first. Entries and records cross to Python as copies.
#include <filesystem>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/records/KvRecords.h"
#include "python/src/kvga_python.h"

namespace kvpy {

namespace {

using namespace kv;

// An entry of a hall of fame, copied out.
struct THallOfFameEntry {
    int32_t Generation;
    double Fitness;
    std::string Name;
    std::string Bits;
};

THallOfFameEntry EntryOf(const TKvGAIndividual& Item, int32_t Generation) {
    return {Generation, Item.GetFitness(), Item.GetName(), Item.GetBits()->ToBitString()};
}

py::dict RecordOf(const TKvStatisticsLog& Log, const TKvGenerationRecord& R) {
    py::dict D;
    D["generation"] = R.Generation;
    D["evaluations"] = R.Evaluations;
    D["max"] = R.MaxFitness;
    D["min"] = R.MinFitness;
    D["mean"] = R.AvgFitness;
    D["stddev"] = R.StdDev;
    D["diversity"] = R.Diversity;
    D["best_ever"] = R.BestEver;
    D["seconds"] = R.Seconds;
    const std::vector<std::string>& Names = Log.GetColumnNames();
    for (size_t K = 0; K < Names.size() && K < R.Columns.size(); ++K)
        D[py::str(Names[K])] = R.Columns[K];
    return D;
}

// A caller column of the statistics log computed by a Python callable of the engine.
struct TColumnAdapter {
    TPyCallable Fn;
    double operator()(const TKvCustomGeneticAlgorithm& Engine) const {
        py::gil_scoped_acquire Gil;
        return FloatResult(Fn(EngineObject(const_cast<TKvCustomGeneticAlgorithm*>(&Engine))),
                           "a statistics column");
    }
};

} // namespace

void BindRecords(py::module_& M) {
    py::class_<THallOfFameEntry>(M, "HallOfFameEntry", "A copy of an individual the hall kept.")
        .def_readonly("generation", &THallOfFameEntry::Generation)
        .def_readonly("fitness", &THallOfFameEntry::Fitness)
        .def_readonly("name", &THallOfFameEntry::Name)
        .def_readonly("bits", &THallOfFameEntry::Bits, "The chromosome, bit 0 first.")
        .def("__repr__", [](const THallOfFameEntry& E) {
            return "<kvga.HallOfFameEntry generation=" + std::to_string(E.Generation) +
                   " fitness=" + std::string(py::repr(py::float_(E.Fitness))) + ">";
        });

    py::class_<TKvHallOfFame>(M, "HallOfFame",
                              "The capacity best individuals an engine ever scored, kept as "
                              "copies (and in the engine's checkpoints while attached).")
        .def(py::init<int32_t, bool>(), py::arg("capacity") = 1, py::arg("unique") = false)
        .def("attach", &TKvHallOfFame::Attach, py::arg("engine"), py::keep_alive<2, 1>())
        .def("detach", &TKvHallOfFame::Detach)
        .def_property("capacity", &TKvHallOfFame::GetCapacity, &TKvHallOfFame::SetCapacity)
        .def_property("unique", &TKvHallOfFame::GetUnique, &TKvHallOfFame::SetUnique)
        .def("__len__", [](const TKvHallOfFame& H) { return H.GetCount(); })
        .def("__getitem__",
             [](const TKvHallOfFame& H, int64_t Index) {
                 const int K = ItemIndex(Index, H.GetCount());
                 return EntryOf(*H.GetItem(K), H.GetGeneration(K));
             })
        .def_property_readonly("best",
                               [](const TKvHallOfFame& H) -> py::object {
                                   if (!H.GetBest())
                                       return py::none();
                                   return py::cast(EntryOf(*H.GetBest(), H.GetGeneration(0)));
                               })
        .def("clear", &TKvHallOfFame::Clear);

    py::class_<TKvStatisticsLog>(M, "StatisticsLog",
                                 "One record per generation of an attached engine: evaluations, "
                                 "max, min, mean, standard deviation, diversity, best ever, "
                                 "seconds, and caller columns.")
        .def(py::init<>())
        .def("attach", &TKvStatisticsLog::Attach, py::arg("engine"), py::keep_alive<2, 1>())
        .def("detach", &TKvStatisticsLog::Detach)
        .def(
            "add_column",
            [](TKvStatisticsLog& L, const std::string& Name, const py::object& Fn) {
                L.AddColumn(Name, TColumnAdapter{TPyCallable(Fn, "a statistics column")});
            },
            py::arg("name"), py::arg("compute"),
            "Adds a column computed by compute(engine) -> float for every record (before the "
            "first record).")
        .def("__len__", [](const TKvStatisticsLog& L) { return L.GetCount(); })
        .def("__getitem__",
             [](const TKvStatisticsLog& L, int64_t Index) {
                 return RecordOf(L, L.GetRecord(ItemIndex(Index, L.GetCount())));
             })
        .def(
            "records",
            [](const TKvStatisticsLog& L) {
                py::list Out;
                for (const TKvGenerationRecord& R : L.GetRecords())
                    Out.append(RecordOf(L, R));
                return Out;
            },
            "Every record as a dict.")
        .def_property_readonly("evaluations", &TKvStatisticsLog::GetEvaluations)
        .def_property_readonly("best_ever", &TKvStatisticsLog::GetBestEver)
        .def("clear", &TKvStatisticsLog::Clear)
        .def("table_text", &TKvStatisticsLog::TableText)
        .def("csv_text", &TKvStatisticsLog::CsvText)
        .def("json_lines_text", &TKvStatisticsLog::JsonLinesText)
        .def(
            "save_csv",
            [](const TKvStatisticsLog& L, const std::filesystem::path& P) {
                L.SaveCsv(P.string());
            },
            py::arg("path"))
        .def(
            "save_json_lines",
            [](const TKvStatisticsLog& L, const std::filesystem::path& P) {
                L.SaveJsonLines(P.string());
            },
            py::arg("path"));
}

} // namespace kvpy
