// Loading the view-model root of 10,000 competitors and reading every name
// (the observable map over the top-level wrapper, an element view model per
// competitor made through GetMvvmInstance, its Name loaded through GetVal),
// beside the same names read through the proxies alone (Head, Next, the
// handle indexer, Name), on the reference kernel in the same run.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "access/VarnoxAccess.h"
#include "viewmodels/VarnoxViewModels.h"

namespace {

using namespace Tarvex::Orb;
using namespace Tarvex::Orb::DataDirectAcces;
using namespace Tarvex::Orb::Data::Varnox;

constexpr uint64_t kCompetitors = 10'000;

// The competitors file with 10,000 named competitors, made once.
class TenThousandCompetitors {
 public:
  static TenThousandCompetitors& Get() {
    static TenThousandCompetitors meet;
    return meet;
  }
  std::shared_ptr<D2oVarnox_FT_COMPETITORS_CompetitorsStringMap> Wrapper() {
    return std::make_shared<D2oVarnox_FT_COMPETITORS_CompetitorsStringMap>(
        &m_pFile->m_CompetitorsStringMap, nullptr);
  }

 private:
  TenThousandCompetitors() {
    char aTemplate[] = "/tmp/varnox-vmbench-XXXXXX";
    if (mkdtemp(aTemplate) == nullptr) throw std::runtime_error("no scratch directory");
    const std::string csDir = aTemplate;
    std::filesystem::create_directories(csDir + "/live");
    setenv("VARNOX_LIVE_DIR", (csDir + "/live").c_str(), 0);
    setenv("VARNOX_KERNEL_LOG", (csDir + "/kernel.log").c_str(), 0);
    setenv("KxOrb64", VARNOX_ORB_ROOT, 0);
    CkxOrbCategTools::Init();
    const std::string csPath = csDir + "/competitors.orb";
    m_pFile = std::make_unique<CkxVarnoxFT_COMPETITORS>();
    if (m_pFile->OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0,
                       nullptr) <= 0) {
      throw std::runtime_error("cannot open " + csPath);
    }
    auto pMap = Wrapper();
    for (uint64_t i = 1; i <= kCompetitors; ++i)
      pMap->Item(i)->set_Name(u"Competitor " + std::u16string(1, u'A' + char16_t(i % 26)));
  }
  // Made once the environment names the kernel: its constructor asks for it.
  std::unique_ptr<CkxVarnoxFT_COMPETITORS> m_pFile;
};

void BM_NamesThroughProxies(benchmark::State& state) {
  auto pMap = TenThousandCompetitors::Get().Wrapper();
  for (auto _ : state) {
    size_t uiChars = 0;
    OrbSharedLockScope lock(*pMap);
    for (uint32_t h = pMap->Head(); h != 0; h = pMap->Next(h)) uiChars += pMap->Item(h)->Name().size();
    benchmark::DoNotOptimize(uiChars);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kCompetitors));
}
BENCHMARK(BM_NamesThroughProxies)->Unit(benchmark::kMillisecond);

void BM_NamesThroughViewModelRoot(benchmark::State& state) {
  auto pMap = TenThousandCompetitors::Get().Wrapper();
  for (auto _ : state) {
    size_t uiChars = 0;
    auto pRoot = std::make_shared<OrbMvvmObsMap<uint64_t, Id2sCkxCompetitor, MvvmCkxCompetitor>>(
        pMap, nullptr, 0);
    const int32_t iCount = pRoot->Count();
    for (int32_t i = 0; i < iCount; ++i) uiChars += pRoot->Item(i)->Name()->Value().size();
    benchmark::DoNotOptimize(uiChars);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kCompetitors));
}
BENCHMARK(BM_NamesThroughViewModelRoot)->Unit(benchmark::kMillisecond);

}  // namespace
