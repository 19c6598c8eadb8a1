// find_next_bit / find_next_zero_bit: the first match at or after the offset, or the size.
#include <gtest/gtest.h>

#include <platform/bitops.h>

namespace {

class FindBitTest : public ::testing::Test {
  protected:
    unsigned long map[3] = {};
};

TEST_F(FindBitTest, FindNextBit_AcrossWords) {
    __set_bit(0, map);
    __set_bit(63, map);
    __set_bit(64, map);
    __set_bit(150, map);
    EXPECT_EQ(find_next_bit(map, 192, 0), 0u);
    EXPECT_EQ(find_next_bit(map, 192, 1), 63u);
    EXPECT_EQ(find_next_bit(map, 192, 64), 64u);
    EXPECT_EQ(find_next_bit(map, 192, 65), 150u);
    EXPECT_EQ(find_next_bit(map, 192, 151), 192u);
    EXPECT_EQ(find_first_bit(map, 192), 0u);
}

TEST_F(FindBitTest, FindNextBit_IgnoresBitsAtOrPastSize) {
    __set_bit(23, map);
    __set_bit(40, map);
    EXPECT_EQ(find_next_bit(map, 23, 0), 23u);
    EXPECT_EQ(find_next_bit(map, 24, 0), 23u);
    EXPECT_EQ(find_next_bit(map, 40, 24), 40u);
    EXPECT_EQ(find_next_bit(map, 23, 30), 23u);  // offset past size
    EXPECT_EQ(find_next_bit(map, 0, 0), 0u);
}

TEST_F(FindBitTest, FindNextZeroBit_AcrossWordsAndSize) {
    map[0] = ~0UL;
    map[1] = ~0UL ^ (1UL << 5);
    EXPECT_EQ(find_next_zero_bit(map, 192, 0), 69u);
    EXPECT_EQ(find_next_zero_bit(map, 69, 0), 69u);  // none below size
    EXPECT_EQ(find_next_zero_bit(map, 192, 70), 128u);
    EXPECT_EQ(find_first_zero_bit(map, 64), 64u);
}

TEST_F(FindBitTest, ForEachSetBit_VisitsInOrder) {
    const unsigned int bits[] = {1, 22, 64, 127};
    for (unsigned int b : bits)
        set_bit(b, map);
    unsigned long bit;
    size_t i = 0;
    for_each_set_bit(bit, map, 128) {
        ASSERT_LT(i, ARRAY_SIZE(bits));
        EXPECT_EQ(bit, bits[i++]);
    }
    EXPECT_EQ(i, ARRAY_SIZE(bits));
}

}  // namespace
