// The update callback's plain C entries: one per live object, reaching that
// object from any thread, never unwinding into the caller, and reporting a
// call made after the object was destroyed.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "contracts/framework/OrbApp.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/kernel/KxText.h"

namespace {

using Tarvex::Orb::KxUpdateUmCallBack;
using Tarvex::Orb::OrbApp;

class KxUpdateUmCallBackTest : public testing::Test {
 protected:
  void SetUp() override {
    OrbApp::SetErrorHandler([this](std::u16string_view csMessage) {
      errors.push_back(KxText::Utf16ToUtf8(csMessage));
    });
  }
  void TearDown() override { OrbApp::SetErrorHandler(nullptr); }

  std::vector<std::string> errors;
};

// What one callback's target saw.
struct Seen {
  int32_t iObjId = -1;
  uint64_t uiInfo = 0;
  std::thread::id thread;
};

TEST_F(KxUpdateUmCallBackTest, EachLiveCallbackHasItsOwnEntryReachingItsOwnObject) {
  constexpr int kCount = 500;
  std::vector<Seen> seen(kCount);
  // Callback i writes to seen[i] only.
  std::vector<std::pair<int, std::unique_ptr<KxUpdateUmCallBack>>> callbacks;
  for (int i = 0; i < kCount; ++i) {
    callbacks.emplace_back(
        i, std::make_unique<KxUpdateUmCallBack>([&seen, i](int32_t id, uint64_t info) {
          seen[i] = {id, info, std::this_thread::get_id()};
        }));
    // Destroying one on the way now and then: its entry must not be handed
    // to a callback while another that has it lives.
    if (i % 3 == 2) callbacks.erase(callbacks.begin() + i / 3);
  }
  std::set<KxUpdateUmCallBack::NativeEntry> live;
  for (const auto& [i, pCallback] : callbacks) live.insert(pCallback->GetNativeEntry());
  EXPECT_EQ(live.size(), callbacks.size());

  // Each entry, called from another thread with its object's number, reaches
  // that object with both arguments intact.
  std::thread kernelThread([&] {
    for (const auto& [i, pCallback] : callbacks) {
      pCallback->GetNativeEntry()(i, 0xF00D'0000'0000'0000ull + static_cast<uint64_t>(i));
    }
  });
  const std::thread::id kernelId = kernelThread.get_id();
  kernelThread.join();
  for (const auto& [i, pCallback] : callbacks) {
    EXPECT_EQ(seen[i].iObjId, i);
    EXPECT_EQ(seen[i].uiInfo, 0xF00D'0000'0000'0000ull + static_cast<uint64_t>(i));
    EXPECT_EQ(seen[i].thread, kernelId);
  }
  EXPECT_TRUE(errors.empty());
}

TEST_F(KxUpdateUmCallBackTest, FailuresAreReportedNeverUnwoundIntoTheCaller) {
  struct Case {
    const char* csWhat;
    KxUpdateUmCallBack::Target target;
    bool bDestroyFirst;
    const char* csReported;
  };
  const Case aCases[] = {
      {"throwing target", [](int32_t, uint64_t) { throw std::runtime_error("lane 4 gone"); }, false,
       "the target failed: lane 4 gone"},
      {"throwing anything", [](int32_t, uint64_t) { throw 42; }, false, "the target failed"},
      {"destroyed object", [](int32_t, uint64_t) {}, true, "called after its object was destroyed"},
  };
  for (const Case& c : aCases) {
    errors.clear();
    auto pCallback = std::make_unique<KxUpdateUmCallBack>(c.target);
    const KxUpdateUmCallBack::NativeEntry entry = pCallback->GetNativeEntry();
    if (c.bDestroyFirst) pCallback.reset();
    std::thread([entry] { entry(77, 0); }).join();
    ASSERT_EQ(errors.size(), 1u) << c.csWhat;
    EXPECT_NE(errors[0].find("object 77"), std::string::npos) << c.csWhat << ": " << errors[0];
    EXPECT_NE(errors[0].find(c.csReported), std::string::npos) << c.csWhat << ": " << errors[0];
  }
  EXPECT_THROW(KxUpdateUmCallBack(nullptr), Tarvex::Orb::DataDirectAcces::OrbKernelException);
}

}  // namespace
