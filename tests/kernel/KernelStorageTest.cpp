// Where the reference kernel lays out the nodes of a map.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "templates/Varnox.h"
#include "tests/kernel/KernelTestSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

// A walk over a map streams through memory only when its nodes follow each
// other at one stride, rising, not between the strings their records point
// to; also when the map is filled again after being emptied.
TEST(KernelStorage, NodesOfAGrowingMapLieAtOneStrideApartFromTheirStrings) {
  const std::string csPath = KernelScratch::Get().Path("stride.orb");
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_TRUE(OpenNative(file, csPath)) << KernelScratch::Get().Log();
  auto& map = file.m_CompetitorsStringMap.m_Container;
  for (int iFill = 0; iFill < 2; ++iFill) {
    SCOPED_TRACE(iFill == 0 ? "first fill" : "filled again");
    map(D2MapCmd::RemoveAll, 0, nullptr);
    std::vector<uint32_t> handles;
    for (uint64_t uiKey = 1; uiKey <= 2000; ++uiKey) {
      handles.push_back(map(D2MapCmd::Add, uiKey, nullptr));
      SetText(map[handles.back()].Name, u"Swimmer " + std::u16string(uiKey % 13 + 1, u'x'));
    }
    std::map<int64_t, int> strides;
    for (size_t i = 1; i < handles.size(); ++i)
      ++strides[int64_t{handles[i]} - int64_t{handles[i - 1]}];
    const auto common = std::max_element(strides.begin(), strides.end(),
                                         [](auto& a, auto& b) { return a.second < b.second; });
    EXPECT_GT(common->first, 0) << "nodes do not rise";
    EXPECT_GE(common->second, 1900) << "nodes do not follow each other";
  }
  file.UnLoad();
}

}  // namespace
