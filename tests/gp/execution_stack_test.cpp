#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kv/gp/execution_stack.h"
#include "kv/rtl/strings.h"

using namespace kv;

namespace {

std::vector<std::string> Lines(const TStrings& L) {
    std::vector<std::string> R;
    for (int I = 0; I < L.GetCount(); ++I)
        R.push_back(L[I]);
    return R;
}

std::vector<Variant> Contents(const TVMExecutionStack& S) {
    std::vector<Variant> R;
    for (int I = 0; I < S.GetCount(); ++I)
        R.push_back(S.GetItem(I));
    return R;
}

} // namespace

TEST(ExecutionStack, PushPopTopAndIndexedAccessCountFromTheTop) {
    TVMExecutionStack S;
    S.Push(1);
    S.Push("a");
    TVMExecutionStackNode* Top = S.Push(true);
    EXPECT_EQ(Top->GetValue(), Variant(true));
    EXPECT_EQ(S.GetCount(), 3);
    EXPECT_EQ(S.GetTop(), Variant(true));
    EXPECT_EQ(S.GetItem(0), Variant(true));
    EXPECT_EQ(S.GetItem(2), Variant(1));
    EXPECT_EQ(S.Pop(), Variant(true));
    EXPECT_EQ(S.GetCount(), 2);
    EXPECT_EQ(S.GetTop(), Variant("a"));

    S.Push(3);
    S.SetItem(1, 7);
    EXPECT_EQ(Contents(S), (std::vector<Variant>{3, 7, 1}));
    // Reading returns copies: changing one does not reach the stack.
    Variant Copy = S.GetItem(0);
    Copy = Variant("changed");
    EXPECT_EQ(S.GetTop(), Variant(3));
    EXPECT_THROW(S.GetItem(3), EListError);
    EXPECT_THROW(S.SetItem(-1, 0), EListError);
}

TEST(ExecutionStack, EmptyStackRaisesListEmptyAndStaysEmpty) {
    TVMExecutionStack S;
    for (int Attempt = 0; Attempt < 2; ++Attempt) {
        try {
            if (Attempt == 0)
                S.Pop();
            else
                S.GetTop();
            FAIL() << "no error on an empty stack";
        } catch (const EListError& E) {
            EXPECT_STREQ(E.what(), SListEmpty);
        }
        EXPECT_EQ(S.GetCount(), 0);
    }
    // A stack emptied by pops behaves the same, and works again afterwards.
    S.Push(1);
    S.Pop();
    EXPECT_THROW(S.Pop(), EListError);
    S.Push(std::string(100, 'x'));
    EXPECT_EQ(S.Pop(), Variant(std::string(100, 'x')));
}

TEST(ExecutionStack, ToStringListsTopFirstWithLineBreaks) {
    TVMExecutionStack S;
    EXPECT_EQ(S.ToString(), "");
    S.Push(1);
    S.Push(2);
    EXPECT_EQ(S.ToString(), "2" + std::string(NewLineString) + "1" + std::string(NewLineString));
    S.Clear();
    S.Push(2.5);
    S.Push(false);
    S.Push(Variant());
    EXPECT_EQ(S.ToString(), "\nFalse\n2.5\n");
}

TEST(ExecutionStack, StringListRoundTripKeepsTextsAndOrder) {
    TStringList In;
    In.Add("x");
    In.Add("y");
    In.Add("z");
    TVMExecutionStack S;
    S.Push(42); // replaced by the load
    S.Assign(&In);
    EXPECT_EQ(S.GetCount(), 3);
    EXPECT_EQ(S.GetTop(), Variant("x"));
    EXPECT_EQ(S.GetItem(2), Variant("z"));
    EXPECT_EQ(S.GetUpdateCount(), 0);

    TStringList Out;
    Out.Add("old 1");
    Out.Add("old 2");
    Out.Add("old 3");
    Out.Add("old 4");
    int Changes = 0;
    Out.SetOnChange([&](TObject*) { ++Changes; });
    S.AssignTo(&Out);
    EXPECT_EQ(Lines(Out), (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_EQ(Changes, 1) << "the list is filled as one batch";

    // Mixed values come back as their texts, in the same order.
    TVMExecutionStack Mixed;
    Mixed.Push(Currency::FromScaled(15000));
    Mixed.Push(int64_t(1) << 40);
    Mixed.Push(2.5);
    Mixed.Push(true);
    Mixed.Push(-3);
    TStringList Texts;
    Texts.Assign(&Mixed); // the list pulls from the stack
    EXPECT_EQ(Lines(Texts),
              (std::vector<std::string>{"-3", "True", "2.5", "1099511627776", "1.5"}));
    TVMExecutionStack Back;
    Back.Assign(&Texts);
    EXPECT_EQ(Contents(Back), (std::vector<Variant>{"-3", "True", "2.5", "1099511627776", "1.5"}));

    TStringList Empty;
    Back.Assign(&Empty);
    EXPECT_EQ(Back.GetCount(), 0);
}

TEST(ExecutionStack, AssignBetweenStacksAndRefusals) {
    TVMExecutionStack A;
    A.Push(1);
    A.Push("two");
    TVMExecutionStack B;
    B.Push(99);
    B.Assign(&A);
    EXPECT_EQ(Contents(B), (std::vector<Variant>{"two", 1}));
    B.Pop();
    EXPECT_EQ(A.GetCount(), 2) << "the copy is independent";
    B.Assign(&B);
    EXPECT_EQ(Contents(B), (std::vector<Variant>{1}));

    TStringList L;
    EXPECT_THROW(A.AssignTo(&B), EConvertError); // only lists of texts are filled by AssignTo
    TSQNode Plain;
    EXPECT_THROW(A.Assign(&Plain), EConvertError);
    EXPECT_EQ(A.GetCount(), 2);

    TVMExecutionStackNode N1;
    TVMExecutionStackNode N2;
    N1.SetValue(5);
    N2.Assign(&N1);
    EXPECT_EQ(N2.GetValue(), Variant(5));
    N2.Assign(&Plain); // a plain node has no value to give
    EXPECT_EQ(N2.GetValue(), Variant(5));
    EXPECT_THROW(N2.Assign(&L), EConvertError);
}

TEST(ExecutionStack, NodesComeBackEmptyFromThePool) {
    TVMExecutionStack S;
    S.Push(std::string(64, 's'));
    S.Push(7);
    S.Clear();
    // The recycled nodes must not remember their old values.
    TVMExecutionStackNode* N = S.AddNode(S.NewNode());
    EXPECT_TRUE(N->GetValue().IsEmpty());
    N = S.AddNode(S.NewNode());
    EXPECT_TRUE(N->GetValue().IsEmpty());
    EXPECT_EQ(S.GetCount(), 2);
    EXPECT_EQ(S.ToString(), "\n\n");
}
