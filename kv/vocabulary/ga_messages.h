// The engine's message texts. Texts with a placeholder are formatted with kv::Format: "%s" takes
// the offending text, "%i" the offending number, e.g.
//   throw EGAException(Format(SValueNotEnumeration, Value));
#pragma once

namespace kv {

inline constexpr char SNoFitnessFunction[] = "No fitness function defined";
inline constexpr char SNoSelectionFunction[] = "No custom selection function defined";
inline constexpr char SNoEnumerationFound[] = "No enumerated value found in chromosome";
inline constexpr char SValueNotEnumeration[] = "\"%s\" is not a valid enumerated value";
inline constexpr char SInstructionNotUnique[] = "instruction name must be unique";
inline constexpr char SUnknownInstruction[] = "Unknown instruction \"%s\"";
inline constexpr char SInvalidInstructionIndex[] = "%i is an invalid instruction set encoding";
inline constexpr char SMissingVirtualMachine[] = "Missing Virtual Machine";
inline constexpr char SMissingGeneticProgram[] = "Missing Genetic Program Engine";
// Not raised: the program text of an instruction code that names no instruction.
inline constexpr char SInvalidOperationCode[] = "INVALID OPERATION";

} // namespace kv
