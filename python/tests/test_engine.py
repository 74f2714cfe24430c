"""The engine from Python: settings, seeded runs, callbacks, whole-population fitness, documents."""
import os
import subprocess

import numpy as np
import pytest

import kvga


def make_engine():
    """The engine of the C++ reference run (tests/reference_run.cpp), without its fitness."""
    ga = kvga.GeneticAlgorithm()
    ga.genes.add("X", kind=kvga.GeneType.INTEGER, size=10)
    ga.genes.add("Y", kind=kvga.GeneType.INTEGER, size=12)
    ga.genes.add("Flag", kind=kvga.GeneType.BOOLEAN, size=1)
    ga.initial_population = 40
    ga.fitness_method = kvga.FitnessMethod.MAXIMIZE
    ga.selection_method = kvga.SelectionMethod.TOURNAMENT
    ga.tournament_field = 3
    ga.crossover_kind = kvga.CrossoverKind.TWO_POINT
    ga.crossover_method = kvga.CrossoverMethod.BIT_BOUNDARY
    ga.mutation_probability = 0.02
    ga.mutation_mode = kvga.MutationMode.GEOMETRIC
    ga.operations = {kvga.GeneticOperation.CROSSOVER, kvga.GeneticOperation.MUTATE,
                     kvga.GeneticOperation.INVERT}
    ga.set_random_seed(20261208)
    return ga


def per_individual(ga):
    x, y, flag = ga.genes
    ga.on_evaluate_fitness = lambda ind: (
        x.decode(ind) + 2.0 * y.decode(ind) + (100.0 if flag.decode(ind) else 0.0))


def whole_population(ga):
    def fitness(words):
        w = words[:, 0]
        return ((w & 1023) + 2 * ((w >> 10) & 4095) + 100 * ((w >> 22) & 1)).astype(np.float64)
    ga.on_evaluate_population = fitness


def test_seeded_run_equals_the_cpp_run(tmp_path):
    reference = os.environ["KVGA_PYTHON_REFERENCE"]
    assert os.path.exists(reference), f"build the C++ reference program first: {reference}"
    cpp_doc = tmp_path / "cpp.xml"
    best = float(subprocess.run([reference, str(cpp_doc)], check=True, capture_output=True,
                                text=True).stdout)
    for wire in (per_individual, whole_population):
        ga = make_engine()
        wire(ga)
        assert ga.evolve(30) == 30
        assert ga.max_fitness == best, wire.__name__
        py_doc = tmp_path / f"{wire.__name__}.xml"
        ga.save_to_file(py_doc)
        assert py_doc.read_bytes() == cpp_doc.read_bytes(), wire.__name__


def test_settings_round_trip_and_refused_values():
    ga = kvga.GeneticAlgorithm()
    ga.genes.add("A", kind=kvga.GeneType.INTEGER, size=7, preserve_sign_bit=True)
    settings = dict(
        generation=12, fitness_cutoff=3.5, mutation_probability=0.125,
        inversion_probability=0.25, crossover_probability=0.75, elitist_pct=0.375,
        diversity_limit=0.0625, gene_size=40, fitness_method=kvga.FitnessMethod.MAXIMIZE,
        selection_method=kvga.SelectionMethod.ELITIST, tournament_field=5,
        crossover_method=kvga.CrossoverMethod.BYTE_BOUNDARY, use_fitness_cutoff=True,
        use_diversity_limit=True, crossover_kind=kvga.CrossoverKind.UNIFORM,
        mutation_mode=kvga.MutationMode.GEOMETRIC)
    for name, value in settings.items():
        setattr(ga, name, value)
    copy = kvga.GeneticAlgorithm()
    copy.load_from_string(ga.save_to_string())
    for name, value in settings.items():
        assert getattr(copy, name) == value, name
    assert copy.save_to_string() == ga.save_to_string()
    assert copy.genes[0].preserve_sign_bit and copy.genes["A"].min_value == -64

    for name, value in [("mutation_probability", 1.5), ("crossover_probability", -0.1),
                        ("elitist_pct", float("nan")), ("tournament_field", 1),
                        ("initial_population", -3), ("evaluation_threads", -7)]:
        before = getattr(ga, name)
        with pytest.raises(ValueError, match=name):
            setattr(ga, name, value)
        assert getattr(ga, name) == before
    with pytest.raises(TypeError):
        ga.fitness_method = 1  # an enumeration, not its number
    with pytest.raises(TypeError, match="callable"):
        ga.on_evaluate_fitness = 42


