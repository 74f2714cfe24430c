#include <gtest/gtest.h>

#include <string>

#include "kv/rtl/collection.h"
#include "kv/rtl/exceptions.h"
#include "kv/rtl/strings.h"

using namespace kv;

namespace {

struct TCountedList : TStringList {
    int Changes = 0;
    TCountedList() {
        SetOnChange([this](TObject* Sender) {
            EXPECT_EQ(Sender, this);
            ++Changes;
        });
    }
};

std::string Lines(const TStrings& S) {
    std::string R;
    for (int I = 0; I < S.GetCount(); ++I)
        R += (I ? "," : "") + S[I];
    return R;
}

} // namespace

TEST(StringList, EveryChangeFiresOnce) {
    TCountedList L;
    EXPECT_EQ(L.Add("a"), 0);
    EXPECT_EQ(L.Add("c"), 1);
    L.Insert(1, "b");
    L.Insert(3, "d");
    EXPECT_EQ(Lines(L), "a,b,c,d");
    EXPECT_EQ(L.Changes, 4);
    L.SetString(0, "A");
    L.Delete(3);
    L.Move(0, 2);
    EXPECT_EQ(Lines(L), "b,c,A");
    L.Exchange(0, 2);
    EXPECT_EQ(Lines(L), "A,c,b");
    EXPECT_EQ(L.Changes, 8);
    L.Clear();
    L.Clear(); // already empty: no change
    EXPECT_EQ(L.Changes, 9);
    EXPECT_EQ(L.GetCount(), 0);
}

TEST(StringList, BatchesFireOnceAtTheOutermostEnd) {
    TCountedList L;
    L.BeginUpdate();
    L.BeginUpdate();
    L.Add("x");
    L.Add("y");
    L.Delete(0);
    L.EndUpdate();
    EXPECT_EQ(L.Changes, 0);
    L.EndUpdate();
    EXPECT_EQ(L.Changes, 1);
    L.EndUpdate(); // unbalanced: ignored
    EXPECT_EQ(L.Changes, 1);
    L.BeginUpdate();
    L.EndUpdate(); // an empty batch still reports
    EXPECT_EQ(L.Changes, 2);

    L.SetText("one\r\ntwo\rthree\n\nfive\n");
    EXPECT_EQ(Lines(L), "one,two,three,,five");
    EXPECT_EQ(L.GetText(), "one\ntwo\nthree\n\nfive\n");
    EXPECT_EQ(L.Changes, 3);
    L.SetText("");
    EXPECT_EQ(L.GetCount(), 0);
    L.SetText("last");
    EXPECT_EQ(Lines(L), "last");
}

TEST(StringList, IndexOfIgnoresCaseAndFindsTheFirst) {
    TStringList L;
    EXPECT_EQ(L.IndexOf("push"), -1);
    L.Add("Push");
    L.Add("Pop");
    L.Add("POP");
    EXPECT_EQ(L.IndexOf("push"), 0);
    EXPECT_EQ(L.IndexOf("pop"), 1);
    EXPECT_EQ(L.IndexOf("Dup"), -1);
    EXPECT_EQ(L.IndexOf("Pu"), -1);
}

TEST(StringList, AssignCopiesLinesAndObjectsWithOneChange) {
    TStringList Source;
    TStringList Tag;
    Source.AddObject("a", &Tag);
    Source.Add("b");
    TCountedList Target;
    Target.Add("old");
    Target.Changes = 0;
    Target.Assign(&Source);
    EXPECT_EQ(Lines(Target), "a,b");
    EXPECT_EQ(Target.GetObject(0), &Tag);
    EXPECT_EQ(Target.IndexOfObject(&Tag), 0);
    EXPECT_EQ(Target.Changes, 1);
    EXPECT_TRUE(Target.Equals(Source));

    Target.Assign(&Target); // keeps its lines, still reports once
    EXPECT_EQ(Lines(Target), "a,b");
    EXPECT_EQ(Target.Changes, 2);

    TCountedList Other;
    Source.AssignTo(&Other);
    EXPECT_EQ(Lines(Other), "a,b");
    EXPECT_EQ(Other.Changes, 1);

    TCollection NotStrings(nullptr, TCollectionItemClass::Of<TCollectionItem>());
    EXPECT_THROW(Target.Assign(&NotStrings), EConvertError);
    EXPECT_THROW(Source.AssignTo(&NotStrings), EConvertError);
    EXPECT_EQ(Lines(Target), "a,b");
    EXPECT_EQ(Target.Changes, 2);
    Target.SetString(1, "B");
    EXPECT_FALSE(Target.Equals(Source));
}

TEST(StringList, IndexErrorsNameIndexAndCount) {
    TCountedList L;
    L.Add("a");
    try {
        L.GetString(1);
        FAIL();
    } catch (const EListError& E) {
        EXPECT_STREQ(E.what(), "List index out of bounds (1); count is 1");
    }
    EXPECT_THROW(L.SetString(-1, "x"), EListError);
    EXPECT_THROW(L.Insert(2, "x"), EListError);
    EXPECT_THROW(L.Move(0, 1), EListError);
    EXPECT_EQ(L.Changes, 1);
    L.Insert(1, "end");
    EXPECT_EQ(Lines(L), "a,end");
}
