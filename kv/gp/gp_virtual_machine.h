// TKvGPVirtualMachine: the stack machine of TKvVirtualMachine bound to a genetic-algorithm engine,
// so that an individual's chromosome is a program.
//
// How a chromosome encodes a program
//   The genotype is one enumerated gene named "Instructions" whose value list holds the display
//   names of the instruction set, in set order (UpdateGenes builds it). Its Size is
//   BitsRequired(number of instructions): 1 instruction -> 1 bit, 2-3 -> 2, 4-7 -> 3, 8-15 -> 4.
//   The chromosome is read as n = (chromosome bits) div Size consecutive slots; bits left over at
//   the end are ignored. Slot k is the integer the first gene reads at bit k * Size (the gene's
//   PreserveSignBit decides whether its top bit is a sign bit; the gene built here reads unsigned
//   values). A slot value v is a valid code when 0 <= v < the number of instructions: the
//   instruction at that position. Size bits always admit some values outside the set (5, 6 and 7
//   with five instructions), so random chromosomes usually hold a few invalid slots.
//   Only the first gene of the engine is consulted. The chromosome is only read: its
//   PreserveSignBit field is left as it was.
//
// Modulo decoding (ModuloDecoding, false by default)
//   With ModuloDecoding set, a slot value v stands for the instruction at position v mod N (N the
//   number of instructions; a negative v of a signed gene counts from the end, so the result is
//   always 0 .. N - 1): every slot names an instruction and every chromosome is a program, so no
//   breeding effort goes to undecodable individuals. DecodeProgram, Compile and TryCompile all
//   decode this way; the codes in EncodedProgram are the reduced ones. It changes the meaning of
//   a chromosome, not the genes: the instruction gene, its size and its saved form stay as they
//   are. Like the machine's other properties it is not saved (the engine's documents hold no
//   machine settings): a caller that loads a population bred this way sets it again.
//
// Operations
//   UpdateGenes(Genes)     in one batch of Genes (closed on every path): removes every gene, adds
//                          "Instructions", makes it gtEnumeration, then gives it the instruction
//                          names. The engine grows its chromosomes when the genotype needs more
//                          bits (it never shrinks them).
//   DecodeProgram(GA, Item)
//                          replaces GPProgram (one batch) with one line per slot: the instruction's
//                          Name, or "INVALID OPERATION" for a slot outside the set. Closing the
//                          batch runs ProgramChange, so the state empties and the next step
//                          compiles the names.
//   Compile(GA, Item)      writes the slots into EncodedProgram (length n), adds esEncoded and sets
//                          ExecutionIndex to 0 (-1 when n is 0). esEncoding is held while it runs;
//                          esEncoded is dropped at the start, because the encoded program is being
//                          overwritten. On the first slot outside the set: esInvalidOperation is
//                          added, the value stays at its position and EGPException
//                          SUnknownInstruction is raised with its decimal text ("Unknown
//                          instruction "7""). GPProgram is not touched, the finished flags are not
//                          cleared and esInitialized is not added: call Initialized before running
//                          (the genetic program engine does).
//   TryCompile(GA, Item)   Compile without the exception: runs Compile(GA, Item) (virtual, so a
//                          descendant's override takes part) in a quiet mode in which this class's
//                          Compile reports a slot outside the set by the state alone (state and
//                          EncodedProgram exactly as the raising Compile leaves them) instead of
//                          raising. Returns whether the state then holds esEncoded. For callers
//                          that score undecodable individuals instead of stopping on them: raising
//                          and catching an exception costs about a microsecond, and most random
//                          programs are undecodable. An exception that a descendant's Compile
//                          raises itself passes out.
//   The one-argument forms use GeneticAlgorithm; without a bound engine they raise EGPException
//   "Missing Genetic Program Engine" and change nothing. The GA given to the two-argument forms
//   need not be the bound one.
//
// Extending: to change how an individual compiles, override Compile(GA, Item). The genetic
// program engine compiles through TryCompile when it scores individuals and through Compile when
// ExecuteIndividual is called directly; both reach the override. An override that calls this
// class's Compile and then goes on should check GetExecutionState().Contains(esEncoded): inside a
// TryCompile the inherited Compile returns after an undecodable slot instead of raising. The quiet
// mode holds for every compile of this class made during the TryCompile.
//
// Binding (SetGeneticAlgorithm): binding another engine stops the free notification from the old
// one and asks the new one for it; the machine does not own the engine. When the bound engine is
// destroyed, GeneticAlgorithm becomes nullptr. Destroying the machine unbinds it first. Binding
// does not lay the genes out (and an engine that is already being destroyed binds as nullptr);
// while an engine is bound, every addition, removal, rename or other change of an instruction lays
// out that engine's genes again through UpdateGenes (once more at the end of a batch of the
// instruction set).
//
// Errors (EGPException; nothing is changed when one is raised before reading, as listed)
//   "Missing Genetic Program Engine"  a one-argument form without a bound engine, or a null GA
//   a null Item, an engine without genes, or a first gene of Size 0 (no instruction, or genes
//                                     never laid out): a message naming what is missing, raised by
//                                     DecodeProgram, Compile and TryCompile before anything changes
//   SUnknownInstruction               Compile on a slot outside the instruction set (see above)
//   a null Genes in UpdateGenes
//
// Copies for parallel evaluation (CreateCopy): the genetic-program engine runs each worker thread
// on its own copy of its machine, because a machine holds the state of one run. A copy has the
// same instructions (names, comments and OnExecute callbacks), the same machine events
// (OnExecuteInstruction, OnError, OnExecuting, OnExecuted, OnFinished, OnInitialize), the same
// ModuloDecoding and the same name, an empty stack and program, and no owner. It reads programs
// through the same engine, but it is not bound to it: it neither asks for the engine's free
// notification nor lays out its genes, so the engine must outlive it (the engine that made it
// destroys it). Callbacks are copied as std::function objects, so they share what they captured: a
// callback that captured the original machine reaches the original, not the copy, and must use its
// Sender (the machine for machine events; for an instruction's OnExecute,
// Item->GetCollection()->GetOwner()) or the engine's GetVM() instead. A descendant with state of
// its own overrides CreateCopy, returning an object of its own class (the engine checks the class
// and refuses a copy of another one), and calls CopyTo to copy what this class holds. Copying only
// reads the original.
//
// Performance: Compile reads the slots straight into EncodedProgram, whose storage is reused from
// one individual to the next; it allocates only when a program is longer than any before.
//
// Not thread-safe: the machine, its bound engine and their callbacks run on one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kv/gp/gp_vm_interface.h"
#include "kv/gp/virtual_machine.h"

