// Log records: header, data layout, the long-text escape, the bad-format
// text and the growth of the data area. No task interface exists here, so
// creating a record sends nothing.
#include "NetInterface/CkxOrbNetInterface/OrbLog.h"

#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ForkedChild.h"

namespace {

template <class T>
T Read(const uint8_t* pData) {
  T value;
  std::memcpy(&value, pData, sizeof value);
  return value;
}

int64_t Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The text of a message record (index, then short or escaped length).
std::string TextOf(const OrbLogBase& record) {
  const uint8_t* pData = record.Data() + 4;
  size_t uiLength = Read<uint16_t>(pData);
  pData += 2;
  if (uiLength == 65535) {
    uiLength = Read<uint32_t>(pData);
    pData += 4;
  }
  return std::string(reinterpret_cast<const char*>(pData), uiLength);
}

TEST(OrbLogTest, HeaderAndDataLayout) {
  const int64_t liBefore = Now();
  OrbLogMessF record(OrbLogEvtFileMess, 9000, "Status: %d for FileID: %d", 3, 17);
  const int64_t liAfter = Now();
  const std::string strText = "Status: 3 for FileID: 17";

  const OrbLogIndex& header = record.Header();
  EXPECT_EQ(header.reserved, 0u);
  EXPECT_GE(header.perfCounter, liBefore);
  EXPECT_LE(header.perfCounter, liAfter);
  EXPECT_EQ(header.threadId, static_cast<uint32_t>(gettid()));
  EXPECT_EQ(header.eventType, 104);
  EXPECT_EQ(header.dataLength, 4 + 2 + strText.size());
  ASSERT_EQ(record.Length(), 4 + 2 + strText.size());
  EXPECT_EQ(Read<uint32_t>(record.Data()), 9000u);
  EXPECT_EQ(TextOf(record), strText);
}

// The thread id is asked of the system once per thread: another thread, and
// the thread of a child forked after a record was made, still carry their own.
TEST(OrbLogTest, EveryThreadAndAForkedChildCarryTheirOwnThreadId) {
  auto ownId = [] {
    return OrbLogBase(OrbLogEvtArrayDiag).Header().threadId == static_cast<uint32_t>(gettid());
  };
  ASSERT_TRUE(ownId());
  bool bOther = false;
  std::thread([&] { bOther = ownId() && ownId(); }).join();
  EXPECT_TRUE(bOther);
  EXPECT_EQ(ForkedChild([&] { return ownId() ? 0 : 1; }).Wait(), 0);
}

// Up to 65534 bytes a text has a 16-bit length; beyond, 65535 and a 32-bit
// length. The header's length is capped at 65535.
TEST(OrbLogTest, LengthAbove65534UsesTheEscape) {
  for (size_t uiLength : {size_t{0}, size_t{65534}, size_t{65535}}) {
    SCOPED_TRACE(uiLength);
    const std::string strText(uiLength, 'l');
    OrbLogMessF record(OrbLogEvtFileMess, 2, OrbLogText{strText});
    const size_t uiEscape = uiLength > 65534 ? 4 : 0;
    ASSERT_EQ(record.Length(), 4 + 2 + uiEscape + uiLength);
    EXPECT_EQ(Read<uint16_t>(record.Data() + 4), uiEscape ? 65535u : uiLength);
    EXPECT_EQ(TextOf(record), strText);
    EXPECT_EQ(record.Header().dataLength, std::min<size_t>(record.Length(), 65535));
    // The same text through a format is written the same way.
    OrbLogMessF formatted(OrbLogEvtFileMess, 2, "%s", strText);
    ASSERT_EQ(formatted.Length(), record.Length());
    EXPECT_EQ(std::memcmp(formatted.Data(), record.Data(), record.Length()), 0);
  }
}

TEST(OrbLogTest, BadFormatWritesTheFormatWithAMark) {
  OrbLogMessF missing(OrbLogEvtFileMess, 9000, "Status %d for %d", 5);
  EXPECT_EQ(TextOf(missing), "Status %d for %d *** BAD FORMAT ***");
  OrbLogMessF mismatch(OrbLogEvtArrayDiag, 9000, "Name %s", 5);
  EXPECT_EQ(TextOf(mismatch), "Name %s *** BAD FORMAT ***");
  OrbLogMessF percent(OrbLogEvtFileMess, 9000, "100%% done");
  EXPECT_EQ(TextOf(percent), "100% done");
}

// The data area moves to the heap when an append reaches its limit; each
// move keeps what was written.
TEST(OrbLogTest, DataAreaMovesToTheHeapWhenAnAppendReachesTheLimit) {
  OrbLogMessF inlineRecord(OrbLogEvtFileMess, 1, OrbLogText{std::string(992, 'i')});
  EXPECT_FALSE(inlineRecord.IsOnHeap());
  OrbLogMessF movedRecord(OrbLogEvtFileMess, 1, OrbLogText{std::string(993, 'm')});
  EXPECT_TRUE(movedRecord.IsOnHeap());
  EXPECT_EQ(TextOf(movedRecord), std::string(993, 'm'));

  OrbLogBase record(OrbLogEvtArrayDiag);
  std::vector<uint8_t> expected;
  for (size_t uiCount : std::vector<size_t>{500, 498, 1, 999, 997, 5000, 0, 100000}) {
    std::vector<uint8_t> bytes(uiCount);
    for (size_t i = 0; i < uiCount; ++i) bytes[i] = static_cast<uint8_t>(expected.size() + i * 7);
    record.AppendBytes(bytes.data(), uiCount);
    expected.insert(expected.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(record.IsOnHeap(), expected.size() >= 999) << expected.size();
  }
  ASSERT_EQ(record.Length(), expected.size());
  EXPECT_EQ(std::memcmp(record.Data(), expected.data(), expected.size()), 0);
}

}  // namespace
