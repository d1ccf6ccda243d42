// The reference kernel keeps the contract's handshake: it grants each
// interface at most the version it implements, so that a newer library
// falls back on the slots above it, and it refuses a library of another
// schema, at start-up and when it would attach to live data another
// process built under another schema or layout.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

#include "NetInterface/CkxOrbNetInterface/KxItf.h"
#include "kernel/KxEvents.h"
#include "kernel/KxSegment.h"
#include "templates/Varnox.h"
#include "templates/VarnoxSchema.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

// The file interface as a library one version newer would see it: the
// current table and one more slot. (Slots are pinned at global scope.)
struct IkxNextFileOps;
struct IkxNextFile {
  const IkxNextFileOps* ops;
};
struct IkxNextFileOps {
  static constexpr uint32_t kVersion = IkxDtb2FileOps::kVersion + 1;
  IkxDtb2FileOps current;
  bool (*Probe)(IkxNextFile* self);
};
KX_SLOT(IkxNextFileOps, Probe, 31, IkxNextFileOps::kVersion);

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

struct Offer {
  const char* csComponent;
  const char* csInterface;
  uint32_t uiImplemented;  // the contract's version, which this kernel implements whole
};

class VersionCap : public ::testing::TestWithParam<Offer> {};

// Asks for the interface at `uiOffered` and answers the granted version.
uint32_t Granted(const Offer& offer, uint32_t uiOffered) {
  void* pItf = nullptr;
  uint32_t uiVersion = uiOffered;
  // The task interface reads its slot count from the extra argument.
  int32_t iSlotCount = 1;
  KxRequestInterface(offer.csComponent, offer.csInterface, 1, &pItf, uiVersion, &iSlotCount);
  // Slot 2 of every interface releases it.
  auto* pAny = static_cast<IkxDtbAccByStr*>(pItf);
  if (pAny != nullptr) pAny->ops->Release(pAny);
  return pItf != nullptr ? uiVersion : 0;
}

