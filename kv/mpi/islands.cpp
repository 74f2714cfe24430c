// The island model over MPI.
#include "kv/mpi/islands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kv/ga/population.h"
#include "kv/rtl/exceptions.h"

namespace kv {

// The evaluator an island scores through while the driver runs: the one EvaluationThreads makes,
// then the merge of the migrants that are due.
class TKvMPIIslandEvaluator : public TKvGAEvaluator {
public:
    TKvMPIIslandEvaluator(TKvMPIIslands& Islands, int32_t Threads)
        : FIslands(Islands),
          FInner(Threads == 0 ? std::unique_ptr<TKvGAEvaluator>(new TKvGASerialEvaluator)
                              : std::make_unique<TKvGAParallelEvaluator>(Threads)) {}
    std::string ClassName() const override { return "TKvMPIIslandEvaluator"; }

    void Evaluate(TKvCustomGeneticAlgorithm& Engine, TKvGAPopulation& Population) override {
        FInner->Evaluate(Engine, Population);
        if (FIslands.FPendingGeneration >= 0)
            FIslands.MergeMigrants(Population);
    }
    int32_t GetWorkers() const noexcept override { return FInner->GetWorkers(); }

    static void Store(TKvGAIndividual* Item, TGAFitness Fitness) noexcept {
        StoreFitness(Item, Fitness);
    }

private:
    TKvMPIIslands& FIslands;
    std::unique_ptr<TKvGAEvaluator> FInner;
};

namespace {

std::vector<uint64_t> ReceiveFrom(MPI_Comm Comm, int Source, int Tag) {
    MPI_Status Probe;
    MPI_Probe(Source, Tag, Comm, &Probe);
    int Count = 0;
    MPI_Get_count(&Probe, MPI_UINT64_T, &Count);
    if (Count == MPI_UNDEFINED) {
        int Bytes = 0;
        MPI_Get_count(&Probe, MPI_BYTE, &Bytes);
        std::vector<char> Raw(static_cast<size_t>(Bytes));
        MPI_Recv(Raw.data(), Bytes, MPI_BYTE, Source, Tag, Comm, MPI_STATUS_IGNORE);
        throw EMPIException(Format("A message of %i bytes from rank %i is not made of 64-bit words",
                                   Bytes, Source));
    }
    std::vector<uint64_t> Words(static_cast<size_t>(Count));
    MPI_Recv(Words.data(), Count, MPI_UINT64_T, Source, Tag, Comm, MPI_STATUS_IGNORE);
    return Words;
}

} // namespace

TKvMPIIslands::TKvMPIIslands(TKvCustomGeneticAlgorithm& Engine, MPI_Comm Comm) : FEngine(Engine) {
    MPI_Comm_dup(Comm, &FComm);
    int Rank = 0, Size = 1;
    MPI_Comm_rank(FComm, &Rank);
    MPI_Comm_size(FComm, &Size);
    FRank = Rank;
    FIslands = Size;
}

TKvMPIIslands::~TKvMPIIslands() {
    int Finalized = 0;
    MPI_Finalized(&Finalized);
    if (Finalized)
        return;
    try {
        // Migrants still on their way are received, so that every send completes.
        if (FPendingGeneration >= 0)
            (void)ReceiveFrom(FComm, (FRank + FIslands - 1) % FIslands, MPIMigrantsTag);
    } catch (...) {
    }
    if (!FSends.empty())
        MPI_Waitall(static_cast<int>(FSends.size()), FSends.data(), MPI_STATUSES_IGNORE);
    MPI_Comm_free(&FComm);
}

void TKvMPIIslands::SetMigrationInterval(int32_t Value) {
    if (Value < 0)
        throw EMPIException(
            Format("The migration interval must be 0 (never) or more, not %i", Value));
    FMigrationInterval = Value;
}

void TKvMPIIslands::SetMigrationSize(int32_t Value) {
    if (Value < 0)
        throw EMPIException(Format("The migration size must be 0 (none) or more, not %i", Value));
    FMigrationSize = Value;
}

uint64_t TKvMPIIslands::IslandSeed(uint64_t BaseSeed, int32_t Rank) noexcept {
    return TKvGAParallelEvaluator::IndividualSeed(BaseSeed, Rank);
}

const TKvGAIndividual* TKvMPIIslands::GetBest() const noexcept {
    return FBest && FBestIsland >= 0 ? FBest->GetItemUnchecked(FBestIsland) : nullptr;
}

const TKvGAIndividual* TKvMPIIslands::GetIslandBest(int32_t Island) const noexcept {
    return FBest && Island >= 0 && Island < FBest->GetCount() ? FBest->GetItemUnchecked(Island)
                                                              : nullptr;
}

void TKvMPIIslands::Initialize() {
    FEngine.SetRandomSeed(IslandSeed(FBaseSeed, FRank));
    FEngine.Initialize();
    FStarted = true;
}

void TKvMPIIslands::Evolve(int32_t Generations) {
    if (Generations < 0)
        throw EMPIException(Format("Islands cannot evolve %i generations", Generations));
    const bool Migrating = FMigrationInterval > 0 && FMigrationSize > 0;
    if (Migrating && FStarted && FMigrationSize > FEngine.GetPopulation()->GetCount())
        throw EMPIException(Format("An island of %i individuals cannot send %i migrants",
                                   FEngine.GetPopulation()->GetCount(), FMigrationSize));
    try {
        Run(Generations);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "island %i of %i: %s\n", FRank, FIslands, E.what());
        std::fflush(stderr);
        MPI_Abort(FComm, 1);
    }
}

