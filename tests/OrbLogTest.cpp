// Log records: header, data layout, the long-text escape, the bad-format
// text and the growth of the data area. No task interface exists here, so
// creating a record sends nothing.
#include "NetInterface/CkxOrbNetInterface/OrbLog.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

uint16_t ReadU16(const uint8_t* pData) {
  uint16_t usValue;
  std::memcpy(&usValue, pData, sizeof usValue);
  return usValue;
}

uint32_t ReadU32(const uint8_t* pData) {
  uint32_t uiValue;
  std::memcpy(&uiValue, pData, sizeof uiValue);
  return uiValue;
}

int64_t Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The text of a message record (index, then short or escaped length).
std::string TextOf(const OrbLogBase& record) {
  const uint8_t* pData = record.Data() + 4;
  size_t uiLength = ReadU16(pData);
  pData += 2;
  if (uiLength == 65535) {
    uiLength = ReadU32(pData);
    pData += 4;
  }
  return std::string(reinterpret_cast<const char*>(pData), uiLength);
}

TEST(OrbLogTest, HeaderAndDataLayout) {
  const int64_t liBefore = Now();
  OrbLogMessF record(OrbLogEvtFileMess, 9000,
                     "++++++++++ CkxDtb2File.OrbKernelDynDataSecGrowMess: New DynGrowStatus: %d "
                     "for FileID: %d",
                     3, 17);
  const int64_t liAfter = Now();
  const std::string strText =
      "++++++++++ CkxDtb2File.OrbKernelDynDataSecGrowMess: New DynGrowStatus: 3 for FileID: 17";

  const OrbLogIndex& header = record.Header();
  EXPECT_EQ(header.reserved, 0u);
  EXPECT_GE(header.perfCounter, liBefore);
  EXPECT_LE(header.perfCounter, liAfter);
  EXPECT_EQ(header.threadId, static_cast<uint32_t>(gettid()));
  EXPECT_EQ(header.eventType, 104);
  EXPECT_EQ(header.dataLength, 4 + 2 + strText.size());

  ASSERT_EQ(record.Length(), 4 + 2 + strText.size());
  const uint8_t* pData = record.Data();
  EXPECT_EQ(ReadU32(pData), 9000u);
  EXPECT_EQ(ReadU16(pData + 4), strText.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(pData + 6), strText.size()), strText);

  // An empty text is a bare 16-bit 0.
  OrbLogMessF empty(OrbLogEvtArrayDiag, 7, "");
  EXPECT_EQ(empty.Header().eventType, 103);
  ASSERT_EQ(empty.Length(), 6u);
  EXPECT_EQ(ReadU32(empty.Data()), 7u);
  EXPECT_EQ(ReadU16(empty.Data() + 4), 0u);
}

// The thread id is asked of the system once per thread: another thread, and
// the thread of a child forked after a record was made, still carry their own.
TEST(OrbLogTest, EveryThreadAndAForkedChildCarryTheirOwnThreadId) {
  auto ownId = [] { return OrbLogBase(OrbLogEvtArrayDiag).Header().threadId == static_cast<uint32_t>(gettid()); };
  ASSERT_TRUE(ownId());
  bool bOther = false;
  std::thread([&] { bOther = ownId() && ownId(); }).join();
  EXPECT_TRUE(bOther);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(ownId() ? 0 : 1);
  int iStatus = 0;
  ASSERT_EQ(waitpid(child, &iStatus, 0), child);
  EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0);
}

