// Singly linked lists of owned nodes: TGCustomLinkedList, its FIFO TGQueue and its LIFO TGStack.
//
// Nodes derive from TSQNode, which holds the link. A list owns every node linked into it and every
// node it has released: Delete and Clear do not free a node's memory but recycle the node
// (TSQNode::Recycle drops what it holds) and keep it on a free list, from which NewNode hands it
// out again. A list that is filled and emptied repeatedly therefore stops allocating once it has
// reached its peak size; Compact gives the kept nodes back to the heap, and the destructor frees
// everything.
//
// Positions count from the first node (the head): GetNode(0) is the head, GetNode(Count - 1) the
// last node. A queue appends new nodes after the last node and takes them from the head; a stack
// links new nodes in before the head, so the head is its top and GetNode(0) the value pushed last.
//
// Errors: an index outside 0..Count-1, Peek/Remove on an empty list, and Delete of a node that is
// not in the list raise EListError; the list is unchanged then.
//
// Not thread-safe; a list is used from one thread at a time.
#pragma once

#include <concepts>
#include <memory>
#include <string_view>
#include <utility>

#include "kv/rtl/exceptions.h"
#include "kv/rtl/list_index.h"
#include "kv/rtl/object.h"

namespace kv {

// Message of an operation that needs a node on an empty list.
inline constexpr const char* SListEmpty = "List is empty";
// Message of Delete with a node the list does not hold.
inline constexpr const char* SListNodeNotFound = "The node is not in this list";
// The line break that text forms of lists put after each entry.
inline constexpr std::string_view NewLineString = "\n";

class TSQNode;

template <class TNode>
requires std::derived_from<TNode, TSQNode>
class TGCustomLinkedList;

// A node of a linked list. The link belongs to the list; a node copies nothing of it in Assign.
class TSQNode : public TPersistent {
public:
    TSQNode() = default;

    std::string ClassName() const override { return "TSQNode"; }

    // From another node: nothing of the base node's own (links are the list's business); from
    // anything else the cannot-assign error.
    void Assign(const TPersistent* Source) override {
        if (dynamic_cast<const TSQNode*>(Source) == nullptr)
            TPersistent::Assign(Source);
    }

    // The node after this one in its list, or nullptr for the last node (or a free node).
    TSQNode* GetNext() const noexcept { return FNext; }

protected:
    // Drops whatever the node holds, making it equal to a newly created node. Called when a list
    // releases the node so that it can be handed out again by NewNode.
    virtual void Recycle() noexcept {}

private:
    template <class TNode>
    requires std::derived_from<TNode, TSQNode>
    friend class TGCustomLinkedList;

    TSQNode* FNext = nullptr;
};

template <class TNode>
requires std::derived_from<TNode, TSQNode>
class TGCustomLinkedList : public TPersistent {
public:
    TGCustomLinkedList() = default;
    ~TGCustomLinkedList() override {
        FreeChain(FHead);
        FreeChain(FFree);
    }

    std::string ClassName() const override { return "TGCustomLinkedList"; }

    int GetCount() const noexcept { return FCount; }
    bool IsEmpty() const noexcept { return FCount == 0; }
    // The head (first) node, or nullptr when the list is empty.
    TNode* GetFirst() const noexcept { return FHead; }
    // The last node, or nullptr when the list is empty.
    TNode* GetLast() const noexcept { return FTail; }
    // The node after Node in this list, or nullptr after the last one.
    static TNode* Next(const TNode* Node) noexcept { return static_cast<TNode*>(Node->FNext); }

    // The node at Index counted from the head; EListError when Index is outside 0..Count-1.
    TNode* GetNode(int Index) const {
        CheckListIndex(Index, FCount);
        TNode* N = FHead;
        for (; Index > 0; --Index)
            N = Next(N);
        return N;
    }

    // A node in its newly created state, not yet linked; taken from the released nodes when there
    // are any. Link it with AddNode (or let it go, which frees it).
    std::unique_ptr<TNode> NewNode() {
        if (FFree != nullptr) {
            TNode* N = FFree;
            FFree = Next(N);
            N->FNext = nullptr;
            return std::unique_ptr<TNode>(N);
        }
        return std::make_unique<TNode>();
    }

    // Links a node in (where depends on the kind of list) and returns it; the list owns it from now
    // on. A null node is refused with EListError.
    virtual TNode* AddNode(std::unique_ptr<TNode> Node) = 0;

    // Unlinks Node and releases it. Deleting the head costs O(1), any other node O(position).
    void Delete(TNode* Node) {
        if (Node == nullptr)
            throw EListError(SListNodeNotFound);
        if (Node == FHead) {
            DeleteFirst();
            return;
        }
        TNode* Prev = FHead;
        while (Prev != nullptr && Prev->FNext != Node)
            Prev = Next(Prev);
        if (Prev == nullptr)
            throw EListError(SListNodeNotFound);
        Prev->FNext = Node->FNext;
        if (FTail == Node)
            FTail = Prev;
        --FCount;
        Release(Node);
    }

