// Quick start for genetic programming: breeds a program of three stack instructions that computes
// f(x) = x*x + x from the x on its stack, and prints it. It uses modulo decoding, so that every
// chromosome is a program; the default decoding leaves slot value 3 without an instruction.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "kv/gp/KvGeneticProgram.h"
#include "kv/rtl/random.h"

int main() {
    kv::RandSeed(7);
    kv::TKvGPVirtualMachine VM; // runs programs of caller-defined instructions on a value stack
    kv::TKvGeneticProgram GP;   // breeds chromosomes that the machine reads as programs
    GP.SetVM(&VM);
    VM.SetGeneticAlgorithm(&GP);
    for (const char* Name : {"Dup", "Add", "Mul"}) // each addition lays out GP's genes anew
        VM.GetInstructionSet()->Add()->SetName(Name);
    VM.SetModuloDecoding(true); // slot value v names instruction v mod 3: the 2-bit value 3 is Dup
    VM.SetOnExecuteInstruction([](kv::TObject*, kv::TVMExecutionStack* S, kv::TVMInstruction* I) {
        if (I->GetName() == "Dup" && S->GetCount() >= 1) {
            S->Push(S->GetTop());
        } else if (I->GetName() != "Dup" && S->GetCount() >= 2) {
            const int64_t B = S->Pop().AsInt64(), A = S->Pop().AsInt64();
            S->Push(I->GetName() == "Add" ? A + B : A * B);
        } // too few values: the instruction does nothing
    });

    GP.SetGeneSize(6 * GP.GetGenes()->GetItem(0)->GetSize()); // programs of six instructions
    GP.SetFitnessMethod(kv::fmMaximize);
    GP.SetUseFitnessCutoff(true); // an exact program scores 1.0, the cut-off
    GP.SetOnEvaluateFitness([&](kv::TObject*, kv::TKvGAIndividual* Item, kv::TGAFitness& F) {
        kv::TKvGPVirtualMachine& M = *GP.GetGPVirtualMachine(); // VM, or a parallel worker's copy
        if (!M.TryCompile(Item)) // only without modulo decoding: a slot named no instruction
            return;
        double Error = 0;
        for (int X = -3; X <= 3; ++X) {
            GP.InitializeStack({X}); // X on the stack, the program back at its start
            GP.ExecuteProgram();
            const int64_t Y = M.GetStack()->GetCount() ? M.GetStack()->GetTop().AsInt64() : 99;
            Error += std::llabs(Y - (X * X + X));
        }
        F = 1.0 / (1.0 + Error);
    });
    GP.Evolve(200);

    VM.DecodeProgram(GP.GetFittestIndividual()); // the chromosome as instruction names
    std::printf("fitness %g after %d generations:\n%s", GP.GetMaxFitness(), GP.GetGeneration(),
                VM.GetGPProgram()->GetText().c_str());
}
