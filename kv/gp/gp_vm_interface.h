// IKvGPVirtualMachine: what a genetic-program engine needs of a machine that reads programs out of
// chromosomes.
//
// It extends IKvSimpleVirtualMachine (kv/gp/vm_interfaces.h) with five operations, which
// TKvGPVirtualMachine (kv/gp/gp_virtual_machine.h) implements and documents:
//   DecodeProgram(Item), DecodeProgram(GA, Item)   an individual's program as instruction names
//   Compile(Item), Compile(GA, Item)               an individual's program as instruction codes
//   UpdateGenes(Genes)                             lays out a genotype as the instruction gene
// The one-argument forms use the engine the machine is bound to. The individual and the engine are
// only read.
//
// Like its parent, the interface does not own the machine and cannot be deleted through; the
// machine's lifetime belongs to its owner component or to whoever created it.
#pragma once

#include <string_view>

#include "kv/gp/vm_interfaces.h"

namespace kv {

class TKvGAGenes;
class TKvGAIndividual;
class TKvGeneticAlgorithm;

class IKvGPVirtualMachine : public virtual IKvSimpleVirtualMachine {
public:
    static constexpr std::string_view IID = "{73F3BA30-11CB-4ED8-8FEF-806253E3D0AA}";

    // The compile of the program list stays reachable beside the overloads below.
    using IKvSimpleVirtualMachine::Compile;

    virtual void DecodeProgram(const TKvGAIndividual* Item) = 0;
    virtual void DecodeProgram(const TKvGeneticAlgorithm* GA, const TKvGAIndividual* Item) = 0;
    virtual void Compile(const TKvGAIndividual* Item) = 0;
    virtual void Compile(const TKvGeneticAlgorithm* GA, const TKvGAIndividual* Item) = 0;
    virtual void UpdateGenes(TKvGAGenes* Genes) = 0;

protected:
    IKvGPVirtualMachine() = default;
    IKvGPVirtualMachine(const IKvGPVirtualMachine&) = default;
    IKvGPVirtualMachine& operator=(const IKvGPVirtualMachine&) = default;
    ~IKvGPVirtualMachine() = default;
};

} // namespace kv
