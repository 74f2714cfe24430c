// TVMExecutionStack: the last-in-first-out stack of variant values a virtual machine's instructions
// work on; TVMExecutionStackNode: one of its entries.
//
// Values are held by copy: Push stores a copy, Pop, GetTop and GetItem return copies. Positions
// count from the top: GetItem(0) is the value pushed last, GetItem(Count - 1) the bottom.
//
// The stack is a TGStack (kv/common/linked_list.h) and inherits its node pool: popped nodes are
// kept for reuse, so a program that pushes and pops in balance allocates nothing once the stack has
// reached its deepest point (apart from what a value itself allocates, such as a long string).
// Compact() gives the kept nodes back.
//
// Conversion to and from a list of texts
//   Assign(list of texts): the stack is emptied and refilled with the lines as string values, the
//     last line pushed first, so line 0 ends on top.
//   AssignTo(list of texts): the list's lines are replaced by the texts of the values, top first.
//   A list produced by AssignTo loads back into a stack with the same texts in the same order
//   (every value a string then). Assign from another execution stack copies its values in the same
//   order; AssignTo anything but a list of texts raises the cannot-assign error (EConvertError).
// ToString: the text of each value, top first, each followed by NewLineString; "" when empty.
// Texts come from VarToStr.
//
// Errors: Pop and GetTop on an empty stack raise EListError with SListEmpty and leave the stack
// unchanged; GetItem, SetItem and GetNode outside 0..Count-1 raise EListError naming the index.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "kv/common/linked_list.h"
#include "kv/rtl/variant.h"

namespace kv {

class TVMExecutionStack;

class TVMExecutionStackNode final : public TSQNode {
public:
    TVMExecutionStackNode() = default;

    std::string ClassName() const override { return "TVMExecutionStackNode"; }

    // From another stack node: copies its value; then the base node's assignment, which refuses
    // anything that is not a node.
    void Assign(const TPersistent* Source) override;

    const Variant& GetValue() const noexcept { return FValue; }
    void SetValue(const Variant& Value) { FValue = Value; }
    void SetValue(Variant&& Value) noexcept { FValue = std::move(Value); }

protected:
    void Recycle() noexcept override { FValue.Clear(); }

private:
    friend class TVMExecutionStack;
    Variant FValue;
};

class TVMExecutionStack : public TGStack<TVMExecutionStackNode> {
    using Base = TGStack<TVMExecutionStackNode>;

public:
    TVMExecutionStack() = default;

    std::string ClassName() const override { return "TVMExecutionStack"; }

    // Links Node in as the new top and returns it.
    TVMExecutionStackNode* AddNode(std::unique_ptr<TVMExecutionStackNode> Node) final {
        return Base::AddNode(std::move(Node));
    }

    // Pushes a copy of Value; returns the new top node.
    TVMExecutionStackNode* Push(const Variant& Value) {
        std::unique_ptr<TVMExecutionStackNode> N = NewNode();
        N->FValue = Value;
        return AddNode(std::move(N));
    }
    TVMExecutionStackNode* Push(Variant&& Value) {
        std::unique_ptr<TVMExecutionStackNode> N = NewNode();
        N->FValue = std::move(Value);
        return AddNode(std::move(N));
    }
    // Pushes a number (bool, integer or floating point) as Variant(Value) would hold it, without
    // a temporary Variant.
    template <VariantNumber T>
    TVMExecutionStackNode* Push(T Value) {
        std::unique_ptr<TVMExecutionStackNode> N = NewNode();
        N->FValue = Value;
        return AddNode(std::move(N));
    }

    // Removes the top value and returns it; EListError (SListEmpty) on an empty stack.
    Variant Pop() {
        CheckNotEmpty();
        Variant V = GetFirst()->FValue.Extract(); // leaves the node as NewNode hands it out
        DeleteFirstEmptied();
        return V;
    }

    // Removes every value (the nodes are kept for reuse). The list's own Clear does the same.
    void Clear() noexcept {
        while (!IsEmpty()) {
            GetFirst()->FValue.Clear();
            DeleteFirstEmptied();
        }
    }

    // A copy of the top value; EListError (SListEmpty) on an empty stack.
    Variant GetTop() const {
        CheckNotEmpty();
        return GetFirst()->FValue;
    }

    // A copy of the value at Index (0 is the top).
    Variant GetItem(int Index) const { return GetNode(Index)->FValue; }
    // Replaces the value at Index (0 is the top); the order of the stack does not change.
    void SetItem(int Index, const Variant& Value) { GetNode(Index)->FValue = Value; }

    void Assign(const TPersistent* Source) override;
    void AssignTo(TPersistent* Dest) const override;
    std::string ToString() const override;
};

} // namespace kv
