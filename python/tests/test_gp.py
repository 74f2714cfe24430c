"""Genetic programming from Python: instructions whose work is a Python callable."""
import pytest

import kvga


def arithmetic(stack, instruction):
    if instruction.name == "Dup":
        if len(stack) >= 1:
            stack.push(stack.top)
    elif len(stack) >= 2:
        b, a = stack.pop(), stack.pop()
        stack.push(a + b if instruction.name == "Add" else a * b)


def breeder(threads=0):
    vm = kvga.GPVirtualMachine()
    gp = kvga.GeneticProgram(vm)
    for name in ("Dup", "Add", "Mul"):
        vm.instructions.add(name)
    vm.on_execute_instruction = arithmetic
    vm.modulo_decoding = True
    gp.gene_size = 6 * gp.genes[0].size
    gp.fitness_method = kvga.FitnessMethod.MAXIMIZE
    gp.use_fitness_cutoff = True
    gp.evaluation_threads = threads
    gp.set_random_seed(7)

    def fitness(ind):
        machine = gp.vm  # the bound machine, or a parallel worker's copy
        assert machine.try_compile(ind)
        error = 0
        for x in range(-3, 4):
            gp.initialize_stack([x])
            gp.execute_program()
            y = machine.stack.top if len(machine.stack) else 99
            error += abs(y - (x * x + x))
        return 1 / (1 + error)
    gp.on_evaluate_fitness = fitness
    return vm, gp


@pytest.mark.parametrize("threads", [0, 2])
def test_breeds_a_program_with_python_instructions(threads):
    vm, gp = breeder(threads)
    gp.evolve(200)
    assert gp.max_fitness == 1.0
    program = vm.decode_program(gp.fittest_individual)
    assert len(program) == 6 and set(program) <= {"Dup", "Add", "Mul"}
    vm.initialize(program, [5])
    vm.execute()
    assert vm.finished and vm.stack.top == 30


def test_machine_values_and_errors_from_instructions():
    vm = kvga.VirtualMachine()
    vm.instructions.add("Push", lambda stack, ins: stack.push(2**40))
    vm.instructions.add("Cat", lambda stack, ins: stack.push(str(stack.pop()) + stack.pop()))
    vm.initialize(["Push", "Cat"], ["x", 1.5, True, None])
    vm.execute(1)
    assert vm.stack.values() == [2**40, None, True, 1.5, "x"]
    with pytest.raises(TypeError):
        vm.execute()  # Cat: str + None raises TypeError in the instruction, which reaches us

    class Planted(Exception):
        pass

    def fail(stack, ins):
        raise Planted("in an instruction")
    vm.instructions["Cat"].execute = fail
    vm.initialize(["Cat"])
    with pytest.raises(Planted, match="in an instruction"):
        vm.execute()
    with pytest.raises(kvga.GPError, match="Nope"):
        vm.initialize(["Nope"])
    with pytest.raises(TypeError, match="stack value"):
        vm.stack.push([1])
    with pytest.raises(TypeError, match=str(2**64)):
        vm.stack.push(2**64)
    vm.stack.clear()
    with pytest.raises(kvga.ListError):
        vm.stack.pop()
    cat = vm.instructions["Cat"]
    vm.instructions.delete(0)
    assert cat.index == 0 and cat == vm.instructions[0]
    vm.instructions.clear()
    with pytest.raises(kvga.GAError, match="no longer in its machine"):
        cat.name


def test_exception_from_an_instruction_stops_evolve():
    vm, gp = breeder()

    class Planted(Exception):
        pass

    def fail(stack, instruction):
        raise Planted("Mul")
    vm.instructions["Mul"].execute = fail
    with pytest.raises(Planted):
        gp.evolve(5)


def test_machine_objects_kept_from_a_parallel_round_stay_valid():
    vm, gp = breeder(threads=2)
    kept = []

    def keep(stack, instruction):
        if not kept:
            kept.extend([stack, instruction, instruction.machine])
        arithmetic(stack, instruction)
    vm.on_execute_instruction = keep
    gp.evolve(2)  # the workers' copies of the machine end with each round
    del vm, gp
    stack, instruction, machine = kept
    assert instruction.name in {"Dup", "Add", "Mul"} and instruction.machine is machine
    assert len(machine.instructions) == 3 and isinstance(stack.values(), list)