    // Unlinks and releases every node.
    void Clear() noexcept {
        while (FHead != nullptr)
            DeleteFirst();
    }

    // Frees the released nodes kept for reuse.
    void Compact() noexcept {
        FreeChain(FFree);
        FFree = nullptr;
    }

    // A nesting bracket around a bulk change. EndUpdate without an open bracket does nothing.
    void BeginUpdate() noexcept { ++FUpdateCount; }
    void EndUpdate() noexcept {
        if (FUpdateCount > 0)
            --FUpdateCount;
    }
    int GetUpdateCount() const noexcept { return FUpdateCount; }

    // From a list of the same node type: the list becomes a copy of Source, node for node in the
    // same order, each node copied by its Assign. From anything else the cannot-assign error.
    // Assigning a list to itself changes nothing.
    void Assign(const TPersistent* Source) override {
        auto* Other = dynamic_cast<const TGCustomLinkedList*>(Source);
        if (Other == nullptr) {
            TPersistent::Assign(Source);
            return;
        }
        if (Other == this)
            return;
        BeginUpdate();
        struct Closer {
            TGCustomLinkedList* L;
            ~Closer() { L->EndUpdate(); }
        } Close{this};
        Clear();
        for (TNode* S = Other->FHead; S != nullptr; S = Next(S)) {
            std::unique_ptr<TNode> N = NewNode();
            N->Assign(S);
            LinkLast(N.release());
        }
    }

protected:
    // Links a node in before the head.
    void LinkFirst(TNode* Node) noexcept {
        Node->FNext = FHead;
        FHead = Node;
        if (FTail == nullptr)
            FTail = Node;
        ++FCount;
    }
    // Links a node in after the last node.
    void LinkLast(TNode* Node) noexcept {
        Node->FNext = nullptr;
        if (FTail != nullptr)
            FTail->FNext = Node;
        else
            FHead = Node;
        FTail = Node;
        ++FCount;
    }
    // Unlinks and releases the head; the list must not be empty.
    void DeleteFirst() noexcept {
        TNode* N = FHead;
        FHead = Next(N);
        if (FHead == nullptr)
            FTail = nullptr;
        --FCount;
        Release(N);
    }
    // Unlinks the head and keeps it for reuse like DeleteFirst, without calling its Recycle: for a
    // descendant that has already emptied the node. The list must not be empty.
    void DeleteFirstEmptied() noexcept {
        TNode* N = FHead;
        FHead = Next(N);
        if (FHead == nullptr)
            FTail = nullptr;
        --FCount;
        N->FNext = FFree;
        FFree = N;
    }
    // Raises the empty-list error when the list has no node.
    void CheckNotEmpty() const {
        if (FHead == nullptr)
            throw EListError(SListEmpty);
    }

private:
    void Release(TNode* Node) noexcept {
        static_cast<TSQNode*>(Node)->Recycle();
        Node->FNext = FFree;
        FFree = Node;
    }
    static void FreeChain(TNode* N) noexcept {
        while (N != nullptr) {
            std::unique_ptr<TNode> Owned(N);
            N = Next(N);
        }
    }

    TNode* FHead = nullptr;
    TNode* FTail = nullptr;
    TNode* FFree = nullptr;
    int FCount = 0;
    int FUpdateCount = 0;
};

// First in, first out: nodes are appended after the last one and taken from the head.
template <class TNode>
requires std::derived_from<TNode, TSQNode>
class TGQueue : public TGCustomLinkedList<TNode> {
    using Base = TGCustomLinkedList<TNode>;

public:
    std::string ClassName() const override { return "TGQueue"; }

    TNode* AddNode(std::unique_ptr<TNode> Node) override {
        if (!Node)
            throw EListError("Cannot add a null node");
        TNode* N = Node.release();
        this->LinkLast(N);
        return N;
    }

    // The node that Remove takes next (the head); EListError SListEmpty when the list is empty.
    TNode* Peek() const {
        this->CheckNotEmpty();
        return this->GetFirst();
    }

    // Releases the head; EListError SListEmpty when the list is empty.
    void Remove() {
        this->CheckNotEmpty();
        this->DeleteFirst();
    }
};

// Last in, first out: nodes are linked in before the head, which is the top of the stack.
template <class TNode>
requires std::derived_from<TNode, TSQNode>
class TGStack : public TGQueue<TNode> {
public:
    std::string ClassName() const override { return "TGStack"; }

    TNode* AddNode(std::unique_ptr<TNode> Node) override {
        if (!Node)
            throw EListError("Cannot add a null node");
        TNode* N = Node.release();
        this->LinkFirst(N);
        return N;
    }
};

} // namespace kv
