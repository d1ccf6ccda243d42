#include "web/LiveMeet.h"

#include <filesystem>
#include <stdexcept>

#include <varnox/Varnox.h>

#include "contracts/framework/OrbMvvm.h"
#include "contracts/kernel/KxText.h"
#include "files/VarnoxFiles.h"
#include "web/PathTrace.h"

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

}  // namespace

LiveMeet::LiveMeet(const std::string& csDir, Feed& feed) : m_Feed(feed) {
  m_Files.pRaces = OpenReadOnly<Varnox::D2fVarnox_FT_RACES>(csDir, "races.orb", true);
  m_Files.pCompetitors =
      OpenReadOnly<Varnox::D2fVarnox_FT_COMPETITORS>(csDir, "competitors.orb", false);
  m_Files.pGlobals = OpenReadOnly<Varnox::D2fVarnox_FT_GLOBALS>(csDir, "globals.orb", false);
  Rebuild();

  // The schedule's change event follows the kernel's update notifications
  // (other processes' writes included). An update whose text names the
  // entries it changed rebuilds those races alone.
  m_Files.pRaces->ScheduleEntries()->ObjectChanged().Add(
      [this](IOrbUpdatableObject*, const OrbObjectChangedEventArgs& args) {
        trace::Mark(trace::Stage::Notified);
        Rebuild(OrbNamedElements(args.Text()));
      });
  if (m_Files.pCompetitors) {
    m_Files.pCompetitors->CompetitorsStringMap()->ObjectChanged().Add(
        [this](IOrbUpdatableObject*, const OrbObjectChangedEventArgs&) {
          m_bCompetitorsChanged = true;
          Rebuild();
        });
  }
  if (m_Files.pGlobals) {
    // One update may change several tables: a rebuild already due reads them all.
    const auto settingsChanged = [this](IOrbUpdatableObject*, const OrbObjectChangedEventArgs&) {
      if (!m_bSettingsChanged.exchange(true)) Rebuild();
    };
    Varnox::D2fVarnox_FT_GLOBALS& globals = *m_Files.pGlobals;
    globals.Parameters()->ObjectChanged().Add(settingsChanged);
    globals.DistancesDefault()->ObjectChanged().Add(settingsChanged);
    globals.StylesDefault()->ObjectChanged().Add(settingsChanged);
    globals.StatusDefaults()->ObjectChanged().Add(settingsChanged);
  }
}

LiveMeet::~LiveMeet() { Close(); }

void LiveMeet::OnRebuilt(std::function<void(size_t)> handler) {
  std::lock_guard lock(m_Mutex);
  m_OnRebuilt = std::move(handler);
}

void LiveMeet::Rebuild(const std::optional<std::vector<uint32_t>>& entries) {
  std::lock_guard lock(m_Mutex);
  if (m_bClosed) return;
  size_t uiEvents = 0;
  try {
    const bool bCompetitorsChanged = m_bCompetitorsChanged.exchange(false);
    if (bCompetitorsChanged) m_Competitors.clear();
    const bool bSettingsChanged = m_bSettingsChanged.exchange(false);
    if (bSettingsChanged) m_Settings = ReadSettings(m_Files.pGlobals.get());
    std::optional<MeetParts> parts;
    if (entries && !bCompetitorsChanged && !bSettingsChanged)
      parts = RereadRaces(m_Files, m_Settings, m_Meet, *entries, &m_Competitors);
    if (!parts) m_Meet = ReadMeet(m_Files, m_Settings, &m_Competitors);
    trace::Mark(trace::Stage::Read);
    uiEvents = m_Feed.Publish(m_Meet, parts ? &*parts : nullptr);
  } catch (const std::exception& e) {
    m_Feed.Close(std::string("the meet cannot be read: ") + e.what());
    return;
  }
  trace::Finish();
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
  for (D2fFileBase* pFile : {static_cast<D2fFileBase*>(m_Files.pRaces.get()),
                             static_cast<D2fFileBase*>(m_Files.pCompetitors.get()),
                             static_cast<D2fFileBase*>(m_Files.pGlobals.get())}) {
    if (pFile != nullptr) pFile->UnLoad();
  }
}

}  // namespace varnox::web
