#include "kv/gp/batch_stack.h"

#include <algorithm>
#include <utility>

#include "kv/common/linked_list.h"
#include "kv/rtl/convert.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/list_index.h"
#include "kv/vocabulary/KvGAConsts.h"

namespace kv {

namespace {

void CheckRows(int Rows) {
    if (Rows < 0)
        throw EGPException(Format("A batch stack cannot have %d rows", Rows));
}

} // namespace

TVMBatchStack::TVMBatchStack(int Rows) {
    CheckRows(Rows);
    FRows = Rows;
}

void TVMBatchStack::SetRows(int Rows) {
    CheckRows(Rows);
    Clear();
    if (Rows != FRows) {
        FFree.clear();
        FBuffers.clear();
        FRows = Rows;
    }
}

double* TVMBatchStack::TakeBuffer() {
    if (!FFree.empty()) {
        double* Data = FFree.back();
        FFree.pop_back();
        return Data;
    }
    // Room for every buffer on the free list, so that Pop and Clear never allocate.
    FFree.reserve(FBuffers.size() + 1);
    FBuffers.reserve(FBuffers.size() + 1);
    // Zeroed once, so that a column is never read before it holds values.
    FBuffers.push_back(std::make_unique<double[]>(static_cast<size_t>(FRows)));
    return FBuffers.back().get();
}

std::span<double> TVMBatchStack::Push() {
    double* Data = TakeBuffer();
    try {
        FEntries.push_back(Data);
    } catch (...) {
        FFree.push_back(Data);
        throw;
    }
    return Column(Data);
}

std::span<double> TVMBatchStack::Push(double Value) {
    const std::span<double> C = Push();
    std::fill(C.begin(), C.end(), Value);
    return C;
}

std::span<double> TVMBatchStack::Push(std::span<const double> Values) {
    if (Values.size() != static_cast<size_t>(FRows))
        throw EGPException(Format("A column of %d values cannot be pushed on a batch of %d rows",
                                  static_cast<int>(Values.size()), FRows));
    // The new column has a buffer of its own, so Values may be a column of this stack.
    const std::span<double> C = Push();
    std::copy(Values.begin(), Values.end(), C.begin());
    return C;
}

void TVMBatchStack::Pop() {
    double* Data = TopEntry();
    FEntries.pop_back();
    FFree.push_back(Data); // within the reserved room
}

void TVMBatchStack::Clear() noexcept {
    FFree.insert(FFree.end(), FEntries.begin(), FEntries.end()); // within the reserved room
    FEntries.clear();
}

double* TVMBatchStack::TopEntry() const {
    if (FEntries.empty())
        throw EListError(SListEmpty);
    return FEntries.back();
}

double* TVMBatchStack::Entry(int Index) const {
    CheckListIndex(Index, GetCount());
    return FEntries[FEntries.size() - 1 - static_cast<size_t>(Index)];
}

void TVMBatchStack::Exchange(int A, int B) {
    CheckListIndex(A, GetCount());
    CheckListIndex(B, GetCount());
    const size_t Top = FEntries.size() - 1;
    std::swap(FEntries[Top - static_cast<size_t>(A)], FEntries[Top - static_cast<size_t>(B)]);
}

std::string TVMBatchStack::ToString() const {
    std::string Text;
    for (int I = 0; I < GetCount(); ++I) {
        const std::span<const double> C = GetItem(I);
        for (size_t R = 0; R < C.size(); ++R) {
            if (R > 0)
                Text += ' ';
            Text += FloatToStr(C[R]);
        }
        Text += NewLineString;
    }
    return Text;
}

// ---- helpers ----

TVMBatchEvent BatchAdd() {
    return BatchBinary([](double A, double B) { return A + B; });
}

TVMBatchEvent BatchSub() {
    return BatchBinary([](double A, double B) { return A - B; });
}

TVMBatchEvent BatchMul() {
    return BatchBinary([](double A, double B) { return A * B; });
}

TVMBatchEvent BatchDiv() {
    return BatchBinary([](double A, double B) { return A / B; });
}

TVMBatchEvent BatchDup() {
    return [](TVMBatchStack& Stack) {
        if (Stack.GetCount() >= 1)
            Stack.Push(Stack.GetTop());
    };
}

TVMBatchEvent BatchSwap() {
    return [](TVMBatchStack& Stack) {
        if (Stack.GetCount() >= 2)
            Stack.Exchange(0, 1);
    };
}

TVMBatchEvent BatchPush(std::span<const double> Column) {
    return [Column](TVMBatchStack& Stack) { Stack.Push(Column); };
}

TVMBatchEvent BatchConstant(double Value) {
    return [Value](TVMBatchStack& Stack) { Stack.Push(Value); };
}

} // namespace kv
