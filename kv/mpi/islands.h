// The island model over MPI: every rank evolves an engine of its own, and the best individuals
// travel around a ring of islands.
//
// One program runs on every rank and sets up the same engine (genes, settings, fitness callback);
// each rank's engine is its island. TKvMPIIslands drives them:
//
//     kv::TKvMPIIslands Islands(GA);           // collective: every rank
//     Islands.SetBaseSeed(42);
//     Islands.SetMigrationInterval(5);
//     Islands.SetMigrationSize(2);
//     Islands.Evolve(200);                     // collective; the best is gathered to rank 0
//     if (Islands.GetRank() == 0) Report(*Islands.GetBest());
//
// Streams. Initialize gives the island's engine its own stream seeded with
// IslandSeed(BaseSeed, Rank) (SplitMix64 value Rank of the sequence from BaseSeed: the same
// function as the per-individual seeds of kv/ga/evaluator.h) and initialises it; every draw of
// the island, its callbacks' included, comes from that stream.
//
// Migration. After every generation g that is a multiple of MigrationInterval, each island
// sends copies of its MigrationSize best individuals (by the engine's Fittest: the earlier
// individual first on equal fitness), with their fitness, to the next island on the ring (rank
// + 1, the last rank sending to rank 0). The send does not block: the island breeds on. In the
// next generation (g + 1), right after the population has been scored and before the statistics
// and the selection data are computed from the stored fitness, the island takes the migrants the
// previous island sent at g, waiting for them if they are late, and copies them over its
// MigrationSize worst individuals (the order above, from the end). The migrants' fitness is
// trusted, not computed again: it is what the same callback gave on the sending island, so the
// callback must be a function of the chromosome alone (one that draws random numbers or depends
// on the island gives the migrant its sender's score). Because the arrivals are merged at a
// fixed generation, a seeded run repeats exactly, whatever the timing of the ranks. Migrants
// sent in the last generation of an Evolve call are merged in the first generation of the next
// call, so Evolve(10) twice gives the run of Evolve(20). MigrationInterval 0 or MigrationSize 0
// turns migration off (the islands then evolve alone, each exactly as a lone engine seeded with
// IslandSeed(BaseSeed, Rank)).
//
// Messages (kv/mpi/messages.h, tag MPIMigrantsTag on a duplicate of the communicator) are
// checked on arrival: another run (RunId), another generation, another count or another
// chromosome length raise EMPIException naming the value.
//
// Evaluation. During Evolve the island's engine scores through an evaluator of the driver's,
// which scores with the evaluator EvaluationThreads makes (serial for 0, threads for n >= 1) and
// then merges the migrants; afterwards the engine makes its own evaluator again. Evolve runs
// exactly Generations generations (the engine's fitness cut-off and diversity limit are not
// consulted: every island must take part in every migration).
//
// Failures. An island cannot go on without its ring: an exception on any island during Evolve
// (a fitness callback, a message that fails its checks) is written to the standard error stream
// with the rank and ends the whole job with MPI_Abort, so no rank waits for ever.
//
// Settings raise EMPIException for values below 0. Evolve raises EMPIException, before anything
// runs, for a negative Generations and when an initialised island has fewer individuals than
// MigrationSize; the same found after the island's Initialize, or islands whose chromosome
// lengths differ (found by the first merge), end the job as failures do.
//
// Ownership: the driver refers to the engine (not owned; it must outlive the driver) and owns a
// duplicate of the communicator, freed by its destructor (which must run before MPI_Finalize).
// The constructor, Initialize, Evolve and the destructor are collective: every rank calls them in
// the same order.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "kv/ga/engine.h"
#include "kv/mpi/messages.h"

namespace kv {

constexpr int MPIMigrantsTag = 0x4b58;

class TKvMPIIslands {
public:
    explicit TKvMPIIslands(TKvCustomGeneticAlgorithm& Engine, MPI_Comm Comm = MPI_COMM_WORLD);
    ~TKvMPIIslands();
    TKvMPIIslands(const TKvMPIIslands&) = delete;
    TKvMPIIslands& operator=(const TKvMPIIslands&) = delete;

    int32_t GetRank() const noexcept { return FRank; }
    int32_t GetIslands() const noexcept { return FIslands; }

    uint64_t GetBaseSeed() const noexcept { return FBaseSeed; }
    void SetBaseSeed(uint64_t Value) { FBaseSeed = Value; }
    // Generations between migrations (10 by default); 0: never.
    int32_t GetMigrationInterval() const noexcept { return FMigrationInterval; }
    void SetMigrationInterval(int32_t Value);
    // Individuals each island sends (2 by default); 0: none.
    int32_t GetMigrationSize() const noexcept { return FMigrationSize; }
    void SetMigrationSize(int32_t Value);
    // The run's id (0 by default), the same on every island; messages of another run are refused.
    uint64_t GetRunId() const noexcept { return FRunId; }
    void SetRunId(uint64_t Value) { FRunId = Value; }

    // Seeds the island's stream and initialises its engine (see the file comment).
    void Initialize();
    // Evolves every island Generations generations with migrations, initialising first when the
    // engine is not initialised (or Initialize was not called), then gathers the best individual
    // of all islands to rank 0.
    void Evolve(int32_t Generations);

    // Rank 0, after Evolve: the best individual of all islands (nullptr elsewhere, or before),
    // and the island it comes from. Its fitness is the one its island computed.
    const TKvGAIndividual* GetBest() const noexcept;
    int32_t GetBestIsland() const noexcept { return FBestIsland; }
    // Rank 0, after Evolve: the best individual of island Island (nullptr elsewhere, before, or
    // for an island out of range).
    const TKvGAIndividual* GetIslandBest(int32_t Island) const noexcept;
    // Migrants this island has merged so far.
    int64_t GetMigrantsReceived() const noexcept { return FMigrantsReceived; }

    // The seed of island Rank's stream.
    static uint64_t IslandSeed(uint64_t BaseSeed, int32_t Rank) noexcept;

private:
    friend class TKvMPIIslandEvaluator;

    void Run(int32_t Generations);
    void SendMigrants();
    void MergeMigrants(TKvGAPopulation& Population);
    void GatherBest();
    // The population's individuals, best first (Fittest, earlier first on a tie).
    std::vector<TKvGAIndividual*> Ranked(TKvGAPopulation& Population) const;

    TKvCustomGeneticAlgorithm& FEngine;
    MPI_Comm FComm = MPI_COMM_NULL;
    int32_t FRank = 0;
    int32_t FIslands = 1;
    uint64_t FBaseSeed = 0;
    int32_t FMigrationInterval = 10;
    int32_t FMigrationSize = 2;
    uint64_t FRunId = 0;
    bool FStarted = false;
    // Migrants sent at generation FPendingGeneration wait to be merged (-1: none).
    int64_t FPendingGeneration = -1;
    int32_t FPendingCount = 0;
    std::vector<std::vector<uint64_t>> FSendBuffers;
    std::vector<MPI_Request> FSends;
    int64_t FMigrantsReceived = 0;
    // Rank 0: the gathered best, in a population owned by the driver.
    std::unique_ptr<TKvGAPopulation> FBest;
    int32_t FBestIsland = -1;
};

} // namespace kv