void TKvMPIIslands::Run(int32_t Generations) {
    if (!FStarted || !FEngine.GetInitialized())
        Initialize();
    const bool Migrating = FMigrationInterval > 0 && FMigrationSize > 0;
    if (Migrating && FMigrationSize > FEngine.GetPopulation()->GetCount())
        throw EMPIException(Format("An island of %i individuals cannot send %i migrants",
                                   FEngine.GetPopulation()->GetCount(), FMigrationSize));
    FEngine.SetEvaluator(
        std::make_unique<TKvMPIIslandEvaluator>(*this, FEngine.GetEvaluationThreads()));
    struct TRestore {
        TKvCustomGeneticAlgorithm& Engine;
        ~TRestore() { Engine.SetEvaluator(nullptr); }
    } Restore{FEngine};
    for (int32_t K = 0; K < Generations; ++K) {
        FEngine.Evolve();
        if (Migrating && FEngine.GetGeneration() % FMigrationInterval == 0)
            SendMigrants();
    }
    GatherBest();
}

std::vector<TKvGAIndividual*> TKvMPIIslands::Ranked(TKvGAPopulation& Population) const {
    std::vector<TKvGAIndividual*> Items(static_cast<size_t>(Population.GetCount()));
    for (int K = 0; K < Population.GetCount(); ++K)
        Items[static_cast<size_t>(K)] = Population.GetItemUnchecked(K);
    std::stable_sort(Items.begin(), Items.end(), [this](TKvGAIndividual* A, TKvGAIndividual* B) {
        return A != B && FEngine.Fittest(B, A) == A; // A strictly better than B
    });
    return Items;
}

void TKvMPIIslands::SendMigrants() {
    TKvGAPopulation& Population = *FEngine.GetPopulation();
    const std::vector<TKvGAIndividual*> Items = Ranked(Population);
    const int32_t BitCount = Items[0]->GetBits()->GetSize();
    const size_t WordsPer = TKvMPIMessage::WordsFor(BitCount);
    std::vector<double> Fitness(static_cast<size_t>(FMigrationSize));
    std::vector<uint64_t> Words(static_cast<size_t>(FMigrationSize) * WordsPer);
    for (int32_t K = 0; K < FMigrationSize; ++K) {
        const TKvGABits* Bits = Items[static_cast<size_t>(K)]->GetBits();
        if (Bits->GetSize() != BitCount)
            throw EMPIException(Format("Individual %i has %i bits, the fittest %i: an island sends "
                                       "chromosomes of one length",
                                       Items[static_cast<size_t>(K)]->GetIndex(), Bits->GetSize(),
                                       BitCount));
        Fitness[static_cast<size_t>(K)] = Items[static_cast<size_t>(K)]->GetFitness();
        if (WordsPer)
            std::memcpy(Words.data() + static_cast<size_t>(K) * WordsPer, Bits->Words(),
                        WordsPer * sizeof(uint64_t));
    }
    TKvMPIMessage Header;
    Header.Kind = mkMigrants;
    Header.RunId = FRunId;
    Header.Sequence = static_cast<uint64_t>(FEngine.GetGeneration());
    Header.First = FRank;
    Header.Count = FMigrationSize;
    Header.BitCount = BitCount;
    // The sends of earlier migrations have long been received; their buffers are reused.
    if (!FSends.empty())
        MPI_Waitall(static_cast<int>(FSends.size()), FSends.data(), MPI_STATUSES_IGNORE);
    FSends.clear();
    FSendBuffers.clear();
    FSendBuffers.push_back(MakeMessage(Header, Fitness.data(), Words.data()));
    FSends.emplace_back();
    MPI_Isend(FSendBuffers.back().data(), static_cast<int>(FSendBuffers.back().size()),
              MPI_UINT64_T, (FRank + 1) % FIslands, MPIMigrantsTag, FComm, &FSends.back());
    FPendingGeneration = FEngine.GetGeneration();
    FPendingCount = FMigrationSize;
}

