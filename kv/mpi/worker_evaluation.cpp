// Worker evaluation over MPI: rank 0's evaluator, the worker loop and the helper that runs both.
#include "kv/mpi/worker_evaluation.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <optional>

#include "kv/ga/persistence.h"
#include "kv/ga/population.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/random.h"

namespace kv {

namespace {

using Clock = std::chrono::steady_clock;

// The least work a batch carries once the cost of an individual is known, so that a message
// stays cheap beside the work it brings.
constexpr double BatchNs = 20'000;
// A round whose work is expected to take less than this stays on rank 0 (with the chosen batch
// sizes, when rank 0 scores).
constexpr double InlineRoundNs = 200'000;

int RankOf(MPI_Comm Comm) {
    int Rank = 0;
    MPI_Comm_rank(Comm, &Rank);
    return Rank;
}

int SizeOf(MPI_Comm Comm) {
    int Size = 0;
    MPI_Comm_size(Comm, &Size);
    return Size;
}

// Receives the message whose status Probe gave: as words, or, when its size is not a whole
// number of words, as bytes (the caller then refuses it). Returns the words and sets Bytes.
std::vector<uint64_t> ReceiveWords(MPI_Comm Comm, const MPI_Status& Probe, long long& Bytes) {
    int Count = 0;
    MPI_Get_count(&Probe, MPI_UINT64_T, &Count);
    if (Count == MPI_UNDEFINED) {
        int ByteCount = 0;
        MPI_Get_count(&Probe, MPI_BYTE, &ByteCount);
        std::vector<char> Raw(static_cast<size_t>(ByteCount));
        MPI_Recv(Raw.data(), ByteCount, MPI_BYTE, Probe.MPI_SOURCE, Probe.MPI_TAG, Comm,
                 MPI_STATUS_IGNORE);
        Bytes = ByteCount;
        return {};
    }
    std::vector<uint64_t> Words(static_cast<size_t>(Count));
    MPI_Recv(Words.data(), Count, MPI_UINT64_T, Probe.MPI_SOURCE, Probe.MPI_TAG, Comm,
             MPI_STATUS_IGNORE);
    Bytes = static_cast<long long>(Count) * 8;
    return Words;
}

[[noreturn]] void RaiseNotWords(const char* What, long long Bytes, int Source) {
    throw EMPIException(Format("A %s message of %lld bytes from rank %i is not made of 64-bit "
                               "words",
                               What, Bytes, Source));
}

// The text of the exception being handled.
std::string CurrentMessage() {
    try {
        throw;
    } catch (const std::exception& E) {
        return E.what();
    } catch (...) {
        return "an exception that is not a std::exception";
    }
}

} // namespace

// ---- rank 0 ----

TKvMPIEvaluator::TKvMPIEvaluator(const TKvMPIWorkerOptions& Options) : FOptions(Options) {
    if (Options.BatchSize < 0)
        throw EMPIException(
            Format("The batch size of worker evaluation must be 0 (chosen) or more, not %i",
                   Options.BatchSize));
}

void TKvMPIEvaluator::Evaluate(TKvCustomGeneticAlgorithm& Engine, TKvGAPopulation& Population) {
    const int32_t Count = Population.GetCount();
    if (Count == 0)
        return;
    MPI_Comm Comm = FOptions.Comm;
    const int Ranks = SizeOf(Comm);
    const int Workers = Ranks - 1;
    // The round's one draw from the current source.
    const uint64_t Draw = ThreadRandomSource().Next();
    const uint64_t Round = ++FRound;

    std::vector<TKvGAIndividual*> Items(static_cast<size_t>(Count));
    for (int32_t K = 0; K < Count; ++K)
        Items[static_cast<size_t>(K)] = Population.GetItemUnchecked(K);
    const int32_t BitCount = Items[0]->GetBits()->GetSize();
    for (int32_t K = 1; K < Count; ++K)
        if (Items[static_cast<size_t>(K)]->GetBits()->GetSize() != BitCount)
            throw EMPIException(Format("Individual %i has %i bits and individual 0 has %i: worker "
                                       "evaluation sends chromosomes of one length",
                                       K, Items[static_cast<size_t>(K)]->GetBits()->GetSize(),
                                       BitCount));
    const size_t WordsPer = TKvMPIMessage::WordsFor(BitCount);

    std::vector<double> Fitness(static_cast<size_t>(Count), 0);
    std::vector<unsigned char> Scored(static_cast<size_t>(Count), 0);
    FScoredPerRank.assign(static_cast<size_t>(Ranks), 0);

    // The failure of the lowest individual so far: a local exception or a worker's message.
    int32_t FailedIndex = INT32_MAX;
    std::exception_ptr Failure;
    bool Stop = false;
    auto Fail = [&](int32_t Index, std::exception_ptr E) {
        if (Index < FailedIndex) {
            FailedIndex = Index;
            Failure = std::move(E);
        }
        Stop = true;
    };

    struct TRange {
        int32_t First, Count;
    };
    std::vector<std::deque<TRange>> Out(static_cast<size_t>(Ranks));
    int32_t Next = 0;
    int Outstanding = 0;
    // Sends in flight: their buffers live until the round has waited for them.
    std::vector<std::vector<uint64_t>> SendBuffers;
    std::vector<MPI_Request> Sends;

    auto BatchSize = [&]() -> int32_t {
        const int32_t Left = Count - Next;
        if (FOptions.BatchSize > 0)
            return std::min(FOptions.BatchSize, Left);
        int32_t Size = (Left + 4 * Ranks - 1) / (4 * Ranks);
        if (FNsPerIndividual > 0) {
            const double Least = BatchNs / FNsPerIndividual;
            if (Least > Size)
                Size = Least >= Left ? Left : static_cast<int32_t>(Least) + 1;
        }
        return std::clamp(Size, 1, Left);
    };
    auto SendNext = [&](int Rank) {
        if (Stop || Next >= Count)
            return;
        const int32_t N = BatchSize();
        std::vector<uint64_t> Words(static_cast<size_t>(N) * WordsPer);
        for (int32_t K = 0; K < N; ++K)
            if (WordsPer)
                std::memcpy(Words.data() + static_cast<size_t>(K) * WordsPer,
                            Items[static_cast<size_t>(Next + K)]->GetBits()->Words(),
                            WordsPer * sizeof(uint64_t));
        TKvMPIMessage Header;
        Header.Kind = mkBatch;
        Header.RunId = FOptions.RunId;
        Header.Sequence = Round;
        Header.Draw = Draw;
        Header.First = Next;
        Header.Count = N;
        Header.BitCount = BitCount;
        SendBuffers.push_back(MakeMessage(Header, nullptr, Words.data()));
        Sends.emplace_back();
        MPI_Isend(SendBuffers.back().data(), static_cast<int>(SendBuffers.back().size()),
                  MPI_UINT64_T, Rank, MPIWorkTag, Comm, &Sends.back());
        Out[static_cast<size_t>(Rank)].push_back({Next, N});
        Next += N;
        ++Outstanding;
    };

    // Rank 0 scores inside a worker scope with the individual's own stream bound, as a thread of
    // the parallel mode does.
    std::optional<TKvGAWorkerScope> Scope;
    TRandomSource Stream;
    const TRandomSourceBinding Binding(&Stream);
    double LocalNs = 0;
    int64_t Local = 0;
    auto ScoreLocally = [&](int32_t Index) {
        const Clock::time_point T0 = Clock::now();
        try {
            if (!Scope)
                Scope.emplace(Engine); // a genetic program copies its machine here
            Stream.SetSeed(TKvGAParallelEvaluator::IndividualSeed(Draw, Index));
            Fitness[static_cast<size_t>(Index)] =
                Engine.EvaluateFitness(Items[static_cast<size_t>(Index)]);
            Scored[static_cast<size_t>(Index)] = 1;
        } catch (...) {
            Fail(Index, std::current_exception());
        }
        LocalNs += std::chrono::duration<double, std::nano>(Clock::now() - T0).count();
        ++Local;
    };

    auto ReceiveAnswer = [&](const MPI_Status& Probe) {
        const int Source = Probe.MPI_SOURCE;
        std::deque<TRange>& Queue = Out[static_cast<size_t>(Source)];
        long long Bytes = 0;
        const std::vector<uint64_t> Data = ReceiveWords(Comm, Probe, Bytes);
        if (Queue.empty()) {
            // An answer nobody asked for: the protocol is broken beyond a retry.
            Fail(-1, std::make_exception_ptr(EMPIException(
                         Format("Rank %i answered a batch it was never sent (round %llu)", Source,
                                static_cast<unsigned long long>(Round)))));
            return;
        }
        const TRange Range = Queue.front();
        Queue.pop_front();
        --Outstanding;
        try {
            if (Data.empty() && Bytes % 8 != 0)
                RaiseNotWords("scores", Bytes, Source);
            TKvMPIExpectation Expect{mkScores, FOptions.RunId};
            Expect.Sequence = static_cast<int64_t>(Round);
            const TKvMPIMessage M = CheckMessage(Data.data(), Data.size(), Expect);
            if (M.First != Range.First ||
                (M.Kind == mkScores ? M.Count != Range.Count : M.Count >= Range.Count))
                throw EMPIException(Format("Rank %i answered individuals %i to %i for the batch of "
                                           "individuals %i to %i",
                                           Source, M.First, M.First + M.Count - 1, Range.First,
                                           Range.First + Range.Count - 1));
            for (int32_t K = 0; K < M.Count; ++K) {
                Fitness[static_cast<size_t>(Range.First + K)] = M.FitnessAt(K);
                Scored[static_cast<size_t>(Range.First + K)] = 1;
            }
            FScoredPerRank[static_cast<size_t>(Source)] += M.Count;
            if (M.Kind == mkFailure)
                Fail(Range.First + M.Count, std::make_exception_ptr(EMPIRemoteError(
                                                Source, Range.First + M.Count, M.Text)));
        } catch (const EMPIException&) {
            Fail(Range.First, std::current_exception());
        }
        SendNext(Source);
    };

    // A round of tiny work (as rank 0 measured it) costs less on rank 0 alone than in messages.
    const bool Alone = FOptions.BatchSize == 0 && FOptions.MasterScores && FNsPerIndividual > 0 &&
                       FNsPerIndividual * Count < InlineRoundNs;
    if (!Alone)
        for (int Depth = 0; Depth < 2; ++Depth)
            for (int Rank = 1; Rank < Ranks; ++Rank)
                SendNext(Rank);
    const bool MasterScores = FOptions.MasterScores || Workers == 0;
    while (Outstanding > 0 || (!Stop && Next < Count)) {
        MPI_Status Probe;
        int Waiting = 0;
        MPI_Iprobe(MPI_ANY_SOURCE, MPIAnswerTag, Comm, &Waiting, &Probe);
        if (Waiting) {
            ReceiveAnswer(Probe);
        } else if (MasterScores && !Stop && Next < Count) {
            ScoreLocally(Next++);
        } else if (Outstanding > 0) {
            MPI_Probe(MPI_ANY_SOURCE, MPIAnswerTag, Comm, &Probe);
            ReceiveAnswer(Probe);
        } else {
            // Workers only, and they have everything sent so far answered: send again.
            for (int Rank = 1; Rank < Ranks && Next < Count; ++Rank)
                SendNext(Rank);
        }
    }
    Scope.reset();
    if (!Sends.empty())
        MPI_Waitall(static_cast<int>(Sends.size()), Sends.data(), MPI_STATUSES_IGNORE);
    FScoredPerRank[0] = Local;
    if (Local > 0)
        FNsPerIndividual = LocalNs / static_cast<double>(Local) + 1;

    // As a serial evaluation would leave them: new fitness up to the first unscored individual.
    for (size_t I = 0; I < Items.size() && Scored[I]; ++I)
        StoreFitness(Items[I], Fitness[I]);
    if (Failure)
        std::rethrow_exception(Failure);
}

// ---- the other ranks ----

TKvMPIWorker::TKvMPIWorker(TKvCustomGeneticAlgorithm& Engine, const TKvMPIWorkerOptions& Options)
    : FEngine(Engine), FOptions(Options) {}

int64_t TKvMPIWorker::Run() {
    MPI_Comm Comm = FOptions.Comm;
    // The engine's own stream would be bound over each individual's: set it aside while serving.
    struct TSetAside {
        TKvCustomGeneticAlgorithm& Engine;
        std::optional<TRandomSource::TState> State;
        explicit TSetAside(TKvCustomGeneticAlgorithm& E) : Engine(E) {
            if (const TRandomSource* Own = Engine.GetRandomSource()) {
                State = Own->GetState();
                Engine.UseThreadRandomSource();
            }
        }
        ~TSetAside() {
            if (State) {
                Engine.SetRandomSeed(0);
                Engine.GetRandomSource()->SetState(*State);
            }
        }
    } SetAside(FEngine);

    int64_t Total = 0;
    std::vector<double> Fitness;
    for (;;) {
        MPI_Status Probe;
        MPI_Probe(0, MPIWorkTag, Comm, &Probe);
        long long Bytes = 0;
        const std::vector<uint64_t> Data = ReceiveWords(Comm, Probe, Bytes);
        TKvMPIMessage Header;
        Header.Kind = mkFailure;
        Header.RunId = FOptions.RunId;
        std::string FailureText;
        TKvMPIMessage M;
        try {
            if (Data.empty() && Bytes % 8 != 0)
                RaiseNotWords("batch", Bytes, 0);
            M = CheckMessage(Data.data(), Data.size(),
                             {mkBatch, FOptions.RunId, FEngine.GetGeneSize()});
        } catch (const EMPIException& E) {
            // Answer in the terms of the header when it can be read, so that rank 0 matches the
            // answer with its batch and raises this text.
            if (Data.size() >= TKvMPIMessage::HeaderWords && Data[5] <= INT32_MAX) {
                Header.Sequence = Data[3];
                Header.First = static_cast<int32_t>(Data[5]);
            }
            const std::vector<uint64_t> Answer = MakeMessage(Header, nullptr, nullptr, E.what());
            MPI_Send(Answer.data(), static_cast<int>(Answer.size()), MPI_UINT64_T, 0, MPIAnswerTag,
                     Comm);
            continue;
        }
        if (M.Kind == mkStop)
            return Total;

        // The batch's chromosomes go into the individuals at its indices.
        TKvGAPopulation& Population = *FEngine.GetPopulation();
        Header.Sequence = M.Sequence;
        Header.First = M.First;
        Fitness.assign(static_cast<size_t>(M.Count), 0);
        int32_t Done = 0;
        try {
            // The worker holds the individuals up to the batch's last, within the limits of a
            // loaded population (kv/ga/persistence.h), so that a bad batch cannot exhaust memory.
            const int64_t Needed = static_cast<int64_t>(M.First) + M.Count;
            if (Needed * std::max<int64_t>(M.BitCount, 1) > MaxPopulationBits)
                throw EMPIException(Format("A batch reaches individual %lld of %i bits: more than "
                                           "the %lld bits a population may hold",
                                           static_cast<long long>(Needed - 1), M.BitCount,
                                           static_cast<long long>(MaxPopulationBits)));
            while (Population.GetCount() < M.First + M.Count)
                Population.Add();
            const size_t WordsPer = TKvMPIMessage::WordsFor(M.BitCount);
            TKvGAWorkerScope Scope(FEngine);
            TRandomSource Stream;
            const TRandomSourceBinding Binding(&Stream);
            for (; Done < M.Count; ++Done) {
                TKvGAIndividual* Item = Population.GetItemUnchecked(M.First + Done);
                TKvGABits* Bits = Item->GetBits();
                if (Bits->GetSize() != M.BitCount)
                    Bits->SetSize(M.BitCount);
                if (WordsPer)
                    std::memcpy(Bits->Words(), M.Chromosome(Done), WordsPer * sizeof(uint64_t));
                Stream.SetSeed(TKvGAParallelEvaluator::IndividualSeed(M.Draw, M.First + Done));
                Fitness[static_cast<size_t>(Done)] = FEngine.EvaluateFitness(Item);
            }
        } catch (...) {
            FailureText = CurrentMessage();
        }
        Total += Done;
        Header.Kind = Done == M.Count ? mkScores : mkFailure;
        Header.Count = Done;
        const std::vector<uint64_t> Answer =
            MakeMessage(Header, Fitness.data(), nullptr, FailureText);
        MPI_Send(Answer.data(), static_cast<int>(Answer.size()), MPI_UINT64_T, 0, MPIAnswerTag,
                 Comm);
    }
}

// ---- both ----

void StopMPIWorkers(MPI_Comm Comm, uint64_t RunId) {
    TKvMPIMessage Header;
    Header.Kind = mkStop;
    Header.RunId = RunId;
    const std::vector<uint64_t> Stop = MakeMessage(Header, nullptr, nullptr);
    const int Ranks = SizeOf(Comm);
    for (int Rank = 1; Rank < Ranks; ++Rank)
        MPI_Send(Stop.data(), static_cast<int>(Stop.size()), MPI_UINT64_T, Rank, MPIWorkTag, Comm);
}

bool RunMPIWorkers(TKvCustomGeneticAlgorithm& Engine, const std::function<void()>& Master,
                   const TKvMPIWorkerOptions& Options) {
    if (Options.BatchSize < 0)
        throw EMPIException(
            Format("The batch size of worker evaluation must be 0 (chosen) or more, not %i",
                   Options.BatchSize));
    MPI_Comm Comm = MPI_COMM_NULL;
    MPI_Comm_dup(Options.Comm, &Comm);
    struct TFree {
        MPI_Comm& Comm;
        ~TFree() { MPI_Comm_free(&Comm); }
    } Free{Comm};
    TKvMPIWorkerOptions Own = Options;
    Own.Comm = Comm;
    if (RankOf(Comm) != 0) {
        try {
            TKvMPIWorker(Engine, Own).Run();
        } catch (const std::exception& E) {
            // Batches fail on their own (rank 0 raises them); this is the loop itself failing,
            // and rank 0 would wait for this rank for ever: end the job instead.
            std::fprintf(stderr, "worker rank %i: %s\n", RankOf(Comm), E.what());
            std::fflush(stderr);
            MPI_Abort(Comm, 1);
        }
        return false;
    }
    // Gives the engine back its own evaluator unless Master installed another one.
    auto Restore = [&] {
        const auto* Installed = dynamic_cast<const TKvMPIEvaluator*>(Engine.GetEvaluator());
        if (Installed != nullptr && Installed->GetComm() == Comm)
            Engine.SetEvaluator(nullptr);
    };
    try {
        Engine.SetEvaluator(std::make_unique<TKvMPIEvaluator>(Own));
        Master();
    } catch (...) {
        // The workers wait for rank 0's word whatever happened here.
        StopMPIWorkers(Comm, Own.RunId);
        try {
            Restore();
        } catch (...) {
        }
        throw;
    }
    StopMPIWorkers(Comm, Own.RunId);
    Restore();
    return true;
}

} // namespace kv