namespace kv {

class TKvGAGene;

class TKvGPVirtualMachine : public TKvVirtualMachine, public virtual IKvGPVirtualMachine {
public:
    using TKvVirtualMachine::TKvVirtualMachine;
    // Unbinds the engine, then the machine is destroyed as a TKvVirtualMachine.
    ~TKvGPVirtualMachine() override;

    std::string ClassName() const override { return "TKvGPVirtualMachine"; }

    // Whether slot values are reduced modulo the number of instructions (see above).
    bool GetModuloDecoding() const noexcept { return FModuloDecoding; }
    void SetModuloDecoding(bool Value) noexcept { FModuloDecoding = Value; }

    TKvGeneticAlgorithm* GetGeneticAlgorithm() const noexcept { return FGeneticAlgorithm; }
    // See Binding above.
    void SetGeneticAlgorithm(TKvGeneticAlgorithm* Value);

    using TKvVirtualMachine::Compile;
    void Compile(const TKvGAIndividual* Item) override;
    void Compile(const TKvGeneticAlgorithm* GA, const TKvGAIndividual* Item) override;
    bool TryCompile(const TKvGAIndividual* Item);
    bool TryCompile(const TKvGeneticAlgorithm* GA, const TKvGAIndividual* Item);

    void DecodeProgram(const TKvGAIndividual* Item) override;
    void DecodeProgram(const TKvGeneticAlgorithm* GA, const TKvGAIndividual* Item) override;

    void UpdateGenes(TKvGAGenes* Genes) override;

    // A copy for one worker of a parallel evaluation (see above). EGPException when an instruction
    // is of a class derived from TVMInstruction, whose behaviour a copy could not carry.
    virtual std::unique_ptr<TKvGPVirtualMachine> CreateCopy() const;

    // After the machine's own handling, lay the bound engine's genes out again.
    void InstructionNotify(TVMInstruction* Item, TCollectionNotification Action) override;
    void InstructionUpdate(TVMInstruction* Item) override;

protected:
    // Copies the instructions, the events and the name into Target (which must have no
    // instructions yet), and makes Target read programs through this machine's engine.
    void CopyTo(TKvGPVirtualMachine& Target) const;
    // Unbinds the engine when it is destroyed.
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    // The bound engine, or EGPException "Missing Genetic Program Engine".
    const TKvGeneticAlgorithm* BoundEngine() const;
    // Reads the slots into EncodedProgram; false after a slot outside the set (see Compile).
    bool CompileSlots(const TKvGeneticAlgorithm* GA, const TKvGAIndividual* Item);

    TKvGeneticAlgorithm* FGeneticAlgorithm = nullptr;
    // A copy refers to its engine without free notification (see CreateCopy).
    bool FCopy = false;
    bool FModuloDecoding = false;
    // Set while TryCompile runs: Compile reports an undecodable slot by the state alone.
    bool FQuietCompile = false;
};

} // namespace kv
