// The kernel file base, the five file templates and persistent objects on
// the recording kernel: every version threshold with its fallback, the
// records that cross to the kernel, the templates' construction order and
// registration, OpenUnm, the members' updates, destruction, the
// dynamic-growth message; and what the access layer's wrappers send the
// kernel: the key indexer sends the add command on every read and the handle
// indexer nothing; a text key travels as Windows-1252 with 0 as the number, a
// number key as the number with no text; the update operations send the
// application's command packed in one word and the formatted text, the XML
// export its text unformatted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <span>
#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "access/VarnoxAccess.h"
#include "templates/Varnox.h"
#include "tests/testkernel/TestKernelSupport.h"

using ::testing::HasSubstr;
using namespace Tarvex::Orb;
using namespace Tarvex::Orb::DataDirectAcces;
using namespace Tarvex::Orb::Data::Varnox;

namespace {

class FileBaseTest : public TkNativeFaceTest {};

// One version-guarded operation: its minimum version, how to call it and
// what it must answer below that version.
template <class Interface>
struct GuardedOp {
  const char* csName;
  uint32_t uiMinimum;
  std::function<std::string(Interface&)> call;  // renders the result
  const char* csFallback;
};

std::string Text(bool b) { return b ? "true" : "false"; }
// An operation without a result renders as "".
std::string Done(const std::function<void()>& call) {
  call();
  return "";
}
// Where the operations put what they answer through their arguments.
std::string g_csOut, g_csOut2;

const GuardedOp<CkxDtb2File> kFileOps[] = {
    {"IsOpen", 3, [](CkxDtb2File& f) { return Text(f.IsOpen()); }, "false"},
    {"Clear", 4, [](CkxDtb2File& f) { return Done([&] { f.Clear(1); }); }, ""},
    {"SelectFileDlg", 5,
     [](CkxDtb2File& f) {
       return Text(f.SelectFileDlg("A", "/r", g_csOut, g_csOut2, true, false));
     },
     "false"},
    {"Save", 7, [](CkxDtb2File& f) { return Text(f.Save(0, true, "/tmp/x")); }, "false"},
    {"UnLoad", 9, [](CkxDtb2File& f) { return Text(f.UnLoad()); }, "false"},
    {"GetFullPath", 9, [](CkxDtb2File& f) { return Text(f.GetFullPath(g_csOut)); }, "false"},
    {"Update", 11, [](CkxDtb2File& f) { return Done([&] { f.Update(2); }); }, ""},
    {"GetDynGrowStatus", 12, [](CkxDtb2File& f) { return std::to_string(f.GetDynGrowStatus()); },
     "-1"},
    // A file that cannot tell its id takes only a growth of file -1 as its own.
    {"GetFileIdOfMessage", 13,
     [](CkxDtb2File& f) {
       f.m_pDynGrowMess->Send(0, 1, 12, 9, false, 1, false);
       return std::to_string(f.m_iDynGrowStatus);
     },
     "0"},
    {"GetNGELock", 14, [](CkxDtb2File& f) { return Done([&] { f.GetNGELock(); }); }, ""},
    {"ReleaseNGELock", 14, [](CkxDtb2File& f) { return Done([&] { f.ReleaseNGELock(); }); }, ""},
    {"GetNGMLock", 14, [](CkxDtb2File& f) { return Done([&] { f.GetNGMLock(); }); }, ""},
    {"ReleaseNGMLock", 14, [](CkxDtb2File& f) { return Done([&] { f.ReleaseNGMLock(); }); }, ""},
    {"GetObjIndByName", 15,
     [](CkxDtb2File& f) {
       return Done([&] {
         CkxD2ObjDim dim;
         f.GetObjInd(dim, "Heat");
       });
     },
     ""},
    {"SaveFileAsXml", 16, [](CkxDtb2File& f) { return Text(f.SaveFileAsXml("/tmp/x.xml")); },
     "false"},
    {"UpdateFileFromXml", 16,
     [](CkxDtb2File& f) { return Text(f.UpdateFileFromXml("/tmp/x.xml")); }, "false"},
};

const GuardedOp<CkxDtb2Obj> kObjOps[] = {
    {"UpdateID", 4, [](CkxDtb2Obj& o) { return std::to_string(o.UpdateID(1, nullptr, "l %d", 4)); },
     "0"},
    {"Clear", 6, [](CkxDtb2Obj& o) { return Done([&] { o.Clear(1, nullptr, "cleared"); }); }, ""},
    {"SaveAsXml", 11, [](CkxDtb2Obj& o) { return Done([&] { o.SaveAsXml(nullptr, "x", "/a"); }); },
     ""},
};

// Below its minimum version an operation answers its fallback and does not
// reach the kernel; from it on, it does.
template <class Interface, size_t N>
void ExpectGuarded(TestKernel& kernel, const char* csItf, const GuardedOp<Interface> (&ops)[N]) {
  for (const GuardedOp<Interface>& op : ops) {
    SCOPED_TRACE(op.csName);
    for (uint32_t uiVersion : {op.uiMinimum - 1, op.uiMinimum}) {
      kernel.Grant(csItf, uiVersion);
      Interface object;
      kernel.ClearCalls();
      const std::string csResult = op.call(object);
      const bool bCalled =
          kernel.Log(csItf).find(std::string(" ") + op.csName + "(") != std::string::npos;
      EXPECT_EQ(bCalled, uiVersion == op.uiMinimum) << "at version " << uiVersion;
      if (!bCalled) {
        EXPECT_EQ(csResult, op.csFallback);
      }
    }
  }
}

TEST_F(FileBaseTest, EveryOperationCallsTheKernelFromItsMinimumVersionOnly) {
  ExpectGuarded(kernel, "CkxDtb2File", kFileOps);
  ExpectGuarded(kernel, "CkxDtb2Obj", kObjOps);
}

// What the update callback received.
struct Seen {
  int calls = 0;
  int32_t iObjId = 0;
  uint64_t uliInfo = 0;
} seen;
void Record(int32_t iObjId, uint64_t uliInfo) { seen = {seen.calls + 1, iObjId, uliInfo}; }
void Other(int32_t, uint64_t) {}

// Each template binds every member first, then names itself and registers
// each member in the catalogue's order with the handle its BindMember got;
// it releases the members in reverse order, then the file.
TEST_F(FileBaseTest, EveryTemplateBindsNamesRegistersAndReleasesInOrder) {
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

TEST_F(FileBaseTest, OpenUnmForwardsItsArgumentsAndTheDimensionHandle) {
  CkxVarnoxFT_GLOBALS file;
  const std::string csPath = KernelScratch::Get().Path("globals.orb");
  kernel.ClearCalls();
  const int32_t iFileId =
      file.OpenUnm(csPath.c_str(), "A1", nullptr, "rw", "set", true, nullptr, 7, 9, &Record);
  EXPECT_GT(iFileId, 0);
  EXPECT_EQ(file.m_iFileId, iFileId);
  EXPECT_EQ(kernel.Log("CkxDtb2File"),
            "CkxDtb2File#1 Open(\"" + csPath + "\",\"A1\",null,\"rw\",\"set\",true,0,7,9)\n");

  // A member without an object interface registers handle 0 (a bound one
  // the handle its BindMember got: EveryTemplateBindsNamesRegistersAndReleasesInOrder);
  // a bound index object passes its id, one without an interface 0; null
  // path, mode and file set go as empty texts, the aliases as given.
  CkxD2ObjDim dim;
  kernel.Refuse("CkxDtb2Obj");
  CkxDtb2Obj unbound;
  CkxD2ObjDim unboundDim;
  kernel.ClearCalls();
  EXPECT_LT(file.OpenUnm(nullptr, nullptr, "A2", nullptr, nullptr, false, &dim, 0, 0, &Other), 0);
  EXPECT_EQ(file.OpenUnm("/p", nullptr, nullptr, "r", "s", false, &unboundDim, 0, 0, &Other),
            file.m_iFileId);
  file.RegisterMember(unbound, 14741940);
  file.GetObjInd(dim);
  file.SetObjInd(unboundDim);
  const int64_t iDimId = kernel.AnswerOf("CkxDtb2Obj", "Bind");
  EXPECT_GT(iDimId, 0);
  const std::string csDimId = std::to_string(iDimId);
  EXPECT_EQ(kernel.Log("CkxDtb2File"),
            "CkxDtb2File#1 Open(\"\",null,\"A2\",\"\",\"\",false," + csDimId + ",0,0)\n" +
                "CkxDtb2File#1 Open(\"/p\",null,null,\"r\",\"s\",false,0,0,0)\n" +
                "CkxDtb2File#1 RegisterMember(0,14741940)\n" + "CkxDtb2File#1 GetObjInd(" +
                csDimId + ")\nCkxDtb2File#1 SetObjInd(0)\n");
  EXPECT_EQ(file.m_pfUpdateCallBack, &Other);  // a second open replaces callback and id
  EXPECT_EQ(file.m_iFileId, kernel.AnswerOf("CkxDtb2File", "Open"));
}

// The object number widens without sign; lost updates name the member's
// place in the registration order and carry no record. Without a file
// interface the callback is kept all the same.
TEST_F(FileBaseTest, UpdatesReachTheFileCallbackWithTheMembersNumber) {
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

// The record's fixed words and its text: long texts are cut; without
// arguments a text stands as given, '%' included; arguments that do not fit
// are flagged and the text copied.
TEST_F(FileBaseTest, UpdateTextIsTruncatedAndApplicationTextIsNeverReadAsAFormat) {
  const KxArg seven[] = {KxArg(7)}, heat[] = {KxArg("H1"), KxArg(4)};
  const std::string csLong(600, 'x');
  struct Case {
    const char* csText;
    std::span<const KxArg> args;
    std::string csExpected;
    uint32_t uiLength;
  };
  const Case aCases[] = {
      {csLong.c_str(), {}, csLong.substr(0, 505), 505},
      {"100% done, %s %d %n", {}, "100% done, %s %d %n", 19},
      {"lane %s", seven, "lane %s", KxUpdateRecord::kFormatFailed},
      {"Heat %s lane %d", heat, "Heat H1 lane 4", 14},
  };
  for (const Case& c : aCases) {
    KxUpdateRecord record;
    std::memset(&record, 0xA5, sizeof record);
    KxBuildUpdateRecord(record, c.csText, c.args);
    EXPECT_EQ(record.text, c.csExpected);
    EXPECT_EQ(record.textLength, c.uiLength);
    EXPECT_EQ(record.flags, 0x01000220u);  // bits 5 and 9, kind byte 1
    EXPECT_EQ(record.kind, 3u);
    EXPECT_EQ(record.word24, 0u);
  }
}

// A growth of this file sets its status and logs it (one of another file
// changes nothing: NotificationTest).
TEST_F(FileBaseTest, GrowthMessageOfThisFileSetsItsStatusAndLogsIt) {
  CkxVarnoxFT_GLOBALS file;
  const int32_t iFileId = file.OpenUnm(KernelScratch::Get().Path("growth.orb").c_str(), nullptr,
                                       nullptr, "rw", "", true, nullptr, 0, 0, nullptr);
  ASSERT_GT(iFileId, 0);
  ASSERT_EQ(kernel.MessageRecord(CkxDtb2File::kDynGrowMessage), file.m_pDynGrowMess.get());
  kernel.ClearCalls();
  EXPECT_TRUE(file.m_pDynGrowMess->Send(0, 1, iFileId, 3, false, 1, false));
  EXPECT_EQ(file.m_iDynGrowStatus, 3);
  EXPECT_EQ(LogTexts(kernel),
            std::vector<std::string>{"104/9000 ++++++++++ CkxDtb2File.OrbKernelDynDataSecGrowMess: "
                                     "New DynGrowStatus: 3 for FileID: " +
                                     std::to_string(iFileId)});
}

// From version 27 on they are sent (GrowthMessageOfThisFileSetsItsStatusAndLogsIt).
TEST_F(FileBaseTest, LogRecordsNeedTaskVersion27) {
  KxEndCatAssembly();
  kernel.Grant("CkxTask", 26);
  KxInitCatAssembly(false);
  kernel.ClearCalls();
  OrbLogMessF(OrbLogEvtArrayDiag, 9000, "%s ID: %u", "###CkxD2a1dDM.Add...........", 12u);
  EXPECT_EQ(kernel.Log(), "");
}

struct Receiver {
  void On(uint32_t uiMessage, int32_t iParam, int64_t liParam, int32_t iCount) {
    csSeen += std::to_string(uiMessage) + "," + std::to_string(iParam) + "," +
              std::to_string(liParam) + "," + std::to_string(iCount) + ";";
  }
  std::string csSeen;
};

TEST_F(FileBaseTest, MessageRecordsCallAtOnceOrDispatchThroughTheMessageManager) {
  Receiver receiver;
  CkxMessageInfoT<Receiver> record("Ping", &receiver, &Receiver::On, -1);
  EXPECT_EQ(record.m_bActive, 1);
  EXPECT_EQ(record.m_bFlag2, 1);
  EXPECT_EQ(kernel.MessageRecord("Ping"), &record);

  EXPECT_TRUE(record.Send(0, 4, 5, 6, false, 7, false));
  EXPECT_EQ(receiver.csSeen, "4,5,6,7;");

  kernel.ClearCalls();
  record.Send(99, 4, 5, 6, true, -1, true);  // a negative count means "no limit"
  record.Withdraw();
  EXPECT_EQ(kernel.Log("CkxD2MessMan"),
            "CkxD2MessMan#1 Dispatch(99,{4,5,6,2147483647,0x3})\n"
            "CkxD2MessMan#1 Withdraw(99,{0,0,0,-1,0x0})\n");
  EXPECT_EQ(kernel.CallsOf("CkxD2MessMan").at(0).request->pRecord, &record);
  EXPECT_EQ(record.m_liTarget, 99);
}

// Also after the end of the native face: the task is gone, the message
// manager and the kernel's deliveries to the files still open are not.
TEST_F(FileBaseTest, DestroyedFileForgetsItsRegistration) {
  for (bool bEndBeforeDestroy : {false, true}) {
    SCOPED_TRACE(bEndBeforeDestroy ? "after the end of the native face" : "running");
    {
      CkxDtb2File file;
      if (bEndBeforeDestroy) KxEndCatAssembly();
      kernel.ClearCalls();
    }
    EXPECT_THAT(kernel.Log("CkxD2MessMan"), HasSubstr("Withdraw(0,"));
    EXPECT_THAT(kernel.Log("CkxDtb2File"), HasSubstr("Release()"));
    if (bEndBeforeDestroy) KxInitCatAssembly(false);
  }
}

// The wrapper of a top-level map's member without storage: its commands
// reach the kernel, which records them and answers what the test queued.
template <class Wrapper, class Member>
std::shared_ptr<Wrapper> WrapWithoutStorage(Member& member, KxContainerHeader& header) {
  member.m_Container.m_pHeader = &header;
  member.m_Container.m_pOwner = &member;
  return std::make_shared<Wrapper>(&member, nullptr);
}

// The map commands sent since the last ClearCalls.
std::vector<std::string> MapCommands(const TestKernel& kernel) {
  std::vector<std::string> aLines;
  for (const TkCall& call : kernel.CallsOf("CkxDtb2Obj")) {
    if (call.op == "MapCmd") aLines.push_back(call.text);
  }
  return aLines;
}

TEST_F(FileBaseTest, TheWrappersSendKeysAsTheKernelTakesThemAndUpdatesPackedAndFormatted) {
  CkxVarnoxFT_RACES races;
  KxContainerHeader header{};
  auto schedule =
      WrapWithoutStorage<D2oVarnox_FT_RACES_ScheduleEntries>(races.m_ScheduleEntries, header);
  kernel.ClearCalls();
  auto first = schedule->Item(u"Café €");
  auto second = schedule->Item(u"Café €");
  auto byHandle = schedule->Item(uint32_t{41});
  EXPECT_EQ(MapCommands(kernel), std::vector<std::string>(2, "MapCmd(0,0,\"Caf\xE9 \x80\",ptr)"));
  EXPECT_EQ(first->IEnumCurrentPos(), kernel.CallsOf("CkxDtb2Obj").at(0).answer);
  EXPECT_EQ(byHandle->IEnumCurrentPos(), 41u);

  CkxVarnoxFT_COMPETITORS competitors;
  auto map = WrapWithoutStorage<D2oVarnox_FT_COMPETITORS_CompetitorsStringMap>(
      competitors.m_CompetitorsStringMap, header);
  kernel.ClearCalls();
  map->Item(uint64_t{5000000000});
  map->Find(uint64_t{7});
  map->RemoveAt(9);
  EXPECT_EQ(MapCommands(kernel),
            (std::vector<std::string>{"MapCmd(0,5000000000,null,ptr)", "MapCmd(1,7,null,ptr)",
                                      "MapCmd(4,9,null,ptr)"}));

  AppUpdateInfo info;
  info.set_UsrVal1(1023);  // bits 6 to 15 all set
  info.set_UsrVal2(1025);  // only the low ten bits count: bit 16
  info.set_UsrCmd1(true);  // bit 4
  kernel.ClearCalls();
  IOrbUpdatableObject& updatable = *schedule;
  const uint64_t uiId = updatable.UpdateID(OrbCmd{0x40}, info, u"Heat {0} of {1}", {3, u"R1"});
  updatable.Clear(OrbCmd{1}, std::nullopt, u"{0}% cleared", {50});
  updatable.SaveObjectAsXml(info, u"{0} as it stands", u"/tmp/schedule.xml");
  races.m_ScheduleEntries.SaveAsXml(nullptr, "export to %s", "/tmp/a.xml");

  // Clear has no application command, so no record; the wrapper's export
  // text is not formatted, the native one's takes the path.
  EXPECT_EQ(kernel.Log("CkxDtb2Obj"),
            "CkxDtb2Obj#1 UpdateID(64,0x1FFD0,\"Heat 3 of R1\")\n"
            "CkxDtb2Obj#1 Clear(1,null,\"50% cleared\")\n"
            "CkxDtb2Obj#1 SaveAsXml(0x1FFD0,\"{0} as it stands\",\"/tmp/schedule.xml\")\n"
            "CkxDtb2Obj#1 SaveAsXml(null,\"export to /tmp/a.xml\",\"/tmp/a.xml\")\n");
  EXPECT_EQ(uiId, static_cast<uint64_t>(kernel.CallsOf("CkxDtb2Obj").at(0).answer));
}

}  // namespace
