// The end of the application with three open wrappers of different files:
// the "EndNetApplicationMsg" handler ends each (unload, native object
// deleted, entry gone), and, the object face's start being the only one,
// releases the process-wide native objects. A program of its own: after the
// end, the object face does not start again in this process.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"
#include "access/CkxOrbCategTools.h"
#include "contracts/framework/OrbKernelException.h"
#include "files/VarnoxFiles.h"
#include "tests/access/AccessTestSupport.h"

namespace {

using namespace Tarvex::Orb;
using namespace Tarvex::Orb::Data::Varnox;
using Tarvex::Orb::DataDirectAcces::CkxOrbCategTools;
using Tarvex::Orb::DataDirectAcces::OrbKernelException;

template <class F>
std::shared_ptr<F> OpenNew(const std::string& csName) {
  auto pFile = F::Create();
  EXPECT_GT(access_test::OpenNewWrapper(*pFile, access_test::ScratchPath(csName)), 0);
  return pFile;
}

TEST(EndOfApplication, EndsEveryOpenWrapperThenTheNativeFace) {
  KernelScratch::Get();
  const auto pCompetitors = OpenNew<D2fVarnox_FT_COMPETITORS>("competitors.orb");
  const auto pRaces = OpenNew<D2fVarnox_FT_RACES>("races.orb");
  const auto pGlobals = OpenNew<D2fVarnox_FT_GLOBALS>("globals.orb");
  const auto pCompetitor = pCompetitors->CompetitorsStringMap()->Item(uint64_t{7});
  pCompetitor->set_Name(std::u16string(u"Ada"));
  ASSERT_EQ(CkxOrbCategTools::m_OpenFiles->size(), 3u);
  ASSERT_EQ(catRefCnt, 1);

  CkxOrbCategTools::OnEndNetApplication(0, 0, nullptr, nullptr);

  const std::vector<DataDirectAcces::D2fFileBase*> files = {pCompetitors.get(), pRaces.get(),
                                                            pGlobals.get()};
  for (auto* pFile : files) {
    EXPECT_FALSE(pFile->IsOpen());
    EXPECT_THROW(pFile->Update(OrbCmd{0}), OrbKernelException);
  }
  EXPECT_THROW(pCompetitor->Name(), OrbKernelException);
  EXPECT_EQ(CkxOrbCategTools::m_OpenFiles, nullptr);
  EXPECT_EQ(catRefCnt, 0);
  EXPECT_EQ(pTasks, nullptr);
  EXPECT_EQ(pDtb2, nullptr);
  std::filesystem::remove_all(KernelScratch::Get().Dir());
}

}  // namespace
