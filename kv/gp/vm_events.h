// The callback types of the virtual machine and its instructions.
//
// Every callback is a std::function; "assigned" means not empty, and an unassigned callback is
// skipped. Sender is the object that calls it (an instruction, or the machine).
//   TVMExecuteEvent      an instruction's behaviour: it works on Stack; Item is the instruction run
//   TVMErrorEvent        an exception caught while an instruction ran; E is that exception
//   TVMInstructionEvent  a notification about one instruction (for callers' own use)
//   TVMStackEvent        a notification about a stack (for callers' own use)
//   TVMBatchEvent        an instruction's behaviour over a whole data set: it works on the columns
//                        of Stack (kv/gp/batch_stack.h) and sees nothing else
// Plain notifications (OnInitialize, OnFinished, ...) are TNotifyEvent (kv/rtl/notify_event.h).
#pragma once

#include <exception>
#include <functional>

#include "kv/rtl/notify_event.h"

namespace kv {

class TObject;
class TVMExecutionStack;
class TVMInstruction;
class TVMBatchStack;

using TVMExecuteEvent =
    std::function<void(TObject* Sender, TVMExecutionStack* Stack, TVMInstruction* Item)>;
using TVMErrorEvent = std::function<void(TObject* Sender, const std::exception& E)>;
using TVMInstructionEvent = std::function<void(TObject* Sender, TVMInstruction* Item)>;
using TVMStackEvent = std::function<void(TObject* Sender, TVMExecutionStack* Stack)>;
using TVMBatchEvent = std::function<void(TVMBatchStack& Stack)>;

} // namespace kv