def test_genes_decode_and_encode_every_kind():
    ga = kvga.GeneticAlgorithm()
    g = ga.genes
    g.add("b", kind=kvga.GeneType.BOOLEAN, size=1)
    g.add("i", kind=kvga.GeneType.INTEGER, size=9, preserve_sign_bit=True)
    g.add("big", kind=kvga.GeneType.INTEGER, size=64)
    g.add("f", kind=kvga.GeneType.FLOAT, size=32)
    g.add("d", kind=kvga.GeneType.FLOAT, size=64, preserve_sign_bit=True)
    g.add("e", kind=kvga.GeneType.ENUMERATION, enumerations=["red", "green", "blue"])
    g.add("r", kind=kvga.GeneType.INTEGER, size=8, real_interval=(-1.0, 1.0), gray_code=True)
    assert [gene.offset for gene in g] == [0, 1, 10, 74, 106, 170, 172]
    assert g.size == ga.gene_size == 180
    ind = ga.population.add()
    values = {"b": True, "i": -200, "big": 2**62 + 1, "f": 0.5, "d": -12345.5, "e": "blue",
              "r": 1.0}
    g.encode(ind, values)
    assert g.decode(ind) == values
    assert ind.words.shape == (3,) and len(ind.to_bytes()) == 23
    assert ind.bits[:2] == "10"  # b is true: bit 0 set

    g["i"].encode(ind, 10**6)  # clamped to the gene's range
    assert g["i"].decode(ind) == 255
    with pytest.raises(kvga.GAError, match="purple"):
        g["e"].encode(ind, "purple")
    before = g.decode(ind)
    for name, value in [("i", "7"), ("big", 2**70), ("b", None), ("e", 3)]:
        with pytest.raises(TypeError, match=f'gene "{name}" takes .*got {value!r}'):
            g[name].encode(ind, value)
    with pytest.raises(TypeError, match="gene name .*got 1"):
        g.encode(ind, {1: True})
    assert g.decode(ind) == before  # nothing written
    with pytest.raises(kvga.GAError, match="-3"):
        g.add("bad", kind=kvga.GeneType.INTEGER, size=-3)
    with pytest.raises(kvga.GAError):
        g.add("bad", kind=kvga.GeneType.INTEGER, size=4, real_interval=(1.0, 0.0))
    assert len(g) == 7 and ga.gene_size == ind.size == 180  # nothing half made stays
    with pytest.raises(KeyError):
        g["nope"]
    with pytest.raises(ValueError, match="3 unsigned 64-bit words"):
        ind.words = np.zeros(2, dtype=np.uint64)
    with pytest.raises(ValueError, match="180-bit chromosome, got 179 characters"):
        ind.bits = "1" * 179
    ind.words = np.array([1, 0, 2**64 - 1], dtype=np.uint64)
    assert ind.words[2] == (1 << 52) - 1  # the bits beyond the chromosome are dropped


class Planted(Exception):
    pass


def raise_planted(*args):
    raise Planted("from the callback")


@pytest.mark.parametrize("event", ["on_evaluate_fitness", "on_evaluate_population", "on_evolve",
                                   "on_mutation", "on_selection", "on_crossover",
                                   "on_reproduction"])
def test_exceptions_from_callbacks_reach_the_caller_with_their_class(event):
    ga = make_engine()
    per_individual(ga)
    ga.initialize()
    setattr(ga, event, raise_planted)
    with pytest.raises(Planted, match="from the callback"):
        ga.evolve(3)
    setattr(ga, event, None)
    per_individual(ga)
    ga.evolve(1)  # the engine stays usable


def test_exceptions_from_parallel_callbacks_and_library_errors():
    ga = make_engine()
    ga.evaluation_threads = 2
    calls = []

    def fitness(ind):
        calls.append(1)
        if len(calls) == 25:
            raise Planted("individual 25")
        return 1.0
    ga.on_evaluate_fitness = fitness
    with pytest.raises(Planted, match="individual 25"):
        ga.initialize()
    with pytest.raises(kvga.XmlError) as error:
        ga.load_from_string("<GeneticAlgorithm>")
    assert isinstance(error.value, kvga.Error) and str(error.value)
    with pytest.raises(kvga.ListError, match="-41"):
        ga.population[-41]
    assert issubclass(kvga.GPError, kvga.GAError) and issubclass(kvga.GAError, kvga.KvError)
    assert issubclass(kvga.ListError, IndexError) and issubclass(kvga.ConvertError, ValueError)


