// Application services on the test kernel: where DispError's messages go,
// kernel-message registration through the message manager, the debug
// choice, the dimension object Modim owns and the update callback's plain C
// entries; then the "{0}" formatter and the exception that carries its
// messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "contracts/framework/OrbApp.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/kernel/KxText.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

using Tarvex::Orb::KxNetMessage;
using Tarvex::Orb::KxUpdateUmCallBack;
using Tarvex::Orb::Modim;
using Tarvex::Orb::OrbApp;
using Tarvex::Orb::OrbErrorHandler;
using namespace Tarvex::Orb::DataDirectAcces;

// Each test starts with a handler that collects what reaches DispError.
class OrbAppTest : public TkNativeFaceTest {
 protected:
  void SetUp() override {
    TkNativeFaceTest::SetUp();
    OrbApp::SetErrorHandler([this](std::u16string_view csMessage) {
      errors.push_back(KxText::Utf16ToUtf8(csMessage));
    });
  }
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

  std::vector<std::string> errors;  // what reached DispError, in UTF-8
};

// A handler set replaces what DispError does by default: write standard
// error and, while the native face runs, a log record; setting another
// answers the one it replaces, which can be set again. A throwing handler is
// reported, not unwound into the caller.
TEST_F(OrbAppTest, DispErrorGoesToTheDefaultOrTheHandlerSet) {
  const std::u16string csMessage = u"Illegal usage of a not yet Opened ORB file of type:\r\nD2f ü";
  const std::string csUtf8 = KxText::Utf16ToUtf8(csMessage);
  kernel.ClearCalls();
  testing::internal::CaptureStderr();
  OrbApp::DispError(u"first");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(LoggedErrors().empty());
  EXPECT_EQ(errors, std::vector<std::string>{"first"});

  const OrbErrorHandler collecting = OrbApp::SetErrorHandler(nullptr);
  for (const bool bStarted : {true, false}) {
    if (!bStarted) KxEndCatAssembly();
    kernel.ClearCalls();
    testing::internal::CaptureStderr();
    OrbApp::DispError(csMessage);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), csUtf8 + "\n");
    EXPECT_EQ(LoggedErrors(), std::vector<std::string>(bStarted ? 1 : 0, csUtf8));
  }
  EXPECT_EQ(errors.size(), 1u);
  OrbApp::SetErrorHandler(collecting);
  OrbApp::DispError(u"again");
  EXPECT_EQ(errors.size(), 2u);

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
  const int32_t iId =
      OrbApp::RegMess(u"OrbKernelDynDataSecGrow", [](int64_t, int64_t, const void*, const void*) {
        throw std::runtime_error("handler broke");
      });
  EXPECT_NO_THROW(
      kernel.MessageRecord("OrbKernelDynDataSecGrow")->Send(0, 1, 2, 3, false, 1, false));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("handler broke"), std::string::npos);
  EXPECT_NE(errors[0].find("OrbKernelDynDataSecGrow"), std::string::npos);
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

// ---------------------------------------------------------------------------
// The update callback's plain C entries: one per live object, reaching that
// object from any thread, never unwinding into the caller, and reporting a
// call made after the object was destroyed.

// What one callback's target saw.
struct Seen {
  int32_t iObjId = -1;
  uint64_t uiInfo = 0;
  std::thread::id thread;
};

TEST_F(OrbAppTest, EachLiveCallbackHasItsOwnEntryReachingItsOwnObject) {
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

TEST_F(OrbAppTest, FailuresAreReportedNeverUnwoundIntoTheCaller) {
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
  EXPECT_THROW(KxUpdateUmCallBack(nullptr), OrbKernelException);
}

// ---------------------------------------------------------------------------
// The "{0}" formatter and the exception that carries its messages. (An
// exception made from a format and its arguments, such as "GetVal ({0})",
// is VarnoxViewModelTest's, whose messages are all made so.)

struct FormatCase {
  std::u16string format;
  std::vector<OrbFormatArg> args;
  std::u16string expected;
};

class OrbFormatTest : public testing::TestWithParam<FormatCase> {};

TEST_P(OrbFormatTest, ReplacesEachPlaceholder) {
  const FormatCase& c = GetParam();
  EXPECT_EQ(OrbFormat(c.format, c.args), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, OrbFormatTest,
                         testing::Values(FormatCase{u"{1}-{0}-{1}",
                                                    {u"a", uint64_t{18446744073709551615u}},
                                                    u"18446744073709551615-a-18446744073709551615"},
                                         FormatCase{u"{{{0}}}", {true}, u"{True}"},
                                         FormatCase{u"[{0}]", {nullptr}, u"[]"},
                                         FormatCase{u"{0}", {int64_t{-5}}, u"-5"},
                                         FormatCase{u"{0}", {0.5}, u"0.5"},
                                         FormatCase{u"no placeholder", {}, u"no placeholder"}));

TEST(OrbFormatTest, RefusesPlaceholdersItCannotFill) {
  for (const char16_t* format : {u"{1}", u"{", u"}", u"{x}", u"{0", u"a } b"}) {
    const std::vector<OrbFormatArg> one{int32_t{1}};
    EXPECT_THROW(OrbFormat(format, one), OrbKernelException) << KxText::Utf16ToUtf8(format);
  }
}

TEST(OrbKernelExceptionTest, WhatIsTheMessageFollowedByItsCause) {
  const CkxD2RangeException native(1, 8, 9);
  std::string nativeText;
  native.GetErrorText(nativeText);

  const OrbKernelException caught(u"D2mVarnox_FT_COMPETITORS_CompetitorsStringMap.Name:\r\n",
                                  native);
  EXPECT_EQ(caught.Message(), u"D2mVarnox_FT_COMPETITORS_CompetitorsStringMap.Name:\r\n");
  EXPECT_FALSE(nativeText.empty());
  EXPECT_EQ(std::string(caught.what()),
            "D2mVarnox_FT_COMPETITORS_CompetitorsStringMap.Name:\r\n" + nativeText);

  const OrbKernelException copy = caught;  // shares, never fails
  EXPECT_EQ(copy.CauseText(), caught.CauseText());
}

}  // namespace
