// The shared headers of a live directory carry a version beside their
// magic: a kernel of another live layout is refused with a reason that says
// so, not misread.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "kernel/KxEvents.h"
#include "kernel/KxSegment.h"

namespace {

using ::testing::HasSubstr;

struct LiveHeader {
  const char* csName;
  std::function<void(const std::string&)> create;
  std::function<void(const std::string&)> attach;
};

class LiveVersionTest : public ::testing::TestWithParam<LiveHeader> {
 protected:
  void SetUp() override {
    char aTemplate[] = "/tmp/varnox-live-version-XXXXXX";
    m_csDir = mkdtemp(aTemplate);
  }
  void TearDown() override { std::filesystem::remove_all(m_csDir); }

  // Overwrites the version word, which every layout keeps after the magic.
  void SetVersion(const std::string& csPath, uint32_t uiVersion) {
    const int iFd = open(csPath.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(iFd, 0);
    EXPECT_EQ(pwrite(iFd, &uiVersion, sizeof uiVersion, 4), static_cast<ssize_t>(sizeof uiVersion));
    close(iFd);
  }

  std::string m_csDir;
};

std::string HeaderName(const ::testing::TestParamInfo<LiveHeader>& header) {
  return header.param.csName;
}

TEST_P(LiveVersionTest, AnotherVersionIsRefusedWithTheReason) {
  const std::string csPath = m_csDir + "/header";
  GetParam().create(csPath);
  EXPECT_NO_THROW(GetParam().attach(csPath));

  SetVersion(csPath, 2989);
  try {
    GetParam().attach(csPath);
    ADD_FAILURE() << "attached to a header of another version";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("live layout version 2989, this kernel reads version"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, LiveVersionTest,
    ::testing::Values(LiveHeader{"Segment", [](const std::string& cs) { KxSegment::Create(cs, 1); },
                                 [](const std::string& cs) { KxSegment::Attach(cs); }},
                      LiveHeader{"EventRing",
                                 [](const std::string& cs) { KxEventRing::Create(cs); },
                                 [](const std::string& cs) { KxEventRing::Attach(cs); }}),
    HeaderName);

}  // namespace
