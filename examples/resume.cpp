// Stop and resume a run: evolves until Ctrl-C, a time budget or a generation budget, writes a
// checkpoint, and on the next start continues from it exactly as if the run had never stopped.
//
//   resume [--fresh] [--seconds S] [--generations G] [--verify] [FILE]
//
//   FILE            the checkpoint (default resume.xml): continued when it exists, else a new run
//   --fresh         start a new run even when FILE exists
//   --seconds S     stop after S seconds of this start (default 10)
//   --generations G stop after G generations of this start (default: no limit)
//   --verify        after stopping, run the same number of generations again from the seed in one
//                   go and say whether that gives the same checkpoint, byte for byte
//
// The problem is a noisy OneMax: 1024 bits, the fitness the count of 1 bits plus a measurement
// noise that the fitness callback draws with kv::Random(). The engine has its own random stream
// (SetRandomSeed), so the noise comes from the engine's stream too and the checkpoint holds it.
// A checkpoint section ("Sessions") counts the starts of the run, kept by this program; a hall of
// fame of the best individuals ever keeps itself in the checkpoint too, and a progress line shows
// the run (redrawn in place on a terminal, at most a line a second otherwise).
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/records/KvRecords.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/random.h"
#include "kv/xml/xml_node.h"

namespace {

volatile std::sig_atomic_t Interrupted = 0;

void OnInterrupt(int) {
    Interrupted = 1;
}

constexpr int Bits = 1024;
constexpr uint64_t Seed = 2026;

// Callbacks are not saved: every start sets them.
void SetCallbacks(kv::TKvGeneticAlgorithm& GA) {
    GA.SetOnEvaluateFitness([](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        const kv::TKvGABits& B = *Item->GetBits();
        int Ones = 0;
        for (size_t W = 0; W < B.WordCount(); ++W)
            Ones += __builtin_popcountll(B.Words()[W]);
        F = Ones + 0.5 * kv::Random(); // drawn from the engine's stream while it evolves
    });
}

// A new run: everything else is in the checkpoint from then on.
void SetUpNewRun(kv::TKvGeneticAlgorithm& GA) {
    GA.SetGeneSize(Bits);
    GA.SetInitialPopulation(100);
    GA.SetFitnessMethod(kv::fmMaximize);
    GA.SetSelectionMethod(kv::smTournament);
    GA.SetCrossoverMethod(kv::cmBitBoundary);
    GA.SetMutationProbability(1.0 / Bits);
    GA.SetRandomSeed(Seed);
    SetCallbacks(GA);
}

std::string CheckpointText(const kv::TKvGeneticAlgorithm& GA) {
    std::ostringstream S;
    GA.SaveCheckpoint(S);
    return S.str();
}

} // namespace

int main(int argc, char** argv) {
    std::string File = "resume.xml";
    bool Fresh = false, Verify = false;
    double Seconds = 10;
    long Generations = -1;
    for (int I = 1; I < argc; ++I) {
        const std::string Arg = argv[I];
        if (Arg == "--fresh") {
            Fresh = true;
        } else if (Arg == "--verify") {
            Verify = true;
        } else if (Arg == "--seconds" && I + 1 < argc) {
            Seconds = std::atof(argv[++I]);
        } else if (Arg == "--generations" && I + 1 < argc) {
            Generations = std::atol(argv[++I]);
        } else if (Arg.rfind("--", 0) != 0) {
            File = Arg;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--fresh] [--seconds S] [--generations G] [--verify] "
                         "[FILE]\n",
                         argv[0]);
            return 2;
        }
    }

    kv::TKvGeneticAlgorithm GA;
    int Sessions = 0; // kept in the checkpoint's section "Sessions"
    GA.SetCheckpointSection(
        "Sessions",
        [&Sessions](kv::IXMLNode& Section) { Section.SetChildAsInteger("Count", Sessions); },
        [&Sessions](kv::IXMLNode* Section) -> std::function<void()> {
            const int Count = Section ? Section->GetChildAsInteger("Count") : 0; // checked first
            return [&Sessions, Count] { Sessions = Count; };                     // applied last
        });
    kv::TKvHallOfFame Hall(5); // attached before loading: the checkpoint restores it
    Hall.Attach(GA);
    try {
        if (!Fresh && std::filesystem::exists(File)) {
            SetCallbacks(GA);
            GA.LoadCheckpoint(File);
            std::printf("continuing %s at generation %d, best fitness %.1f\n", File.c_str(),
                        GA.GetGeneration(), GA.GetMaxFitness());
        } else {
            SetUpNewRun(GA);
            std::printf("a new run of %d bits, seed %llu\n", Bits,
                        static_cast<unsigned long long>(Seed));
        }
    } catch (const kv::Exception& E) {
        std::fprintf(stderr, "cannot continue %s: %s\n", File.c_str(), E.what());
        return 1;
    }
    ++Sessions;

    std::fflush(stdout); // the progress line writes to std::cout
    kv::TKvProgressLine Progress(std::cout);
    Progress.SetInterval(1); // the run's length is a budget of time, not of generations
    Progress.Attach(GA);
    std::signal(SIGINT, OnInterrupt);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point Start = Clock::now();
    Clock::time_point LastSave = Start;
    const char* Reason = "the time budget";
    for (long G = 0;; ++G) {
        if (Interrupted) {
            Reason = "Ctrl-C";
            break;
        }
        if (Generations >= 0 && G >= Generations) {
            Reason = "the generation budget";
            break;
        }
        const Clock::time_point Now = Clock::now();
        if (std::chrono::duration<double>(Now - Start).count() >= Seconds)
            break;
        if (Now - LastSave >= std::chrono::seconds(5)) { // a crash loses at most 5 seconds
            GA.SaveCheckpoint(File);
            LastSave = Now;
        }
        GA.Evolve();
    }
    Progress.Finish();
    GA.SaveCheckpoint(File); // replaces the file in one step: an interrupted save keeps the old
    std::printf("session %d stopped by %s at generation %d, best fitness %.1f; checkpoint in %s\n",
                Sessions, Reason, GA.GetGeneration(), GA.GetMaxFitness(), File.c_str());
    if (const kv::TKvGAIndividual* Best = Hall.GetBest())
        std::printf("the best individual ever scored %.3f, in generation %d\n", Best->GetFitness(),
                    Hall.GetGeneration(0));

    if (Verify) {
        kv::TKvGeneticAlgorithm Whole;
        SetUpNewRun(Whole);
        kv::TKvHallOfFame WholeHall(5); // restored across the sessions, it must match this one
        WholeHall.Attach(Whole);
        Whole.Evolve(GA.GetGeneration());
        GA.RemoveCheckpointSection("Sessions"); // the one thing the uninterrupted run lacks
        const bool Same = CheckpointText(Whole) == CheckpointText(GA);
        std::printf("the same %d generations run in one go give %s checkpoint\n",
                    GA.GetGeneration(), Same ? "the same" : "a DIFFERENT");
        return Same ? 0 : 1;
    }
}
