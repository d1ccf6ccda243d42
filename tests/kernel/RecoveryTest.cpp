// A writer stopped between any two stores of a change (the step seam,
// kernel/KxStep.h), holding the segment's mutex, as a process killed there
// would be: the process still attached takes the mutex next and the full
// check finds the live data whole. Every (operation, stop point) is tried,
// the XML import's put-back from its copies among the operations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "kernel/KxCheck.h"
#include "kernel/KxStep.h"
#include "kernel/KxXml.h"
#include "tests/kernel/KernelEngineSupport.h"
#include "tests/kernel/KernelTestSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

constexpr int kStoppedExit = 42;

// The globals file's members by their place in the file type.
enum Member : size_t { kPoolConfig = 0, kParameters = 6, kRecords = 7 };

// A globals file driven through the engine: Records with two entries (the
// first with laps and a name), twelve Parameters (a thirteenth Add doubles
// the bucket table) and a pool of eight lanes.
class Globals {
 public:
  explicit Globals(KxLiveFile& file) : m_File(file) {}

  KxLiveFile& File() { return m_File; }

  KxEmbeddedMap* Map(Member eMember) {
    return static_cast<KxEmbeddedMap*>(m_File.Container(eMember));
  }
  KxStore& Store(Member eMember) { return m_File.Store(eMember); }
  uint32_t Command(Member eMember, int32_t iCmd, uint64_t uiKey, const char* csKey) {
    return Store(eMember).MapCommand(Map(eMember), iCmd, uiKey, csKey);
  }
  CkxRecordEntry& Entry(const char* csKey) {
    const uint32_t uiHandle = Command(kRecords, D2MapCmd::Find, 0, csKey);
    if (uiHandle == 0) throw std::runtime_error(std::string("no record ") + csKey);
    return *reinterpret_cast<CkxRecordEntry*>(m_File.Segment(kRecords).At(uiHandle) +
                                              sizeof(KxMapNode));
  }
  static KxDynString* String(CkxD2StrDU& field) { return reinterpret_cast<KxDynString*>(&field); }
  template <class T>
  static KxArrayHeader* Array(T& field) {
    return reinterpret_cast<KxArrayHeader*>(&field);
  }

  void Fill() {
    for (const char* csKey : {"W200FR", "M100BK"}) Command(kRecords, D2MapCmd::Add, 0, csKey);
    CkxRecordEntry& entry = Entry("W200FR");
    Store(kRecords).ResizeArray(Array(entry.LapTimes), 4);
    Store(kRecords).ResizeArray(Array(entry.LapDistances), 4);
    Store(kRecords).ResizeString(String(entry.Name), 12);
    for (int i = 0; i < 12; ++i) {
      const std::string csKey = "Param" + std::to_string(i);
      const uint32_t uiHandle = Command(kParameters, D2MapCmd::Add, 0, csKey.c_str());
      auto& parameter = *reinterpret_cast<CkxSetupParam*>(m_File.Segment(kParameters).At(uiHandle) +
                                                          sizeof(KxMapNode));
      Store(kParameters).ResizeString(String(parameter.Value), 8);
    }
    auto& pool = *static_cast<CkxPoolConfig*>(m_File.Container(kPoolConfig));
    auto* pLanes = reinterpret_cast<KxEmbeddedMap*>(&pool.Lanes);
    for (uint64_t uiLane = 1; uiLane <= 8; ++uiLane)
      Store(kPoolConfig).MapCommand(pLanes, D2MapCmd::Add, uiLane, nullptr);
  }

 private:
  KxLiveFile& m_File;
};

// One operation of the table: the member it changes and the change, made
// with that member's segment locked (unless the operation locks what it
// changes itself).
struct Operation {
  const char* csName;
  Member eMember;
  std::function<void(Globals&)> change;
  bool bLocksItself = false;
};

// An import of the file's own export whose rebuild runs out of storage
// after a few allocations, so that every segment is put back from its copy.
void ImportRunningOut(KxLiveFile& file) {
  const std::string csXml =
      KernelScratch::Get().Path("recovery-import-" + std::to_string(getpid()) + ".xml");
  std::string csWhy;
  if (!KxExportXml(file, kKxWholeFile, csXml, csWhy)) _exit(3);
  KxSegment::FailAllocationsAfter(6);
  const bool bImported = KxImportXml(file, csXml, csWhy);
  KxSegment::FailAllocationsAfter(-1);
  if (bImported || csWhy.find("ran out") == std::string::npos) _exit(4);
}

