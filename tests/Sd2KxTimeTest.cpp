// The packed race time: the exact words written and what is read back.
#include <gtest/gtest.h>

#include "templates/Sd2KxTime.h"

namespace {

TEST(Sd2KxTimeTest, NullIsExactlyTheNoValueBitAndReadsBackNull) {
  EXPECT_EQ(Sd2KxTime::Null().m_uliWord, 0x400000000000u);
  EXPECT_TRUE(Sd2KxTime::Null().IsNull());
  // Whatever else the word holds, the no-value bit makes it null.
  EXPECT_TRUE(Sd2KxTime{0x400000000000u | 0x1234u | Sd2KxTime::kNegative}.IsNull());
  EXPECT_FALSE(Sd2KxTime::Make(0, 0, false).IsNull());
  EXPECT_EQ(Sd2KxTime::Make(0, 0, false).m_uliWord, 0u);
}

TEST(Sd2KxTimeTest, PrecisionSevenWithTheNegativeFlagRoundTrips) {
  const Sd2KxTime time = Sd2KxTime::Make(123456789, 7, true);
  EXPECT_EQ(time.m_uliWord, 123456789u | (7ull << 43) | (1ull << 47));
  EXPECT_FALSE(time.IsNull());
  EXPECT_EQ(time.Time(), 123456789);
  EXPECT_EQ(time.Precision(), 7u);
  EXPECT_TRUE(time.Negative());

  const Sd2KxTime positive = Sd2KxTime::Make(0x7FFFFFFFFFF, 3, false);
  EXPECT_EQ(positive.Time(), 0x7FFFFFFFFFF);
  EXPECT_EQ(positive.Precision(), 3u);
  EXPECT_FALSE(positive.Negative());
}

TEST(Sd2KxTimeTest, BitsBeyondTheirFieldsAreDroppedWhenWritten) {
  // Time bits above 42 reach neither precision, no-value, negative nor the
  // high bits.
  const Sd2KxTime time = Sd2KxTime::Make(-1, 0, false);
  EXPECT_EQ(time.m_uliWord, 0x7FFFFFFFFFFu);
  EXPECT_EQ(Sd2KxTime::Make((int64_t{1} << 43) | 5, 0, false).Time(), 5);
  // A precision beyond 3 bits keeps its low bits only.
  EXPECT_EQ(Sd2KxTime::Make(1, 0xF, false).m_uliWord, 1u | (7ull << 43));
  EXPECT_FALSE(Sd2KxTime::Make(1, 0xF, false).IsNull());
}

TEST(Sd2KxTimeTest, Bits48To63AreIgnoredWhenRead) {
  const Sd2KxTime clean = Sd2KxTime::Make(98765, 2, true);
  const Sd2KxTime dirty{clean.m_uliWord | 0xFFFF000000000000u};
  EXPECT_FALSE(dirty.IsNull());
  EXPECT_EQ(dirty.Time(), 98765);
  EXPECT_EQ(dirty.Precision(), 2u);
  EXPECT_TRUE(dirty.Negative());

  const Sd2KxTime onlyHigh{0xFFFF000000000000u};
  EXPECT_FALSE(onlyHigh.IsNull());
  EXPECT_EQ(onlyHigh.Time(), 0);
  EXPECT_EQ(onlyHigh.Precision(), 0u);
  EXPECT_FALSE(onlyHigh.Negative());
}

}  // namespace
