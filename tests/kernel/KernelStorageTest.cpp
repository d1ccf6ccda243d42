// The native face on the reference kernel: every container kind filled,
// saved, reopened in a new process and read back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "templates/Varnox.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

void WriteText(CkxD2StrDU& field, const std::u16string& csText) {
  field.ReserveNet(static_cast<int>(csText.size()));
  field.SetNet(csText.data(), static_cast<int>(csText.size()));
}

std::u16string ReadText(const CkxD2StrDU& field) {
  int iLength = 0;
  const char16_t* p = field.GetNet(&iLength);
  return iLength > 0 ? std::u16string(p, iLength) : std::u16string();
}

TEST(KernelStorage, CompetitorsSurviveSaveAndReopenInAnotherProcess) {
  const std::string csPath = KernelScratch::Get().Path("competitors.orb");
  {
    CkxVarnoxFT_COMPETITORS file;
    ASSERT_GT(
        file.OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0, nullptr), 0)
        << KernelScratch::Get().Log();
    auto& map = file.m_CompetitorsStringMap.m_Container;
    for (uint64_t uiKey = 1; uiKey <= 100; ++uiKey) {
      const uint32_t uiHandle = map(D2MapCmd::Add, uiKey, nullptr);
      ASSERT_NE(uiHandle, 0u);
      map[uiHandle].CategoryId = static_cast<int32_t>(uiKey * 10);
      WriteText(map[uiHandle].Name,
                u"Swimmer " + std::u16string(1, static_cast<char16_t>(u'A' + uiKey % 26)));
    }
    EXPECT_EQ(map.GetCount(), 100u);
    EXPECT_EQ(map(D2MapCmd::Add, 7, nullptr), map(D2MapCmd::Find, 7, nullptr));
    ASSERT_TRUE(file.Save(0, true, ""));
    ASSERT_TRUE(file.UnLoad());
  }
  const TkChildResult child = TkRunChild([&] {
    CkxVarnoxFT_COMPETITORS file;
    if (file.OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", false, nullptr, 0, 0, nullptr) <=
        0)
      std::exit(3);
    auto& map = file.m_CompetitorsStringMap.m_Container;
    if (map.GetCount() != 100) std::exit(4);
    const uint32_t uiHandle = map(D2MapCmd::Find, 42, nullptr);
    if (uiHandle == 0 || map[uiHandle].CategoryId != 420) std::exit(5);
    if (ReadText(map[uiHandle].Name) != u"Swimmer Q") std::exit(6);
    uint32_t uiCount = 0;
    for (uint32_t h = map(D2MapCmd::Head, 0, nullptr); h != 0;
         h = map(D2MapCmd::Next, h, nullptr)) {
      if (map[h].CategoryId != static_cast<int32_t>(++uiCount * 10))
        std::exit(7);  // insertion order
    }
    std::exit(uiCount == 100 ? 0 : 8);
  });
  EXPECT_EQ(child.exitCode, 0) << child.err << KernelScratch::Get().Log();
}

// A walk over a map streams through memory only when its nodes follow each
// other at one stride, rising, not between the strings their records point
// to; also when the map is filled again after being emptied.
TEST(KernelStorage, NodesOfAGrowingMapLieAtOneStrideApartFromTheirStrings) {
  const std::string csPath = KernelScratch::Get().Path("stride.orb");
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_GT(file.OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0, nullptr),
            0)
      << KernelScratch::Get().Log();
  auto& map = file.m_CompetitorsStringMap.m_Container;
  for (int iFill = 0; iFill < 2; ++iFill) {
    SCOPED_TRACE(iFill == 0 ? "first fill" : "filled again");
    map(D2MapCmd::RemoveAll, 0, nullptr);
    std::vector<uint32_t> handles;
    for (uint64_t uiKey = 1; uiKey <= 2000; ++uiKey) {
      handles.push_back(map(D2MapCmd::Add, uiKey, nullptr));
      WriteText(map[handles.back()].Name, u"Swimmer " + std::u16string(uiKey % 13 + 1, u'x'));
    }
    std::map<int64_t, int> strides;
    for (size_t i = 1; i < handles.size(); ++i)
      ++strides[int64_t{handles[i]} - int64_t{handles[i - 1]}];
    const auto common = std::max_element(strides.begin(), strides.end(), [](auto& a, auto& b) {
      return a.second < b.second;
    });
    EXPECT_GT(common->first, 0) << "nodes do not rise";
    EXPECT_GE(common->second, 1900) << "nodes do not follow each other";
  }
  file.UnLoad();
}

}  // namespace
