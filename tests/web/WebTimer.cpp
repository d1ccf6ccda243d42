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
//   clear RACE HEAT                     every split and status of the heat reset
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include <varnox/Varnox.h>

#include "access/CkxOrbCategTools.h"
#include "contracts/kernel/KxText.h"
#include "files/VarnoxFiles.h"

namespace {

namespace Varnox = Tarvex::Orb::Data::Varnox;
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

template <class Map, class Key>
auto Existing(Map& map, const Key& key) -> decltype(map.Item(key)) {
  const uint32_t hPos = map.Find(key);
  return hPos == 0 ? nullptr : map.Item(hPos);
}

class Timer {
 public:
  explicit Timer(const std::string& csDir) : m_csDir(csDir) {
    m_pRaces = Open<Varnox::D2fVarnox_FT_RACES>(csDir + "/races.orb");
  }
  bool Ready() const { return m_pRaces != nullptr; }

  // Runs one command line; the answer.
  std::string Run(const std::string& csLine) {
    std::istringstream in(csLine);
    std::string csCommand, csRace, csHeat;
    in >> csCommand;
    if (csCommand == "name" || csCommand == "status-name") {
      int64_t liId = 0;
      in >> liId;
      std::string csText;
      std::getline(in >> std::ws, csText);
      return csCommand == "name" ? Name(static_cast<uint64_t>(liId), csText)
                                 : StatusName(static_cast<uint64_t>(liId), csText);
    }
    in >> csRace >> csHeat;
    // Each command changes one race's entry, which its update names.
    m_hEntry = m_pRaces->ScheduleEntries()->Find(KxText::Utf8ToUtf16(csRace));
    const auto pLanes = Lanes(csRace, csHeat);
    if (!pLanes) return "error no heat " + csHeat + " in race " + csRace;
    int64_t liWritten = 0;
    if (csCommand == "lap") {
      int iLane = 0, iLap = 0;
      uint32_t uiTime = 0;
      if (!(in >> iLane >> iLap >> uiTime) || iLap < 1)
        return "error lap wants LANE LAP HUNDREDTHS";
      const auto pLane = Existing(*pLanes, static_cast<uint64_t>(iLane));
      if (!pLane) return "error no lane " + std::to_string(iLane);
      const auto pLaps = pLane->Laps();
      while (pLaps->GetLength(0) < static_cast<uint32_t>(iLap))
        pLaps->Item(pLaps->Add())->set_Lap(static_cast<int32_t>(pLaps->GetLength(0)));
      liWritten = Now();
      pLaps->Item(static_cast<uint32_t>(iLap - 1))->Time()->set_Item(0, uiTime);
      return Publish(u"lap {0} {1} {2}", {iLane, iLap, liWritten}, liWritten);
    }
    if (csCommand == "status") {
      int iLane = 0, iStatus = 0;
      if (!(in >> iLane >> iStatus)) return "error status wants LANE ID";
      const auto pLane = Existing(*pLanes, static_cast<uint64_t>(iLane));
      if (!pLane) return "error no lane " + std::to_string(iLane);
      liWritten = Now();
      pLane->set_StatusId(iStatus);
      return Publish(u"status {0} {1} {2}", {iLane, iStatus, liWritten}, liWritten);
    }
    if (csCommand == "clear") {
      liWritten = Now();
      for (uint32_t h = pLanes->Head(); h != 0; h = pLanes->Next(h)) {
        const auto pLane = pLanes->Item(h);
        pLane->set_StatusId(0);
        const auto pLaps = pLane->Laps();
        for (uint32_t i = 0; i < pLaps->GetLength(0); ++i) pLaps->Item(i)->Time()->set_Item(0, 0);
      }
      return Publish(u"clear {0}", {liWritten}, liWritten);
    }
    return "error unknown command " + csCommand;
  }

 private:
  std::shared_ptr<Tarvex::Orb::DataDirectAcces::IOrbMap<uint64_t, Varnox::Id2sCkxCompOneLane>>
  Lanes(const std::string& csRace, const std::string& csHeat) {
    const auto pEntry = Existing(*m_pRaces->ScheduleEntries(), KxText::Utf8ToUtf16(csRace));
    const auto pHeat = pEntry ? Existing(*pEntry->Heats(), KxText::Utf8ToUtf16(csHeat)) : nullptr;
    return pHeat ? pHeat->LaneResults() : nullptr;
  }

  std::string Publish(std::u16string_view csFormat,
                      std::vector<Tarvex::Orb::DataDirectAcces::OrbFormatArg> args,
                      int64_t liWritten) {
    const uint32_t aEntry[] = {m_hEntry};
    m_pRaces->ScheduleEntries()->UpdateID(
        OrbCmd{0}, std::nullopt, Tarvex::Orb::DataDirectAcces::OrbNameElements(csFormat, aEntry),
        std::move(args));
    return "ok " + std::to_string(liWritten);
  }

  std::string Name(uint64_t uiId, const std::string& csName) {
    if (!m_pCompetitors)
      m_pCompetitors = Open<Varnox::D2fVarnox_FT_COMPETITORS>(m_csDir + "/competitors.orb");
    if (!m_pCompetitors) return "error cannot open competitors.orb";
    return SetText(*m_pCompetitors->CompetitorsStringMap(), uiId, u"name {0}",
                   [&](auto& swimmer) { swimmer.set_Name(KxText::Utf8ToUtf16(csName)); });
  }

  std::string StatusName(uint64_t uiId, const std::string& csName) {
    if (!m_pGlobals) m_pGlobals = Open<Varnox::D2fVarnox_FT_GLOBALS>(m_csDir + "/globals.orb");
    if (!m_pGlobals) return "error cannot open globals.orb";
    return SetText(*m_pGlobals->StatusDefaults(), uiId, u"status-name {0}",
                   [&](auto& status) { status.set_StatusDescAbbrev(KxText::Utf8ToUtf16(csName)); });
  }

  // Sets a text of element `uiId` of `map` by `set` and publishes the map's
  // update `csUpdate` with the moment of the write.
  template <class Map, class Set>
  static std::string SetText(Map& map, uint64_t uiId, std::u16string_view csUpdate, Set set) {
    const auto pItem = Existing(map, uiId);
    if (!pItem) return "error no element " + std::to_string(uiId);
    const int64_t liWritten = Now();
    set(*pItem);
    map.UpdateID(OrbCmd{0}, std::nullopt, csUpdate, {liWritten});
    return "ok " + std::to_string(liWritten);
  }

  std::string m_csDir;
  std::shared_ptr<Varnox::D2fVarnox_FT_RACES> m_pRaces;
  uint32_t m_hEntry = 0;  // the schedule entry the command at hand changes
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
        if (csLine.empty()) continue;
        std::printf("%s\n", timer.Run(csLine).c_str());
        std::fflush(stdout);
      }
    }
  }
  if (Tarvex::Orb::DataDirectAcces::CkxOrbCategTools::m_bInitOk) {
    Tarvex::Orb::DataDirectAcces::CkxOrbCategTools::OnEndNetApplication(0, 0, nullptr, nullptr);
  }
  KxEndCatAssembly();
  return iResult;
}
