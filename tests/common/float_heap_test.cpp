#include <gtest/gtest.h>

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
    std::vector<TObject> Items(7);
    const float NaN = std::numeric_limits<float>::quiet_NaN();
    const float Keys[] = {5, 9, NaN, 7, 5, -1, static_cast<float>(9 + 1e-12)};
    TFloatPriorityQueue Q;
    for (int I = 0; I < 7; ++I)
        Q.Push(&Items[I], Keys[I]);
    // NaN last; 9 + 1e-12 is 9 in single precision, so it ties with 9 and follows it.
    EXPECT_EQ(Order(Q, Items), (std::vector<int>{5, 0, 4, 3, 1, 6, 2}));
    Q.SetOrder(hoLargestFirst); // re-orders the same entries; reading removed nothing
    EXPECT_EQ(Order(Q, Items), (std::vector<int>{1, 6, 3, 0, 4, 5, 2}));

    Q.Clear();
    EXPECT_EQ(Q.GetCount(), 0);
    Q.Push(&Items[0], 1);
    Q.Push(&Items[1], 3);
    EXPECT_EQ(Q.Peek(), &Items[1]); // the order survives Clear
    try {
        Q.GetItem(2);
        FAIL() << "no error";
    } catch (const EListError& E) {
        EXPECT_STREQ(E.what(), "Priority queue position out of range: 2 (count 2)");
    }
}

TEST(FloatHeap, PopTakesTheFirstEntryAndLaterPushesJoinTheOrder) {
    std::vector<TObject> Items(5);
    TFloatHeap Q;
    Q.Push(&Items[0], 3);
    Q.Push(&Items[1], 1);
    Q.Push(&Items[2], 2);
    EXPECT_EQ(Q.Pop(), &Items[1]);
    Q.Push(&Items[3], 0);
    Q.Push(&Items[4], 2.5f);
    EXPECT_EQ(Order(Q, Items), (std::vector<int>{3, 2, 4, 0}));
    for (int Expected : {3, 2, 4, 0})
        EXPECT_EQ(Q.Pop(), &Items[Expected]);
    EXPECT_THROW(Q.Pop(), EListError);
    EXPECT_THROW(Q.GetItem(0), EListError);
}
