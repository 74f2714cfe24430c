// KvGeneticAlgorithm: the genetic-algorithm unit in one include.
//
//   TKvGABits, BitsRequired                 the chromosome (kv/ga/bits.h)
//   TKvGAGene, TKvGAGenes, TKvGAGeneClass   genes and the genotype layout
//   TKvGAIndividual, TKvGAPopulation,
//   TKvGAIndividualClass                    individuals and populations
//   TKvCustomGeneticAlgorithm,
//   TKvGeneticAlgorithm                     the engine with selection and reproduction
//   TKvGA...Event, TKvGeneEvent             the event types
//   MaxChromosomeBits, MaxPopulationBits    the limits of loaded documents (saving, loading and
//                                           Assign: kv/ga/persistence.h)
// together with the vocabulary (KvGAConsts: enumerations, defaults, exceptions, messages).
#pragma once

#include "kv/ga/bits.h"
#include "kv/ga/engine.h"
#include "kv/ga/ga_events.h"
#include "kv/ga/gene.h"
#include "kv/ga/genes.h"
#include "kv/ga/individual.h"
#include "kv/ga/persistence.h"
#include "kv/ga/population.h"
#include "kv/vocabulary/KvGAConsts.h"
