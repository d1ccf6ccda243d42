// The five file templates on the recording kernel: construction order and
// registration, OpenUnm, the members' OnAttach and OnUpdate, destruction.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "templates/Varnox.h"
#include "tests/testkernel/TestKernelSupport.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// What the update callback received.
struct Seen {
  int calls = 0;
  int32_t iObjId = 0;
  uint64_t uliInfo = 0;
};
Seen seen;
void Record(int32_t iObjId, uint64_t uliInfo) {
  ++seen.calls;
  seen.iObjId = iObjId;
  seen.uliInfo = uliInfo;
}
void Other(int32_t, uint64_t) {}

class FileTemplateTest : public TkNativeFaceTest {
 protected:
  void SetUp() override {
    TkNativeFaceTest::SetUp();
    seen = {};
  }

  // The calls on file and object interfaces, creation records left out.
  std::vector<std::string> FileAndObjectCalls() const {
    std::vector<std::string> lines;
    for (const TkCall& call : kernel.Calls()) {
      if (call.slot != kTkCreateSlot && (call.itf == "CkxDtb2File" || call.itf == "CkxDtb2Obj")) {
        lines.push_back(call.Line());
      }
    }
    return lines;
  }
};

// Every member binds itself first; then the file names itself and registers
// each member, in declaration order, with the handle its BindMember got.
TEST_F(FileTemplateTest, GlobalsBindsItsMembersThenNamesItselfAndRegistersThemInOrder) {
  CkxVarnoxFT_GLOBALS file;
  const CkxDtb2ObjCallback* const apMembers[] = {&file.m_PoolConfig,    &file.m_DistancesDefault,
                                                 &file.m_StylesDefault, &file.m_CategoriesDefault,
                                                 &file.m_RoundsDefault, &file.m_StatusDefaults,
                                                 &file.m_Parameters,    &file.m_Records};
  std::vector<std::string> expected;
  for (int i = 1; i <= 8; ++i) expected.push_back("CkxDtb2Obj#" + std::to_string(i) + " Bind(ptr)");
  expected.push_back("CkxDtb2File#1 SetTemplateName(\"Varnox\")");
  expected.push_back("CkxDtb2File#1 SetFileTemplateName(\"FT_GLOBALS\")");
  std::vector<const CkxDtb2ObjCallback*> bound;
  for (const TkCall& call : kernel.CallsOf("CkxDtb2Obj")) {
    if (call.op != "BindMember") continue;
    bound.push_back(call.boundObject);
    expected.push_back(call.Line());
    expected.push_back("CkxDtb2File#1 RegisterMember(" + std::to_string(call.answer) + "," +
                       call.args.at(1) + ")");
  }
  EXPECT_THAT(FileAndObjectCalls(), ElementsAreArray(expected));
  EXPECT_THAT(bound, ElementsAreArray(apMembers));
  EXPECT_EQ(file.m_Records.m_pFile, &file);
  EXPECT_EQ(file.m_iFileId, -1);
}

// The file type name and the class ids a template registers, in order.
struct Registration {
  std::string csFileType;
  std::vector<std::string> classIds;
};

template <class File>
Registration Register(TestKernel& kernel) {
  kernel.Reset();
  File file;
  Registration out;
  for (const TkCall& call : kernel.CallsOf("CkxDtb2File")) {
    if (call.op == "SetFileTemplateName") out.csFileType = call.args[0];
    if (call.op == "RegisterMember") out.classIds.push_back(call.args[1]);
  }
  return out;
}

// Each template names its file type and registers its members' class ids
// in the catalogue's order (the pool configurations of two files share one).
TEST_F(FileTemplateTest, EveryTemplateRegistersTheClassIdsOfTheCatalogue) {
  const KxCatalogue& catalogue = VarnoxCatalogue();
  uint32_t uiFile = 0;
  VarnoxFileTemplates::ForEach([&](auto type) {
    const KxFileType& expected = catalogue.files[uiFile++];
    const Registration registration = Register<typename decltype(type)::type>(kernel);
    EXPECT_EQ(registration.csFileType, "\"" + std::string(expected.name) + "\"");
    std::vector<std::string> classIds;
    for (uint32_t i = 0; i < expected.memberCount; ++i) {
      classIds.push_back(std::to_string(expected.members[i].memberClass->classId));
    }
    EXPECT_EQ(registration.classIds, classIds) << expected.name;
  });
}

