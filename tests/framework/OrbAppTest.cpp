// Application services on the test kernel: where DispError's messages go,
// kernel-message registration through the message manager, the debug
// choice, and the dimension object Modim owns.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "contracts/framework/OrbApp.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/kernel/KxText.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

using Tarvex::Orb::KxNetMessage;
using Tarvex::Orb::Modim;
using Tarvex::Orb::OrbApp;
using Tarvex::Orb::OrbErrorHandler;
using Tarvex::Orb::DataDirectAcces::OrbKernelException;

class OrbAppTest : public TkNativeFaceTest {
 protected:
  void TearDown() override {
    OrbApp::SetErrorHandler(nullptr);
    TkNativeFaceTest::TearDown();
  }

  // The texts of the error log records sent to the kernel since the last ClearCalls.
  std::vector<std::string> LoggedErrors() {
    const std::string csError = std::to_string(OrbApp::kLogEvtError) + "/";
    std::vector<std::string> texts;
    for (const std::string& csLine : LogTexts(kernel)) {
      if (csLine.starts_with(csError)) texts.push_back(csLine.substr(csLine.find(' ') + 1));
    }
    return texts;
  }
};

// DispError writes standard error and, while the native face runs, a log
// record; a handler set replaces that until the previous one is restored; a
// throwing handler is reported, not unwound into the caller.
TEST_F(OrbAppTest, DispErrorGoesToTheDefaultOrTheHandlerSet) {
  const std::u16string csMessage = u"Illegal usage of a not yet Opened ORB file of type:\r\nD2f ü";
  const std::string csUtf8 = KxText::Utf16ToUtf8(csMessage);
  std::vector<std::u16string> seen;
  const OrbErrorHandler previous =
      OrbApp::SetErrorHandler([&](std::u16string_view csText) { seen.emplace_back(csText); });
  kernel.ClearCalls();
  testing::internal::CaptureStderr();
  OrbApp::DispError(u"first");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(LoggedErrors().empty());
  EXPECT_EQ(seen, std::vector<std::u16string>{u"first"});

  OrbApp::SetErrorHandler(previous);
  for (const bool bStarted : {true, false}) {
    if (!bStarted) KxEndCatAssembly();
    kernel.ClearCalls();
    testing::internal::CaptureStderr();
    OrbApp::DispError(csMessage);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), csUtf8 + "\n");
    EXPECT_EQ(LoggedErrors(), std::vector<std::string>(bStarted ? 1 : 0, csUtf8));
  }
  EXPECT_EQ(seen.size(), 1u);

  OrbApp::SetErrorHandler([](std::u16string_view) { throw std::runtime_error("screen gone"); });
  testing::internal::CaptureStderr();
  EXPECT_NO_THROW(OrbApp::DispError(u"lost lane"));
  const std::string csErr = testing::internal::GetCapturedStderr();
  EXPECT_NE(csErr.find("screen gone"), std::string::npos) << csErr;
  EXPECT_NE(csErr.find("lost lane"), std::string::npos) << csErr;
}

// A registered task gets what the kernel sends it (the message record as its
// data); it is withdrawn once.
TEST_F(OrbAppTest, ARegisteredTaskReceivesItsMessageUntilWithdrawn) {
  using Received = std::tuple<int64_t, int64_t, std::u16string, uint32_t, int32_t>;
  std::vector<Received> received;
  const int32_t iId = OrbApp::RegMess(
      u"EndNetApplicationMsg", [&](int64_t liCmd, int64_t liPar, const void* pData, const void*) {
        const auto* pMessage = static_cast<const KxNetMessage*>(pData);
        received.emplace_back(liCmd, liPar, std::u16string(pMessage->csName), pMessage->uiMessage,
                              pMessage->iCount);
      });
  EXPECT_GT(iId, 0);
  CkxMessageInfo* pRecord = kernel.MessageRecord("EndNetApplicationMsg");
  ASSERT_NE(pRecord, nullptr);
  pRecord->Send(0, 7, 12, 3, false, 1, false);  // target 0: the kernel's delivery
  EXPECT_EQ(received, (std::vector<Received>{{12, 3, u"EndNetApplicationMsg", 7u, 1}}));
  EXPECT_TRUE(OrbApp::UnRegMess(iId));
  EXPECT_FALSE(OrbApp::UnRegMess(iId));
}

