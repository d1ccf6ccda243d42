#include "web/LiveMeet.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>

#include <varnox/Varnox.h>

#include "contracts/framework/OrbMvvm.h"
#include "contracts/kernel/KxText.h"
#include "files/VarnoxFiles.h"

namespace varnox::web {

namespace {

namespace Varnox = Tarvex::Orb::Data::Varnox;
using namespace Tarvex::Orb::DataDirectAcces;

// File `csName` of `csDir` opened read only; null when it does not exist
// and is optional. Throws when the kernel refuses it.
template <class F>
std::shared_ptr<F> OpenReadOnly(const std::string& csDir, const char* csName, bool bRequired) {
  const std::string csPath = csDir + "/" + csName;
  if (!std::filesystem::exists(csPath)) {
    if (!bRequired) return nullptr;
    throw std::runtime_error("cannot open " + csPath + ": no such file");
  }
  auto pFile = F::Create();
  const int32_t iId = pFile->Open(KxText::Utf8ToUtf16(csPath), std::nullopt, std::nullopt, u"r",
                                  u"", false, nullptr, 0, 0);
  if (iId > 0) return pFile;
  pFile->Dispose();
  throw std::runtime_error("cannot open " + csPath + ": the kernel refused it (failure " +
                           std::to_string(iId) + ", see the kernel log)");
}

// A data-context manager key no other server in the process uses.
std::u16string NewManagerKey() {
  static std::atomic<int> iServed{0};
  return KxText::Utf8ToUtf16("varnox-serve-" + std::to_string(getpid()) + "-" +
                             std::to_string(++iServed));
}

}  // namespace

LiveMeet::LiveMeet(const std::string& csDir, Feed& feed) : m_Feed(feed) {
  m_Files.pRaces = OpenReadOnly<Varnox::D2fVarnox_FT_RACES>(csDir, "races.orb", true);
  m_Files.pCompetitors =
      OpenReadOnly<Varnox::D2fVarnox_FT_COMPETITORS>(csDir, "competitors.orb", false);
  m_Files.pGlobals = OpenReadOnly<Varnox::D2fVarnox_FT_GLOBALS>(csDir, "globals.orb", false);
  Rebuild();

  // The schedule's data context: read only, no user-interface events, and
  // refreshed by the kernel's update notifications (other processes'
  // writes included); each refresh rebuilds what the server shows.
  m_csManagerKey = NewManagerKey();
  OrbGenericContextManager<Varnox::D2fVarnox_FT_RACES>::Create(m_csManagerKey, m_Files.pRaces);
  Varnox::D2fVarnox_FT_RACES::TheDataContextManager(m_csManagerKey);
  m_pContext =
      m_Files.pRaces->TheScheduleEntriesMvvmDC(false, OrbDataMode::ReadOnly, false, true, true);
  m_pContext->Refreshed().Add([this] { Rebuild(); });
  if (m_Files.pCompetitors) {
    m_Files.pCompetitors->CompetitorsStringMap()->ObjectChanged().Add(
        [this](IOrbUpdatableObject*, const OrbObjectChangedEventArgs&) {
          m_bCompetitorsChanged = true;
          Rebuild();
        });
  }
}

LiveMeet::~LiveMeet() {
  Close();
  if (!m_csManagerKey.empty())
    OrbGenericContextManager<Varnox::D2fVarnox_FT_RACES>::Remove(m_csManagerKey);
}

void LiveMeet::OnRebuilt(std::function<void(size_t)> handler) {
  std::lock_guard lock(m_Mutex);
  m_OnRebuilt = std::move(handler);
}

void LiveMeet::Rebuild() {
  std::lock_guard lock(m_Mutex);
  if (m_bClosed) return;
  size_t uiEvents = 0;
  try {
    if (m_bCompetitorsChanged.exchange(false)) m_Competitors.clear();
    uiEvents = m_Feed.Publish(ReadMeet(m_Files, &m_Competitors));
  } catch (const std::exception& e) {
    m_Feed.Close(std::string("the meet cannot be read: ") + e.what());
    return;
  }
  if (m_OnRebuilt) m_OnRebuilt(uiEvents);
}

void LiveMeet::Close() {
  {
    // Waits for a rebuild under way; none starts after. The files are
    // unloaded outside the lock: the unload waits for the kernel's
    // notification in progress, which may be waiting for a rebuild.
    std::lock_guard lock(m_Mutex);
    if (m_bClosed) return;
    m_bClosed = true;
  }
  m_Feed.Close("the meet's files are closed");
  m_pContext = nullptr;
  for (D2fFileBase* pFile : {static_cast<D2fFileBase*>(m_Files.pRaces.get()),
                             static_cast<D2fFileBase*>(m_Files.pCompetitors.get()),
                             static_cast<D2fFileBase*>(m_Files.pGlobals.get())}) {
    if (pFile != nullptr) pFile->UnLoad();
  }
}

}  // namespace varnox::web
