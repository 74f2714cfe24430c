// Worker evaluation over MPI: rank 0 runs the engine, every rank scores individuals.
//
// One program runs on every rank and sets up the same engine (genes, settings, fitness callback).
// Rank 0 evolves it; its evaluator, TKvMPIEvaluator, sends the individuals to the other ranks in
// batches and scores a share itself between its sends and receives; the other ranks run
// TKvMPIWorker::Run, which scores each batch it receives with the same callback and sends the
// fitness values back. RunMPIWorkers does both, on whichever rank it is called:
//
//     kv::RunMPIWorkers(GA, [&] { GA.SetRandomSeed(Seed); GA.Evolve(100); Report(GA); });
//
// The results are those of the engine's parallel mode (EvaluationThreads >= 1, kv/ga/evaluator.h)
// with the same seed: a round takes one draw R from the current random source and individual i
// draws from its own stream seeded with TKvGAParallelEvaluator::IndividualSeed(R, i). Every
// batch carries R and the index of its first individual, so the stream does not depend on the
// rank that scores the individual nor on the order. A run on 1, 2 or 500 ranks gives the same
// populations, statistics and documents as the parallel mode on one process.
//
// TKvMPIEvaluator(Comm, Options): rank 0's evaluator (GetWorkers() is 1: the engine treats the
//   round as a parallel one, so its changing operations raise from the callback on rank 0, and
//   the engine's own stream is not bound while individuals are scored). A round
//   - lists the individuals (they must all have the same chromosome length: EMPIException
//     naming the first that differs, before anything is sent);
//   - sends every worker two batches at once (so that a worker always has the next one while
//     rank 0 is busy), and sends the next batch to whichever worker answers: ranks that score
//     faster get more batches. Batch sizes shrink as the round goes on (a quarter of what is left
//     over the ranks, but at least about 20 microseconds of work, measured on rank 0), so that
//     the ranks finish together; Options.BatchSize > 0 fixes the size instead. A round whose
//     work rank 0 expects to take less than 0.2 ms stays on rank 0 (chosen sizes only): messages
//     would cost more than they save;
//   - scores one individual at a time on rank 0 while no answer waits (unless
//     Options.MasterScores is false and there are workers);
//   - stores the fitness values once every batch has been answered. A batch message is the
//     packed 64-bit words of each chromosome (kv/mpi/messages.h); an answer is a fitness value
//     (8 bytes) per individual.
//   Failures: a callback that raises on a worker ends the round as a failure on rank 0 does: no
//   more batches are sent, the answers of the batches out are received, fitness is stored for
//   the individuals before the first one left unscored, and the failure of the lowest individual
//   is raised on rank 0: a local one with its own class and message, a worker's as
//   EMPIRemoteError with the worker's message (what() names the rank and the individual too). A
//   worker's answer that fails its checks is raised the same way, as EMPIException. The workers
//   keep serving, so the engine can go on or the run can end normally on every rank.
// TKvMPIWorker(Engine, Comm, Options).Run(): scores batches from rank 0 until a stop message
//   (StopMPIWorkers) and returns the count of individuals scored. Each batch's chromosomes are
//   copied into the individuals of Engine's population at the batch's indices (the population
//   grows to hold them: it is the worker's scratch space), so a callback that reads the
//   individual, its index or the genes works as on rank 0. The individuals are scored inside a
//   TKvGAWorkerScope of Engine, each with its own stream bound; while Run runs, the engine's own
//   stream is set aside (it is restored, state and all, when Run returns). A batch that fails its
//   checks (another run, a chromosome of another length than Engine's GeneSize) is answered with
//   a failure naming the problem, which rank 0 raises. A callback on a worker should change
//   nothing but its individual, as in parallel mode (nothing raises there if it does).
// StopMPIWorkers(Comm, RunId): sends the stop message to every rank but 0.
// RunMPIWorkers(Engine, Master, Options): collective over Options.Comm. It duplicates the
//   communicator (so the layer's messages never meet the caller's), then on rank 0 installs a
//   TKvMPIEvaluator in Engine, runs Master, stops the workers (also when Master raises, before
//   the exception passes on) and gives the engine back the evaluator its EvaluationThreads
//   setting makes; on other ranks it runs a TKvMPIWorker on Engine until rank 0 stops it. It
//   returns true on rank 0, false elsewhere. Should a worker's loop itself fail (not a batch: a
//   batch's failure is answered and raised on rank 0), the worker prints the message and ends
//   the job with MPI_Abort rather than leave rank 0 waiting.
//
// Messages use the tags MPIWorkTag (to a worker) and MPIAnswerTag (to rank 0) on the
// communicator given; the run id of Options must be the same on every rank (messages of another
// run are refused). MPI must be initialised (MPI_Init) by the caller before any of this and
// finalised after; nothing here calls MPI from a destructor.
//
// Ownership: the evaluator and the worker keep a reference to their communicator (not owned);
// the worker keeps a reference to its engine, which must outlive it. One thread drives each.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "kv/ga/engine.h"
#include "kv/mpi/messages.h"

namespace kv {

constexpr int MPIWorkTag = 0x4b56;
constexpr int MPIAnswerTag = 0x4b57;

struct TKvMPIWorkerOptions {
    MPI_Comm Comm = MPI_COMM_WORLD;
    // The run's id, the same on every rank; messages of another run are refused.
    uint64_t RunId = 0;
    // Individuals per batch; 0 chooses (see the file comment).
    int32_t BatchSize = 0;
    // Rank 0 scores a share itself (it scores everything when it has no workers).
    bool MasterScores = true;
};

class TKvMPIEvaluator : public TKvGAEvaluator {
public:
    // EMPIException for a negative BatchSize.
    explicit TKvMPIEvaluator(const TKvMPIWorkerOptions& Options = {});
    std::string ClassName() const override { return "TKvMPIEvaluator"; }

    void Evaluate(TKvCustomGeneticAlgorithm& Engine, TKvGAPopulation& Population) override;
    int32_t GetWorkers() const noexcept override { return 1; }

    MPI_Comm GetComm() const noexcept { return FOptions.Comm; }
    // Individuals scored on each rank in the last round (index = rank).
    const std::vector<int64_t>& GetScoredPerRank() const noexcept { return FScoredPerRank; }

private:
    TKvMPIWorkerOptions FOptions;
    uint64_t FRound = 0;
    double FNsPerIndividual = 0;
    std::vector<int64_t> FScoredPerRank;
};

class TKvMPIWorker {
public:
    TKvMPIWorker(TKvCustomGeneticAlgorithm& Engine, const TKvMPIWorkerOptions& Options = {});
    // Serves batches until rank 0 sends the stop message; returns the individuals scored.
    int64_t Run();

private:
    TKvCustomGeneticAlgorithm& FEngine;
    TKvMPIWorkerOptions FOptions;
};

void StopMPIWorkers(MPI_Comm Comm, uint64_t RunId = 0);

bool RunMPIWorkers(TKvCustomGeneticAlgorithm& Engine, const std::function<void()>& Master,
                   const TKvMPIWorkerOptions& Options = {});

} // namespace kv
