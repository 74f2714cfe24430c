// KvGeneticProgram: the genetic-programming layer: the execution stack, instructions and
// instruction sets, and the stack virtual machine.
#pragma once

#include "kv/gp/execution_stack.h"
#include "kv/gp/instruction.h"
#include "kv/gp/virtual_machine.h"
#include "kv/gp/vm_events.h"
#include "kv/gp/vm_interfaces.h"
