#!/usr/bin/python3
"""Quick start from Python: finds the point (x, y) of a 10-bit grid closest to (300, 700),
first with a fitness per individual, then with one NumPy call per generation."""
import numpy as np

import kvga

ga = kvga.GeneticAlgorithm()
x = ga.genes.add("X", kind=kvga.GeneType.INTEGER, size=10)  # bits 0-9: 0 .. 1023
y = ga.genes.add("Y", kind=kvga.GeneType.INTEGER, size=10)  # bits 10-19
ga.fitness_method = kvga.FitnessMethod.MAXIMIZE  # the default is MINIMIZE
ga.use_fitness_cutoff = True                     # stop at fitness_cutoff (1.0)
ga.set_random_seed(42)                           # a repeatable run
ga.on_evaluate_fitness = lambda ind: 1 / (1 + (x.decode(ind) - 300) ** 2
                                          + (y.decode(ind) - 700) ** 2)
generations = ga.evolve(500)
best = ga.fittest_individual
print(f"after {generations} generations: {ga.genes.decode(best)}, fitness {best.fitness:g}")
ga.save_to_file("quick_start.xml")  # settings, genes and population; load_from_file reads it


def whole_population(words):  # words: (individuals x 1) uint64, one row per chromosome
    xs, ys = words[:, 0] & 1023, (words[:, 0] >> 10) & 1023
    return 1 / (1 + (xs.astype(float) - 300) ** 2 + (ys.astype(float) - 700) ** 2)


again = kvga.GeneticAlgorithm()
again.load_from_file("quick_start.xml")  # the genes, settings and population saved above
again.on_evaluate_population = whole_population
again.set_random_seed(7)
again.initialize()  # a new random population, scored by whole_population
print(f"whole population: {again.evolve(500)} generations, best {again.max_fitness:g}")
