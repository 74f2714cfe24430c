// KvGeneticProgram: the genetic-programming unit in one include.
//
//   TVMExecutionStack, TVMExecutionStackNode   the stack of variant values instructions work on
//   TVMBatchStack, Batch...                    the stack of columns of a run over a whole data
//                                              set, and the batch callbacks of usual instructions
//   TVMInstruction, TVMInstructionSet          caller-defined instructions and their set
//   TVM...Event                                the callback types of machines and instructions
//   IKvSimpleVirtualMachine, TKvVirtualMachine the stack virtual machine
//   IKvGPVirtualMachine, TKvGPVirtualMachine   the machine that reads programs out of chromosomes
//   TKvGeneticProgram                          the engine that breeds programs
// together with the genetic-algorithm unit (KvGeneticAlgorithm.h) it builds on.
#pragma once

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/gp/batch_stack.h"
#include "kv/gp/execution_stack.h"
#include "kv/gp/genetic_program.h"
#include "kv/gp/gp_virtual_machine.h"
#include "kv/gp/gp_vm_interface.h"
#include "kv/gp/instruction.h"
#include "kv/gp/virtual_machine.h"
#include "kv/gp/vm_events.h"
#include "kv/gp/vm_interfaces.h"
