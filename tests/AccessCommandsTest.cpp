// What the access layer's wrappers send the kernel, on the recording test
// kernel: the key indexer sends the add command on every read and the handle
// indexer nothing; a text key travels as Windows-1252 with 0 as the number,
// a number key as the number with no text; the update operations send the
// application's command packed in one word and the formatted text, the XML
// export its text unformatted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "access/VarnoxAccess.h"
#include "templates/Varnox.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

using namespace Tarvex::Orb;
using namespace Tarvex::Orb::DataDirectAcces;
using namespace Tarvex::Orb::Data::Varnox;
using testing::HasSubstr;

// A top-level map's member without storage: its commands reach the kernel,
// which records them and answers what the test queued.
template <class Member>
void AttachWithoutStorage(Member& member, KxContainerHeader& header) {
  member.m_Container.m_pHeader = &header;
  member.m_Container.m_pOwner = &member;
}

class AccessCommandsTest : public TkNativeFaceTest {
 protected:
  std::vector<std::string> MapCommands() {
    std::vector<std::string> aLines;
    for (const TkCall& call : kernel.CallsOf("CkxDtb2Obj")) {
      if (call.op == "MapCmd") aLines.push_back(call.text);
    }
    return aLines;
  }
};

TEST_F(AccessCommandsTest, TheKeyIndexerAddsOnEveryReadAndTheHandleIndexerSendsNothing) {
  CkxVarnoxFT_RACES races;
  KxContainerHeader header{};
  AttachWithoutStorage(races.m_ScheduleEntries, header);
  auto schedule =
      std::make_shared<D2oVarnox_FT_RACES_ScheduleEntries>(&races.m_ScheduleEntries, nullptr);
  kernel.ClearCalls();
  auto first = schedule->Item(u"Café €");
  auto second = schedule->Item(u"Café €");
  auto byHandle = schedule->Item(uint32_t{41});
  EXPECT_EQ(MapCommands(), std::vector<std::string>(2, "MapCmd(0,0,\"Caf\xE9 \x80\",ptr)"));
  EXPECT_EQ(first->IEnumCurrentPos(), kernel.CallsOf("CkxDtb2Obj").at(0).answer);
  EXPECT_EQ(byHandle->IEnumCurrentPos(), 41u);

  CkxVarnoxFT_COMPETITORS competitors;
  AttachWithoutStorage(competitors.m_CompetitorsStringMap, header);
  auto map = std::make_shared<D2oVarnox_FT_COMPETITORS_CompetitorsStringMap>(
      &competitors.m_CompetitorsStringMap, nullptr);
  kernel.ClearCalls();
  map->Item(uint64_t{5000000000});
  map->Find(uint64_t{7});
  map->RemoveAt(9);
  EXPECT_EQ(MapCommands(),
            (std::vector<std::string>{"MapCmd(0,5000000000,null,ptr)", "MapCmd(1,7,null,ptr)",
                                      "MapCmd(4,9,null,ptr)"}));
}

TEST_F(AccessCommandsTest, UpdatesSendThePackedCommandAndTheFormattedText) {
  CkxVarnoxFT_RACES races;
  KxContainerHeader header{};
  AttachWithoutStorage(races.m_ScheduleEntries, header);
  auto schedule =
      std::make_shared<D2oVarnox_FT_RACES_ScheduleEntries>(&races.m_ScheduleEntries, nullptr);
  AppUpdateInfo info;
  info.set_UsrVal1(1023);  // bits 6 to 15 all set
  info.set_UsrVal2(1024);  // low ten bits clear: bits 16 to 25 clear
  info.set_UsrCmd1(true);  // bit 4
  kernel.ClearCalls();
  IOrbUpdatableObject& updatable = *schedule;
  const uint64_t uiId = updatable.UpdateID(OrbCmd{0x40}, info, u"Heat {0} of {1}", {3, u"R1"});
  updatable.Clear(OrbCmd{1}, std::nullopt, u"{0}% cleared", {50});
  updatable.SaveObjectAsXml(info, u"{0} as it stands", u"/tmp/schedule.xml");

  const std::vector<TkCall> calls = kernel.CallsOf("CkxDtb2Obj");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].op, "UpdateID");
  EXPECT_EQ(uiId, static_cast<uint64_t>(calls[0].answer));
  EXPECT_EQ(calls[0].args.at(0), "0x40");
  EXPECT_EQ(calls[0].args.at(1), "0xFFD0");
  ASSERT_TRUE(calls[0].update.has_value());
  EXPECT_STREQ(calls[0].update->text, "Heat 3 of R1");
  EXPECT_EQ(calls[1].op, "Clear");
  EXPECT_EQ(calls[1].args.at(1), "null") << "no application command, no record";
  ASSERT_TRUE(calls[1].update.has_value());
  EXPECT_STREQ(calls[1].update->text, "50% cleared");
  EXPECT_EQ(calls[2].op, "SaveAsXml");
  EXPECT_THAT(calls[2].text, HasSubstr("{0} as it stands"));
}

}  // namespace
