#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kv/common/linked_list.h"

using namespace kv;

namespace {

int LiveNodes = 0;
int BuiltNodes = 0;

class TIntNode : public TSQNode {
public:
    TIntNode() {
        ++LiveNodes;
        ++BuiltNodes;
    }
    ~TIntNode() override { --LiveNodes; }
    void Assign(const TPersistent* Source) override {
        if (auto* N = dynamic_cast<const TIntNode*>(Source))
            Value = N->Value;
        TSQNode::Assign(Source);
    }
    int Value = 0;

protected:
    void Recycle() noexcept override { Value = 0; }
};

template <class L>
std::vector<int> Values(const L& List) {
    std::vector<int> R;
    for (TIntNode* N = List.GetFirst(); N != nullptr; N = L::Next(N))
        R.push_back(N->Value);
    return R;
}

template <class L>
TIntNode* Add(L& List, int V) {
    TIntNode* N = List.AddNode(List.NewNode());
    N->Value = V;
    return N;
}

} // namespace

TEST(LinkedList, StackAddsOnTopQueueAtTheBack) {
    TGStack<TIntNode> S;
    TGQueue<TIntNode> Q;
    for (int V : {1, 2, 3}) {
        Add(S, V);
        Add(Q, V);
    }
    EXPECT_EQ(Values(S), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(Values(Q), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(S.GetNode(2)->Value, 1);
    S.Remove();
    EXPECT_EQ(S.Peek()->Value, 2);
    // The queue's last node must follow removals down to empty and back.
    Q.Remove();
    Q.Remove();
    Q.Remove();
    EXPECT_EQ(Q.GetLast(), nullptr);
    Add(Q, 9);
    Add(Q, 10);
    EXPECT_EQ(Values(Q), (std::vector<int>{9, 10}));

    EXPECT_THROW(S.GetNode(2), EListError);
    EXPECT_THROW(S.GetNode(-1), EListError);
    EXPECT_THROW(S.AddNode(nullptr), EListError);
    S.Clear();
    try {
        S.Peek();
        FAIL();
    } catch (const EListError& E) {
        EXPECT_STREQ(E.what(), SListEmpty);
    }
    EXPECT_THROW(S.Remove(), EListError);
}

TEST(LinkedList, DeleteUnlinksAnyNodeAndRefusesStrangers) {
    TGQueue<TIntNode> Q;
    TIntNode* A = Add(Q, 1);
    TIntNode* B = Add(Q, 2);
    TIntNode* C = Add(Q, 3);
    Q.Delete(B);
    Q.Delete(C); // the last node: appending afterwards must follow A
    Add(Q, 4);
    EXPECT_EQ(Values(Q), (std::vector<int>{1, 4}));
    Q.Delete(A);
    TGQueue<TIntNode> Other;
    EXPECT_THROW(Q.Delete(Add(Other, 7)), EListError);
    EXPECT_THROW(Q.Delete(nullptr), EListError);
    EXPECT_EQ(Values(Q), (std::vector<int>{4}));
}

TEST(LinkedList, ReleasedNodesAreReusedAndAllAreFreed) {
    LiveNodes = 0;
    BuiltNodes = 0;
    {
        TGStack<TIntNode> S;
        for (int Round = 0; Round < 3; ++Round) {
            for (int I = 1; I <= 10; ++I)
                Add(S, I);
            S.Remove();
            S.Clear();
        }
        EXPECT_EQ(BuiltNodes, 10) << "later rounds reuse the released nodes";
        EXPECT_EQ(S.AddNode(S.NewNode())->Value, 0) << "a reused node is recycled";
        S.Compact();
        EXPECT_EQ(LiveNodes, 1);
        { auto Loose = S.NewNode(); }
        EXPECT_EQ(LiveNodes, 1);
    }
    EXPECT_EQ(LiveNodes, 0);
}

TEST(LinkedList, AssignCopiesInOrder) {
    TGStack<TIntNode> S;
    for (int V : {1, 2, 3})
        Add(S, V);
    TGStack<TIntNode> T;
    Add(T, 99);
    T.Assign(&S);
    Add(T, 4);
    EXPECT_EQ(Values(T), (std::vector<int>{4, 3, 2, 1}));
    EXPECT_EQ(Values(S), (std::vector<int>{3, 2, 1}));
    T.Assign(&T);
    EXPECT_EQ(Values(T), (std::vector<int>{4, 3, 2, 1}));
    TSQNode Plain;
    EXPECT_THROW(T.Assign(&Plain), EConvertError);
    EXPECT_EQ(T.GetCount(), 4);
}