const Operation kOperations[] = {
    {"AddEntry", kRecords, [](Globals& g) { g.Command(kRecords, D2MapCmd::Add, 0, "W400IM"); }},
    {"AddRehashing", kParameters,
     [](Globals& g) { g.Command(kParameters, D2MapCmd::Add, 0, "Param12"); }},
    {"RemoveEntry", kRecords,
     [](Globals& g) { g.Command(kRecords, D2MapCmd::Remove, 0, "W200FR"); }},
    {"RemoveAll", kParameters,
     [](Globals& g) { g.Command(kParameters, D2MapCmd::RemoveAll, 0, nullptr); }},
    {"ClearEntry", kRecords, [](Globals& g) { g.Command(kRecords, D2MapCmd::Clear, 0, "W200FR"); }},
    {"SwitchKeyCase", kParameters,
     [](Globals& g) { g.Command(kParameters, D2MapCmd::KeyNoCase, 0, nullptr); }},
    {"GrowString", kRecords,
     [](Globals& g) {
       g.Store(kRecords).ResizeString(Globals::String(g.Entry("W200FR").Name), 80);
     }},
    {"EmptyString", kRecords,
     [](Globals& g) {
       g.Store(kRecords).ResizeString(Globals::String(g.Entry("W200FR").Name), 0);
     }},
    {"GrowArray", kRecords,
     [](Globals& g) {
       g.Store(kRecords).ResizeArray(Globals::Array(g.Entry("W200FR").LapTimes), 40);
     }},
    {"EmptyArray", kRecords,
     [](Globals& g) {
       g.Store(kRecords).ResizeArray(Globals::Array(g.Entry("W200FR").LapTimes), 0);
     }},
    {"ClearSingleMember", kPoolConfig,
     [](Globals& g) {
       g.Store(kPoolConfig)
           .ClearMember(*EngineFileType("FT_GLOBALS").members[0].memberClass, g.Map(kPoolConfig));
     }},
    // A batch of additions (IkxDtb2ObjOps::EmbeddedMapAddMany) makes room
    // first: a table grown once, a new map's first table sized for the batch.
    {"MakeRoomAndAdd", kParameters,
     [](Globals& g) {
       g.Store(kParameters).MakeRoom(g.Map(kParameters), 2);
       for (const char* csKey : {"Param12", "Param13"})
         g.Command(kParameters, D2MapCmd::Add, 0, csKey);
     }},
    {"SmallFirstTable", kPoolConfig,
     [](Globals& g) {
       auto* pContacts = reinterpret_cast<KxEmbeddedMap*>(
           &static_cast<CkxPoolConfig*>(g.File().Container(kPoolConfig))->LeftContacts);
       g.Store(kPoolConfig).MakeRoom(pContacts, 1);
       g.Store(kPoolConfig).MapCommand(pContacts, D2MapCmd::Add, 1, nullptr);
     }},
    {"ImportPutBack", kRecords, [](Globals& g) { ImportRunningOut(g.File()); }, true},
};

void PrintTo(const Operation& operation, std::ostream* pOut) { *pOut << operation.csName; }

// Runs the operation in a forked child stopped after `iAllowed` steps (-1:
// never stopped, counting its steps into `pSteps`). Answers the child's
// exit code.
int RunChild(KxLiveFile& file, const Operation& operation, int64_t iAllowed, int64_t* pSteps) {
  return ForkedChild([&] {
           constexpr int64_t kMany = int64_t{1} << 40;
           KxStopAfterSteps(iAllowed < 0 ? kMany : iAllowed, [] { _exit(kStoppedExit); });
           Globals globals(file);
           if (!operation.bLocksItself) file.Segment(operation.eMember).Lock();
           operation.change(globals);
           if (pSteps != nullptr) *pSteps = kMany - KxStepsLeft();
           if (!operation.bLocksItself) file.Segment(operation.eMember).Unlock();
           return 0;
         })
      .Wait();
}

class RecoveryTest : public ::testing::TestWithParam<Operation> {};

TEST_P(RecoveryTest, AWriterStoppedAtAnyStepLeavesTheLiveDataWhole) {
  const Operation& operation = GetParam();
  const std::string csDir = FreshDir(std::string("recovery-") + operation.csName);
  std::shared_ptr<KxLiveFile> pFile = EngineOpen(csDir + "/globals.orb", "FT_GLOBALS", true);
  std::vector<KxSegmentSnapshot> before;
  {
    Globals globals(*pFile);
    for (size_t i = 0; i < pFile->MemberCount(); ++i) pFile->Segment(i).Lock();
    globals.Fill();
    for (size_t i = 0; i < pFile->MemberCount(); ++i) {
      before.push_back(pFile->Segment(i).Snapshot());
      pFile->Segment(i).Unlock();
    }
  }
  ASSERT_EQ(Problems(KxCheckLiveFile(*pFile)), "");

  Shared<int64_t> steps;
  ASSERT_EQ(RunChild(*pFile, operation, -1, &*steps), 0) << "the operation failed";
  const int64_t iSteps = *steps;
  ASSERT_GT(iSteps, 0);
  ASSERT_EQ(Problems(KxCheckLiveFile(*pFile)), "") << "after the whole operation";

  uint32_t uiRecoveries = 0;
  for (int64_t iStop = 0; iStop < iSteps; ++iStop) {
    SCOPED_TRACE(std::string(operation.csName) + " stopped after " + std::to_string(iStop) +
                 " of " + std::to_string(iSteps) + " steps");
    for (size_t i = 0; i < pFile->MemberCount(); ++i) {
      KxSegmentLock lock(pFile->Segment(i));
      pFile->Segment(i).Restore(before[i]);
    }
    ASSERT_EQ(RunChild(*pFile, operation, iStop, nullptr), kStoppedExit);
    const KxFileCheck check = KxCheckLiveFile(*pFile);
    ASSERT_EQ(Problems(check), "");
    uiRecoveries = pFile->Segment(operation.eMember).Header().recoveries;
  }
  EXPECT_EQ(uiRecoveries, static_cast<uint32_t>(iSteps)) << "every stop is found and recovered";

  // What was recovered saves and loads whole.
  std::string csWhy;
  ASSERT_TRUE(pFile->Save("", false, csWhy)) << csWhy;
  EXPECT_EQ(Problems(KxCheckSavedFile(csDir + "/globals.orb", VarnoxCatalogue(), EngineTypes())),
            "");
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, RecoveryTest, ::testing::ValuesIn(kOperations),
                         [](const auto& operation) { return std::string(operation.param.csName); });

}  // namespace
