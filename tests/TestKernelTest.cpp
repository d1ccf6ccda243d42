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
#include <thread>

#include "tests/testkernel/TestKernelSupport.h"

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;

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

// Collects the text the kernel assigns through a KxStringOut.
struct StringSink {
  KxStringOut out{this, [](KxStringOut* self, const char* cs, size_t length) {
                    static_cast<StringSink*>(self->context)->text.assign(cs, length);
                  }};
  std::string text;
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

TEST_F(TestKernelTest, ControlRejectsUnknownNamesAndAnswers) {
  EXPECT_THROW(kernel.Grant("CkxDtb2Files", 1), std::invalid_argument);
  EXPECT_THROW(kernel.SetAnswer(TkAnswer::kCount, 1), std::invalid_argument);
  EXPECT_THROW(kernel.QueueAnswer(static_cast<TkAnswer>(-1), 1), std::invalid_argument);
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

TEST_F(TestKernelTest, BindIdsAreDistinctPerCallAndInstancesAreTold) {
  uint32_t version = 11;
  auto* first = Request<IkxDtb2Obj>("CkxDtb2", "CkxDtb2Obj", version);
  auto* second = Request<IkxDtb2Obj>("CkxDtb2", "CkxDtb2Obj", version);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  CkxDtb2ObjCallback member;

  const uint64_t a = first->ops->Bind(first, &member);
  const uint64_t b = second->ops->BindMember(second, &member, 7);
  EXPECT_NE(a, b);
  second->ops->Release(second);
  second->ops->Release(second);

  EXPECT_EQ(kernel.Log("CkxDtb2Obj#2"),
            "CreateKxComponent(\"CkxDtb2\",\"CkxDtb2Obj\",1,11,11,null) -> CkxDtb2Obj#2\n"
            "CkxDtb2Obj#2 BindMember(ptr,7)\n"
            "CkxDtb2Obj#2 Release()\n"
            "CkxDtb2Obj#2 Release() (after release)\n");
  EXPECT_EQ(kernel.CallsOf("CkxDtb2Obj#1").back().boundObject, &member);
  EXPECT_EQ(kernel.Handed("CkxDtb2Obj"), 2);
  EXPECT_EQ(kernel.Live("CkxDtb2Obj"), 1);
}

TEST_F(TestKernelTest, FileAnswersFollowTheTestAndPathsComeBackOnlyOnSuccess) {
  uint32_t version = 16;
  auto* file = Request<IkxDtb2File>("CkxDtb2", "CkxDtb2File", version);
  ASSERT_NE(file, nullptr);
  kernel.SetAnswer(TkAnswer::OpenFileId, 17);
  kernel.SetFullPath("/data/races.orb");

  EXPECT_EQ(file->ops->Open(file, "races.orb", nullptr, "", "rw", "set", true, 9, 2, 3), 17);
  EXPECT_EQ(file->ops->GetFileIdOfMessage(file, 17, 4), 17);  // defaults to the opened id
  StringSink path;
  EXPECT_TRUE(file->ops->GetFullPath(file, &path.out));
  EXPECT_EQ(path.text, "/data/races.orb");

  kernel.SetAnswer(TkAnswer::GetFullPath, false);
  StringSink untouched;
  EXPECT_FALSE(file->ops->GetFullPath(file, &untouched.out));
  EXPECT_EQ(untouched.text, "");

  EXPECT_EQ(kernel.CallsOf("CkxDtb2File#1")[1].text,
            R"(Open("races.orb",null,"","rw","set",true,9,2,3))");
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

TEST_F(TestKernelTest, RecordsEveryCallFromConcurrentThreads) {
  uint32_t version = 32;
  auto* task = Request<IkxTask>("CkxBase", "CkxTask", version);
  ASSERT_NE(task, nullptr);
  kernel.ClearCalls();
  constexpr int kThreads = 4;
  constexpr int kLines = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([task, t] {
      for (int i = 0; i < kLines; ++i) {
        task->ops->Trace(task, t, "CkxNetDtb2", i, "line", "", "", "");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(kernel.Calls().size(), static_cast<size_t>(kThreads * kLines));
}

// The two copies load as separate libraries, so a test can tell which one
// the library chose.
TEST_F(TestKernelTest, DebugCopyHasItsOwnState) {
  TestKernel& debug = TkLoad(true);
  ASSERT_NE(&debug, &kernel);
  EXPECT_THAT(debug.LibraryPath(), EndsWith("/Kernel/Lib/CkxCompManagerD.dll"));
  EXPECT_EQ(kernel.LibraryPath(), TkKernelPath(TkOrbRoot()));
  EXPECT_STREQ(std::getenv("KxOrb64"), TkOrbRoot().c_str());
}

TEST(TestKernelSupportTest, TempOrbLaysOutALibraryWithoutEntryPoint) {
  std::string csRoot;
  {
    TkTempOrb orb(TkTempOrb::Kind::NoEntry);
    csRoot = orb.Root();
    void* h = dlopen(TkKernelPath(csRoot).c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr) << dlerror();
    EXPECT_EQ(dlsym(h, KxNames::kEntryPoint), nullptr);
    dlclose(h);

    TkTempOrb empty(TkTempOrb::Kind::Empty);
    EXPECT_EQ(dlopen(TkKernelPath(empty.Root()).c_str(), RTLD_NOW), nullptr);
  }
  EXPECT_NE(access(csRoot.c_str(), F_OK), 0);  // removed with the object
}

TEST(TestKernelSupportTest, ChildReportsExitCodeAndStandardError) {
  const TkChildResult exited = TkRunChild([] {
    std::fputs("Caption\nText\n", stderr);
    std::exit(1);
  });
  EXPECT_TRUE(exited.exited);
  EXPECT_EQ(exited.exitCode, 1);
  EXPECT_EQ(exited.err, "Caption\nText\n");

  const TkChildResult thrown = TkRunChild([] { throw std::runtime_error("boom"); });
  EXPECT_EQ(thrown.exitCode, 98);
  EXPECT_THAT(thrown.err, HasSubstr("boom"));

  const TkChildResult hung = TkRunChild([] { pause(); }, 200);
  EXPECT_TRUE(hung.timedOut);
  EXPECT_FALSE(hung.exited);
}

TEST(TestKernelSupportTest, ProgramRunsInAFreshProcessWithTheGivenEnvironment) {
  const TkChildResult run =
      TkRunProgram({"sh", "-c", "echo \"$TK_PROBE\" >&2; exit 3"}, {"TK_PROBE=orb"});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.err, "orb\n");

  EXPECT_EQ(TkRunProgram({"/nonexistent/program"}).exitCode, 127);
  EXPECT_THROW(TkRunProgram({}), std::invalid_argument);
}

}  // namespace