TEST_F(FileTemplateTest, WithoutAFileInterfaceNothingIsRegisteredAndOpenUnmStillKeepsTheCallback) {
  kernel.Refuse("CkxDtb2File");
  CkxVarnoxFT_RACES file;
  EXPECT_THAT(FileAndObjectCalls(), ElementsAre("CkxDtb2Obj#1 Bind(ptr)"));
  kernel.ClearCalls();

  EXPECT_EQ(
      file.OpenUnm("/meet/races.orb", nullptr, nullptr, "rw", "set", true, nullptr, 1, 2, &Record),
      -1);
  EXPECT_EQ(file.m_iFileId, -1);
  EXPECT_EQ(file.m_pfUpdateCallBack, &Record);
  EXPECT_EQ(kernel.Log("CkxDtb2File"), "");

  // The stored callback is the one the members' updates reach.
  KxUpdateRecord info{};
  info.objectNumber = 7;
  file.m_ScheduleEntries.OnUpdate(&info);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.iObjId, 7);
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

  // A bound dimension object passes its id; one without an interface, 0.
  kernel.ClearCalls();
  CkxD2ObjDim dim;
  kernel.Refuse("CkxDtb2Obj");
  CkxD2ObjDim unbound;
  kernel.ClearCalls();
  // Null texts: path, mode and file set are passed as owned copies, so
  // empty; the aliases are passed as given. The kernel refuses both.
  EXPECT_LT(file.OpenUnm(nullptr, nullptr, "A2", nullptr, nullptr, false, &dim, 0, 0, &Other), 0);
  EXPECT_EQ(file.OpenUnm("/p", nullptr, nullptr, "r", "s", false, &unbound, 0, 0, &Other),
            file.m_iFileId);
  const std::vector<TkCall> opens = kernel.CallsOf("CkxDtb2File");
  const std::string csDimId = std::to_string(kernel.AnswerOf("CkxDtb2Obj", "Bind"));
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_EQ(opens[0].text, "Open(\"\",null,\"A2\",\"\",\"\",false," + csDimId + ",0,0)");
  EXPECT_EQ(opens[1].text, "Open(\"/p\",null,null,\"r\",\"s\",false,0,0,0)");
  // A second open replaces callback and file id.
  EXPECT_EQ(file.m_pfUpdateCallBack, &Other);
  EXPECT_EQ(file.m_iFileId, opens[1].answer);
}

TEST_F(FileTemplateTest, UpdatesReachTheFileCallbackWithTheObjectNumberWidenedWithoutSign) {
  CkxVarnoxFT_RAW_PULSES file;
  KxUpdateRecord info{};
  info.objectNumber = 65535;
  // Before an open there is no callback to call.
  file.m_PoolEvents.OnUpdate(&info);
  EXPECT_EQ(seen.calls, 0);

  file.OpenUnm("/meet/pulses.orb", nullptr, nullptr, "rw", "set", true, nullptr, 0, 0, &Record);
  // The kernel calls through the callback interface.
  CkxDtb2ObjCallback& events = file.m_PoolEvents;
  events.OnUpdate(&info);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.iObjId, 65535);
  EXPECT_EQ(seen.uliInfo, reinterpret_cast<uint64_t>(&info));

  info.objectNumber = 0x8000;
  CkxDtb2ObjCallback& pool = file.m_AssociatedPoolConfig;
  pool.OnUpdate(&info);
  EXPECT_EQ(seen.calls, 2);
  EXPECT_EQ(seen.iObjId, 0x8000);

  // Updates lost before delivery: the member's number (its place in the
  // registration order) and no record.
  const KxNotifyInfo lost{KxNotifyInfo::kUpdatesMissed, 0, 7};
  pool.OnNotify(&lost);
  EXPECT_EQ(seen.calls, 3);
  EXPECT_EQ(seen.iObjId, 1);
  EXPECT_EQ(seen.uliInfo, 0u);
}

TEST_F(FileTemplateTest, MembersAreDestroyedInReverseOrderThenTheFile) {
  {
    CkxVarnoxFT_GLOBALS file;
    kernel.ClearCalls();
  }
  std::vector<std::string> releases;
  for (const std::string& line : FileAndObjectCalls()) {
    if (line.find(" Release()") != std::string::npos) releases.push_back(line);
  }
  EXPECT_THAT(
      releases,
      ElementsAre("CkxDtb2Obj#8 Release()", "CkxDtb2Obj#7 Release()", "CkxDtb2Obj#6 Release()",
                  "CkxDtb2Obj#5 Release()", "CkxDtb2Obj#4 Release()", "CkxDtb2Obj#3 Release()",
                  "CkxDtb2Obj#2 Release()", "CkxDtb2Obj#1 Release()", "CkxDtb2File#1 Release()"));
  EXPECT_THAT(kernel.Log(), Not(HasSubstr("after release")));
}

}  // namespace
