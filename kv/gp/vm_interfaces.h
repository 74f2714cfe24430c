// IKvSimpleVirtualMachine: what a genetic-program engine needs of a stack virtual machine.
//
// An abstract class identified by IID. A pointer to it does not own the machine: the machine's
// lifetime belongs to its owner component or to whoever created it, and the interface cannot be
// deleted through (its destructor is protected). Implementations and extending interfaces inherit
// it virtually, so that a machine implementing both this and an extension has one set of these
// operations:
//
//     class IKvGPVirtualMachine : public virtual IKvSimpleVirtualMachine { ... };
//
// The operations are those of TKvVirtualMachine (kv/gp/virtual_machine.h), which documents them.
#pragma once

#include <string_view>

#include "kv/rtl/strings.h"
#include "kv/rtl/var_rec.h"
#include "kv/vocabulary/KvGAConsts.h"

namespace kv {

class IKvSimpleVirtualMachine {
public:
    static constexpr std::string_view IID = "{B9E4D97F-1A50-4D73-8CB9-AF0BD61DBF75}";

    virtual void Initialize(const TStrings& AProgram, const TVarRecList& Args) = 0;
    virtual void Initialize(const TIntegerArray& AProgram, const TVarRecList& Args) = 0;
    virtual void Initialize(const TStrings& AProgram, const TStrings& Args) = 0;
    virtual void Initialize(const TIntegerArray& AProgram, const TStrings& Args) = 0;
    virtual void InitializeStack(const TVarRecList& Args) = 0;
    virtual void InitializeStack(const TStrings& Args) = 0;
    virtual void Initialized() = 0;
    virtual void Compile() = 0;
    virtual void Execute() = 0;
    virtual void Execute(int NumSteps) = 0;
    virtual bool IsFinished() const = 0;
    virtual TExecutionStates GetExecutionState() const = 0;

protected:
    IKvSimpleVirtualMachine() = default;
    IKvSimpleVirtualMachine(const IKvSimpleVirtualMachine&) = default;
    IKvSimpleVirtualMachine& operator=(const IKvSimpleVirtualMachine&) = default;
    ~IKvSimpleVirtualMachine() = default;
};

} // namespace kv
