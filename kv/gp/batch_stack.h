// TVMBatchStack: the stack of a program run over a whole data set at once. Each entry is a column
// of GetRows() doubles, one value per data row, so one run of the program computes every row.
//
// A batch run (TKvVirtualMachine::ExecuteBatch) hands this stack to each instruction's
// OnExecuteBatch callback, which works on whole columns: where the row-by-row callback pops two
// numbers and pushes their sum, the batch callback adds two columns. The callbacks see only the
// columns, never the machine, so they cannot redirect the run; and every row takes the same path
// through the program. A row-by-row program whose instructions change the stack the same way
// whatever the values (the usual arithmetic and stack instructions) therefore gives, row for row,
// exactly the values its batch form gives (up to the sign and payload of a NaN, which C++ leaves
// to the compiler).
//
// Columns
//   Positions count from the top like TVMExecutionStack's: GetItem(0) is the column pushed last.
//   Push() adds a column whose values are left as they are (the caller writes them all); Push(V)
//   adds a column of the constant V; Push(Values) adds a copy of Values, which must hold exactly
//   GetRows() values (a column of this stack is allowed: Push(GetTop()) duplicates the top).
//   Exchange swaps two entries without copying their values.
//   A span returned by Push, GetItem or GetTop stays valid until that column is popped, the stack
//   is cleared or its row count changes; pushing other columns does not move it.
//
// Storage: each column is a buffer of its own, kept for reuse when it is popped, so a stack that
// is filled and emptied over and over allocates nothing once it has reached its deepest point.
// SetRows with another count drops the buffers.
//
// Errors: Pop, GetTop and GetItem on too few columns raise EListError (SListEmpty, or a message
// naming the index); Push(Values) with the wrong number of values and a negative row count raise
// EGPException naming both numbers.
//
// The helpers below build the OnExecuteBatch callbacks of the usual instructions. Like the
// row-by-row instructions of the examples, each does nothing when the stack holds too few columns
// for it; write a callback of your own for another rule. Their loops run over plain arrays that
// the compiler vectorises; give BatchUnary and BatchBinary a lambda, which is inlined into the
// loop (a function pointer is called once for every value).
//   BatchUnary(Op)    top := Op(top), row by row
//   BatchBinary(Op)   pops b (the top) and a, pushes Op(a, b): a b -> a op b, as a row-by-row
//                     instruction that pops b, then a, and pushes Op(a, b)
//   BatchAdd(), BatchSub(), BatchMul(), BatchDiv()   the four IEEE operations of BatchBinary
//                     (BatchDiv divides as IEEE does: x / 0 is an infinity or NaN)
//   BatchDup()        x -> x x
//   BatchSwap()       a b -> b a
//   BatchPush(Column) pushes a copy of Column, which the caller keeps alive and sized to the rows
//   BatchConstant(V)  pushes a column of V
//
// Not thread-safe; a stack is used by one run at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "kv/gp/vm_events.h"

namespace kv {

class TVMBatchStack {
public:
    explicit TVMBatchStack(int Rows = 0);

    int GetRows() const noexcept { return FRows; }
    // Empties the stack and sets the number of values of every column; EGPException when Rows is
    // negative.
    void SetRows(int Rows);

    int GetCount() const noexcept { return static_cast<int>(FEntries.size()); }
    bool IsEmpty() const noexcept { return FEntries.empty(); }

    std::span<double> Push();
    std::span<double> Push(double Value);
    std::span<double> Push(std::span<const double> Values);
    // Drops the top column; EListError (SListEmpty) on an empty stack.
    void Pop();
    // Drops every column (their buffers are kept).
    void Clear() noexcept;

    // The column at Index (0 is the top); EListError outside 0..Count-1.
    std::span<double> GetItem(int Index) { return Column(Entry(Index)); }
    std::span<const double> GetItem(int Index) const { return Column(Entry(Index)); }
    // The top column; EListError (SListEmpty) on an empty stack.
    std::span<double> GetTop() { return Column(TopEntry()); }
    std::span<const double> GetTop() const { return Column(TopEntry()); }
    // Swaps the entries at positions A and B (0 is the top); EListError outside 0..Count-1.
    void Exchange(int A, int B);

    // The columns top first, one line each: the values separated by spaces (for messages and
    // tests; long columns make long lines).
    std::string ToString() const;

private:
    std::span<double> Column(double* Data) const noexcept {
        return std::span<double>(Data, static_cast<size_t>(FRows));
    }
    double* Entry(int Index) const;
    double* TopEntry() const;
    // A free buffer of FRows values (allocated when none is free).
    double* TakeBuffer();

    int FRows = 0;
    std::vector<std::unique_ptr<double[]>> FBuffers; // every buffer, owned
    std::vector<double*> FEntries;                   // the stack, bottom first
    std::vector<double*> FFree;                      // buffers not on the stack
};

namespace detail {

template <class F>
void ApplyUnary(double* __restrict A, size_t N, const F& Op) {
    for (size_t I = 0; I < N; ++I)
        A[I] = Op(A[I]);
}

template <class F>
void ApplyBinary(double* __restrict A, const double* __restrict B, size_t N, const F& Op) {
    for (size_t I = 0; I < N; ++I)
        A[I] = Op(A[I], B[I]);
}

} // namespace detail

template <class F>
TVMBatchEvent BatchUnary(F Op) {
    return [Op](TVMBatchStack& Stack) {
        if (Stack.GetCount() < 1)
            return;
        const std::span<double> A = Stack.GetTop();
        detail::ApplyUnary(A.data(), A.size(), Op);
    };
}

template <class F>
TVMBatchEvent BatchBinary(F Op) {
    return [Op](TVMBatchStack& Stack) {
        if (Stack.GetCount() < 2)
            return;
        const std::span<double> A = Stack.GetItem(1);
        detail::ApplyBinary(A.data(), Stack.GetItem(0).data(), A.size(), Op);
        Stack.Pop();
    };
}

TVMBatchEvent BatchAdd();
TVMBatchEvent BatchSub();
TVMBatchEvent BatchMul();
TVMBatchEvent BatchDiv();
TVMBatchEvent BatchDup();
TVMBatchEvent BatchSwap();
TVMBatchEvent BatchPush(std::span<const double> Column);
TVMBatchEvent BatchConstant(double Value);

} // namespace kv
