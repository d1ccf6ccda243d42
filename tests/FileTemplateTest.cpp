// The five file templates on the recording kernel: construction order and
// registration, OpenUnm, the members' updates, destruction.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "templates/Varnox.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

// What the update callback received.
struct Seen {
  int calls = 0;
  int32_t iObjId = 0;
  uint64_t uliInfo = 0;
} seen;
void Record(int32_t iObjId, uint64_t uliInfo) { seen = {seen.calls + 1, iObjId, uliInfo}; }
void Other(int32_t, uint64_t) {}

class FileTemplateTest : public TkNativeFaceTest {
 protected:
  void SetUp() override {
    TkNativeFaceTest::SetUp();
    seen = {};
  }
};

// Each template binds every member first, then names itself and registers
// each member in the catalogue's order with the handle its BindMember got;
// it releases the members in reverse order, then the file.
TEST_F(FileTemplateTest, EveryTemplateBindsNamesRegistersAndReleasesInOrder) {
  const KxCatalogue& catalogue = VarnoxCatalogue();
  auto fileCalls = [&] {
    std::vector<std::string> lines;
    for (const TkCall& call : kernel.Calls()) {
      if (call.op != "CreateKxComponent" && (call.itf == "CkxDtb2File" || call.itf == "CkxDtb2Obj"))
        lines.push_back(call.Line());
    }
    return lines;
  };
  uint32_t uiFile = 0;
  VarnoxFileTemplates::ForEach([&](auto type) {
    const KxFileType& fileType = catalogue.files[uiFile++];
    SCOPED_TRACE(fileType.name);
    const int n = static_cast<int>(fileType.memberCount);
    kernel.Reset();
    std::vector<std::string> expected, releases;
    {
      typename decltype(type)::type file;
      EXPECT_EQ(file.m_iFileId, -1);
      for (int i = 1; i <= n; ++i)
        expected.push_back("CkxDtb2Obj#" + std::to_string(i) + " Bind(ptr)");
      expected.push_back("CkxDtb2File#1 SetTemplateName(\"Varnox\")");
      expected.push_back("CkxDtb2File#1 SetFileTemplateName(\"" + std::string(fileType.name) +
                         "\")");
      int iMember = 0;
      for (const TkCall& call : kernel.CallsOf("CkxDtb2Obj")) {
        if (call.op != "BindMember") continue;
        const std::string csClass =
            std::to_string(fileType.members[iMember++].memberClass->classId);
        expected.push_back(call.Name() + " BindMember(ptr," + csClass + ")");
        expected.push_back("CkxDtb2File#1 RegisterMember(" + std::to_string(call.answer) + "," +
                           csClass + ")");
      }
      EXPECT_EQ(fileCalls(), expected);
      kernel.ClearCalls();
    }
    for (int i = n; i >= 1; --i)
      releases.push_back("CkxDtb2Obj#" + std::to_string(i) + " Release()");
    releases.push_back("CkxDtb2File#1 Release()");
    EXPECT_EQ(fileCalls(), releases);
  });
}

TEST_F(FileTemplateTest, OpenUnmForwardsItsArgumentsAndTheDimensionHandle) {
  CkxVarnoxFT_GLOBALS file;
  const std::string csPath = KernelScratch::Get().Path("globals.orb");
  kernel.ClearCalls();
  const int32_t iFileId =
      file.OpenUnm(csPath.c_str(), "A1", nullptr, "rw", "set", true, nullptr, 7, 9, &Record);
  EXPECT_GT(iFileId, 0);
  EXPECT_EQ(file.m_iFileId, iFileId);
  EXPECT_EQ(kernel.Log("CkxDtb2File"),
            "CkxDtb2File#1 Open(\"" + csPath + "\",\"A1\",null,\"rw\",\"set\",true,0,7,9)\n");

  // A bound dimension object passes its id, one without an interface 0;
  // null path, mode and file set go as empty texts, the aliases as given.
  CkxD2ObjDim dim;
  kernel.Refuse("CkxDtb2Obj");
  CkxD2ObjDim unbound;
  kernel.ClearCalls();
  EXPECT_LT(file.OpenUnm(nullptr, nullptr, "A2", nullptr, nullptr, false, &dim, 0, 0, &Other), 0);
  EXPECT_EQ(file.OpenUnm("/p", nullptr, nullptr, "r", "s", false, &unbound, 0, 0, &Other),
            file.m_iFileId);
  const std::vector<TkCall> opens = kernel.CallsOf("CkxDtb2File");
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_EQ(opens[0].text, "Open(\"\",null,\"A2\",\"\",\"\",false," +
                               std::to_string(kernel.AnswerOf("CkxDtb2Obj", "Bind")) + ",0,0)");
  EXPECT_EQ(opens[1].text, "Open(\"/p\",null,null,\"r\",\"s\",false,0,0,0)");
  EXPECT_EQ(file.m_pfUpdateCallBack, &Other);  // a second open replaces callback and id
  EXPECT_EQ(file.m_iFileId, opens[1].answer);
}

// The object number widens without sign; lost updates name the member's
// place in the registration order and carry no record. Without a file
// interface the callback is kept all the same.
TEST_F(FileTemplateTest, UpdatesReachTheFileCallbackWithTheMembersNumber) {
  for (bool bRefused : {false, true}) {
    SCOPED_TRACE(bRefused ? "no file interface" : "file interface");
    if (bRefused) kernel.Refuse("CkxDtb2File");
    kernel.ClearCalls();
    CkxVarnoxFT_RAW_PULSES file;
    if (bRefused) {  // nothing registered, nothing sent to the file
      EXPECT_EQ(kernel.AnswerOf("CkxDtb2Obj", "BindMember"), -1);
      kernel.ClearCalls();
    }
    seen = {};
    KxUpdateRecord info{};
    info.objectNumber = 65535;
    CkxDtb2ObjCallback& events = file.m_PoolEvents;
    events.OnUpdate(&info);  // before an open: no callback to call
    EXPECT_EQ(seen.calls, 0);
    EXPECT_EQ(file.OpenUnm("/meet/pulses.orb", nullptr, nullptr, "rw", "s", true, nullptr, 0, 0,
                           &Record) < 0,
              bRefused);
    EXPECT_EQ(file.m_pfUpdateCallBack, &Record);
    events.OnUpdate(&info);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.iObjId, 65535);
    EXPECT_EQ(seen.uliInfo, reinterpret_cast<uint64_t>(&info));
    CkxDtb2ObjCallback& pool = file.m_AssociatedPoolConfig;
    const KxNotifyInfo lost{KxNotifyInfo::kUpdatesMissed, 0, 7};
    pool.OnNotify(&lost);
    EXPECT_EQ(seen.calls, 2);
    EXPECT_EQ(seen.iObjId, 1);
    EXPECT_EQ(seen.uliInfo, 0u);
    if (bRefused) {
      EXPECT_EQ(kernel.Log("CkxDtb2File"), "");
    }
  }
}

}  // namespace