TEST_P(VersionCap, AnOfferAboveTheImplementedVersionIsCappedOneAtOrBelowIsGranted) {
  const Offer& offer = GetParam();
  EXPECT_EQ(Granted(offer, offer.uiImplemented + 7), offer.uiImplemented);
  EXPECT_EQ(Granted(offer, offer.uiImplemented), offer.uiImplemented);
  EXPECT_EQ(Granted(offer, 1), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, VersionCap,
    ::testing::Values(Offer{KxNames::kBase, KxNames::kTask, IkxTaskOps::kVersion},
                      Offer{KxNames::kBase, KxNames::kTaskOnly, IkxTaskOnlyOps::kVersion},
                      Offer{KxNames::kBase, KxNames::kMessMan, IkxD2MessManOps::kVersion},
                      Offer{KxNames::kBase, KxNames::kDtbAccByStr, IkxDtbAccByStrOps::kVersion},
                      Offer{KxNames::kDtb2, KxNames::kConnection, IkxDtb2ConnectionOps::kVersion},
                      Offer{KxNames::kDtb2, KxNames::kFile, IkxDtb2FileOps::kVersion},
                      Offer{KxNames::kDtb2, KxNames::kObj, IkxDtb2ObjOps::kVersion}),
    [](const auto& param) { return std::string(param.param.csInterface); });

TEST(NewerLibrary, FallsBackOnTheSlotsAboveTheGrantedVersion) {
  KxItf<IkxNextFile> file;
  file.Request(KxNames::kDtb2, KxNames::kFile, 1);
  ASSERT_TRUE(file.Has());
  EXPECT_EQ(file.version, IkxDtb2FileOps::kVersion);
  EXPECT_FALSE(file.Grants<&IkxNextFileOps::Probe>());
  // The kernel's table has no slot 31: a call would jump anywhere.
  EXPECT_FALSE(file.Call<&IkxNextFileOps::Probe>(false));
  file.p->ops->current.Release(reinterpret_cast<IkxDtb2File*>(file.p));
}

TEST(SchemaHandshake, TheKernelAcceptsItsOwnSchemaAndRefusesAnother) {
  KxItf<IkxDtb2Connection> connection;
  connection.Request(KxNames::kDtb2, KxNames::kConnection, 1);
  ASSERT_TRUE(connection.Grants<&IkxDtb2ConnectionOps::AcceptSchema>());

  uint64_t uiKernel = 0;
  EXPECT_TRUE(connection.Call<&IkxDtb2ConnectionOps::AcceptSchema>(false, kVarnoxSchemaFingerprint,
                                                                   &uiKernel));
  EXPECT_EQ(uiKernel, kVarnoxSchemaFingerprint);

  const size_t uiLogBefore = KernelScratch::Get().Log().size();
  uiKernel = 0;
  EXPECT_FALSE(connection.Call<&IkxDtb2ConnectionOps::AcceptSchema>(
      true, kVarnoxSchemaFingerprint + 1, &uiKernel));
  EXPECT_EQ(uiKernel, kVarnoxSchemaFingerprint);
  EXPECT_NE(KernelScratch::Get().Log().find("built from another schema was refused", uiLogBefore),
            std::string::npos);
  connection.Release();
}

// The live data of an open file says which layout it was built for; a
// process whose kernel lays the file out otherwise is refused instead of
// attaching. Here the live data claims another layout, and a second process
// opens the file.
TEST(SchemaHandshake, ASecondProcessOfAnotherSchemaDoesNotAttach) {
  const std::string csPath = KernelScratch::Get().Path("shared.orb");
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_TRUE(OpenNative(file, csPath));
  std::string csSchema;
  for (const auto& entry : std::filesystem::directory_iterator(KernelScratch::Get().Path("live"))) {
    if (std::filesystem::exists(entry.path() / "schema")) csSchema = entry.path() / "schema";
  }
  ASSERT_FALSE(csSchema.empty()) << "the live data does not say its layout";
  const uint64_t uiOther = 0x0123456789ABCDEFull;
  std::ofstream(csSchema, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(&uiOther), sizeof uiOther);

  const size_t uiLogBefore = KernelScratch::Get().Log().size();
  const TkChildResult peer = TkRunProgram({NOTIFY_PEER, "update", csPath, "1"}, 60000);
  EXPECT_EQ(peer.exitCode, 3) << "the second process opened the file";
  const std::string csLog = KernelScratch::Get().Log().substr(uiLogBefore);
  EXPECT_NE(csLog.find("refused (" + std::to_string(KxOpenOtherSchema) + "): " + csPath +
                       " is open in another process by a library of another schema"),
            std::string::npos)
      << csLog;
  file.UnLoad();
}

// The shared headers of a live directory carry a version beside their
// magic (the word after it): a kernel of another live layout is refused with
// a reason that says so, not misread.
struct LiveHeader {
  const char* csName;
  std::function<void(const std::string&)> create;
  std::function<void(const std::string&)> attach;
};

class LiveVersion : public ::testing::TestWithParam<LiveHeader> {};

TEST_P(LiveVersion, AnotherVersionIsRefusedWithTheReason) {
  const std::string csPath = KernelScratch::Get().Path(std::string("header-") + GetParam().csName);
  GetParam().create(csPath);
  EXPECT_NO_THROW(GetParam().attach(csPath));

  const uint32_t uiVersion = 2989;
  const int iFd = open(csPath.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(iFd, 0);
  EXPECT_EQ(pwrite(iFd, &uiVersion, sizeof uiVersion, 4), static_cast<ssize_t>(sizeof uiVersion));
  close(iFd);
  EXPECT_THAT([&] { GetParam().attach(csPath); },
              ::testing::ThrowsMessage<std::runtime_error>(
                  ::testing::HasSubstr("live layout version 2989, this kernel reads version")));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, LiveVersion,
    ::testing::Values(LiveHeader{"Segment", [](const std::string& cs) { KxSegment::Create(cs, 1); },
                                 [](const std::string& cs) { KxSegment::Attach(cs); }},
                      LiveHeader{"EventRing",
                                 [](const std::string& cs) { KxEventRing::Create(cs); },
                                 [](const std::string& cs) { KxEventRing::Attach(cs); }}),
    [](const auto& header) { return std::string(header.param.csName); });

}  // namespace
