#!/usr/bin/python3
"""OneMax from Python: kvga with the whole-population NumPy fitness, kvga with a per-individual
Python fitness, and DEAP (Debian's python3-deap), one after the other in the same process.

usage: bench/python_onemax.py [L POP GENS [REPEATS]]   (default: W1, 1024 100 500, 3 repeats)

Each setup runs the same problem: chromosomes of L bits, fitness the number of 1 bits
(maximised), POP individuals, GENS generations, tournament selection of 2, one-point crossover at
any bit with probability 0.98, mutation with probability 0.01 per bit, no inversion; DEAP's
eaSimple with the same operators (cxOnePoint, mutFlipBit on every child, selTournament of 2).
A timed run is a whole run: the first population made and scored, then GENS generations. The
output gives the median wall seconds of REPEATS runs and how many times longer DEAP takes.
Run it with PYTHONPATH=build/release/python (./dev bench-python does)."""
import os
import random
import statistics
import sys
import time

import numpy as np

import kvga

L, POP, GENS = (int(a) for a in sys.argv[1:4]) if len(sys.argv) >= 4 else (1024, 100, 500)
REPEATS = int(sys.argv[4]) if len(sys.argv) >= 5 else 3
SEED = 12345

# The number of 1 bits of each byte value: a row's popcount is a sum over its bytes.
ONES = np.array([bin(b).count("1") for b in range(256)], dtype=np.uint16)


def engine(seed):
    ga = kvga.GeneticAlgorithm()
    ga.gene_size = L
    ga.initial_population = POP
    ga.fitness_method = kvga.FitnessMethod.MAXIMIZE
    ga.selection_method = kvga.SelectionMethod.TOURNAMENT
    ga.tournament_field = 2
    ga.crossover_method = kvga.CrossoverMethod.BIT_BOUNDARY
    ga.crossover_probability = 0.98
    ga.mutation_probability = 0.01
    ga.operations = {kvga.GeneticOperation.CROSSOVER, kvga.GeneticOperation.MUTATE}
    ga.set_random_seed(seed)
    return ga


def kvga_population(seed):
    ga = engine(seed)
    ga.on_evaluate_population = lambda words: ONES[words.view(np.uint8)].sum(axis=1)
    ga.evolve(GENS)
    return ga.max_fitness


def kvga_individual(seed):
    ga = engine(seed)
    ga.on_evaluate_fitness = lambda ind: int.from_bytes(ind.to_bytes(), "little").bit_count()
    ga.evolve(GENS)
    return ga.max_fitness


def deap_run(seed):
    from deap import algorithms, base, creator, tools
    random.seed(seed)
    if not hasattr(creator, "FitnessMax"):
        creator.create("FitnessMax", base.Fitness, weights=(1.0,))
        creator.create("Individual", list, fitness=creator.FitnessMax)
    tb = base.Toolbox()
    tb.register("bit", random.randint, 0, 1)
    tb.register("individual", tools.initRepeat, creator.Individual, tb.bit, L)
    tb.register("population", tools.initRepeat, list, tb.individual)
    tb.register("evaluate", lambda ind: (sum(ind),))
    tb.register("mate", tools.cxOnePoint)
    tb.register("mutate", tools.mutFlipBit, indpb=0.01)
    tb.register("select", tools.selTournament, tournsize=2)
    pop, _ = algorithms.eaSimple(tb.population(n=POP), tb, cxpb=0.98, mutpb=1.0, ngen=GENS,
                                 stats=None, halloffame=None, verbose=False)
    return max(ind.fitness.values[0] for ind in pop)


def timed(run):
    seconds, best = [], []
    for k in range(REPEATS):
        t0 = time.perf_counter()
        best.append(run(SEED + k))
        seconds.append(time.perf_counter() - t0)
    return statistics.median(seconds), statistics.median(best)


def main():
    try:
        import deap  # noqa: F401
        have_deap = True
    except ImportError:
        have_deap = False
    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                  if line.startswith("model name")), "?")
    load = " ".join(open("/proc/loadavg").read().split()[:3])
    print(f"machine: {os.uname().machine}, {os.cpu_count()} cores, {model}; load: {load}; "
          f"date: {time.strftime('%Y-%m-%d', time.gmtime())}")
    print(f"OneMax L={L} pop={POP} gens={GENS}, median of {REPEATS} whole runs; "
          f"numpy {np.__version__}")
    rows = [("kvga, whole population (NumPy)", kvga_population),
            ("kvga, per individual (Python)", kvga_individual)]
    if have_deap:
        rows.append(("DEAP 1.3 eaSimple", deap_run))
    results = [(name, *timed(run)) for name, run in rows]
    deap_s = results[-1][1] if have_deap else None
    print(f"{'setup':34} {'seconds':>9} {'best':>6} {'DEAP / setup':>13}")
    for name, s, best in results:
        ratio = f"{deap_s / s:.1f}" if deap_s else "-"
        print(f"{name:34} {s:9.4f} {best:6g} {ratio:>13}")
    if not have_deap:
        print("DEAP is not installed (apt-get install python3-deap; ./dev bench-python does)")


if __name__ == "__main__":
    main()
