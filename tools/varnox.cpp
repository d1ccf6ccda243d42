// varnox: command-line access to Varnox files through the native face.
//
//   varnox demo DIR      create the five files of a small meet in DIR, save
//                        them, reopen them in a new process and print a
//                        summary and one heat's results
//   varnox summary DIR   the summary and heat results of the files in DIR
//   varnox info FILE     file type, members, element counts and sizes
//   varnox export FILE OUT.xml
//                        the whole file as XML (the kernel's SaveFileAsXml)
//   varnox import FILE IN.xml
//                        replaces the file's content with the XML and saves
//                        it (UpdateFileFromXml, then Save)
//                        Both draw a progress bar on standard error for a
//                        file of 1 MB or more when it is a terminal.
//   varnox negotiate     the interface versions the kernel grants
//   varnox check FILE    the integrity check of a file: every structure and
//                        the allocator of each member walked, every problem
//                        listed with where it lies; exit 0 when whole, 1
//                        when not. A file a process has open is checked in
//                        its live data (the changes not saved yet), else as
//                        saved. It runs on the kernel's engine built into
//                        the tool, without the component manager.
//
// Without KxOrb64 in the environment the tool uses the reference kernel
// installed beside it, else the one it was built with.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <varnox/Varnox.h>

#include "contracts/kernel/KxText.h"
#include "kernel/KxCheck.h"
#include "templates/VarnoxCatalogue.h"
// negotiate reports what the start-up unit's private objects were granted.
#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"

