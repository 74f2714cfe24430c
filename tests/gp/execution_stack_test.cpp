#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kv/gp/execution_stack.h"
#include "kv/rtl/strings.h"

using namespace kv;

namespace {

std::vector<Variant> Contents(const TVMExecutionStack& S) {
    std::vector<Variant> R;
    for (int I = 0; I < S.GetCount(); ++I)
        R.push_back(S.GetItem(I));
    return R;
}

} // namespace

TEST(ExecutionStack, PushPopAndIndexedAccessCountFromTheTop) {
    TVMExecutionStack S;
    S.Push(1);
    S.Push("a");
    EXPECT_EQ(S.Push(true)->GetValue(), Variant(true));
    EXPECT_EQ(S.GetCount(), 3);
    EXPECT_EQ(S.GetTop(), Variant(true));
    EXPECT_EQ(S.GetItem(2), Variant(1));
    EXPECT_EQ(S.Pop(), Variant(true));
    EXPECT_EQ(S.GetTop(), Variant("a"));
    S.Push(3);
    S.SetItem(1, 7);
    EXPECT_EQ(Contents(S), (std::vector<Variant>{3, 7, 1}));
    EXPECT_THROW(S.GetItem(3), EListError);

    S.Clear();
    for (int Attempt = 0; Attempt < 2; ++Attempt) {
        try {
            Attempt == 0 ? S.Pop() : S.GetTop();
            FAIL() << "no error on an empty stack";
        } catch (const EListError& E) {
            EXPECT_STREQ(E.what(), SListEmpty);
        }
    }
    EXPECT_EQ(S.GetCount(), 0);
    // Recycled nodes come back without their old values.
    EXPECT_TRUE(S.AddNode(S.NewNode())->GetValue().IsEmpty());
}

TEST(ExecutionStack, ToStringListsTopFirst) {
    TVMExecutionStack S;
    EXPECT_EQ(S.ToString(), "");
    S.Push(1);
    S.Push(2);
    std::string Expected(1, '2');
    Expected.append(NewLineString).append(1, '1').append(NewLineString);
    EXPECT_EQ(S.ToString(), Expected);
}

TEST(ExecutionStack, ListsOfTextsRoundTrip) {
    TStringList In;
    In.SetText("x\ny\nz\n");
    TVMExecutionStack S;
    S.Push(42);
    S.Assign(&In);
    EXPECT_EQ(Contents(S), (std::vector<Variant>{"x", "y", "z"}));

    TStringList Out;
    Out.SetText("old 1\nold 2\nold 3\nold 4\n");
    int Changes = 0;
    Out.SetOnChange([&](TObject*) { ++Changes; });
    S.AssignTo(&Out);
    EXPECT_EQ(Out.GetText(), "x\ny\nz\n");
    EXPECT_EQ(Changes, 1);

    TVMExecutionStack Mixed;
    Mixed.Push(Currency::FromScaled(15000));
    Mixed.Push(int64_t(1) << 40);
    Mixed.Push(2.5);
    Mixed.Push(true);
    Out.Assign(&Mixed);
    EXPECT_EQ(Out.GetText(), "True\n2.5\n1099511627776\n1.5\n");
    Mixed.Assign(&Out);
    EXPECT_EQ(Contents(Mixed), (std::vector<Variant>{"True", "2.5", "1099511627776", "1.5"}));
    TStringList Empty;
    Mixed.Assign(&Empty);
    EXPECT_EQ(Mixed.GetCount(), 0);
}

TEST(ExecutionStack, CopiesBetweenStacksAndNodes) {
    TVMExecutionStack A;
    A.Push(1);
    A.Push("two");
    TVMExecutionStack B;
    B.Push(99);
    B.Assign(&A);
    B.Pop();
    EXPECT_EQ(Contents(B), (std::vector<Variant>{1}));
    EXPECT_EQ(Contents(A), (std::vector<Variant>{"two", 1}));
    EXPECT_THROW(A.AssignTo(&B), EConvertError);

    TVMExecutionStackNode N1;
    TVMExecutionStackNode N2;
    N1.SetValue(5);
    N2.Assign(&N1);
    EXPECT_EQ(N2.GetValue(), Variant(5));
    TSQNode Plain;
    N2.Assign(&Plain); // a plain node has no value to give
    EXPECT_EQ(N2.GetValue(), Variant(5));
    EXPECT_THROW(N2.Assign(&A), EConvertError);
}
