// web_timer DIR: a timing process for the live-results tests and benchmark.
// Reads commands from standard input, writes them through the object face
// into the meet in DIR and publishes each with its own update id, as the
// timing application does; answers each with "ok NANOSECONDS" (the moment
// of the write, real-time clock) or "error WHAT".
//
//   lap RACE HEAT LANE LAP HUNDREDTHS   the split of a lane at the end of a lap
//   status RACE HEAT LANE ID            a lane's status (0: in order)
//   name COMPETITOR TEXT...             a competitor's name
//   status-name ID TEXT...              a status's short name (global settings)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include <varnox/Varnox.h>

#include "access/CkxOrbCategTools.h"
#include "access/OrbMapLookup.h"
#include "contracts/kernel/KxText.h"
#include "files/VarnoxFiles.h"

namespace {

namespace Varnox = Tarvex::Orb::Data::Varnox;
using namespace Tarvex::Orb::DataDirectAcces;
using Tarvex::Orb::OrbCmd;

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

template <class F>
std::shared_ptr<F> Open(const std::string& csPath) {
  auto pFile = F::Create();
  if (pFile->Open(KxText::Utf8ToUtf16(csPath), std::nullopt, std::nullopt, u"rw", u"", false,
                  nullptr, 0, 0) > 0)
    return pFile;
  pFile->Dispose();
  return nullptr;
}

// Element `uiId` of `map` changed by `set`, and the change published on
// `target` as `csUpdate` with `args` and the moment of the write after them,
// naming `elements` of the target (the entry whose heat changed).
template <class Map, class Set>
std::string Write(Map& map, uint64_t uiId, Set set, IOrbUpdatableObject& target,
                  std::u16string_view csUpdate, std::vector<OrbFormatArg> args,
                  std::span<const uint32_t> elements = {}) {
  const auto pItem = OrbExisting(map, uiId);
  if (!pItem) return "error no element " + std::to_string(uiId);
  const int64_t liWritten = Now();
  set(*pItem);
  args.push_back(liWritten);
  target.UpdateID(OrbCmd{0}, std::nullopt, OrbNameElements(csUpdate, elements), args);
  return "ok " + std::to_string(liWritten);
}

class Timer {
 public:
  explicit Timer(const std::string& csDir)
      : m_csDir(csDir), m_pRaces(Open<Varnox::D2fVarnox_FT_RACES>(csDir + "/races.orb")) {}
  bool Ready() const { return m_pRaces != nullptr; }

  // Runs one command line; the answer.
  std::string Run(const std::string& csLine) {
    std::istringstream in(csLine);
    std::string csCommand, csRace, csHeat, csText;
    int64_t liId = 0;
    in >> csCommand;
    if (csCommand == "name" && (in >> liId) && std::getline(in >> std::ws, csText)) {
      if (!m_pCompetitors)
        m_pCompetitors = Open<Varnox::D2fVarnox_FT_COMPETITORS>(m_csDir + "/competitors.orb");
      const auto pSwimmers = m_pCompetitors->CompetitorsStringMap();
      return Write(*pSwimmers, static_cast<uint64_t>(liId),
                   [&](auto& swimmer) { swimmer.set_Name(KxText::Utf8ToUtf16(csText)); },
                   *pSwimmers, u"name {0}", {});
    }
    if (csCommand == "status-name" && (in >> liId) && std::getline(in >> std::ws, csText)) {
      if (!m_pGlobals) m_pGlobals = Open<Varnox::D2fVarnox_FT_GLOBALS>(m_csDir + "/globals.orb");
      const auto pStatuses = m_pGlobals->StatusDefaults();
      return Write(*pStatuses, static_cast<uint64_t>(liId),
                   [&](auto& status) { status.set_StatusDescAbbrev(KxText::Utf8ToUtf16(csText)); },
                   *pStatuses, u"status-name {0}", {});
    }
    in >> csRace >> csHeat;
    // Each command changes one lane or heat of one race's entry, which its
    // update names.
    const auto pEntries = m_pRaces->ScheduleEntries();
    const uint32_t hEntry = pEntries->Find(KxText::Utf8ToUtf16(csRace));
    const auto pHeat =
        hEntry ? OrbExisting(*pEntries->Item(hEntry)->Heats(), KxText::Utf8ToUtf16(csHeat))
               : nullptr;
    if (!pHeat) return "error no heat " + csHeat + " in race " + csRace;
    const auto pLanes = pHeat->LaneResults();
    const std::span entry(&hEntry, 1);
    int64_t liLane = 0, liLap = 0, liValue = 0;
    if (csCommand == "lap" && (in >> liLane >> liLap >> liValue) && liLap >= 1) {
      return Write(
          *pLanes, static_cast<uint64_t>(liLane),
          [&](Varnox::Id2sCkxCompOneLane& lane) {
            const auto pLaps = lane.Laps();
            while (pLaps->GetLength(0) < static_cast<uint32_t>(liLap))
              pLaps->Item(pLaps->Add())->set_Lap(static_cast<int32_t>(pLaps->GetLength(0)));
            pLaps->Item(static_cast<uint32_t>(liLap - 1))
                ->Time()
                ->set_Item(0, static_cast<uint32_t>(liValue));
          },
          *pEntries, u"lap {0} {1} {2}", {liLane, liLap}, entry);
    }
    if (csCommand == "status" && (in >> liLane >> liValue)) {
      return Write(
          *pLanes, static_cast<uint64_t>(liLane),
          [&](Varnox::Id2sCkxCompOneLane& lane) {
            lane.set_StatusId(static_cast<int32_t>(liValue));
          },
          *pEntries, u"status {0} {1} {2}", {liLane, liValue}, entry);
    }
    return "error cannot read: " + csLine;
  }

 private:
  std::string m_csDir;
  std::shared_ptr<Varnox::D2fVarnox_FT_RACES> m_pRaces;
  std::shared_ptr<Varnox::D2fVarnox_FT_COMPETITORS> m_pCompetitors;
  std::shared_ptr<Varnox::D2fVarnox_FT_GLOBALS> m_pGlobals;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: web_timer DIR (commands on standard input)\n");
    return 2;
  }
  // The kernel built with the tests unless KxOrb64 names another.
  setenv("KxOrb64", VARNOX_ORB_ROOT, 0);
  KxInitCatAssembly(false);
  int iResult = 0;
  {
    Timer timer(argv[1]);
    if (!timer.Ready()) {
      std::fprintf(stderr, "web_timer: cannot open %s/races.orb\n", argv[1]);
      iResult = 1;
    } else {
      std::printf("ready\n");
      std::fflush(stdout);
      for (std::string csLine; std::getline(std::cin, csLine);) {
        if (!csLine.empty()) std::printf("%s\n", timer.Run(csLine).c_str());
        std::fflush(stdout);
      }
    }
  }
  if (CkxOrbCategTools::m_bInitOk) CkxOrbCategTools::OnEndNetApplication(0, 0, nullptr, nullptr);
  KxEndCatAssembly();
  return iResult;
}
