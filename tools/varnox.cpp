// varnox: command-line access to Varnox files.
//
//   varnox demo DIR      create the five files of a small meet in DIR through
//                        the object face (file wrappers, proxies,
//                        enumerators), save them, reopen them in a new
//                        process and print a summary and one heat's results
//                        then, live, times heat H1 of race R2 in one process
//                        while another watches it
//   varnox summary DIR   the summary and heat results of the files in DIR
//   varnox watch DIR [COUNT]
//                        follows the races file of DIR through a data
//                        context and prints each lap time of heat H1 of race
//                        R2 as its view model changes, with its delay from
//                        the write
//   varnox time-heat DIR writes the lap times of heat H1 of race R2, one
//                        update id per lane and lap
//   varnox info FILE     file type, members, element counts and sizes
//   varnox export FILE OUT.xml
//                        the whole file as XML (the kernel's SaveFileAsXml)
//   varnox import FILE IN.xml
//                        replaces the file's content with the XML and saves
//                        it (UpdateFileFromXml, then Save)
//                        Both draw a progress bar on standard error for a
//                        file of 1 MB or more when it is a terminal.
//   varnox lenex import|export DIR FILE.lef|FILE.lxf
//                        a LENEX start list into the meet of DIR, or the
//                        meet as LENEX results (tools/LenexCommand.cpp)
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
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <varnox/Varnox.h>

#include "access/CkxOrbCategTools.h"
#include "access/OrbMapLookup.h"
#include "files/VarnoxFiles.h"

#include "contracts/kernel/KxText.h"
#include "kernel/KxCheck.h"
#include "templates/VarnoxCatalogue.h"
#include "tools/LenexCommand.h"
// negotiate reports what the start-up unit's private objects were granted.
#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"

// varnox serve DIR [--listen ADDR:PORT] (ServeCommand.cpp).
int ServeCommand(int argc, char** argv);

