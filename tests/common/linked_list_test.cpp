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
    std::string ClassName() const override { return "TIntNode"; }
    void Assign(const TPersistent* Source) override {
        if (auto* N = dynamic_cast<const TIntNode*>(Source))
            Value = N->Value;
        TSQNode::Assign(Source);
    }
    int Value = 0;
    std::string Text;

protected:
    void Recycle() noexcept override {
        Value = 0;
        Text.clear();
    }
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

TEST(LinkedList, StackLinksNewNodesOnTopAndQueueAtTheBack) {
    TGStack<TIntNode> S;
    TGQueue<TIntNode> Q;
    for (int V : {1, 2, 3}) {
        Add(S, V);
        Add(Q, V);
    }
    EXPECT_EQ(Values(S), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(Values(Q), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(S.GetNode(0)->Value, 3);
    EXPECT_EQ(S.GetNode(2)->Value, 1);
    EXPECT_EQ(S.Peek()->Value, 3);
    EXPECT_EQ(Q.Peek()->Value, 1);
    EXPECT_EQ(S.GetLast()->Value, 1);
    S.Remove();
    Q.Remove();
    EXPECT_EQ(Values(S), (std::vector<int>{2, 1}));
    EXPECT_EQ(Values(Q), (std::vector<int>{2, 3}));
    // The queue's tail must follow removals down to empty and back.
    Q.Remove();
    Q.Remove();
    EXPECT_EQ(Q.GetLast(), nullptr);
    Add(Q, 9);
    Add(Q, 10);
    EXPECT_EQ(Values(Q), (std::vector<int>{9, 10}));
}

TEST(LinkedList, EmptyListAndBadIndexRaiseListErrors) {
    TGStack<TIntNode> S;
    EXPECT_THROW(S.Peek(), EListError);
    try {
        S.Remove();
        FAIL();
    } catch (const EListError& E) {
        EXPECT_STREQ(E.what(), SListEmpty);
    }
    Add(S, 1);
    Add(S, 2);
    try {
        S.GetNode(2);
        FAIL();
    } catch (const EListError& E) {
        EXPECT_NE(std::string(E.what()).find("(2)"), std::string::npos) << E.what();
    }
    EXPECT_THROW(S.GetNode(-1), EListError);
    EXPECT_THROW(S.AddNode(nullptr), EListError);
    EXPECT_EQ(S.GetCount(), 2);
}

TEST(LinkedList, DeleteUnlinksAnyNodeAndRefusesStrangers) {
    TGQueue<TIntNode> Q;
    TIntNode* A = Add(Q, 1);
    TIntNode* B = Add(Q, 2);
    TIntNode* C = Add(Q, 3);
    Q.Delete(B);
    EXPECT_EQ(Values(Q), (std::vector<int>{1, 3}));
    Q.Delete(C); // the tail: appending afterwards must follow A
    Add(Q, 4);
    EXPECT_EQ(Values(Q), (std::vector<int>{1, 4}));
    Q.Delete(A);
    EXPECT_EQ(Values(Q), (std::vector<int>{4}));

    TGQueue<TIntNode> Other;
    TIntNode* Stranger = Add(Other, 7);
    EXPECT_THROW(Q.Delete(Stranger), EListError);
    EXPECT_THROW(Q.Delete(nullptr), EListError);
    EXPECT_EQ(Q.GetCount(), 1);
    EXPECT_EQ(Other.GetCount(), 1);
}

TEST(LinkedList, ReleasedNodesAreRecycledAndFreedWithTheList) {
    LiveNodes = 0;
    BuiltNodes = 0;
    {
        TGStack<TIntNode> S;
        for (int Round = 0; Round < 3; ++Round) {
            for (int I = 0; I < 10; ++I) {
                TIntNode* N = Add(S, I + 1);
                N->Text = "a text long enough to leave the small-string buffer";
            }
            S.Remove();
            S.Clear();
            EXPECT_EQ(S.GetCount(), 0);
        }
        EXPECT_EQ(BuiltNodes, 10) << "later rounds reuse the released nodes";
        // A reused node comes back in its newly created state.
        TIntNode* N = S.AddNode(S.NewNode());
        EXPECT_EQ(N->Value, 0);
        EXPECT_TRUE(N->Text.empty());
        S.Compact();
        EXPECT_EQ(LiveNodes, 1);
        // A node made but never linked is freed by its owner.
        { auto Loose = S.NewNode(); }
        EXPECT_EQ(LiveNodes, 1);
    }
    EXPECT_EQ(LiveNodes, 0);
}

TEST(LinkedList, AssignCopiesValuesInOrderAndRefusesOtherClasses) {
    TGStack<TIntNode> S;
    for (int V : {1, 2, 3})
        Add(S, V);
    TGStack<TIntNode> T;
    Add(T, 99);
    T.Assign(&S);
    EXPECT_EQ(Values(T), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(T.GetLast()->Value, 1);
    Add(T, 4); // the copy is a working stack of its own
    EXPECT_EQ(Values(T), (std::vector<int>{4, 3, 2, 1}));
    EXPECT_EQ(Values(S), (std::vector<int>{3, 2, 1}));
    T.Assign(&T);
    EXPECT_EQ(Values(T), (std::vector<int>{4, 3, 2, 1}));
    EXPECT_EQ(T.GetUpdateCount(), 0);

    TSQNode Plain;
    EXPECT_THROW(T.Assign(&Plain), EConvertError);
    EXPECT_EQ(T.GetCount(), 4);
    // A node takes nothing from a node of another class, and refuses non-nodes.
    TIntNode N;
    N.Value = 5;
    N.Assign(&Plain);
    EXPECT_EQ(N.Value, 5);
    EXPECT_THROW(N.Assign(&S), EConvertError);
}