TEST_F(OrbAppTest, AThrowingTaskIsReportedNotUnwoundIntoTheKernel) {
  std::vector<std::u16string> errors;
  OrbApp::SetErrorHandler([&](std::u16string_view csMessage) { errors.emplace_back(csMessage); });
  const int32_t iId =
      OrbApp::RegMess(u"OrbKernelDynDataSecGrow", [](int64_t, int64_t, const void*, const void*) {
        throw std::runtime_error("handler broke");
      });
  EXPECT_NO_THROW(
      kernel.MessageRecord("OrbKernelDynDataSecGrow")->Send(0, 1, 2, 3, false, 1, false));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(KxText::Utf16ToUtf8(errors[0]).find("handler broke"), std::string::npos);
  EXPECT_NE(KxText::Utf16ToUtf8(errors[0]).find("OrbKernelDynDataSecGrow"), std::string::npos);
  OrbApp::UnRegMess(iId);
}

TEST_F(OrbAppTest, RegistrationsThatCannotWorkAreRefusedNamingTheMessage) {
  const auto task = [](int64_t, int64_t, const void*, const void*) {};
  struct Case {
    const char* csWhat;
    std::u16string csName;
    bool bWithTask;
    bool bMessageManager;
  };
  for (const Case& c : {Case{"no name", u"", true, true}, Case{"no task", u"Ping", false, true},
                        Case{"no message manager", u"Ping", true, false}}) {
    if (!c.bMessageManager) kernel.Refuse("CkxD2MessMan");
    KxEndCatAssembly();
    KxInitCatAssembly(false);
    try {
      OrbApp::RegMess(c.csName, c.bWithTask ? Tarvex::Orb::KxNetTask(task) : nullptr);
      ADD_FAILURE() << c.csWhat << ": accepted";
    } catch (const OrbKernelException& e) {
      EXPECT_NE(std::string(e.what()).find("\"" + KxText::Utf16ToUtf8(c.csName) + "\""),
                std::string::npos)
          << c.csWhat << ": " << e.what();
    }
  }
}

TEST_F(OrbAppTest, TheEnvironmentChoosesTheDebugVersionElseTheBuild) {
#ifdef NDEBUG
  const bool bBuild = false;
#else
  const bool bBuild = true;
#endif
  struct Case {
    const char* csValue;  // null: unset
    bool bDebug;
    bool bReported;
  };
  std::vector<std::u16string> errors;
  OrbApp::SetErrorHandler([&](std::u16string_view csMessage) { errors.emplace_back(csMessage); });
  for (const Case& c :
       {Case{nullptr, bBuild, false}, Case{"1", true, false}, Case{"yes", true, false},
        Case{"0", false, false}, Case{"false", false, false}, Case{"maybe", bBuild, true}}) {
    if (c.csValue == nullptr) {
      unsetenv("VARNOX_KERNEL_DEBUG");
    } else {
      setenv("VARNOX_KERNEL_DEBUG", c.csValue, 1);
    }
    errors.clear();
    EXPECT_EQ(OrbApp::IsDebugVersion(), c.bDebug) << (c.csValue ? c.csValue : "unset");
    EXPECT_EQ(errors.size(), c.bReported ? 1u : 0u) << (c.csValue ? c.csValue : "unset");
  }
  unsetenv("VARNOX_KERNEL_DEBUG");
}

TEST_F(OrbAppTest, ModimOwnsADimensionObjectBoundToTheKernel) {
  const int iBefore = kernel.Live("CkxDtb2Obj");
  {
    Modim dim;
    ASSERT_NE(dim.GetPrivatePnt(), nullptr);
    EXPECT_EQ(kernel.Live("CkxDtb2Obj"), iBefore + 1);
    EXPECT_TRUE(dim.GetPrivatePnt()->m_Obj.Has());
  }
  EXPECT_EQ(kernel.Live("CkxDtb2Obj"), iBefore);
}

}  // namespace