namespace {

// ---------------------------------------------------------------------------
// Texts.

// The tool reads and prints UTF-8; the object face converts to and from
// what the fields hold (UTF-16 or Windows-1252).

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

// ---------------------------------------------------------------------------
// The meet through the object face: file wrappers, container wrappers,
// proxies and enumerators only.

using Tarvex::Orb::KxPrecision;
using Tarvex::Orb::KxTime;
using Tarvex::Orb::DataDirectAcces::D2fFileBase;
using Tarvex::Orb::DataDirectAcces::OrbExisting;
using Tarvex::Orb::DataDirectAcces::OrbDateTime;
using Tarvex::Orb::DataDirectAcces::OrbDateTimeKind;
namespace Varnox = Tarvex::Orb::Data::Varnox;

std::u16string Text(const std::string& csUtf8) { return KxText::Utf8ToUtf16(csUtf8); }
std::string Utf8(std::u16string_view csText) { return KxText::Utf16ToUtf8(csText); }

KxTime Hundredths(int64_t liHundredths) {
  KxTime time(KxPrecision::P2);
  time.set_Time(liHundredths);
  return time;
}

// A new wrapper of file class F opened on `csPath`; null (the kernel's
// reason said) when the kernel refuses the file.
template <class F>
std::shared_ptr<F> OpenFile(const std::string& csPath, bool bCreate,
                            const char16_t* csMode = u"rw") {
  const uint64_t uiLogBefore = KernelLogSize();
  auto pFile = F::Create();
  const int32_t iId =
      pFile->Open(Text(csPath), std::nullopt, std::nullopt, csMode, u"", bCreate, nullptr, 0, 0);
  if (iId > 0) return pFile;
  ReportOpenFailure(csPath, iId, uiLogBefore);
  pFile->Dispose();
  return nullptr;
}

bool SaveAndUnload(D2fFileBase& file, const char* csWhat) {
  const bool bSaved = file.Save(0, true, std::nullopt);
  if (!bSaved) std::fprintf(stderr, "varnox: saving the %s failed (see the kernel log)\n", csWhat);
  file.UnLoad();
  return bSaved;
}

bool CreateCompetitors(const std::string& csDir) {
  const auto pFile =
      OpenFile<Varnox::D2fVarnox_FT_COMPETITORS>(FilePath(csDir, "competitors.orb"), true);
  if (!pFile) return false;
  const auto pSwimmers = pFile->CompetitorsStringMap();
  pSwimmers->GetARLock();
  for (int i = 0; i < static_cast<int>(std::size(kSwimmers)); ++i) {
    const auto pSwimmer = pSwimmers->Item(static_cast<uint64_t>(1000 + i));
    pSwimmer->set_CompetitorId(1000 + i);
    pSwimmer->set_CategoryId(i < 12 ? 1 : 2);
    pSwimmer->set_Name(Text(kSwimmers[i].csName));
    pSwimmer->set_Nation(Text(kSwimmers[i].csNation));
    pSwimmer->set_Club(Text(kSwimmers[i].csClub));
    pSwimmer->set_BirthYear(Text(std::to_string(kSwimmers[i].iBirthYear)));
  }
  pSwimmers->ReleaseARLock();
  return SaveAndUnload(*pFile, "competitors");
}

void FillPoolConfig(Varnox::Id2sCkxPoolConfig& pool) {
  pool.set_NbLanes(kLanes);
  pool.set_PoolLength(50);
  pool.set_SamplingRate(1000);
  pool.set_StartContactCfg(1);
  pool.set_Ha1Left(true);
  const auto pLanes = pool.Lanes();
  const auto pLeft = pool.LeftContacts();
  const auto pRight = pool.RightContacts();
  for (int iLane = 1; iLane <= kLanes; ++iLane) {
    const auto pLane = pLanes->Item(static_cast<uint64_t>(iLane));
    pLane->set_m_LaneID(iLane);
    pLane->set_m_LeftModuleID(100 + iLane);
    pLane->set_m_RightModuleID(200 + iLane);
    pLeft->Item(static_cast<uint64_t>(iLane))->set_m_Contact(true);
    pRight->Item(static_cast<uint64_t>(iLane))->set_m_Contact(iLane % 2 == 0);
  }
}

bool CreateGlobals(const std::string& csDir) {
  const auto pFile = OpenFile<Varnox::D2fVarnox_FT_GLOBALS>(FilePath(csDir, "globals.orb"), true);
  if (!pFile) return false;
  FillPoolConfig(*pFile->PoolConfig());

  const auto pDistances = pFile->DistancesDefault();
  for (int iMeters : {50, 100, 200, 400}) {
    const auto pDistance = pDistances->Item(static_cast<uint64_t>(iMeters));
    pDistance->set_Distance(iMeters);
    pDistance->set_DistanceStr(Text(std::to_string(iMeters)));
    pDistance->set_DistanceUnit(std::u16string(u"m"));
  }
  const auto pStyles = pFile->StylesDefault();
  const char16_t* aStyles[][2] = {{u"Freestyle", u"FR"},
                                  {u"Backstroke", u"BK"},
                                  {u"Breaststroke", u"BR"},
                                  {u"Butterfly", u"FL"}};
  for (int i = 0; i < 4; ++i) {
    const auto pStyle = pStyles->Item(static_cast<uint64_t>(i + 1));
    pStyle->set_Style(std::u16string(aStyles[i][0]));
    pStyle->set_StyleAbbrev(std::u16string(aStyles[i][1]));
  }
  const auto pCategories = pFile->CategoriesDefault();
  pCategories->Item(uint64_t{1})->set_Category(std::u16string(u"Women"));
  pCategories->Item(uint64_t{2})->set_Category(std::u16string(u"Men"));
  const auto pFinal = pFile->RoundsDefault()->Item(uint64_t{1});
  pFinal->set_RoundName(std::u16string(u"Final"));
  pFinal->set_ShortRoundName(std::u16string(u"F"));
  pFinal->set_NBMaxRounds(1);
  pFinal->IdList()->set_Item(0, 1);
  pFinal->TextMap()->Item(uint64_t{1})->set_str(std::u16string(u"A final"));
  const auto pStatuses = pFile->StatusDefaults();
  pStatuses->Item(uint64_t{0})->set_StatusDesc(std::u16string(u"OK"));
  pStatuses->Item(uint64_t{1})->set_StatusDesc(std::u16string(u"Disqualified"));
  const auto pMeet = pFile->Parameters()->Item(std::u16string(u"MeetName"));
  pMeet->set_Name(std::u16string(u"MeetName"));
  pMeet->set_Value(std::u16string(u"Varnox Winter Open"));

  const auto pRecord = pFile->Records()->Item(std::u16string(u"W200FR"));
  pRecord->set_idLen(200);
  pRecord->set_IdStyle(1);
  pRecord->set_idCat(1);
  pRecord->set_Time(Hundredths(11262));
  pRecord->set_Name(std::u16string(u"Anna Keller"));
  pRecord->set_Place(std::u16string(u"Basel"));
  const auto pLapTimes = pRecord->LapTimes();
  const auto pLapDistances = pRecord->LapDistances();
  for (int iLap = 1; iLap <= kSplits; ++iLap) {
    pLapTimes->Item(pLapTimes->Add())->set_LapTime(Hundredths(iLap * 2800));
    pLapDistances->Item(pLapDistances->Add())->set_LapDistance(50 * iLap);
  }
  return SaveAndUnload(*pFile, "global settings");
}

bool CreateRaces(const std::string& csDir) {
  const auto pFile = OpenFile<Varnox::D2fVarnox_FT_RACES>(FilePath(csDir, "races.orb"), true);
  if (!pFile) return false;
  const auto pEntries = pFile->ScheduleEntries();
  for (int iRace = 0; iRace < 2; ++iRace) {
    const std::u16string csRace = iRace == 0 ? u"R1" : u"R2";
    const auto pEntry = pEntries->Item(csRace);
    pEntry->set_SortId(iRace + 1);
    pEntry->set_StyleId(1);
    pEntry->set_CategoryId(iRace + 1);
    pEntry->set_DistanceId(200);
    pEntry->set_RoundId(1);
    pEntry->set_DateAndTime(
        OrbDateTime(639000000000000000 + iRace * 18000000000LL, OrbDateTimeKind::Local));
    pEntry->set_RaceId(csRace);
    pEntry->set_TitlePrint(
        std::u16string(iRace == 0 ? u"Women 200 m Freestyle Final" : u"Men 200 m Freestyle Final"));
    pEntry->Params()
        ->Item(std::u16string(u"Sponsor"))
        ->set_str(std::u16string(u"Pool of the North"));

    const auto pHeat = pEntry->Heats()->Item(std::u16string(u"H1"));
    pHeat->set_HeatId(std::u16string(u"H1"));
    pHeat->set_SortId(1);
    pHeat->set_HeatStatus(2);
    FillPoolConfig(*pHeat->PoolConfig());
    const int iFirst = iRace == 0 ? 0 : 12;
    const int iCount = iRace == 0 ? 8 : 4;
    const auto pLanes = pHeat->LaneResults();
    for (int i = 0; i < iCount; ++i) {
      const int iSwimmer = iFirst + i;
      const auto pLane = pLanes->Item(static_cast<uint64_t>(i + 1));
      pLane->set_Lane(i + 1);
      pLane->set_SortId(i + 1);
      pLane->set_CurrentLap(kSplits);
      pLane->CompetitorId()
          ->Item(static_cast<uint64_t>(1000 + iSwimmer))
          ->set_CompetitorId(1000 + iSwimmer);
      const auto pLaps = pLane->Laps();
      for (int iLap = 1; iLap <= kSplits; ++iLap) {
        const auto pLap = pLaps->Item(pLaps->Add());
        pLap->set_Lap(iLap);
        const auto pTimes = pLap->Time();
        pTimes->set_Item(0, static_cast<uint32_t>(SplitOf(iSwimmer, iLap)));
        pTimes->set_Item(1, static_cast<uint32_t>(SplitOf(iSwimmer, iLap) + 1));  // backup timer
      }
    }
  }
  return SaveAndUnload(*pFile, "races");
}

bool CreatePulses(const std::string& csDir) {
  const auto pFile = OpenFile<Varnox::D2fVarnox_FT_RAW_PULSES>(FilePath(csDir, "pulses.orb"), true);
  if (!pFile) return false;
  FillPoolConfig(*pFile->AssociatedPoolConfig());
  const auto pPulses = pFile->PoolEvents();
  uint32_t uiSeq = 0;
  for (int i = 0; i < 8; ++i) {
    for (int iLap = 1; iLap <= kSplits; ++iLap) {
      const auto pPulse = pPulses->Item(static_cast<uint64_t>(++uiSeq));
      pPulse->set_SeqID(uiSeq);
      pPulse->set_Lap(iLap);
      pPulse->set_InputID(100 + i + 1);
      pPulse->set_TimeOfPulse(Hundredths(SplitOf(i, iLap)));
      pPulse->set_Armed(true);
      pPulse->set_RealPulse(true);
    }
  }
  return SaveAndUnload(*pFile, "raw pulses");
}

bool CreateIoSetup(const std::string& csDir) {
  const auto pFile = OpenFile<Varnox::D2fVarnox_FT_IOSETUP>(FilePath(csDir, "iosetup.orb"), true);
  if (!pFile) return false;
  const auto pBoard = pFile->IOs()->Item(uint64_t{1});
  pBoard->set_Name(std::u16string(u"Touchpads"));
  pBoard->set_IOType(std::u16string(u"SERIAL"));
  pBoard->set_ComParam(std::u16string(u"/dev/ttyS0:115200"));
  pBoard->set_ActivateAtStartup(1);
  const auto pParity = pBoard->IOParams()->Item(std::u16string(u"Parity"));
  pParity->set_IOType(std::u16string(u"SERIAL"));
  pParity->set_Name(std::u16string(u"Parity"));
  pParity->set_Value(std::u16string(u"None"));
  const auto pDefaults = pFile->IODefaultTypeParams();
  for (const char16_t* csName : {u"BaudRate", u"DataBits", u"StopBits"}) {
    const auto pParam = pDefaults->Item(pDefaults->Add());
    pParam->set_IOType(std::u16string(u"SERIAL"));
    pParam->set_Name(std::u16string(csName));
  }
  return SaveAndUnload(*pFile, "input/output set-up");
}

// ---------------------------------------------------------------------------
// Reading back, through the object face.

int Summary(const std::string& csDir) {
  const auto pCompetitors =
      OpenFile<Varnox::D2fVarnox_FT_COMPETITORS>(FilePath(csDir, "competitors.orb"), false, u"r");
  const auto pGlobals = pCompetitors ? OpenFile<Varnox::D2fVarnox_FT_GLOBALS>(
                                           FilePath(csDir, "globals.orb"), false, u"r")
                                     : nullptr;
  const auto pRaces =
      pGlobals ? OpenFile<Varnox::D2fVarnox_FT_RACES>(FilePath(csDir, "races.orb"), false, u"r")
               : nullptr;
  const auto pPulses =
      pRaces ? OpenFile<Varnox::D2fVarnox_FT_RAW_PULSES>(FilePath(csDir, "pulses.orb"), false, u"r")
             : nullptr;
  const auto pIoSetup =
      pPulses ? OpenFile<Varnox::D2fVarnox_FT_IOSETUP>(FilePath(csDir, "iosetup.orb"), false, u"r")
              : nullptr;
  if (!pIoSetup) return 1;

  const auto pMeet = OrbExisting(*pGlobals->Parameters(), std::u16string(u"MeetName"));
  std::printf("Meet: %s (process %d)\n", pMeet ? Utf8(pMeet->Value()).c_str() : "?",
              static_cast<int>(getpid()));
  const auto pPool = pGlobals->PoolConfig();
  std::printf("Pool: %d m, %d lanes (%d configured)\n", pPool->PoolLength(), pPool->NbLanes(),
              pPool->Lanes()->GetCount());
  std::printf("Competitors: %d\n", pCompetitors->CompetitorsStringMap()->GetCount());
  std::printf(
      "Defaults: %d distances, %d styles, %d categories, %d rounds, %d statuses, %d records\n",
      pGlobals->DistancesDefault()->GetCount(), pGlobals->StylesDefault()->GetCount(),
      pGlobals->CategoriesDefault()->GetCount(), pGlobals->RoundsDefault()->GetCount(),
      pGlobals->StatusDefaults()->GetCount(), pGlobals->Records()->GetCount());
  std::printf("Schedule: %d races; raw pulses: %d; inputs/outputs: %d (%u default parameters)\n",
              pRaces->ScheduleEntries()->GetCount(), pPulses->PoolEvents()->GetCount(),
              pIoSetup->IOs()->GetCount(), pIoSetup->IODefaultTypeParams()->GetLength(0));

  const auto pEntry = OrbExisting(*pRaces->ScheduleEntries(), std::u16string(u"R1"));
  const auto pHeat = pEntry ? OrbExisting(*pEntry->Heats(), std::u16string(u"H1")) : nullptr;
  if (!pHeat) {
    std::fprintf(stderr, "varnox: the races file has no race R1 with a heat H1\n");
    return 1;
  }
  std::printf("\n%s, heat %s\n", Utf8(pEntry->TitlePrint()).c_str(), Utf8(pHeat->HeatId()).c_str());
  std::printf("%-5s %-16s %-5s %8s %8s %8s %8s\n", "Lane", "Name", "Nat", "50 m", "100 m", "150 m",
              "200 m");
  const auto pSwimmers = pCompetitors->CompetitorsStringMap();
  const auto pLanes = pHeat->LaneResults();  // held: the loop's range is only a reference
  for (const auto& pLane : *pLanes) {
    const auto pIds = pLane->CompetitorId();
    const int32_t iId = pIds->Item(pIds->Head())->CompetitorId();
    std::string aSplits[kSplits];
    const auto pLaps = pLane->Laps();
    for (uint32_t uiLap = 0; uiLap < pLaps->GetLength(0) && uiLap < kSplits; ++uiLap) {
      aSplits[uiLap] = FormatTime(pLaps->Item(uiLap)->Time()->Item(0));
    }
    const auto pSwimmer = OrbExisting(*pSwimmers, static_cast<uint64_t>(iId));
    std::printf("%-5d %-16s %-5s %8s %8s %8s %8s\n", pLane->Lane(),
                pSwimmer ? Utf8(pSwimmer->Name()).c_str() : "?",
                pSwimmer ? Utf8(pSwimmer->Nation()).c_str() : "?", aSplits[0].c_str(),
                aSplits[1].c_str(), aSplits[2].c_str(), aSplits[3].c_str());
  }
  for (D2fFileBase* pFile : std::initializer_list<D2fFileBase*>{
           pCompetitors.get(), pGlobals.get(), pRaces.get(), pPulses.get(), pIoSetup.get()}) {
    pFile->UnLoad();
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Live: one process times a heat, another watches the races file.

// The heat the timer times: race R2, heat H1, its four lanes.
constexpr const char16_t* kTimedRace = u"R2";
constexpr const char16_t* kTimedHeat = u"H1";
constexpr int kTimedLanes = 4;
constexpr int kTimedUpdates = kTimedLanes * kSplits;  // one update per lane and lap

int64_t RealTimeNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The lane results of the timed heat; null when the races file lacks it.
std::shared_ptr<Tarvex::Orb::DataDirectAcces::IOrbMap<uint64_t, Varnox::Id2sCkxCompOneLane>>
TimedLanes(Varnox::D2fVarnox_FT_RACES& races) {
  const auto pEntry = OrbExisting(*races.ScheduleEntries(), std::u16string(kTimedRace));
  const auto pHeat = pEntry ? OrbExisting(*pEntry->Heats(), std::u16string(kTimedHeat)) : nullptr;
  return pHeat ? pHeat->LaneResults() : nullptr;
}

// varnox time-heat DIR: writes the lap times of the timed heat through
// proxies, lap by lap, and publishes each with its own update id whose text
// carries lane, lap and the moment of the write.
int TimeHeat(const std::string& csDir) {
  const auto pRaces = OpenFile<Varnox::D2fVarnox_FT_RACES>(FilePath(csDir, "races.orb"), false);
  if (!pRaces) return 1;
  const auto pLanes = TimedLanes(*pRaces);
  if (!pLanes) {
    std::fprintf(stderr, "varnox: the races file has no race R2 with a heat H1\n");
    return 1;
  }
  const auto pEntries = pRaces->ScheduleEntries();
  // Each update names the race entry it changed: a follower reads that race alone.
  const uint32_t aEntry[] = {pEntries->Find(std::u16string(kTimedRace))};
  const std::u16string csLapText =
      Tarvex::Orb::DataDirectAcces::OrbNameElements(u"lap {0} {1} {2}", aEntry);
  for (int iLap = 1; iLap <= kSplits; ++iLap) {
    for (int iLane = 1; iLane <= kTimedLanes; ++iLane) {
      const auto pLane = OrbExisting(*pLanes, static_cast<uint64_t>(iLane));
      if (!pLane) continue;
      const int64_t liWritten = RealTimeNanoseconds();
      pLane->Laps()
          ->Item(static_cast<uint32_t>(iLap - 1))
          ->Time()
          ->set_Item(0, static_cast<uint32_t>(SplitOf(11 + iLane, iLap) - 9));
      pEntries->UpdateID(Tarvex::Orb::OrbCmd{0}, std::nullopt, csLapText,
                         {iLane, iLap, liWritten});
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
  }
  pRaces->UnLoad();
  return 0;
}

// The element of view-model collection `collection` whose view model `matches`; null when none.
template <class Collection, class Match>
auto ElementWhere(Collection& collection, Match matches) -> decltype(collection.Item(0)) {
  for (int32_t i = 0; i < collection.Count(); ++i) {
    if (auto pElement = collection.Item(i); matches(*pElement)) return pElement;
  }
  return nullptr;
}

// The timed heat's view model in the view models of a data context over the
// schedule; null when the races file lacks it.
std::shared_ptr<Varnox::MvvmCkxCompOneHeat> TimedHeatModel(
    Varnox::D2fVarnox_FT_RACES::ScheduleEntriesMvvmRoot& schedule) {
  const auto pEntry = ElementWhere(schedule, [](Varnox::MvvmCkxScheduleOneEntry& entry) {
    return entry.RaceId()->Value() == kTimedRace;
  });
  return pEntry ? ElementWhere(*pEntry->Heats(),
                               [](Varnox::MvvmCkxCompOneHeat& heat) {
                                 return heat.HeatId()->Value() == kTimedHeat;
                               })
                : nullptr;
}

// What the watch prints: each lap time of the timed heat as its view model
// shows it, with the update that brought it and its delay from the write.
class LapTimeDisplay {
 public:
  // The races container reports each update (its text says lane, lap and
  // the moment of the write) just before the view models refresh.
  void OnUpdate(const Tarvex::Orb::DataDirectAcces::OrbObjectChangedEventArgs& args) {
    int iLane = 0, iLap = 0;
    long long liWritten = 0;
    const std::string csText = Utf8(args.Text());
    std::lock_guard lock(m_Mutex);
    if (std::sscanf(csText.c_str(), "lap %d %d %lld", &iLane, &iLap, &liWritten) == 3) {
      m_Writes[{iLane, iLap}] = {args.UpdateId(), liWritten};
    }
  }
  // The view model of lap `iLap` of lane `iLane` shows `uiTime`.
  void OnLapTime(int iLane, int iLap, uint32_t uiTime) {
    const int64_t liShown = RealTimeNanoseconds();
    std::lock_guard lock(m_Mutex);
    const Write write = m_Writes.count({iLane, iLap}) ? m_Writes[{iLane, iLap}] : Write{};
    std::printf("update %llu: lane %d lap %d %8s  (%.3f ms from write to display)\n",
                static_cast<unsigned long long>(write.uiUpdateId), iLane, iLap,
                FormatTime(uiTime).c_str(),
                write.liWritten ? static_cast<double>(liShown - write.liWritten) / 1e6 : 0.0);
    std::fflush(stdout);
    ++m_iShown;
    m_Shown.notify_all();
  }
  // Waits until `iCount` lap times were shown, at most 60 s; whether they were.
  bool WaitFor(int iCount) {
    std::unique_lock lock(m_Mutex);
    return m_Shown.wait_for(lock, std::chrono::seconds(60), [&] { return m_iShown >= iCount; });
  }

 private:
  struct Write {
    uint64_t uiUpdateId = 0;
    int64_t liWritten = 0;
  };
  std::mutex m_Mutex;
  std::condition_variable m_Shown;
  std::map<std::pair<int, int>, Write> m_Writes;
  int m_iShown = 0;
};

// Shows every lap time of the timed heat on `display` as the view models
// report its change (a Replace of the lap's first time).
void FollowLapTimes(Varnox::MvvmCkxCompOneHeat& heat, LapTimeDisplay& display) {
  const auto pLanes = heat.LaneResults();
  for (int32_t i = 0; i < pLanes->Count(); ++i) {
    const auto pLane = pLanes->Item(i);
    const int iLane = pLane->Lane()->Value();
    const auto pLaps = pLane->Laps();
    for (int32_t iLap = 0; iLap < pLaps->Count(); ++iLap) {
      const auto pTimes = pLaps->Item(iLap)->Time();
      pTimes->Value(0);  // loaded now, so that a change shows as one
      pTimes->CollectionChanged().Add(
          [&display, pTimes = pTimes.get(), iLane,
           iLap](const Tarvex::Orb::DataDirectAcces::OrbCollectionChangedEventArgs& args) {
            if (args.Index() == 0) display.OnLapTime(iLane, iLap + 1, pTimes->Value(0));
          });
    }
  }
}

// varnox watch DIR [COUNT]: follows the races file through a read-only data
// context that follows the kernel, and prints each lap time of the timed
// heat as its view model changes, with the delay from the write; ends after
// COUNT lap times (or, with a count, 60 s without them). The demo passes a
// descriptor to learn when the watch is ready.
int Watch(const std::string& csDir, int iCount, int iReadyFd) {
  using Races = Varnox::D2fVarnox_FT_RACES;
  using namespace Tarvex::Orb::DataDirectAcces;
  const auto pRaces = OpenFile<Races>(FilePath(csDir, "races.orb"), false);
  if (!pRaces) return 1;
  const std::u16string csKey = u"varnox watch";
  OrbGenericContextManager<Races>::Create(csKey, pRaces);
  Races::TheDataContextManager(csKey);
  const auto pContext =
      pRaces->TheScheduleEntriesMvvmDC(false, OrbDataMode::ReadOnly, true, true, false);
  LapTimeDisplay display;
  pRaces->ScheduleEntries()->ObjectChanged().Add(
      [&display](IOrbUpdatableObject*, const OrbObjectChangedEventArgs& args) {
        display.OnUpdate(args);
      });
  {
    auto lock = pContext->Lock();
    if (const auto pHeat = TimedHeatModel(*pContext->Root<Races::ScheduleEntriesMvvmRoot>())) {
      FollowLapTimes(*pHeat, display);
    }
  }
  std::printf("Watching %s (process %d)\n", FilePath(csDir, "races.orb").c_str(),
              static_cast<int>(getpid()));
  std::fflush(stdout);
  if (iReadyFd >= 0) {
    const char cReady = 1;
    if (write(iReadyFd, &cReady, 1) != 1) return 1;
    close(iReadyFd);
  }
  if (iCount < 0) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  const bool bAll = display.WaitFor(iCount);
  pRaces->UnLoad();
  OrbGenericContextManager<Races>::Remove(csKey);
  return bAll ? 0 : 1;
}

// Runs `args` of this tool in a child process; its id.
pid_t Spawn(const char* csSelf, const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv = {const_cast<char*>(csSelf)};
    for (const auto& csArg : args) argv.push_back(const_cast<char*>(csArg.c_str()));
    argv.push_back(nullptr);
    execv(csSelf, argv.data());
    _exit(127);
  }
  return pid;
}

int ExitCodeOf(pid_t pid) {
  int iStatus = 0;
  waitpid(pid, &iStatus, 0);
  return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : 1;
}

// The watch in one process while another times the heat.
int WatchATimedHeat(const std::string& csDir, const char* csSelf) {
  int aReady[2];
  if (pipe(aReady) != 0) return 1;
  std::printf("\nLive: race R2, heat H1 timed in one process, watched in another\n");
  std::fflush(stdout);
  const pid_t watcher =
      Spawn(csSelf, {"watch", csDir, std::to_string(kTimedUpdates), std::to_string(aReady[1])});
  close(aReady[1]);
  char cReady = 0;
  const bool bReady = read(aReady[0], &cReady, 1) == 1;
  close(aReady[0]);
  const int iTimer = bReady ? ExitCodeOf(Spawn(csSelf, {"time-heat", csDir})) : 1;
  const int iWatcher = ExitCodeOf(watcher);
  return iTimer != 0 ? iTimer : iWatcher;
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
  const int iSummary = ExitCodeOf(Spawn(csSelf, {"summary", csDir}));
  return iSummary != 0 ? iSummary : WatchATimedHeat(csDir, csSelf);
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
      "usage: varnox demo DIR | varnox summary DIR | varnox watch DIR [COUNT] | varnox time-heat "
      "DIR | varnox info FILE | varnox export FILE OUT.xml | varnox import FILE IN.xml | "
      "varnox negotiate | varnox check FILE | varnox lenex import|export DIR FILE.lef|FILE.lxf | "
      "varnox serve DIR [--listen ADDR:PORT]\n");
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
    if (csCommand == "watch") {
      return Watch(argv[2], argc > 3 ? std::atoi(argv[3]) : -1, argc > 4 ? std::atoi(argv[4]) : -1);
    }
    if (csCommand == "time-heat") return TimeHeat(argv[2]);
    if (csCommand == "serve") return ServeCommand(argc, argv);
    if (csCommand == "info") return Info(argv[2]);
    if (csCommand == "export") return ExportXml(argv[2], argv[3]);
    if (csCommand == "import") return ImportXml(argv[2], argv[3]);
    if (csCommand == "negotiate") return Negotiate();
    if (csCommand == "lenex") return LenexCommand(argc, argv);
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
  // The end of the application: the object face (when a command used it)
  // ends its file wrappers and its own start of the native face.
  if (Tarvex::Orb::DataDirectAcces::CkxOrbCategTools::m_bInitOk) {
    Tarvex::Orb::DataDirectAcces::CkxOrbCategTools::OnEndNetApplication(0, 0, nullptr, nullptr);
  }
  KxEndCatAssembly();
  return iResult;
}
