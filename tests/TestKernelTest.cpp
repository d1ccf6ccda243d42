// The test kernel on its own: loaded as the library will load it, called
// directly through its entry point and operation tables.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "tests/testkernel/TestKernelSupport.h"

using ::testing::ElementsAre;

namespace {

class TestKernelTest : public ::testing::Test {
 protected:
  void SetUp() override { kernel.Reset(); }

  template <class Itf>
  Itf* Request(const char* csComponent, const char* csInterface, uint32_t& uiVersion,
               void* pExtra = nullptr) {
    void* p = reinterpret_cast<void*>(1);  // must be overwritten either way
    entry(csComponent, csInterface, 1, &p, uiVersion, pExtra);
    return static_cast<Itf*>(p);
  }

  TestKernel& kernel = TkLoad();
  PfCreateKxComponent entry = TkEntry();
};

TEST_F(TestKernelTest, GrantsTheTestsVersionAndRecordsSlotCalls) {
  kernel.Grant("CkxDtb2File", 10);
  uint32_t version = 16;
  auto* file = Request<IkxDtb2File>("CkxDtb2", "CkxDtb2File", version);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(version, 10u);

  file->ops->RegisterMember(file, 5, 75530582);
  file->ops->Release(file);

  const std::vector<TkCall> calls = kernel.CallsOf("CkxDtb2File");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].slot, kTkCreateSlot);
  EXPECT_EQ(calls[0].text, R"(CreateKxComponent("CkxDtb2","CkxDtb2File",1,16,10,null))");
  EXPECT_EQ(calls[0].created, "CkxDtb2File#1");
  EXPECT_EQ(calls[1].Name(), "CkxDtb2File#1");
  EXPECT_EQ(calls[1].slot, 9);
  EXPECT_THAT(calls[1].args, ElementsAre("5", "75530582"));
  EXPECT_EQ(calls[1].text, "RegisterMember(5,75530582)");
  EXPECT_EQ(calls[2].text, "Release()");
  EXPECT_EQ(kernel.Live("CkxDtb2File"), 0);
  EXPECT_EQ(kernel.Log(),
            "CreateKxComponent(\"CkxDtb2\",\"CkxDtb2File\",1,16,10,null) -> CkxDtb2File#1\n"
            "CkxDtb2File#1 RegisterMember(5,75530582)\n"
            "CkxDtb2File#1 Release()\n");
}

TEST_F(TestKernelTest, RefusesWhatTheTestRefusesAndUnknownRequests) {
  kernel.Refuse("CkxDtb2Obj");
  uint32_t version = 11;
  EXPECT_EQ(Request<IkxDtb2Obj>("CkxDtb2", "CkxDtb2Obj", version), nullptr);
  EXPECT_EQ(version, 0u);

  version = 16;  // a known interface asked of the wrong component
  EXPECT_EQ(Request<IkxDtb2File>("CkxBase", "CkxDtb2File", version), nullptr);
  EXPECT_EQ(version, 0u);

  version = 3;
  EXPECT_EQ(Request<void>("CkxBase", "NoSuchInterface", version), nullptr);
  EXPECT_EQ(version, 0u);

  kernel.GrantOffered("CkxDtb2Obj");
  version = 11;
  EXPECT_NE(Request<IkxDtb2Obj>("CkxDtb2", "CkxDtb2Obj", version), nullptr);
  EXPECT_EQ(version, 11u);

  EXPECT_EQ(kernel.Log(),
            "CreateKxComponent(\"CkxDtb2\",\"CkxDtb2Obj\",1,11,0,null) -> refused\n"
            "CreateKxComponent(\"CkxBase\",\"CkxDtb2File\",1,16,0,null) -> refused\n"
            "CreateKxComponent(\"CkxBase\",\"NoSuchInterface\",1,3,0,null) -> refused\n"
            "CreateKxComponent(\"CkxDtb2\",\"CkxDtb2Obj\",1,11,11,null) -> CkxDtb2Obj#1\n");
}

