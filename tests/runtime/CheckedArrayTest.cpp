#include "CheckedArray.h"

#include <gtest/gtest.h>

namespace {

// A block is handed out only when every one of its elements lies inside the array, and it is the array's
// own storage from the index given.
TEST(CheckedArray, BlockIsCheckedOverAllItsElements) {
    struct Case {
        int index;
        bool inside8;
        bool inside2;
    };
    const Case cases[] = {{-1, false, false}, {0, true, true},    {1, true, true},     {493, true, true},
                          {494, false, true}, {499, false, true}, {500, false, false}, {501, false, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.index);
        CheckedArray<0, 500> items;
        if (c.inside8) {
            const auto block = items.block<8>(c.index);
            block[7] = 77;
            EXPECT_EQ(items[c.index + 7], 77);
        } else {
            EXPECT_THROW(items.block<8>(c.index), SubscriptError);
        }
        if (c.inside2) {
            items.block<2>(c.index)[0] = 22;
            EXPECT_EQ(items[c.index], 22);
        } else {
            EXPECT_THROW(items.block<2>(c.index), SubscriptError);
        }
    }
    CheckedArray<3, 5> shifted;
    shifted.block<2>(4)[1] = 9;
    EXPECT_EQ(shifted[5], 9);
    EXPECT_THROW(shifted.block<2>(2), SubscriptError);
    EXPECT_THROW(shifted.block<4>(3), SubscriptError);
}

} // namespace