namespace {

// ---------------------------------------------------------------------------
// Texts.

// The tool reads and prints UTF-8; the fields hold UTF-16 or Windows-1252,
// converted by contracts/kernel/KxText.h (invalid input as it documents).

// Writing a dynamic string: reserve its length, then copy the characters.
// The caller reached the record through its top-level container first.
void Set(CkxD2StrDU& field, const std::string& csText) {
  const std::u16string csWide = KxText::Utf8ToUtf16(csText);
  field.ReserveNet(static_cast<int>(csWide.size()));
  field.SetNet(csWide.data(), static_cast<int>(csWide.size()));
}

void Set(CkxD2StrD& field, const std::string& csText) {
  const std::string csAnsi = KxText::Utf8ToCp1252(csText);
  field.ReserveNet(static_cast<int>(csAnsi.size()));
  field.SetNet(csAnsi.data(), static_cast<int>(csAnsi.size()));
}

void Set(CkxD2StrSU<64>& field, const std::string& csText) {
  const std::u16string csWide = KxText::Utf8ToUtf16(csText);
  field.SetNet(csWide.data(), static_cast<int>(csWide.size()));
}

template <class Field>
std::string Get(const Field& field) {
  int iLength = 0;
  const auto* p = field.GetNet(&iLength);
  if (iLength < 1) return "";
  if constexpr (std::is_same_v<std::remove_cv_t<std::remove_pointer_t<decltype(p)>>, char>) {
    return KxText::Cp1252ToUtf8(std::string_view(p, static_cast<size_t>(iLength)));
  } else {
    return KxText::Utf16ToUtf8(std::u16string_view(p, static_cast<size_t>(iLength)));
  }
}

// A race time in hundredths of a second as m:ss.hh.
std::string FormatTime(int64_t liHundredths) {
  char aText[32];
  std::snprintf(
      aText, sizeof aText, "%lld:%02lld.%02lld", static_cast<long long>(liHundredths / 6000),
      static_cast<long long>(liHundredths / 100 % 60), static_cast<long long>(liHundredths % 100));
  return aText;
}

// ---------------------------------------------------------------------------
// The meet.

struct Swimmer {
  const char* csName;
  const char* csNation;
  const char* csClub;
  int iBirthYear;
};

const Swimmer kSwimmers[] = {
    {"Anna Keller", "SUI", "SC Basel", 2004},         {"Marta Nowak", "POL", "KS Warta", 2003},
    {"Julie Martin", "FRA", "CN Lyon", 2005},         {"Sofia Rossi", "ITA", "RN Torino", 2004},
    {"Emma Jansen", "NED", "PSV Zwemmen", 2006},      {"Lea Fischer", "GER", "SV Würzburg", 2003},
    {"Clara Nunes", "POR", "SL Benfica", 2005},       {"Ida Lund", "SWE", "Göteborg Sim", 2004},
    {"Nina Novak", "SLO", "PK Triglav", 2006},        {"Eva Horvat", "CRO", "PK Mladost", 2003},
    {"Laura Weber", "AUT", "SU Wien", 2004},          {"Mia Dubois", "BEL", "Royal Gent", 2005},
    {"Tom Becker", "GER", "SG Essen", 2003},          {"Luca Bianchi", "ITA", "CC Aniene", 2004},
    {"Hugo Petit", "FRA", "Dauphins Toulouse", 2005}, {"Jan Kowalski", "POL", "AZS Kraków", 2003},
};
constexpr int kLanes = 8;
constexpr int kSplits = 4;  // 4 x 50 m in a 200 m race

// Hundredths of a second for swimmer `i` at the end of lap `iLap` (1-based).
int64_t SplitOf(int i, int iLap) { return iLap * (3050 + (i * 37) % 250) + (iLap > 1 ? 120 : 0); }

std::string FilePath(const std::string& csDir, const char* csName) { return csDir + "/" + csName; }

// What each failure id of the kernel's Open means.
struct OpenFailure {
  int32_t iId;
  const char* csMeaning;
};
constexpr OpenFailure kOpenFailures[] = {
    {KxOpenNoInterface, "the kernel gave no file interface"},
    {KxOpenNotFound, "no such file"},
    {KxOpenForeign, "not a Varnox file (wrong magic or unknown format version)"},
    {KxOpenOtherType, "a file of another type"},
    {KxOpenTruncated, "truncated"},
    {KxOpenCorrupted, "corrupted"},
    {KxOpenIoError, "cannot be read, or its live storage cannot be used"},
    {KxOpenBadTemplate, "the tool's file template does not match the kernel's"},
    {KxOpenOtherSchema, "written by a library of another schema"},
};

std::string MeaningOf(int32_t iId) {
  for (const OpenFailure& failure : kOpenFailures) {
    if (failure.iId == iId) return failure.csMeaning;
  }
  return "refused (failure " + std::to_string(iId) + ")";
}

// The kernel's log file (docs/kernel.md, "Log").
std::string KernelLogPath() {
  if (const char* csLog = std::getenv("VARNOX_KERNEL_LOG"); csLog != nullptr && csLog[0] != '\0')
    return csLog;
  const char* csTmp = std::getenv("TMPDIR");
  return std::string(csTmp != nullptr && csTmp[0] != '\0' ? csTmp : "/tmp") + "/varnox-kernel-" +
         std::to_string(getuid()) + ".log";
}

uint64_t KernelLogSize() {
  struct stat st {};
  return stat(KernelLogPath().c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// What the kernel's last log line holding `csMark` says after it, among the
// lines logged since the log was `uiLogBefore` bytes long; "" when none.
std::string KernelReason(uint64_t uiLogBefore, const std::string& csMark) {
  FILE* pLog = std::fopen(KernelLogPath().c_str(), "r");
  if (pLog == nullptr) return "";
  std::fseek(pLog, static_cast<long>(uiLogBefore), SEEK_SET);
  std::string csReason;
  char aLine[4096];
  while (std::fgets(aLine, sizeof aLine, pLog) != nullptr) {
    const std::string csLine = aLine;
    const size_t uiAt = csLine.find(csMark);
    if (uiAt != std::string::npos) {
      csReason = csLine.substr(uiAt + csMark.size());
      while (!csReason.empty() && (csReason.back() == '\n' || csReason.back() == '\r'))
        csReason.pop_back();
    }
  }
  std::fclose(pLog);
  return csReason;
}

// Says on standard error why `csPath` did not open with failure `iId`: what
// the id means, then the kernel's own reason.
void ReportOpenFailure(const std::string& csPath, int32_t iId, uint64_t uiLogBefore) {
  const std::string csReason =
      KernelReason(uiLogBefore, " refused (" + std::to_string(iId) + "): ");
  std::fprintf(stderr, "varnox: cannot open %s: %s%s%s\n", csPath.c_str(), MeaningOf(iId).c_str(),
               csReason.empty() ? "" : ": ", csReason.c_str());
}

// The refusals of a file tried with every template: every template but its
// own says "another type", so the telling failure is any other one.
class Refusals {
 public:
  void Note(int32_t iId) {
    if (m_iId == 0 || m_iId == KxOpenOtherType) m_iId = iId;
  }
  void Report(const std::string& csPath) const { ReportOpenFailure(csPath, m_iId, m_uiLogBefore); }

 private:
    uint64_t m_uiLogBefore = KernelLogSize();
  int32_t m_iId = 0;
};

bool Open(CkxVarnoxFile& file, const std::string& csPath, bool bCreate, const char* csMode = "rw") {
  const uint64_t uiLogBefore = KernelLogSize();
  const int32_t iId =
      file.OpenUnm(csPath.c_str(), nullptr, nullptr, csMode, "", bCreate, nullptr, 0, 0, nullptr);
  if (iId <= 0) ReportOpenFailure(csPath, iId, uiLogBefore);
  return iId > 0;
}

bool SaveAndUnload(CkxVarnoxFile& file, const char* csWhat) {
  const bool bSaved = file.Save(0, true, "");
  if (!bSaved) std::fprintf(stderr, "varnox: saving the %s failed (see the kernel log)\n", csWhat);
  file.UnLoad();
  return bSaved;
}

bool CreateCompetitors(const std::string& csDir) {
  CkxVarnoxFT_COMPETITORS file;
  if (!Open(file, FilePath(csDir, "competitors.orb"), true)) return false;
  auto& map = file.m_CompetitorsStringMap.m_Container;
  map.GetARLock();
  for (int i = 0; i < static_cast<int>(std::size(kSwimmers)); ++i) {
    const uint32_t uiHandle = map(D2MapCmd::Add, 1000 + i, nullptr);
    CkxCompetitor& swimmer = map[uiHandle];
    swimmer.CompetitorId = 1000 + i;
    swimmer.CategoryId = i < 12 ? 1 : 2;
    Set(swimmer.Name, kSwimmers[i].csName);
    Set(swimmer.Nation, kSwimmers[i].csNation);
    Set(swimmer.Club, kSwimmers[i].csClub);
    Set(swimmer.BirthYear, std::to_string(kSwimmers[i].iBirthYear));
  }
  map.ReleaseARLock();
  return SaveAndUnload(file, "competitors");
}

void FillPoolConfig(CkxPoolConfig& pool) {
  pool.NbLanes = kLanes;
  pool.PoolLength = 50;
  pool.SamplingRate = 1000;
  pool.StartContactCfg = 1;
  pool.Ha1Left = true;
  for (int iLane = 1; iLane <= kLanes; ++iLane) {
    CkxPoolConfigOneLane& lane = pool.Lanes[pool.Lanes(D2MapCmd::Add, iLane, nullptr)];
    lane.m_LaneID = iLane;
    lane.m_LeftModuleID = 100 + iLane;
    lane.m_RightModuleID = 200 + iLane;
    pool.LeftContacts[pool.LeftContacts(D2MapCmd::Add, iLane, nullptr)].m_Contact = true;
    pool.RightContacts[pool.RightContacts(D2MapCmd::Add, iLane, nullptr)].m_Contact =
        iLane % 2 == 0;
  }
}

bool CreateGlobals(const std::string& csDir) {
  CkxVarnoxFT_GLOBALS file;
  if (!Open(file, FilePath(csDir, "globals.orb"), true)) return false;
  FillPoolConfig(*file.m_PoolConfig.m_Container.operator->());

  auto& distances = file.m_DistancesDefault.m_Container;
  for (int iMeters : {50, 100, 200, 400}) {
    CkxDistance& distance = distances[distances(D2MapCmd::Add, iMeters, nullptr)];
    distance.Distance = iMeters;
    Set(distance.DistanceStr, std::to_string(iMeters));
    Set(distance.DistanceUnit, "m");
  }
  auto& styles = file.m_StylesDefault.m_Container;
  const char* aStyles[][2] = {
      {"Freestyle", "FR"}, {"Backstroke", "BK"}, {"Breaststroke", "BR"}, {"Butterfly", "FL"}};
  for (int i = 0; i < 4; ++i) {
    CkxStyle& style = styles[styles(D2MapCmd::Add, i + 1, nullptr)];
    Set(style.Style, aStyles[i][0]);
    Set(style.StyleAbbrev, aStyles[i][1]);
  }
  auto& categories = file.m_CategoriesDefault.m_Container;
  Set(categories[categories(D2MapCmd::Add, 1, nullptr)].Category, "Women");
  Set(categories[categories(D2MapCmd::Add, 2, nullptr)].Category, "Men");
  auto& rounds = file.m_RoundsDefault.m_Container;
  CkxRound& final = rounds[rounds(D2MapCmd::Add, 1, nullptr)];
  Set(final.RoundName, "Final");
  Set(final.ShortRoundName, "F");
  final.NBMaxRounds = 1;
  final.IdList[0] = 1;
  Set(final.TextMap[final.TextMap(D2MapCmd::Add, 1, nullptr)].str, "A final");
  auto& statuses = file.m_StatusDefaults.m_Container;
  Set(statuses[statuses(D2MapCmd::Add, 0, nullptr)].StatusDesc, "OK");
  Set(statuses[statuses(D2MapCmd::Add, 1, nullptr)].StatusDesc, "Disqualified");
  auto& parameters = file.m_Parameters.m_Container;
  CkxSetupParam& meet = parameters[parameters(D2MapCmd::Add, 0, "MeetName")];
  Set(meet.Name, "MeetName");
  Set(meet.Value, "Varnox Winter Open");

  auto& records = file.m_Records.m_Container;
  CkxRecordEntry& record = records[records(D2MapCmd::Add, 0, "W200FR")];
  record.idLen = 200;
  record.IdStyle = 1;
  record.idCat = 1;
  record.Time = Sd2KxTime::Make(11262, 2, false);
  Set(record.Name, "Anna Keller");
  Set(record.Place, "Basel");
  for (int iLap = 1; iLap <= kSplits; ++iLap) {
    const uint32_t uiLap = records[records(D2MapCmd::Find, 0, "W200FR")].LapTimes.Add();
    records[records(D2MapCmd::Find, 0, "W200FR")].LapTimes[uiLap].LapTime =
        Sd2KxTime::Make(iLap * 2800, 2, false);
    const uint32_t uiDistance = records[records(D2MapCmd::Find, 0, "W200FR")].LapDistances.Add();
    records[records(D2MapCmd::Find, 0, "W200FR")].LapDistances[uiDistance].LapDistance = 50 * iLap;
  }
  return SaveAndUnload(file, "global settings");
}

bool CreateRaces(const std::string& csDir) {
  CkxVarnoxFT_RACES file;
  if (!Open(file, FilePath(csDir, "races.orb"), true)) return false;
  auto& entries = file.m_ScheduleEntries.m_Container;
  for (int iRace = 0; iRace < 2; ++iRace) {
    const std::string csRace = iRace == 0 ? "R1" : "R2";
    const uint32_t uiEntry = entries(D2MapCmd::Add, 0, csRace.c_str());
    CkxScheduleOneEntry& entry = entries[uiEntry];
    entry.SortId = iRace + 1;
    entry.StyleId = 1;
    entry.CategoryId = iRace + 1;
    entry.DistanceId = 200;
    entry.RoundId = 1;
    entry.DateAndTime.SetNet(
        CkxD2DateTime::Pack(639000000000000000 + iRace * 18000000000LL, KxDateTimeKind::kLocal));
    Set(entry.RaceId, csRace);
    Set(entry.TitlePrint, iRace == 0 ? "Women 200 m Freestyle Final" : "Men 200 m Freestyle Final");
    Set(entry.Params[entry.Params(D2MapCmd::Add, 0, "Sponsor")].str, "Pool of the North");

    CkxCompOneHeat& heat = entry.Heats[entry.Heats(D2MapCmd::Add, 0, "H1")];
    Set(heat.HeatId, "H1");
    heat.SortId = 1;
    heat.HeatStatus = 2;
    FillPoolConfig(heat.PoolConfig);
    const int iFirst = iRace == 0 ? 0 : 12;
    const int iCount = iRace == 0 ? 8 : 4;
    for (int i = 0; i < iCount; ++i) {
      const int iSwimmer = iFirst + i;
      CkxCompOneLane& lane = heat.LaneResults[heat.LaneResults(D2MapCmd::Add, i + 1, nullptr)];
      lane.Lane = i + 1;
      lane.SortId = i + 1;
      lane.CurrentLap = kSplits;
      lane.CompetitorId[lane.CompetitorId(D2MapCmd::Add, 1000 + iSwimmer, nullptr)].CompetitorId =
          1000 + iSwimmer;
      for (int iLap = 1; iLap <= kSplits; ++iLap) {
        const uint32_t uiLap = lane.Laps.Add();
        CkxCompOneLap& lap = lane.Laps[uiLap];
        lap.Lap = iLap;
        lap.Time[0] = static_cast<uint32_t>(SplitOf(iSwimmer, iLap));
        lap.Time[1] = static_cast<uint32_t>(SplitOf(iSwimmer, iLap) + 1);  // backup timer
      }
    }
  }
  return SaveAndUnload(file, "races");
}

bool CreatePulses(const std::string& csDir) {
  CkxVarnoxFT_RAW_PULSES file;
  if (!Open(file, FilePath(csDir, "pulses.orb"), true)) return false;
  FillPoolConfig(*file.m_AssociatedPoolConfig.m_Container.operator->());
  auto& pulses = file.m_PoolEvents.m_Container;
  uint32_t uiSeq = 0;
  for (int i = 0; i < 8; ++i) {
    for (int iLap = 1; iLap <= kSplits; ++iLap) {
      CkxPoolEventsOnePulse& pulse = pulses[pulses(D2MapCmd::Add, ++uiSeq, nullptr)];
      pulse.SeqID = uiSeq;
      pulse.Lap = iLap;
      pulse.InputID = 100 + i + 1;
      pulse.TimeOfPulse = Sd2KxTime::Make(SplitOf(i, iLap), 2, false);
      pulse.Armed = true;
      pulse.RealPulse = true;
    }
  }
  return SaveAndUnload(file, "raw pulses");
}

bool CreateIoSetup(const std::string& csDir) {
  CkxVarnoxFT_IOSETUP file;
  if (!Open(file, FilePath(csDir, "iosetup.orb"), true)) return false;
  auto& ios = file.m_IOs.m_Container;
  CkxIOSetupOneEntry& board = ios[ios(D2MapCmd::Add, 1, nullptr)];
  Set(board.Name, "Touchpads");
  Set(board.IOType, "SERIAL");
  Set(board.ComParam, "/dev/ttyS0:115200");
  board.ActivateAtStartup = 1;
  CkxIOSetupParam& parity = board.IOParams[board.IOParams(D2MapCmd::Add, 0, "Parity")];
  Set(parity.IOType, "SERIAL");
  Set(parity.Name, "Parity");
  Set(parity.Value, "None");
  auto& defaults = file.m_IODefaultTypeParams.m_Container;
  for (const char* csName : {"BaudRate", "DataBits", "StopBits"}) {
    const uint32_t uiParam = defaults.Add();
    Set(defaults[uiParam].IOType, "SERIAL");
    Set(defaults[uiParam].Name, csName);
  }
  return SaveAndUnload(file, "input/output set-up");
}

// ---------------------------------------------------------------------------
// Reading back.

int Summary(const std::string& csDir) {
  CkxVarnoxFT_COMPETITORS competitors;
  CkxVarnoxFT_GLOBALS globals;
  CkxVarnoxFT_RACES races;
  CkxVarnoxFT_RAW_PULSES pulses;
  CkxVarnoxFT_IOSETUP iosetup;
  if (!Open(competitors, FilePath(csDir, "competitors.orb"), false, "r") ||
      !Open(globals, FilePath(csDir, "globals.orb"), false, "r") ||
      !Open(races, FilePath(csDir, "races.orb"), false, "r") ||
      !Open(pulses, FilePath(csDir, "pulses.orb"), false, "r") ||
      !Open(iosetup, FilePath(csDir, "iosetup.orb"), false, "r")) {
    return 1;
  }
  auto& parameters = globals.m_Parameters.m_Container;
  std::printf("Meet: %s (process %d)\n",
              Get(parameters[parameters(D2MapCmd::Find, 0, "MeetName")].Value).c_str(),
              static_cast<int>(getpid()));
  CkxPoolConfig& pool = *globals.m_PoolConfig.m_Container.operator->();
  std::printf("Pool: %d m, %d lanes (%u configured)\n", pool.PoolLength, pool.NbLanes,
              pool.Lanes.GetCount());
  std::printf("Competitors: %u\n", competitors.m_CompetitorsStringMap.m_Container.GetCount());
  std::printf(
      "Defaults: %u distances, %u styles, %u categories, %u rounds, %u statuses, %u records\n",
      globals.m_DistancesDefault.m_Container.GetCount(),
      globals.m_StylesDefault.m_Container.GetCount(),
      globals.m_CategoriesDefault.m_Container.GetCount(),
      globals.m_RoundsDefault.m_Container.GetCount(),
      globals.m_StatusDefaults.m_Container.GetCount(), globals.m_Records.m_Container.GetCount());
  std::printf("Schedule: %u races; raw pulses: %u; inputs/outputs: %u (%u default parameters)\n",
              races.m_ScheduleEntries.m_Container.GetCount(),
              pulses.m_PoolEvents.m_Container.GetCount(), iosetup.m_IOs.m_Container.GetCount(),
              iosetup.m_IODefaultTypeParams.m_Container.Size());

  auto& entries = races.m_ScheduleEntries.m_Container;
  auto& swimmers = competitors.m_CompetitorsStringMap.m_Container;
  const uint32_t uiEntry = entries(D2MapCmd::Find, 0, "R1");
  const std::string csTitle = Get(entries[uiEntry].TitlePrint);
  const uint32_t uiHeat = entries[uiEntry].Heats(D2MapCmd::Find, 0, "H1");
  std::printf("\n%s, heat %s\n", csTitle.c_str(),
              Get(entries[uiEntry].Heats[uiHeat].HeatId).c_str());
  std::printf("%-5s %-16s %-5s %8s %8s %8s %8s\n", "Lane", "Name", "Nat", "50 m", "100 m", "150 m",
              "200 m");
  auto& lanes = entries[uiEntry].Heats[uiHeat].LaneResults;
  for (uint32_t uiLane = lanes(D2MapCmd::Head, 0, nullptr); uiLane != 0;
       uiLane = entries[uiEntry].Heats[uiHeat].LaneResults(D2MapCmd::Next, uiLane, nullptr)) {
    CkxCompOneLane& lane = entries[uiEntry].Heats[uiHeat].LaneResults[uiLane];
    const int32_t iId =
        lane.CompetitorId[lane.CompetitorId(D2MapCmd::Head, 0, nullptr)].CompetitorId;
    std::string aSplits[kSplits];
    for (uint32_t uiLap = 0; uiLap < lane.Laps.Size() && uiLap < kSplits; ++uiLap) {
      aSplits[uiLap] = FormatTime(lane.Laps[uiLap].Time[0]);
    }
    const int32_t iLane = lane.Lane;
    CkxCompetitor& swimmer =
        swimmers[swimmers(D2MapCmd::Find, static_cast<uint64_t>(iId), nullptr)];
    std::printf("%-5d %-16s %-5s %8s %8s %8s %8s\n", iLane, Get(swimmer.Name).c_str(),
                Get(swimmer.Nation).c_str(), aSplits[0].c_str(), aSplits[1].c_str(),
                aSplits[2].c_str(), aSplits[3].c_str());
  }
  return 0;
}

int Demo(const std::string& csDir, const char* csSelf) {
  std::filesystem::create_directories(csDir);
  for (const char* csName :
       {"competitors.orb", "globals.orb", "races.orb", "pulses.orb", "iosetup.orb"}) {
    std::filesystem::remove(FilePath(csDir, csName));
  }
  if (!CreateCompetitors(csDir) || !CreateGlobals(csDir) || !CreateRaces(csDir) ||
      !CreatePulses(csDir) || !CreateIoSetup(csDir)) {
    return 1;
  }
  std::printf("Created and saved the five files of a meet in %s (process %d).\n", csDir.c_str(),
              static_cast<int>(getpid()));
  std::fflush(stdout);
  // Read them back in a new process: what was saved is all it can see.
  const pid_t pid = fork();
  if (pid == 0) {
    execl(csSelf, csSelf, "summary", csDir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int iStatus = 0;
  waitpid(pid, &iStatus, 0);
  return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : 1;
}

// What a member holds: its container kind, its element count and the size
// of its element records.
struct MemberContent {
  const char* csKind;
  uint32_t uiCount;
  uint32_t uiRecord;
};

template <class T>
MemberContent ContentOf(CkxD2MapObjA<T>& map) {
  return {"map", map.GetCount(), sizeof(T)};
}
template <class T>
MemberContent ContentOf(CkxD2a1dObjDA<T>& array) {
  return {"array", array.Size(), sizeof(T)};
}
template <class T>
MemberContent ContentOf(CkxD2PntA<T>&) {
  return {"single", 1, sizeof(T)};
}

// The file type of a saved file: the template that opens it.
int Info(const std::string& csPath) {
  struct stat st {};
  if (stat(csPath.c_str(), &st) != 0) {
    std::fprintf(stderr, "varnox: %s: %s\n", csPath.c_str(), std::strerror(errno));
    return 1;
  }
  Refusals refusals;
  bool bKnown = false;
  VarnoxFileTemplates::ForEach([&](auto type) {
    using File = typename decltype(type)::type;
    if (bKnown) return;
    File file;
    const int32_t iId =
        file.OpenUnm(csPath.c_str(), nullptr, nullptr, "r", "", false, nullptr, 0, 0, nullptr);
    if (iId <= 0) {
      refusals.Note(iId);
      return;
    }
    bKnown = true;
    std::printf("%s: Varnox %s, %lld bytes\n", csPath.c_str(), File::kFileType,
                static_cast<long long>(st.st_size));
    VarnoxMembers<File>::ForEach(file, [](const char* csName, auto& member) {
      const MemberContent content = ContentOf(member.m_Container);
      std::printf("  %-22s %-7s %6u elements of %u bytes\n", csName, content.csKind,
                  content.uiCount, content.uiRecord);
    });
    file.UnLoad();
  });
  if (!bKnown) {
    refusals.Report(csPath);
    return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// XML export and import.

// Runs `fn` on FILE opened by the template of its file type (the one the
// kernel accepts). Answers fn's result, or -1, said on standard error, when
// no template opens it.
int WithFileTemplate(const std::string& csPath, const char* csMode,
                     const std::function<int(CkxVarnoxFile&)>& fn) {
  std::optional<int> result;
  Refusals refusals;
  VarnoxFileTemplates::ForEach([&](auto type) {
    if (result) return;
    typename decltype(type)::type file;
    const int32_t iId =
        file.OpenUnm(csPath.c_str(), nullptr, nullptr, csMode, "", false, nullptr, 0, 0, nullptr);
    if (iId > 0) {
      result = fn(file);
      file.UnLoad();
    } else {
      refusals.Note(iId);
    }
  });
  if (result) return *result;
  refusals.Report(csPath);
  return -1;
}

// What this process has read and written so far (rchar and wchar of
// /proc/self/io: every byte through read and write, whatever the file).
bool ProcessIo(uint64_t& uiRead, uint64_t& uiWritten) {
  FILE* pIo = std::fopen("/proc/self/io", "r");
  if (pIo == nullptr) return false;
  int iFound = 0;
  char aLine[128];
  while (std::fgets(aLine, sizeof aLine, pIo) != nullptr) {
    unsigned long long uliValue = 0;
    if (std::sscanf(aLine, "rchar: %llu", &uliValue) == 1) {
      uiRead = uliValue;
      ++iFound;
    } else if (std::sscanf(aLine, "wchar: %llu", &uliValue) == 1) {
      uiWritten = uliValue;
      ++iFound;
    }
  }
  std::fclose(pIo);
  return iFound == 2;
}

// Files below this size are done before a bar would be worth drawing.
constexpr uint64_t kProgressBytes = uint64_t{1} << 20;

// Runs `work` (one kernel call) on a worker thread. While it runs and
// `bShow` holds, draws a bar on standard error every tenth of a second:
// `progress` answers the share done (0 to 1) and what to say beside it.
bool RunWithProgress(bool bShow, const std::function<bool()>& work,
                     const std::function<std::pair<double, std::string>()>& progress) {
  if (!bShow) return work();
  std::atomic<bool> bDone{false};
  bool bResult = false;
  std::thread worker([&] {
    bResult = work();
    bDone = true;
  });
  constexpr int kWidth = 30;
  auto draw = [&](double dShare, const std::string& csText) {
    const int iFilled = static_cast<int>(dShare * kWidth);
    std::fprintf(stderr, "\r[%s%s] %3d%% %s\x1b[K", std::string(iFilled, '#').c_str(),
                 std::string(kWidth - iFilled, '.').c_str(), static_cast<int>(dShare * 100),
                 csText.c_str());
  };
  while (!bDone) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (bDone) break;
    auto [dShare, csText] = progress();
    draw(std::min(std::max(dShare, 0.0), 0.99), csText);
  }
  worker.join();
  if (bResult) draw(1.0, progress().second);
  std::fprintf(stderr, bResult ? "\n" : "\r\x1b[K");
  return bResult;
}

std::string Megabytes(uint64_t uiBytes) {
  char aText[32];
  std::snprintf(aText, sizeof aText, "%.1f MB", static_cast<double>(uiBytes) / 1e6);
  return aText;
}

// XML bytes per byte of a saved file, for the export's estimate: 0.5 to 2
// on the files measured (the demo's; 100,000 competitors; 400,000 pulses),
// so the bar tends to run behind and catch up at the end.
constexpr double kXmlPerSavedByte = 2.0;

int ExportXml(const std::string& csPath, const std::string& csXml) {
  struct stat st {};
  if (stat(csPath.c_str(), &st) != 0) {
    std::fprintf(stderr, "varnox: %s: %s\n", csPath.c_str(), std::strerror(errno));
    return 1;
  }
  const int iResult = WithFileTemplate(csPath, "r", [&](CkxVarnoxFile& file) {
    const uint64_t uiSaved = static_cast<uint64_t>(st.st_size);
    const double dEstimate = std::max(1.0, kXmlPerSavedByte * static_cast<double>(uiSaved));
    uint64_t uiRead0 = 0, uiWritten0 = 0;
    const bool bShow =
        isatty(STDERR_FILENO) && uiSaved >= kProgressBytes && ProcessIo(uiRead0, uiWritten0);
    const uint64_t uiLogBefore = KernelLogSize();
    const bool bOk = RunWithProgress(
        bShow, [&] { return file.SaveFileAsXml(csXml.c_str()); },
        [&] {
          uint64_t uiRead = 0, uiWritten = uiWritten0;
          ProcessIo(uiRead, uiWritten);
          const uint64_t uiDone = uiWritten - uiWritten0;
          return std::make_pair(static_cast<double>(uiDone) / dEstimate,
                                "writing " + csXml + ", " + Megabytes(uiDone));
        });
    if (!bOk) {
      std::fprintf(stderr, "varnox: exporting %s to %s failed: %s\n", csPath.c_str(), csXml.c_str(),
                   KernelReason(uiLogBefore, " failed: ").c_str());
      return 1;
    }
    return 0;
  });
  return iResult == 0 ? 0 : 1;
}

int ImportXml(const std::string& csPath, const std::string& csXml) {
  struct stat st {};
  if (stat(csXml.c_str(), &st) != 0) {
    std::fprintf(stderr, "varnox: %s: %s\n", csXml.c_str(), std::strerror(errno));
    return 1;
  }
  const int iResult = WithFileTemplate(csPath, "rw", [&](CkxVarnoxFile& file) {
    const uint64_t uiXml = static_cast<uint64_t>(st.st_size);
    uint64_t uiRead0 = 0, uiWritten0 = 0;
    const bool bShow =
        isatty(STDERR_FILENO) && uiXml >= kProgressBytes && ProcessIo(uiRead0, uiWritten0);
    const uint64_t uiLogBefore = KernelLogSize();
    const bool bOk = RunWithProgress(
        bShow, [&] { return file.UpdateFileFromXml(csXml.c_str()); },
        [&] {
          uint64_t uiRead = uiRead0, uiWritten = 0;
          ProcessIo(uiRead, uiWritten);
          const uint64_t uiDone = uiRead - uiRead0;
          // The kernel reads the whole document, checks it, then rebuilds.
          return std::make_pair(static_cast<double>(uiDone) / static_cast<double>(uiXml),
                                uiDone < uiXml ? "reading " + csXml + ", " + Megabytes(uiDone)
                                               : "read " + csXml + ", rebuilding " + csPath);
        });
    if (!bOk) {
      std::fprintf(stderr, "varnox: %s was not imported into %s; the file is unchanged: %s\n",
                   csXml.c_str(), csPath.c_str(), KernelReason(uiLogBefore, " refused: ").c_str());
      return 1;
    }
    if (!file.Save(0, true, "")) {
      std::fprintf(stderr, "varnox: %s was imported but saving %s failed: %s\n", csXml.c_str(),
                   csPath.c_str(), KernelReason(uiLogBefore, " failed: ").c_str());
      return 1;
    }
    return 0;
  });
  return iResult == 0 ? 0 : 1;
}

template <class Itf>
void PrintInterface(const char* csName, const KxItf<Itf>& itf) {
  std::printf("  %-18s offered %2u  granted %2u%s\n", csName, KxItf<Itf>::Ops::kVersion,
              itf.version, itf.Has() ? "" : "  (refused)");
}

int Negotiate() {
  std::printf("Component manager: %sKernel/Lib/CkxCompManagerR.dll\n", std::getenv("KxOrb64"));
  std::printf("Interfaces:\n");
  PrintInterface("CkxTask", pTasks->m_Task);
  PrintInterface("CkxTaskOnly", pTasks->m_TaskOnly);
  PrintInterface("CkxDtb2Connection", pDtb2->m_Connection);
  PrintInterface("CkxD2MessMan", pMessMan->m_MessMan);
  PrintInterface("CkxDtbAccByStr", pDtbAac->m_Access);
  CkxDtb2File file;
  CkxDtb2Obj object;
  PrintInterface("CkxDtb2File", file.m_File);
  PrintInterface("CkxDtb2Obj", object.m_Obj);
  std::printf("Task id: %lld\nThread-local slot of the current kernel object: %u\n",
              static_cast<long long>(pTasks->TaskId()), dwIObjTlsInd);
  std::printf("Schema fingerprint: 0x%016llX\n",
              static_cast<unsigned long long>(kVarnoxSchemaFingerprint));
  return 0;
}

// The integrity check (see the head of this file).
int Check(const std::string& csPath) {
  const std::string csFull = KxCheckedPath(csPath);
  const KxCatalogue& catalogue = VarnoxCatalogue();
  static const KxRecordTypes types(catalogue);
  KxFileCheck check;
  std::shared_ptr<KxLiveFile> pLive;
  uint64_t uiSchema = 0;
  const bool bLive = KxLiveFile::HeldOpen(csFull, uiSchema);
  if (!bLive) {
    check = KxCheckSavedFile(csFull, catalogue, types);
  } else if (const KxFileType* pType = KxFileTypeOfSchema(catalogue, uiSchema)) {
    int32_t iFailure = 0;
    std::string csWhy;
    pLive = KxLiveFile::Open(csFull, *pType, types, false, iFailure, csWhy);
    if (pLive) {
      check = KxCheckLiveFile(*pLive);
    } else {
      check.problems.push_back(KxProblem{"the live data", "cannot attach: " + csWhy});
    }
  } else {
    check.problems.push_back(
        KxProblem{"the live data", "it was built for a file type of another schema"});
  }
  const std::string csForm = std::string(bLive ? "live data, open in a process" : "saved file") +
                             (check.csFileType.empty() ? "" : ", " + check.csFileType);
  for (const KxProblem& problem : check.problems) {
    std::printf("%s: %s: %s\n", csPath.c_str(), problem.csWhere.c_str(), problem.csWhat.c_str());
  }
  if (check.problems.empty()) {
    std::printf("%s (%s): whole\n", csPath.c_str(), csForm.c_str());
    return 0;
  }
  std::printf("%s (%s): %zu problem%s%s\n", csPath.c_str(), csForm.c_str(), check.problems.size(),
              check.problems.size() == 1 ? "" : "s",
              check.problems.size() >= KxVerifier::kMostProblems ? " or more" : "");
  return 1;
}

int Usage() {
  std::fprintf(
      stderr,
      "usage: varnox demo DIR | varnox summary DIR | varnox info FILE | varnox export FILE "
      "OUT.xml | varnox import FILE IN.xml | varnox negotiate | varnox check FILE\n");
  return 2;
}

// Runs one command. A damaged file can make the library throw its own
// exception, or the kernel a native one: either is said, with the command
// and its file, and the command fails instead of the tool aborting.
int RunCommand(const std::string& csCommand, int argc, char** argv) {
  const std::string csFile = argc > 2 ? argv[2] : "";
  auto fail = [&](const std::string& csWhat) {
    std::fprintf(stderr, "varnox: %s %s failed: %s\n", csCommand.c_str(), csFile.c_str(),
                 csWhat.c_str());
    return 1;
  };
  try {
    if (csCommand == "demo") return Demo(argv[2], argv[0]);
    if (csCommand == "summary") return Summary(argv[2]);
    if (csCommand == "info") return Info(argv[2]);
    if (csCommand == "export") return ExportXml(argv[2], argv[3]);
    if (csCommand == "import") return ImportXml(argv[2], argv[3]);
    if (csCommand == "negotiate") return Negotiate();
    return Usage();
  } catch (const CkxOrbUnmanException& e) {
    std::string csText;
    return fail("the file's storage is damaged: " + e.GetErrorText(csText));
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}

// The kernel the tool runs on when KxOrb64 is not set: the one installed
// beside it when there is one, else the one it was built with.
std::string DefaultOrbRoot() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path root =
        (exe.parent_path() / VARNOX_INSTALLED_ORB_ROOT).lexically_normal();
    if (std::filesystem::exists(root / "Kernel" / "Lib" / "CkxCompManagerR.dll", error))
      return root.string() + "/";
  }
  return VARNOX_DEFAULT_ORB_ROOT;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const char* csRoot = std::getenv("KxOrb64");
  if (csRoot == nullptr || csRoot[0] == '\0') setenv("KxOrb64", DefaultOrbRoot().c_str(), 1);
  const std::string csCommand = argv[1];
  if (csCommand != "negotiate" && argc < 3) return Usage();
  if ((csCommand == "export" || csCommand == "import") && argc < 4) return Usage();
  if (csCommand == "check") {
    try {
      return Check(argv[2]);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "varnox: check %s failed: %s\n", argv[2], e.what());
      return 1;
    }
  }

  KxInitCatAssembly(false);
  const int iResult = RunCommand(csCommand, argc, argv);
  KxEndCatAssembly();
  return iResult;
}