TEST_F(TestKernelTest, TaskHandsOutTaskOnlyWithItsOwnGrant) {
  kernel.Grant("CkxTaskOnly", 2);
  kernel.QueueAnswer(TkAnswer::TaskId, 11);
  kernel.SetAnswer(TkAnswer::TaskId, 42);
  int32_t slotCount = 0;
  uint32_t version = 32;
  auto* task = Request<IkxTask>("CkxBase", "CkxTask", version, &slotCount);
  ASSERT_NE(task, nullptr);

  IkxTaskOnly* only = nullptr;
  uint32_t onlyVersion = 7;
  task->ops->CreateTaskOnly(task, 1, &only, &onlyVersion, &slotCount);
  ASSERT_NE(only, nullptr);
  EXPECT_EQ(onlyVersion, 2u);
  EXPECT_EQ(only->ops->GetTaskId(only), 11);  // the queued answer first
  EXPECT_EQ(only->ops->GetTaskId(only), 42);
  EXPECT_EQ(only->ops->GetTaskId(only), 42);

  const std::vector<TkCall> calls = kernel.Calls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].ptrs, std::vector<const void*>{&slotCount});
  EXPECT_EQ(calls[1].Line(), "CkxTask#1 CreateTaskOnly(1,7,2,0) -> CkxTaskOnly#1");
  EXPECT_EQ(kernel.CallsOf("CkxTaskOnly").size(), 4u);  // its creation and three calls
}

TEST_F(TestKernelTest, CapturesRecordsByValueAndWritesTheUpdateId) {
  kernel.SetAnswer(TkAnswer::UpdateId, 0x1122334455667788);
  uint32_t version = 11;
  auto* obj = Request<IkxDtb2Obj>("CkxDtb2", "CkxDtb2Obj", version);
  ASSERT_NE(obj, nullptr);

  KxUpdateRecord record{};
  record.flags = KxUpdateRecord::kFlagsWord;
  record.textLength = 5;
  std::memcpy(record.text, "hello", 6);
  const Sd2UpdateCmd cmd = Sd2UpdateCmd::Make(true, false, 3, 0);
  obj->ops->UpdateID(obj, 0x3, &cmd, &record);
  EXPECT_EQ(record.updateId, 0x1122334455667788u);
  std::memcpy(record.text, "later", 6);

  const TkCall call = kernel.CallsOf("CkxDtb2Obj#1").back();
  EXPECT_EQ(call.text, R"(UpdateID(0x3,0xD0,"hello"))");
  ASSERT_TRUE(call.update.has_value());
  EXPECT_EQ(call.update->flags, KxUpdateRecord::kFlagsWord);
  EXPECT_EQ(call.update->updateId, 0u);  // as passed, before the kernel wrote it
  EXPECT_STREQ(call.update->text, "hello");
}

TEST_F(TestKernelTest, MessageRecordsCanBeFoundAndDelivered) {
  struct Record : CkxMessageInfo {
    bool Send(int64_t liTarget, uint32_t, int32_t iParam, int64_t liParam, bool, int32_t,
              bool) override {
      delivered = liTarget == 0 ? iParam + liParam : -1;
      return true;
    }
    void Withdraw() override {}
    int64_t delivered = 0;
  } record;
  uint32_t version = 10;
  auto* mess = Request<IkxD2MessMan>("CkxBase", "CkxD2MessMan", version);
  ASSERT_NE(mess, nullptr);

  mess->ops->Register(mess, "OrbKernelDynDataSecGrow", &record);
  CkxMessageInfo* found = kernel.MessageRecord("OrbKernelDynDataSecGrow");
  ASSERT_EQ(found, &record);
  EXPECT_EQ(kernel.MessageRecord("EndNetApplicationMsg"), nullptr);
  found->Send(0, 1, 5, 100, false, 0, false);
  EXPECT_EQ(record.delivered, 105);

  const KxMessRequest request{7, 1, 2, -1, KxMessRequest::kFlagSecond, nullptr, &record};
  mess->ops->Withdraw(mess, 99, &request);
  const TkCall call = kernel.Calls().back();
  EXPECT_EQ(call.text, "Withdraw(99,{7,1,2,-1,0x2})");
  ASSERT_TRUE(call.request.has_value());
  EXPECT_EQ(call.request->pRecord, &record);
}

}  // namespace