void TKvMPIIslands::MergeMigrants(TKvGAPopulation& Population) {
    const int64_t Generation = FPendingGeneration;
    const int32_t Count = FPendingCount;
    FPendingGeneration = -1;
    const std::vector<uint64_t> Data =
        ReceiveFrom(FComm, (FRank + FIslands - 1) % FIslands, MPIMigrantsTag);
    const std::vector<TKvGAIndividual*> Items = Ranked(Population);
    const int32_t BitCount = Items[0]->GetBits()->GetSize();
    TKvMPIExpectation Expect{mkMigrants, FRunId, BitCount};
    Expect.Sequence = Generation;
    Expect.Count = Count;
    const TKvMPIMessage M = CheckMessage(Data.data(), Data.size(), Expect);
    if (M.Count > Population.GetCount())
        throw EMPIException(Format("%i migrants arrived at an island of %i individuals", M.Count,
                                   Population.GetCount()));
    const size_t WordsPer = TKvMPIMessage::WordsFor(BitCount);
    for (int32_t K = 0; K < M.Count; ++K) {
        TKvGAIndividual* Item = Items[Items.size() - 1 - static_cast<size_t>(K)];
        TKvGABits* Bits = Item->GetBits();
        if (Bits->GetSize() != BitCount)
            Bits->SetSize(BitCount);
        if (WordsPer)
            std::memcpy(Bits->Words(), M.Chromosome(K), WordsPer * sizeof(uint64_t));
        TKvMPIIslandEvaluator::Store(Item, M.FitnessAt(K));
    }
    FMigrantsReceived += M.Count;
}

void TKvMPIIslands::GatherBest() {
    // This island's fittest individual, as a best message.
    const TKvGAIndividual* Fittest = FEngine.GetFittestIndividual();
    if (Fittest == nullptr)
        Fittest =
            FEngine.GetPopulation()->GetCount() ? FEngine.GetPopulation()->GetItem(0) : nullptr;
    TKvMPIMessage Header;
    Header.Kind = mkBest;
    Header.RunId = FRunId;
    Header.Sequence = static_cast<uint64_t>(FEngine.GetGeneration());
    Header.First = FRank;
    Header.Count = Fittest ? 1 : 0;
    Header.BitCount = Fittest ? Fittest->GetBits()->GetSize() : FEngine.GetGeneSize();
    const double Fitness = Fittest ? Fittest->GetFitness() : 0;
    const std::vector<uint64_t> Mine =
        MakeMessage(Header, &Fitness, Fittest ? Fittest->GetBits()->Words() : nullptr);

    int MySize = static_cast<int>(Mine.size());
    std::vector<int> Sizes(static_cast<size_t>(FIslands));
    MPI_Gather(&MySize, 1, MPI_INT, Sizes.data(), 1, MPI_INT, 0, FComm);
    std::vector<int> Offsets(static_cast<size_t>(FIslands), 0);
    std::vector<uint64_t> All;
    if (FRank == 0) {
        size_t Total = 0;
        for (int R = 0; R < FIslands; ++R) {
            Offsets[static_cast<size_t>(R)] = static_cast<int>(Total);
            Total += static_cast<size_t>(Sizes[static_cast<size_t>(R)]);
        }
        All.resize(Total);
    }
    MPI_Gatherv(Mine.data(), MySize, MPI_UINT64_T, All.data(), Sizes.data(), Offsets.data(),
                MPI_UINT64_T, 0, FComm);
    if (FRank != 0)
        return;

    const int32_t BitCount = static_cast<int32_t>(Header.BitCount);
    FBest =
        std::make_unique<TKvGAPopulation>(nullptr, FEngine.GetPopulation()->GetIndividualClass());
    FBestIsland = -1;
    const size_t WordsPer = TKvMPIMessage::WordsFor(BitCount);
    for (int R = 0; R < FIslands; ++R) {
        TKvMPIExpectation Expect{mkBest, FRunId, BitCount};
        Expect.Sequence = static_cast<int64_t>(Header.Sequence);
        const TKvMPIMessage M =
            CheckMessage(All.data() + Offsets[static_cast<size_t>(R)],
                         static_cast<size_t>(Sizes[static_cast<size_t>(R)]), Expect);
        if (M.First != R || M.Count > 1)
            throw EMPIException(Format("Island %i sent the best of island %i (%i individuals)", R,
                                       M.First, M.Count));
        TKvGAIndividual* Item = FBest->Add();
        Item->GetBits()->SetSize(BitCount);
        if (M.Count == 1) {
            if (WordsPer)
                std::memcpy(Item->GetBits()->Words(), M.Chromosome(0), WordsPer * sizeof(uint64_t));
            TKvMPIIslandEvaluator::Store(Item, M.FitnessAt(0));
            if (FBestIsland < 0 ||
                FEngine.Fittest(FBest->GetItemUnchecked(FBestIsland), Item) == Item)
                FBestIsland = R;
        }
    }
    // Fittest returns its first argument on a tie: the lowest island keeps the place.
}

} // namespace kv
