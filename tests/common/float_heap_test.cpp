#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kv/common/float_heap.h"
#include "kv/rtl/exceptions.h"

using namespace kv;

namespace {

// The items' indices in Items, in queue order.
std::vector<int> Order(const TFloatHeap& Q, const std::vector<TObject>& Items) {
    std::vector<int> Out;
    for (int32_t P = 0; P < Q.GetCount(); ++P)
        Out.push_back(static_cast<int>(Q.GetItem(P) - Items.data()));
    return Out;
}

} // namespace

TEST(FloatHeap, PositionsFollowStrictPriorityWithTiesInPushOrder) {
    std::vector<TObject> Items(6);
    TFloatPriorityQueue Q;
    EXPECT_EQ(Q.GetOrder(), hoSmallestFirst);
    const float Keys[] = {5, 9, 7, 5, -1, 9};
    for (int I = 0; I < 6; ++I)
        Q.Push(&Items[I], Keys[I]);
    EXPECT_EQ(Q.GetCount(), 6);
    EXPECT_EQ(Order(Q, Items), (std::vector<int>{4, 0, 3, 2, 1, 5}));
    EXPECT_EQ(Q.GetKey(0), -1.0f);
    EXPECT_EQ(Q.Peek(), &Items[4]);

    Q.SetOrder(hoLargestFirst); // re-orders the same entries
    EXPECT_EQ(Order(Q, Items), (std::vector<int>{1, 5, 2, 0, 3, 4}));
    EXPECT_EQ(Q.GetCount(), 6); // reading removes nothing

    Q.Clear();
    EXPECT_EQ(Q.GetCount(), 0);
    EXPECT_EQ(Q.GetOrder(), hoLargestFirst);
    Q.Push(&Items[0], 1.0f);
    Q.Push(&Items[1], 3.0f);
    EXPECT_EQ(Q.GetItem(0), &Items[1]);
}

TEST(FloatHeap, KeysCompareInSinglePrecisionAndNaNComesLast) {
    std::vector<TObject> Items(5);
    const float NaN = std::numeric_limits<float>::quiet_NaN();
    for (TFloatHeapOrder O : {hoSmallestFirst, hoLargestFirst}) {
        TFloatHeap Q;
        Q.SetOrder(O);
        Q.Push(&Items[0], NaN);
        Q.Push(&Items[1], static_cast<float>(1.0 + 1e-12)); // equal to 1 in single precision
        Q.Push(&Items[2], 1.0f);
        Q.Push(&Items[3], NaN);
        Q.Push(&Items[4], O == hoSmallestFirst ? 2.0f : 0.0f);
        EXPECT_EQ(Order(Q, Items), (std::vector<int>{1, 2, 4, 0, 3})) << O;
    }
}

TEST(FloatHeap, PopTakesTheFirstEntryAndPushAfterPopKeepsTheOrder) {
    std::vector<TObject> Items(5);
    TFloatHeap Q;
    Q.Push(&Items[0], 3);
    Q.Push(&Items[1], 1);
    Q.Push(&Items[2], 2);
    EXPECT_EQ(Q.Pop(), &Items[1]);
    Q.Push(&Items[3], 0);
    Q.Push(&Items[4], 2.5f);
    EXPECT_EQ(Order(Q, Items), (std::vector<int>{3, 2, 4, 0}));
    EXPECT_EQ(Q.Pop(), &Items[3]);
    EXPECT_EQ(Q.Pop(), &Items[2]);
    EXPECT_EQ(Q.Pop(), &Items[4]);
    EXPECT_EQ(Q.Pop(), &Items[0]);
    EXPECT_THROW(Q.Pop(), EListError);
    Q.Push(&Items[1], 7);
    EXPECT_EQ(Q.GetCount(), 1);
    EXPECT_EQ(Q.GetItem(0), &Items[1]);
}

TEST(FloatHeap, PositionOutsideRaisesListErrorNamingIt) {
    std::vector<TObject> Items(2);
    TFloatHeap Q;
    Q.Push(&Items[0], 1);
    Q.Push(&Items[1], 2);
    try {
        Q.GetItem(2);
        FAIL() << "no error";
    } catch (const EListError& E) {
        EXPECT_STREQ(E.what(), "Priority queue position out of range: 2 (count 2)");
    }
    EXPECT_THROW(Q.GetEntry(-1), EListError);
    TFloatHeap Empty;
    EXPECT_THROW(Empty.GetItem(0), EListError);
}
