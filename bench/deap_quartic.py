#!/usr/bin/python3
"""Symbolic regression of Koza's quartic x^4 + x^3 + x^2 + x with DEAP's tree GP (the peer of
bench_gp_quartic; peer measurement only, needs Debian's python3-deap).

usage: deap_quartic.py POINTS SEEDS

The setting of DEAP's own symbolic-regression example, with the primitive set of the kvga side:
add, sub, mul and protected division (a / 0 is 1) over the one argument x; POINTS points evenly
spaced in [-1, 1) (20 gives the example's -1, -0.9, ..., 0.9); fitness the mean squared error,
minimised; ramped half-and-half trees of depth 1 to 2, tournaments of 3, one-point subtree
crossover (p = 0.5), uniform subtree mutation (p = 0.1), a height limit of 17, population 300,
40 generations of eaSimple. Each seed's run (population creation and eaSimple) is timed on the
process CPU clock and the wall clock; the last line has the medians in bench_gp_quartic's format.
"""
import math
import operator
import random
import statistics
import sys
import time

from deap import algorithms, base, creator, gp, tools

POINTS, SEEDS = (int(a) for a in sys.argv[1:3])
XS = [-1.0 + 2.0 * i / POINTS for i in range(POINTS)]
TARGET = [x**4 + x**3 + x**2 + x for x in XS]


def protected_div(left, right):
    try:
        return left / right
    except ZeroDivisionError:
        return 1


pset = gp.PrimitiveSet("MAIN", 1)
pset.addPrimitive(operator.add, 2)
pset.addPrimitive(operator.sub, 2)
pset.addPrimitive(operator.mul, 2)
pset.addPrimitive(protected_div, 2)
pset.renameArguments(ARG0="x")

creator.create("FitnessMin", base.Fitness, weights=(-1.0,))
creator.create("Individual", gp.PrimitiveTree, fitness=creator.FitnessMin)

tb = base.Toolbox()
tb.register("expr", gp.genHalfAndHalf, pset=pset, min_=1, max_=2)
tb.register("individual", tools.initIterate, creator.Individual, tb.expr)
tb.register("population", tools.initRepeat, list, tb.individual)
tb.register("compile", gp.compile, pset=pset)


def evaluate(individual):
    func = tb.compile(expr=individual)
    try:
        errors = ((func(x) - t) ** 2 for x, t in zip(XS, TARGET))
        return (math.fsum(errors) / POINTS,)
    except OverflowError:
        return (1e300,)


tb.register("evaluate", evaluate)
tb.register("select", tools.selTournament, tournsize=3)
tb.register("mate", gp.cxOnePoint)
tb.register("expr_mut", gp.genFull, min_=0, max_=2)
tb.register("mutate", gp.mutUniform, expr=tb.expr_mut, pset=pset)
tb.decorate("mate", gp.staticLimit(key=operator.attrgetter("height"), max_value=17))
tb.decorate("mutate", gp.staticLimit(key=operator.attrgetter("height"), max_value=17))

cpu, wall, solved = [], [], 0
for seed in range(1, SEEDS + 1):
    random.seed(seed)
    c0, w0 = time.process_time(), time.perf_counter()
    pop = tb.population(n=300)
    hof = tools.HallOfFame(1)
    algorithms.eaSimple(pop, tb, 0.5, 0.1, 40, stats=None, halloffame=hof, verbose=False)
    cpu.append(time.process_time() - c0)
    wall.append(time.perf_counter() - w0)
    best = hof[0].fitness.values[0]
    solved += best < 1e-12
    print(f"seed {seed} cpu_s={cpu[-1]:.6f} wall_s={wall[-1]:.6f} best_mse={best:.3g}", flush=True)
print(f"deap quartic points={POINTS} seeds={SEEDS} median_s={statistics.median(cpu):.6f} "
      f"median_wall_s={statistics.median(wall):.6f} solved={solved}")