def test_whole_population_fitness_with_a_wrong_result_is_refused():
    ga = make_engine()
    whole_population(ga)
    ga.initialize()
    before = ga.population.fitness.copy()
    n = len(ga.population)
    for result, received in [(np.zeros((n, 1)), r"shape \(40, 1\)"),
                             (np.zeros(n - 1), r"shape \(39,\)"),
                             (["a"] * n, "dtype <U1"),
                             (None, "dtype object"),
                             (np.zeros(n, dtype=complex), "dtype complex128")]:
        ga.on_evaluate_population = lambda words, r=result: r
        with pytest.raises(kvga.GAError, match=received):
            ga.evaluate_fitness()
        np.testing.assert_array_equal(ga.population.fitness, before)

    seen = []

    def fitness(words):
        seen.append((words.shape, words.dtype, words.flags.writeable))
        return [float(k) for k in range(len(words))]  # any sequence of numbers will do
    ga.on_evaluate_population = fitness
    ga.evaluate_fitness()
    assert seen == [((n, 1), np.uint64, False)]
    assert ga.max_fitness == n - 1 and ga.on_evaluate_population is fitness
    ga.on_evaluate_population = None
    assert ga.on_evaluate_population is None


def test_save_load_and_checkpoint_continue_the_same_run(tmp_path):
    ga = make_engine()
    per_individual(ga)
    ga.evolve(5)
    path = tmp_path / "run.xml"
    ga.save_to_file(path)
    loaded = kvga.GeneticAlgorithm()
    loaded.load_from_file(str(path))
    assert loaded.save_to_string() == ga.save_to_string() == path.read_text()
    assert [i.bits for i in loaded.population] == [i.bits for i in ga.population]

    checkpoint = ga.save_checkpoint_to_string()
    ga.evolve(5)
    resumed = make_engine()
    per_individual(resumed)
    old_gene = resumed.genes["X"]
    resumed.load_checkpoint_from_string(checkpoint)  # replaces the genes: wire the fitness again
    with pytest.raises(kvga.GAError, match="no longer in its engine"):
        old_gene.size
    per_individual(resumed)
    resumed.evolve(5)
    assert resumed.save_to_string() == ga.save_to_string()

    with pytest.raises(kvga.Error):
        loaded.load_from_file(tmp_path / "missing.xml")
    assert loaded.save_to_string() == path.read_text()  # a failed load loses nothing


def test_run_records_watch_the_engine():
    ga = make_engine()
    per_individual(ga)
    hall, log = kvga.HallOfFame(3), kvga.StatisticsLog()
    hall.attach(ga)
    log.attach(ga)
    log.add_column("flags", lambda engine: sum(i.bits[22] == "1" for i in engine.population))
    best_ever = []
    ga.on_evolve = lambda: best_ever.append(ga.max_fitness)
    ga.evolve(10)
    assert len(log) == 11 and log[-1]["generation"] == 10 and 0 <= log[-1]["flags"] <= 40
    assert hall.best.fitness == max(best_ever + [log[0]["max"]]) == log.best_ever
    assert [e.fitness for e in hall] == sorted((e.fitness for e in hall), reverse=True)
    assert log.csv_text().startswith("generation,evaluations,max,min,mean")
    del ga  # the records outlive the engine
    assert len(hall) == 3 and len(log.records()) == 11


def test_kept_objects_outlive_what_the_engine_dropped():
    ga = make_engine()
    per_individual(ga)
    ga.evolve(2)
    checkpoint = ga.save_checkpoint_to_string()
    previous, individual = ga.previous_generation, ga.previous_generation[0]
    ga.load_checkpoint_from_string(checkpoint)  # drops the previous generation
    assert ga.previous_generation is None and ga.population == ga.population
    for use in (lambda: len(previous), lambda: previous.words(), lambda: individual.fitness):
        with pytest.raises(kvga.GAError, match="no longer"):
            use()

    kept = []
    vm = kvga.VirtualMachine()
    vm.instructions.add("Keep", lambda stack, ins: kept.append(stack) or stack.push("kept"))
    vm.initialize(["Keep"])
    vm.execute()
    del vm  # the stack handed to the instruction keeps its machine alive
    others = [kvga.VirtualMachine() for _ in range(20)]
    for other in others:
        other.stack.push("other")
    assert kept[0].values() == ["kept"]


def test_callback_results_that_would_mislead_the_engine_are_refused():
    ga, other = make_engine(), make_engine()
    for engine in (ga, other):
        per_individual(engine)
        engine.initialize()
    ga.on_selection = lambda population: other.population[0]
    with pytest.raises(ValueError, match="another population"):
        ga.evolve(1)
    ga.on_selection = None
    for bit in (2**40, 1.5):
        ga.on_crossover = lambda *args, bit=bit: (bit, True)
        with pytest.raises(TypeError, match=f"crossover_bit must be an int.*{bit}"):
            ga.evolve(1)
    ga.on_crossover = lambda *args: (np.int64(3), True)
    assert ga.evolve(1) == 1