TEST(OrbLogTest, LengthAbove65534UsesTheEscape) {
  const std::string strShort(65534, 's');
  OrbLogMessF shortRecord(OrbLogEvtFileMess, 1, OrbLogText{strShort});
  ASSERT_EQ(shortRecord.Length(), 4u + 2 + 65534);
  EXPECT_EQ(ReadU16(shortRecord.Data() + 4), 65534u);
  EXPECT_EQ(TextOf(shortRecord), strShort);
  EXPECT_EQ(shortRecord.Header().dataLength, 65535u);  // capped

  const std::string strLong(65535, 'l');
  OrbLogMessF longRecord(OrbLogEvtFileMess, 2, OrbLogText{strLong});
  ASSERT_EQ(longRecord.Length(), 4u + 2 + 4 + 65535);
  EXPECT_EQ(ReadU16(longRecord.Data() + 4), 65535u);
  EXPECT_EQ(ReadU32(longRecord.Data() + 6), 65535u);
  EXPECT_EQ(TextOf(longRecord), strLong);
  EXPECT_EQ(longRecord.Header().dataLength, 65535u);

  // The same text through a format is written the same way.
  OrbLogMessF formatted(OrbLogEvtFileMess, 2, "%s", strLong);
  ASSERT_EQ(formatted.Length(), longRecord.Length());
  EXPECT_EQ(std::memcmp(formatted.Data(), longRecord.Data(), longRecord.Length()), 0);
}

TEST(OrbLogTest, BadFormatWritesTheFormatWithAMark) {
  OrbLogMessF missing(OrbLogEvtFileMess, 9000, "Status %d for %d", 5);
  EXPECT_EQ(TextOf(missing), "Status %d for %d *** BAD FORMAT ***");
  OrbLogMessF invalid(OrbLogEvtFileMess, 9000, "Bad %q here", 5);
  EXPECT_EQ(TextOf(invalid), "Bad %q here *** BAD FORMAT ***");
  OrbLogMessF mismatch(OrbLogEvtArrayDiag, 9000, "Name %s", 5);
  EXPECT_EQ(TextOf(mismatch), "Name %s *** BAD FORMAT ***");
  // %% needs no argument and is not a bad format.
  OrbLogMessF percent(OrbLogEvtFileMess, 9000, "100%% done");
  EXPECT_EQ(TextOf(percent), "100% done");
}

TEST(OrbLogTest, DataAreaMovesToTheHeapWhenAnAppendReachesTheLimit) {
  // Index + length + 992 bytes end one byte before the limit; one more moves.
  OrbLogMessF inlineRecord(OrbLogEvtFileMess, 1, OrbLogText{std::string(992, 'i')});
  EXPECT_FALSE(inlineRecord.IsOnHeap());
  OrbLogMessF movedRecord(OrbLogEvtFileMess, 1, OrbLogText{std::string(993, 'm')});
  EXPECT_TRUE(movedRecord.IsOnHeap());
  EXPECT_EQ(TextOf(movedRecord), std::string(993, 'm'));

  // Several appends with distinct bytes; each move must keep what was written.
  OrbLogBase record(OrbLogEvtArrayDiag);
  std::vector<uint8_t> expected;
  auto append = [&](size_t uiCount) {
    std::vector<uint8_t> bytes(uiCount);
    for (size_t i = 0; i < uiCount; ++i) bytes[i] = static_cast<uint8_t>(expected.size() + i * 7);
    record.AppendBytes(bytes.data(), uiCount);
    expected.insert(expected.end(), bytes.begin(), bytes.end());
  };
  append(500);
  append(498);  // 998 written: still inline
  EXPECT_FALSE(record.IsOnHeap());
  EXPECT_EQ(record.Capacity(), 1000u);
  append(1);  // reaches the limit: first move, copies
  EXPECT_TRUE(record.IsOnHeap());
  EXPECT_EQ(record.Capacity(), 1u + 1000 + 998);
  append(999);  // ends on the new limit: second move, reallocates
  EXPECT_EQ(record.Capacity(), 999u + 1000 + 999);
  append(997);  // fits below the limit
  EXPECT_EQ(record.Capacity(), 999u + 1000 + 999);
  append(5000);
  EXPECT_EQ(record.Capacity(), 5000u + 1000 + 2995);
  append(0);
  append(100000);
  ASSERT_EQ(record.Length(), expected.size());
  EXPECT_EQ(std::memcmp(record.Data(), expected.data(), expected.size()), 0);
}

}  // namespace
