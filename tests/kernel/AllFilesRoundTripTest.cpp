// The native face on the reference kernel, end to end: the five files with
// every container kind filled, saved, and read back in a new process; and
// what removing, clearing and looking up records does to their storage.
//
// The content of the files is one description per file (Describe...): a
// function of the element's index that names every value. Running it with a
// KxWriter puts the values in place; running it with a KxChecker finds the
// same elements by key and compares, so the write and the read-back cannot
// drift apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "contracts/kernel/KxText.h"
#include "templates/Varnox.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

// ---------------------------------------------------------------------------
// Values of element `i`: deterministic, of varied length and sign, with
// characters outside ASCII, empty texts and texts longer than one block.

std::string Number(int64_t liValue) { return std::to_string(liValue); }

std::u16string Ascii16(const std::string& csText) {
  return std::u16string(csText.begin(), csText.end());
}

std::u16string Text16(int i, const std::u16string& csStem) {
  static const std::u16string aTails[] = {u"",      u" Zürich", u" Łódź",
                                          u" 東京", u" Ωμέγα",  u" São Paulo"};
  if (i % 17 == 5) return u"";
  std::u16string csText = csStem + Ascii16(Number(i)) + aTails[i % 6];
  if (i % 13 == 7)
    csText += std::u16string(300, static_cast<char16_t>(u'a' + i % 26));  // beyond one block
  return csText;
}

// Windows-1252 bytes, some above 0x7F.
std::string Text8(int i, const std::string& csStem) {
  static const std::string aTails[] = {"", " \xC4\xD6\xDC", " \x80uro", " caf\xE9"};
  if (i % 11 == 4) return "";
  return csStem + Number(i) + aTails[i % 4];
}

int32_t Int(int i, int iSalt) {
  return static_cast<int32_t>(
             (static_cast<uint32_t>(i) * 2654435761u + static_cast<uint32_t>(iSalt) * 40503u) %
             2000003u) -
         1000000;
}

bool Flag(int i, int iSalt) { return (i + iSalt) % 3 == 0; }

// Null, negative and plain times, every precision.
Sd2KxTime Time(int i) {
  if (i % 7 == 3) return Sd2KxTime::Null();
  return Sd2KxTime::Make((int64_t{i} * 7919 * 104729) & static_cast<int64_t>(Sd2KxTime::kTimeMask),
                         static_cast<uint32_t>(i % 8), i % 5 == 1);
}

// Dates of every kind.
CkxD2DateTime Date(int i) {
  static const KxDateTimeKind aKinds[] = {KxDateTimeKind::kUnspecified, KxDateTimeKind::kUtc,
                                          KxDateTimeKind::kLocal};
  return CkxD2DateTime{
      CkxD2DateTime::Pack(638000000000000000 + int64_t{i} * 1000000007, aKinds[i % 3])};
}

// A 64-bit key beyond 32 bits.
uint64_t WideKey(int i) {
  return (uint64_t{static_cast<uint32_t>(i)} << 34) + 17 * static_cast<uint64_t>(i) + 1;
}

template <class Field>
auto Read(const Field& field) {
  int iLength = 0;
  const auto* p = field.GetNet(&iLength);
  using Char = std::remove_cv_t<std::remove_pointer_t<decltype(p)>>;
  return iLength > 0 ? std::basic_string<Char>(p, static_cast<size_t>(iLength))
                     : std::basic_string<Char>();
}

std::string Show(const std::u16string& csText) { return "\"" + KxText::Utf16ToUtf8(csText) + "\""; }
std::string Show(const std::string& csText) { return "\"" + csText + "\""; }
std::string Show(Sd2KxTime time) {
  return "time word " + Number(static_cast<int64_t>(time.m_uliWord));
}
std::string Show(CkxD2DateTime date) { return "date word " + Number(date.GetNet()); }
template <class T>
std::string Show(T value) {
  return Number(static_cast<int64_t>(value));
}

// ---------------------------------------------------------------------------
// The two passes over a description.

// What both passes share: where in the files the pass is, and the faults met.
class KxPass {
 public:
  // Names a part of the files for the scope of the object.
  class In {
   public:
    In(KxPass& pass, const std::string& csPart) : m_Pass(pass), m_csOld(pass.m_csWhere) {
      pass.m_csWhere += "/" + csPart;
    }
    ~In() { m_Pass.m_csWhere = m_csOld; }
    In(const In&) = delete;
    In& operator=(const In&) = delete;

   private:
    KxPass& m_Pass;
    std::string m_csOld;
  };

  void Fault(const std::string& csWhat) { m_Faults.push_back(m_csWhere + ": " + csWhat); }
  const std::vector<std::string>& Faults() const { return m_Faults; }
  std::string Report() const {
    std::string csText;
    for (const std::string& csFault : m_Faults) csText += csFault + "\n";
    return csText;
  }

 protected:
  std::string m_csWhere;
  std::vector<std::string> m_Faults;
};

// Puts every value of a description in place.
class KxWriter : public KxPass {
 public:
  static constexpr bool kWrites = true;

  // The node of `uiKey` (number keys) or `csKey` (text keys), added.
  template <class Map>
  uint32_t Node(Map& map, uint64_t uiKey, const char* csKey = nullptr) {
    const uint32_t uiHandle = map(D2MapCmd::Add, uiKey, csKey);
    if (uiHandle == 0) throw std::runtime_error(m_csWhere + ": Add answered no node");
    return uiHandle;
  }
  // All `uiCount` elements of the map are described.
  template <class Map>
  void EndMap(Map& map, uint32_t uiCount) {
    if (map.GetCount() != uiCount)
      Fault("the map has " + Number(map.GetCount()) + " elements after adding " + Number(uiCount));
  }
  // Embedded arrays grow one Add at a time, top-level arrays in one SetSize.
  template <class T>
  void Size(CkxD2a1dDA<T>& array, uint32_t uiSize) {
    while (array.Size() < uiSize) {
      const uint32_t uiIndex = array.Add();
      if (array.Size() == uiIndex)
        throw std::runtime_error(m_csWhere + ": the array does not grow");
    }
  }
  template <class T>
  void Size(CkxD2a1dObjDA<T>& array, uint32_t uiSize) {
    array.SetSize(uiSize);
  }

  template <class T, class V>
  void Set(T& field, const V& value, const char*) {
    field = static_cast<T>(value);
  }
  void Set(CkxD2StrDU& field, const std::u16string& csText, const char*) {
    field.ReserveNet(static_cast<int>(csText.size()));
    field.SetNet(csText.data(), static_cast<int>(csText.size()));
  }
  void Set(CkxD2StrD& field, const std::string& csText, const char*) {
    field.ReserveNet(static_cast<int>(csText.size()));
    field.SetNet(csText.data(), static_cast<int>(csText.size()));
  }
  void Set(CkxD2StrSU<64>& field, const std::u16string& csText, const char*) {
    field.SetNet(csText.data(), static_cast<int>(csText.size()));
  }
};

// Finds every element of a description by its key and compares its values;
// also that the map's count and its Head/Next order (insertion order) match
// the description, and that the kernel gives back each node's key.
class KxChecker : public KxPass {
 public:
  static constexpr bool kWrites = false;

  template <class Map>
  uint32_t Node(Map& map, uint64_t uiKey, const char* csKey = nullptr) {
    const uint32_t uiHandle = map(D2MapCmd::Find, uiKey, csKey);
    if (uiHandle == 0) {
      throw std::runtime_error(
          m_csWhere + ": no node for key " +
          (csKey != nullptr ? Show(std::string(csKey)) : Number(static_cast<int64_t>(uiKey))));
    }
    uint64_t uiStored = 0;
    std::string csStored;
    map.GetKey(uiHandle, uiStored, csStored, false);
    if (csKey != nullptr ? csStored != csKey : uiStored != uiKey) {
      Fault("GetKey answers " + Number(static_cast<int64_t>(uiStored)) + "/" + Show(csStored));
    }
    m_Order[&map].push_back(uiHandle);
    return uiHandle;
  }
  template <class Map>
  void EndMap(Map& map, uint32_t uiCount) {
    const std::vector<uint32_t> expected = std::move(m_Order[&map]);
    m_Order.erase(&map);
    if (map.GetCount() != uiCount)
      Fault("count " + Number(map.GetCount()) + ", described " + Number(uiCount));
    std::vector<uint32_t> walked;
    for (uint32_t h = map(D2MapCmd::Head, 0, nullptr); h != 0 && walked.size() <= uiCount;
         h = map(D2MapCmd::Next, h, nullptr)) {
      walked.push_back(h);
    }
    if (walked != expected) Fault("Head/Next does not follow the order the elements were added in");
  }
  template <class Array>
  void Size(Array& array, uint32_t uiSize) {
    if (array.Size() != uiSize) {
      throw std::runtime_error(m_csWhere + ": array size " + Number(array.Size()) + ", described " +
                               Number(uiSize));
    }
  }

  template <class T, class V>
  void Set(T& field, const V& value, const char* csName) {
    if (field != static_cast<T>(value)) Mismatch(csName, Show(static_cast<T>(value)), Show(field));
  }
  void Set(Sd2KxTime& field, const Sd2KxTime& value, const char* csName) {
    if (field.m_uliWord != value.m_uliWord) Mismatch(csName, Show(value), Show(field));
  }
  void Set(CkxD2DateTime& field, const CkxD2DateTime& value, const char* csName) {
    if (field.GetNet() != value.GetNet()) Mismatch(csName, Show(value), Show(field));
  }
  template <class Field, class Text>
  void Set(Field& field, const Text& csText, const char* csName) requires requires {
    field.GetNet(nullptr);
  }
  {
    const Text csStored = Read(field);
    if (csStored != csText) Mismatch(csName, Show(csText), Show(csStored));
  }

 private:
  void Mismatch(const char* csName, const std::string& csWanted, const std::string& csFound) {
    Fault(std::string(csName) + ": expected " + csWanted + ", found " + csFound);
  }
  std::map<const void*, std::vector<uint32_t>> m_Order;
};

// ---------------------------------------------------------------------------
// The descriptions.

template <class Io>
void DescribePool(Io& io, CkxPoolConfig& pool, int iSeed) {
  const int iLanes = 4 + iSeed % 7;
  io.Set(pool.NbLanes, iLanes, "NbLanes");
  io.Set(pool.PoolLength, iSeed % 2 == 0 ? 50 : 25, "PoolLength");
  for (int iLane = 1; iLane <= iLanes; ++iLane) {
    typename Io::In in(io, "lane " + Number(iLane));
    CkxPoolConfigOneLane& lane = pool.Lanes[io.Node(pool.Lanes, iLane)];
    io.Set(lane.m_LaneID, iLane, "m_LaneID");
    io.Set(lane.m_LeftModuleID, Int(iLane, iSeed), "m_LeftModuleID");
    io.Set(lane.m_RightModuleID, Int(iLane, iSeed + 1), "m_RightModuleID");
    io.Set(pool.LeftContacts[io.Node(pool.LeftContacts, iLane)].m_Contact, Flag(iLane, iSeed),
           "left m_Contact");
    io.Set(pool.RightContacts[io.Node(pool.RightContacts, iLane)].m_Contact, Flag(iLane, iSeed + 1),
           "right m_Contact");
  }
  io.EndMap(pool.Lanes, iLanes);
  io.EndMap(pool.LeftContacts, iLanes);
  io.EndMap(pool.RightContacts, iLanes);
  io.Set(pool.Ha1Left, Flag(iSeed, 1), "Ha1Left");
  io.Set(pool.Ha2Left, Flag(iSeed, 2), "Ha2Left");
  io.Set(pool.Ha1Right, Flag(iSeed, 3), "Ha1Right");
  io.Set(pool.Ha2Right, Flag(iSeed, 4), "Ha2Right");
  io.Set(pool.St1Left, Flag(iSeed, 5), "St1Left");
  io.Set(pool.St2Left, Flag(iSeed, 6), "St2Left");
  io.Set(pool.St1Right, Flag(iSeed, 7), "St1Right");
  io.Set(pool.St2Right, Flag(iSeed, 8), "St2Right");
  io.Set(pool.StartContactCfg, Int(iSeed, 9), "StartContactCfg");
  io.Set(pool.StartFinishPlace, Int(iSeed, 10), "StartFinishPlace");
  io.Set(pool.SamplingRate, 1000 + iSeed, "SamplingRate");
}

// A map of fixed texts (CkxString) keyed by text.
template <class Io>
void DescribeTexts(Io& io, CkxD2MapA<CkxString>& texts, int iSeed, int iCount) {
  for (int i = 0; i < iCount; ++i) {
    const std::string csKey = "Param" + Number(i) + (i % 2 == 0 ? "" : " \xE9t\xE9");
    typename Io::In in(io, "text " + csKey);
    // Fixed texts: up to their 64 characters, the full 64 included.
    std::u16string csText =
        i % 3 == 2 ? std::u16string(64, u'Ŵ') : Text16(iSeed * 10 + i, u"Value ");
    if (csText.size() > 64) csText.resize(64);
    io.Set(texts[io.Node(texts, 0, csKey.c_str())].str, csText, "str");
  }
  io.EndMap(texts, iCount);
}

template <class Io>
void DescribeCompetitors(Io& io, CkxVarnoxFT_COMPETITORS& file) {
  constexpr int kCount = 400;
  auto& map = file.m_CompetitorsStringMap.m_Container;
  for (int i = 0; i < kCount; ++i) {
    typename Io::In in(io, "competitor " + Number(i));
    CkxCompetitor& swimmer = map[io.Node(map, WideKey(i))];
    io.Set(swimmer.Name, Text16(i, u"Swimmer "), "Name");
    io.Set(swimmer.SCBName1, Text16(i + 1, u"SCB "), "SCBName1");
    io.Set(swimmer.Nation, Text16(i + 2, u"N"), "Nation");
    io.Set(swimmer.BirthYear, Ascii16(Number(1980 + i % 30)), "BirthYear");
    io.Set(swimmer.CategoryId, Int(i, 1), "CategoryId");
    io.Set(swimmer.CompetitorId, Int(i, 2), "CompetitorId");
    io.Set(swimmer.Club, Text16(i + 3, u"Club "), "Club");
    io.Set(swimmer.Handicap, Text16(i + 4, u""), "Handicap");
  }
  io.EndMap(map, kCount);
}

template <class Io>
void DescribeGlobals(Io& io, CkxVarnoxFT_GLOBALS& file) {
  {
    typename Io::In in(io, "PoolConfig");
    DescribePool(io, *file.m_PoolConfig.m_Container.operator->(), 3);
  }
  auto& distances = file.m_DistancesDefault.m_Container;
  for (int i = 0; i < 12; ++i) {
    typename Io::In in(io, "distance " + Number(i));
    CkxDistance& distance = distances[io.Node(distances, 25 * (i + 1))];
    io.Set(distance.Distance, 25 * (i + 1), "Distance");
    io.Set(distance.NbOfRelays, i % 5, "NbOfRelays");
    io.Set(distance.DistanceStr, Ascii16(Number(25 * (i + 1))), "DistanceStr");
    io.Set(distance.DistanceUnit, std::u16string(i % 2 == 0 ? u"m" : u"yd"), "DistanceUnit");
  }
  io.EndMap(distances, 12);
  auto& styles = file.m_StylesDefault.m_Container;
  for (int i = 0; i < 6; ++i) {
    typename Io::In in(io, "style " + Number(i));
    CkxStyle& style = styles[io.Node(styles, i + 1)];
    io.Set(style.Style, Text16(i, u"Style "), "Style");
    io.Set(style.StyleAbbrev, Text16(i + 5, u"S"), "StyleAbbrev");
  }
  io.EndMap(styles, 6);
  auto& categories = file.m_CategoriesDefault.m_Container;
  for (int i = 0; i < 10; ++i) {
    typename Io::In in(io, "category " + Number(i));
    CkxCategory& category = categories[io.Node(categories, 100 + i)];
    io.Set(category.Category, Text16(i, u"Category "), "Category");
    io.Set(category.CategoryAbbrev, Text16(i + 2, u"C"), "CategoryAbbrev");
  }
  io.EndMap(categories, 10);
  auto& rounds = file.m_RoundsDefault.m_Container;
  for (int i = 0; i < 5; ++i) {
    typename Io::In in(io, "round " + Number(i));
    CkxRound& round = rounds[io.Node(rounds, i + 1)];
    io.Set(round.RoundName, Text16(i, u"Round "), "RoundName");
    io.Set(round.OneRoundName, Text16(i + 1, u"One "), "OneRoundName");
    io.Set(round.ShortRoundName, Text16(i + 2, u"R"), "ShortRoundName");
    for (uint32_t k = 0; k < round.IdList.Size(); ++k)
      io.Set(round.IdList[k], Int(i * 100 + static_cast<int>(k), 3), "IdList");
    io.Set(round.NBMaxRounds, i + 1, "NBMaxRounds");
    // A number-keyed map of fixed texts.
    for (int t = 0; t < 3 + i; ++t) {
      typename Io::In text(io, "text " + Number(t));
      io.Set(round.TextMap[io.Node(round.TextMap, WideKey(t))].str, Text16(t, u"Text "), "str");
    }
    io.EndMap(round.TextMap, 3 + i);
  }
  io.EndMap(rounds, 5);
  auto& statuses = file.m_StatusDefaults.m_Container;
  for (int i = 0; i < 8; ++i) {  // key 0 included
    typename Io::In in(io, "status " + Number(i));
    CkxStatus& status = statuses[io.Node(statuses, i)];
    io.Set(status.StatusDesc, Text16(i, u"Status "), "StatusDesc");
    io.Set(status.StatusDescAbbrev, Text16(i + 3, u""), "StatusDescAbbrev");
  }
  io.EndMap(statuses, 8);
  auto& parameters = file.m_Parameters.m_Container;
  for (int i = 0; i < 300; ++i) {
    // The empty key and keys with Windows-1252 letters included.
    const std::string csKey = i == 0 ? ""
                                     : "Setting." + Number(i) +
                                           (i % 4 == 1   ? " \xC4\xD6\xDC"
                                            : i % 4 == 2 ? " caf\xE9"
                                                         : "");
    typename Io::In in(io, "parameter " + Show(csKey));
    CkxSetupParam& parameter = parameters[io.Node(parameters, 0, csKey.c_str())];
    io.Set(parameter.Name, Text16(i, u"Name "), "Name");
    io.Set(parameter.LanguageId, Text16(i + 1, u""), "LanguageId");
    io.Set(parameter.Value, Text16(i + 2, u"Value "), "Value");
    io.Set(parameter.DefaultValue, Text16(i + 3, u"Default "), "DefaultValue");
  }
  io.EndMap(parameters, 300);
  auto& records = file.m_Records.m_Container;
  for (int i = 0; i < 20; ++i) {
    const std::string csKey = "W" + Number(50 * (i + 1)) + "FR";
    typename Io::In in(io, "record " + csKey);
    CkxRecordEntry& record = records[io.Node(records, 0, csKey.c_str())];
    io.Set(record.idLen, 50 * (i + 1), "idLen");
    io.Set(record.IdStyle, i % 4, "IdStyle");
    io.Set(record.idRec, Int(i, 4), "idRec");
    io.Set(record.idCat, i % 3, "idCat");
    io.Set(record.Time, Time(i), "Time");
    const uint32_t uiLaps = static_cast<uint32_t>(i % 9);  // empty arrays included
    io.Size(record.LapTimes, uiLaps);
    io.Size(record.LapDistances, uiLaps);
    for (uint32_t k = 0; k < uiLaps; ++k) {
      io.Set(record.LapTimes[k].LapTime, Time(i * 10 + static_cast<int>(k)), "LapTime");
      io.Set(record.LapDistances[k].LapDistance, 50 * static_cast<int>(k + 1), "LapDistance");
    }
    io.Set(record.Name, Text16(i, u"Holder "), "Name");
    io.Set(record.Place, Text16(i + 1, u"Pool "), "Place");
    io.Set(record.Date, Date(i), "Date");
  }
  io.EndMap(records, 20);
}

// One lane of a heat: laps with fixed time arrays, the competitor map.
template <class Io>
void DescribeLane(Io& io, CkxCompOneLane& lane, int iSeed) {
  const uint32_t uiLaps = static_cast<uint32_t>(iSeed % 6);
  io.Size(lane.Laps, uiLaps);
  for (uint32_t k = 0; k < uiLaps; ++k) {
    CkxCompOneLap& lap = lane.Laps[k];
    io.Set(lap.Lap, k + 1, "Lap");
    for (uint32_t t = 0; t < lap.Time.Size(); ++t) {
      io.Set(lap.Time[t], static_cast<uint32_t>(Int(iSeed * 100 + static_cast<int>(k * 8 + t), 5)),
             "Time");
    }
    io.Set(lap.Rank, Int(iSeed, static_cast<int>(k)), "Rank");
    io.Set(lap.SortId, static_cast<int>(k), "SortId");
  }
  io.Set(lane.CurrentLap, static_cast<int>(uiLaps), "CurrentLap");
  const int iCompetitors = 1 + iSeed % 4;  // a relay has four
  for (int c = 0; c < iCompetitors; ++c) {
    io.Set(lane.CompetitorId[io.Node(lane.CompetitorId, WideKey(iSeed + c))].CompetitorId,
           Int(iSeed + c, 6), "CompetitorId");
  }
  io.EndMap(lane.CompetitorId, iCompetitors);
  io.Set(lane.Lane, iSeed % 10, "Lane");
  io.Set(lane.SortId, Int(iSeed, 7), "SortId");
  io.Set(lane.StatusId, iSeed % 5, "StatusId");
  io.Set(lane.LHandicap, Text16(iSeed, u"H"), "LHandicap");
}

template <class Io>
void DescribeEntry(Io& io, CkxScheduleOneEntry& entry, int i) {
  io.Set(entry.DateAndTime, Date(i), "DateAndTime");
  io.Set(entry.RaceId, Text16(i, u"Race "), "RaceId");
  io.Set(entry.SortId, i, "SortId");
  io.Set(entry.StyleId, i % 4, "StyleId");
  io.Set(entry.CategoryId, i % 7, "CategoryId");
  io.Set(entry.DistanceId, 50 << (i % 4), "DistanceId");
  io.Set(entry.RoundId, i % 3, "RoundId");
  const int iHeats = 1 + i % 4;
  for (int j = 1; j <= iHeats; ++j) {
    const std::string csHeat = "H" + Number(j);
    typename Io::In in(io, "heat " + csHeat);
    CkxCompOneHeat& heat = entry.Heats[io.Node(entry.Heats, 0, csHeat.c_str())];
    const int iLanes = 2 + (i + j) % 7;
    for (int l = 1; l <= iLanes; ++l) {
      typename Io::In lane(io, "lane " + Number(l));
      DescribeLane(io, heat.LaneResults[io.Node(heat.LaneResults, l)], i * 100 + j * 10 + l);
    }
    io.EndMap(heat.LaneResults, iLanes);
    {
      typename Io::In pool(io, "PoolConfig");
      DescribePool(io, heat.PoolConfig, i * 10 + j);
    }
    io.Set(heat.HeatId, Ascii16(csHeat), "HeatId");
    io.Set(heat.SortId, j, "SortId");
    io.Set(heat.HeatStatus, (i + j) % 4, "HeatStatus");
    DescribeTexts(io, heat.Params, i * 10 + j, j % 3);
  }
  io.EndMap(entry.Heats, iHeats);
  io.Set(entry.TitleScb, Text16(i + 1, u"SCB "), "TitleScb");
  io.Set(entry.TitlePrint, Text16(i + 2, u"Women 200 m Freestyle "), "TitlePrint");
  DescribeTexts(io, entry.Params, i, 1 + i % 3);
}

std::string RaceKey(int i) { return "R" + Number(i) + (i % 4 == 1 ? "\xE9" : ""); }

template <class Io>
void DescribeRaces(Io& io, CkxVarnoxFT_RACES& file) {
  constexpr int kCount = 12;
  auto& entries = file.m_ScheduleEntries.m_Container;
  for (int i = 0; i < kCount; ++i) {
    typename Io::In in(io, "entry " + RaceKey(i));
    DescribeEntry(io, entries[io.Node(entries, 0, RaceKey(i).c_str())], i);
  }
  io.EndMap(entries, kCount);
}

template <class Io>
void DescribePulses(Io& io, CkxVarnoxFT_RAW_PULSES& file) {
  constexpr int kCount = 2000;
  auto& pulses = file.m_PoolEvents.m_Container;
  for (int i = 0; i < kCount; ++i) {
    typename Io::In in(io, "pulse " + Number(i));
    CkxPoolEventsOnePulse& pulse = pulses[io.Node(pulses, static_cast<uint64_t>(i) + 1)];
    io.Set(pulse.SeqID, static_cast<uint32_t>(i + 1), "SeqID");
    io.Set(pulse.Lap, i % 8, "Lap");
    io.Set(pulse.InputID, 100 + i % 10, "InputID");
    io.Set(pulse.TimeOfPulse, Time(i), "TimeOfPulse");
    io.Set(pulse.Armed, Flag(i, 0), "Armed");
    io.Set(pulse.RealPulse, Flag(i, 1), "RealPulse");
    io.Set(pulse.TfTs, Flag(i, 2), "TfTs");
    io.Set(pulse.Status, Int(i, 8), "Status");
    io.Set(pulse.LapInitial, i % 8 - 1, "LapInitial");
  }
  io.EndMap(pulses, kCount);
  typename Io::In in(io, "AssociatedPoolConfig");
  DescribePool(io, *file.m_AssociatedPoolConfig.m_Container.operator->(), 8);
}

template <class Io>
void DescribeParam(Io& io, CkxIOSetupParam& param, int i) {
  io.Set(param.IOType, Text8(i, "SERIAL-"), "IOType");
  io.Set(param.Name, Text16(i, u"Param "), "Name");
  io.Set(param.LanguageId, Text16(i + 1, u""), "LanguageId");
  io.Set(param.Value, Text16(i + 2, u"Value "), "Value");
  io.Set(param.DefaultValue, Text16(i + 3, u"Default "), "DefaultValue");
}

template <class Io>
void DescribeIoSetup(Io& io, CkxVarnoxFT_IOSETUP& file) {
  auto& ios = file.m_IOs.m_Container;
  for (int i = 0; i < 10; ++i) {
    typename Io::In in(io, "io " + Number(i));
    CkxIOSetupOneEntry& board = ios[io.Node(ios, static_cast<uint64_t>(i) * 3)];
    io.Set(board.Name, Text16(i, u"Board "), "Name");
    io.Set(board.IOType, Text16(i + 1, u"Type "), "IOType");
    io.Set(board.IOComType, Text16(i + 2, u"Com "), "IOComType");
    io.Set(board.ComParam, Text16(i + 3, u"/dev/ttyS"), "ComParam");
    io.Set(board.PROFile, Text16(i + 4, u"/etc/pro"), "PROFile");
    io.Set(board.OUPFile, Text16(i + 5, u"/etc/oup"), "OUPFile");
    io.Set(board.ActivateAtStartup, i % 2, "ActivateAtStartup");
    for (int p = 0; p < i % 5; ++p) {
      const std::string csKey = Text8(p, "Param");
      typename Io::In param(io, "param " + Show(csKey));
      DescribeParam(io, board.IOParams[io.Node(board.IOParams, 0, csKey.c_str())], i * 10 + p);
    }
    io.EndMap(board.IOParams, i % 5);
    io.Set(board.LinkOn, Int(i, 9), "LinkOn");
  }
  io.EndMap(ios, 10);
  auto& defaults = file.m_IODefaultTypeParams.m_Container;
  io.Size(defaults, 25);
  for (uint32_t i = 0; i < 25; ++i) {
    typename Io::In in(io, "default parameter " + Number(i));
    DescribeParam(io, defaults[i], static_cast<int>(i) + 1000);
  }
}

// Opens a file (created by the writer, read-only for the checker), runs its
// description and, when writing, saves it; then unloads it.
template <class File, class Io, class Describe>
void RunFile(Io& io, const std::string& csPath, Describe describe) {
  typename Io::In in(io, std::filesystem::path(csPath).filename().string());
  File file;
  if (file.OpenUnm(csPath.c_str(), nullptr, nullptr, Io::kWrites ? "rw" : "r", "", Io::kWrites,
                   nullptr, 0, 0, nullptr) <= 0) {
    io.Fault("cannot open");
    return;
  }
  try {
    describe(io, file);
  } catch (const std::exception& e) {
    io.Fault(e.what());
  } catch (const CkxOrbUnmanException& e) {
    std::string csText;
    io.Fault("exception: " + e.GetErrorText(csText));
  }
  if (Io::kWrites && !file.Save(0, true, "")) io.Fault("Save failed");
  if (!file.UnLoad()) io.Fault("UnLoad failed");
}

template <class Io>
void RunAllFiles(Io& io, const std::string& csDir) {
  RunFile<CkxVarnoxFT_COMPETITORS>(io, csDir + "/competitors.orb", DescribeCompetitors<Io>);
  RunFile<CkxVarnoxFT_GLOBALS>(io, csDir + "/globals.orb", DescribeGlobals<Io>);
  RunFile<CkxVarnoxFT_RACES>(io, csDir + "/races.orb", DescribeRaces<Io>);
  RunFile<CkxVarnoxFT_RAW_PULSES>(io, csDir + "/pulses.orb", DescribePulses<Io>);
  RunFile<CkxVarnoxFT_IOSETUP>(io, csDir + "/iosetup.orb", DescribeIoSetup<Io>);
}

// Segment files left in the live directory.
int LiveSegments() {
  int iCount = 0;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(KernelScratch::Get().Path("live"))) {
    if (entry.path().filename().string().rfind("seg", 0) == 0) ++iCount;
  }
  return iCount;
}

std::string FreshDir(const std::string& csName) {
  const std::string csDir = KernelScratch::Get().Path(csName);
  std::filesystem::remove_all(csDir);
  std::filesystem::create_directories(csDir);
  return csDir;
}

template <class File>
bool OpenNew(File& file, const std::string& csPath) {
  return file.OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0, nullptr) > 0;
}

// ---------------------------------------------------------------------------

TEST(AllFilesRoundTrip, EveryContainerKindReadsBackIdenticalInANewProcess) {
  const std::string csDir = FreshDir("round-trip");
  KxWriter writer;
  RunAllFiles(writer, csDir);
  ASSERT_TRUE(writer.Faults().empty()) << writer.Report() << KernelScratch::Get().Log();
  // Nobody has the files open: the new process can only see what was saved.
  ASSERT_EQ(LiveSegments(), 0);

  const TkChildResult child = TkRunChild([&] {
    KxChecker checker;
    RunAllFiles(checker, csDir);
    if (!checker.Faults().empty())
      throw std::runtime_error("read back differently:\n" + checker.Report());
  });
  EXPECT_EQ(child.exitCode, 0) << child.err << KernelScratch::Get().Log();
}

// Removing a record (top-level or embedded, by key or by handle) or clearing
// it frees everything it held: removed and re-added, or cleared and filled
// again, hundreds of times, the storage stays the size it had after the
// first rounds.
TEST(AllFilesRoundTrip, RemovingOrClearingRecordsFreesWhatTheyHeld) {
  const std::string csPath = FreshDir("cycles") + "/races.orb";
  CkxVarnoxFT_RACES file;
  ASSERT_TRUE(OpenNew(file, csPath)) << KernelScratch::Get().Log();
  auto& entries = file.m_ScheduleEntries.m_Container;
  KxWriter writer;
  const std::string csKey = RaceKey(5);
  auto fill = [&] { DescribeEntry(writer, entries[writer.Node(entries, 0, csKey.c_str())], 5); };
  auto savedBytes = [&] {
    EXPECT_TRUE(file.Save(0, true, ""));
    return std::filesystem::file_size(csPath);
  };
  auto cycle = [&](int iRound) {
    const uint32_t uiEntry = entries(D2MapCmd::Find, 0, csKey.c_str());
    switch (iRound % 5) {
      case 0:
        EXPECT_EQ(entries(D2MapCmd::Remove, 0, csKey.c_str()), uiEntry);
        break;
      case 1:
        EXPECT_EQ(entries(D2MapCmd::RemoveAt, uiEntry, nullptr), uiEntry);
        break;
      case 2:
        EXPECT_EQ(entries(D2MapCmd::ClearAt, uiEntry, nullptr), uiEntry);
        break;
      case 3:
        EXPECT_EQ(entries(D2MapCmd::Clear, 0, csKey.c_str()), uiEntry);
        break;
      case 4: {  // embedded: a heat by key, the lanes of another by handle
        CkxScheduleOneEntry& entry = entries[uiEntry];
        EXPECT_NE(entry.Heats(D2MapCmd::Remove, 0, "H2"), 0u);
        CkxCompOneHeat& heat = entry.Heats[entry.Heats(D2MapCmd::Find, 0, "H1")];
        while (const uint32_t uiLane = heat.LaneResults(D2MapCmd::Head, 0, nullptr)) {
          EXPECT_EQ(heat.LaneResults(D2MapCmd::RemoveAt, uiLane, nullptr), uiLane);
        }
        break;
      }
    }
    fill();
  };

  const uintmax_t uiEmpty = savedBytes();
  fill();
  const uintmax_t uiOne = savedBytes();
  ASSERT_GT(uiOne, uiEmpty + 4096) << "the entry should hold several kilobytes";
  for (int iRound = 0; iRound < 5; ++iRound) cycle(iRound);
  const uintmax_t uiSettled = savedBytes();
  for (int iRound = 5; iRound < 305; ++iRound) cycle(iRound);
  ASSERT_TRUE(writer.Faults().empty()) << writer.Report();
  EXPECT_EQ(entries.GetCount(), 1u);
  // A leak of the smallest block (16 bytes) per round would add 4800 bytes.
  EXPECT_LE(savedBytes(), uiSettled + 1024) << "one entry: " << uiOne - uiEmpty << " bytes";

  // What is left reads back as described.
  KxChecker checker;
  DescribeEntry(checker, entries[checker.Node(entries, 0, csKey.c_str())], 5);
  checker.EndMap(entries, 1);
  EXPECT_TRUE(checker.Faults().empty()) << checker.Report();
  file.UnLoad();
}

// A removed node's handle fails the library's validation, top-level and
// embedded, and the kernel finds nothing more to remove or clear at it.
TEST(AllFilesRoundTrip, HandlesOfRemovedRecordsAreRefused) {
  CkxVarnoxFT_RACES file;
  ASSERT_TRUE(OpenNew(file, FreshDir("removed") + "/races.orb")) << KernelScratch::Get().Log();
  auto& entries = file.m_ScheduleEntries.m_Container;
  KxWriter writer;
  for (int i = 0; i < 3; ++i)
    DescribeEntry(writer, entries[writer.Node(entries, 0, RaceKey(i).c_str())], i);
  ASSERT_TRUE(writer.Faults().empty()) << writer.Report();

  const uint32_t uiEntry = entries(D2MapCmd::Find, 0, RaceKey(2).c_str());
  CkxCompOneHeat& heat = entries[uiEntry].Heats[entries[uiEntry].Heats(D2MapCmd::Find, 0, "H1")];
  const uint32_t uiLane = heat.LaneResults(D2MapCmd::Find, 2, nullptr);
  ASSERT_NE(uiLane, 0u);
  ASSERT_EQ(heat.LaneResults(D2MapCmd::Remove, 2, nullptr), uiLane);
  EXPECT_THROW(static_cast<void>(heat.LaneResults[uiLane]), CkxD2LstNodeException);
  EXPECT_THROW(heat.LaneResults(D2MapCmd::Next, uiLane, nullptr), CkxD2LstNodeException);
  EXPECT_FALSE(heat.LaneResults.IsAlive(uiLane));
  EXPECT_EQ(heat.LaneResults(D2MapCmd::RemoveAt, uiLane, nullptr), 0u);
  EXPECT_EQ(heat.LaneResults(D2MapCmd::ClearAt, uiLane, nullptr), 0u);
  EXPECT_EQ(heat.LaneResults(D2MapCmd::Find, 2, nullptr), 0u);

  // A node of another map (another heat's lane) is not this map's to remove
  // or clear.
  CkxScheduleOneEntry& otherEntry = entries[entries(D2MapCmd::Find, 0, RaceKey(1).c_str())];
  CkxCompOneHeat& other = otherEntry.Heats[otherEntry.Heats(D2MapCmd::Find, 0, "H1")];
  const uint32_t uiOtherLane = other.LaneResults(D2MapCmd::Find, 1, nullptr);
  const uint32_t uiLanes = heat.LaneResults.GetCount();
  ASSERT_NE(uiOtherLane, 0u);
  EXPECT_EQ(heat.LaneResults(D2MapCmd::RemoveAt, uiOtherLane, nullptr), 0u);
  EXPECT_EQ(heat.LaneResults(D2MapCmd::ClearAt, uiOtherLane, nullptr), 0u);
  EXPECT_EQ(heat.LaneResults.GetCount(), uiLanes);
  EXPECT_EQ(other.LaneResults(D2MapCmd::Find, 1, nullptr), uiOtherLane);
  EXPECT_NE(other.LaneResults[uiOtherLane].CompetitorId.GetCount(), 0u) << "the lane was cleared";

  const uint32_t uiFirst = entries(D2MapCmd::Find, 0, RaceKey(0).c_str());
  ASSERT_EQ(entries(D2MapCmd::RemoveAt, uiFirst, nullptr), uiFirst);
  EXPECT_THROW(static_cast<void>(entries[uiFirst]), CkxD2LstNodeException);
  EXPECT_THROW(entries(D2MapCmd::Next, uiFirst, nullptr), CkxD2LstNodeException);
  EXPECT_FALSE(entries.IsAlive(uiFirst));
  EXPECT_EQ(entries(D2MapCmd::RemoveAt, uiFirst, nullptr), 0u);
  EXPECT_EQ(entries.GetCount(), 2u);
  EXPECT_EQ(entries(D2MapCmd::Head, 0, nullptr), entries(D2MapCmd::Find, 0, RaceKey(1).c_str()));
  file.UnLoad();
}

// AtIndex of an embedded map counts in insertion order and follows removals;
// KeyNoCase makes a text-keyed map (embedded or top-level) find keys whatever
// their case, Windows-1252 letters included, KeyCase undoes it, and the
// choice is saved with the map.
TEST(AllFilesRoundTrip, EmbeddedAtIndexAndKeysWithoutCase) {
  const std::string csPath = FreshDir("lookup") + "/races.orb";
  CkxVarnoxFT_RACES file;
  ASSERT_TRUE(OpenNew(file, csPath)) << KernelScratch::Get().Log();
  auto& entries = file.m_ScheduleEntries.m_Container;
  KxWriter writer;
  DescribeEntry(writer, entries[writer.Node(entries, 0, "R1")], 4);  // one heat H1 with 7 lanes
  ASSERT_TRUE(writer.Faults().empty()) << writer.Report();
  CkxScheduleOneEntry& entry = entries[entries(D2MapCmd::Find, 0, "R1")];

  CkxCompOneHeat& heat = entry.Heats[entry.Heats(D2MapCmd::Find, 0, "H1")];
  const uint32_t uiLanes = heat.LaneResults.GetCount();
  ASSERT_GE(uiLanes, 4u);
  for (uint32_t i = 0; i < uiLanes; ++i) {
    EXPECT_EQ(heat.LaneResults(D2MapCmd::AtIndex, i, nullptr),
              heat.LaneResults(D2MapCmd::Find, i + 1, nullptr))
        << i;
  }
  EXPECT_EQ(heat.LaneResults(D2MapCmd::AtIndex, uiLanes, nullptr), 0u);
  heat.LaneResults(D2MapCmd::Remove, 2, nullptr);
  EXPECT_EQ(heat.LaneResults(D2MapCmd::AtIndex, 1, nullptr),
            heat.LaneResults(D2MapCmd::Find, 3, nullptr));
  EXPECT_EQ(heat.PoolConfig.Lanes(D2MapCmd::AtIndex, 0, nullptr),
            heat.PoolConfig.Lanes(D2MapCmd::Head, 0, nullptr));
  EXPECT_EQ(entries(D2MapCmd::AtIndex, 0, nullptr), entries(D2MapCmd::Find, 0, "R1"));

  const uint32_t uiH1 = entry.Heats(D2MapCmd::Find, 0, "H1");
  const uint32_t uiUmlaut = entry.Heats(D2MapCmd::Add, 0, "\xC4Z");
  ASSERT_NE(uiUmlaut, 0u);
  // Long keys that differ only beyond the first bytes a node keeps of them.
  const std::string csLong(30, 'L');
  const uint32_t uiLongA = entry.Heats(D2MapCmd::Add, 0, (csLong + "a").c_str());
  const uint32_t uiLongB = entry.Heats(D2MapCmd::Add, 0, (csLong + "b").c_str());
  EXPECT_NE(uiLongA, uiLongB);
  EXPECT_EQ(entry.Heats(D2MapCmd::Find, 0, (csLong + "b").c_str()), uiLongB);
  EXPECT_EQ(entry.Heats(D2MapCmd::Find, 0, (csLong + "c").c_str()), 0u);
  const uint32_t uiHeats = entry.Heats.GetCount();
  EXPECT_EQ(entry.Heats(D2MapCmd::Find, 0, "h1"), 0u) << "text keys start case-sensitive";
  entry.Heats(D2MapCmd::KeyNoCase, 0, nullptr);
  EXPECT_EQ(entry.Heats(D2MapCmd::Find, 0, "h1"), uiH1);
  EXPECT_EQ(entry.Heats(D2MapCmd::Find, 0, "\xE4z"), uiUmlaut);
  EXPECT_EQ(entry.Heats(D2MapCmd::Find, 0, (std::string(30, 'l') + "A").c_str()), uiLongA);
  EXPECT_EQ(entry.Heats(D2MapCmd::Add, 0, "h1"), uiH1) << "Add answers the node of the same key";
  EXPECT_EQ(entry.Heats.GetCount(), uiHeats);
  entry.Heats(D2MapCmd::KeyCase, 0, nullptr);
  EXPECT_EQ(entry.Heats(D2MapCmd::Find, 0, "h1"), 0u);
  EXPECT_EQ(entry.Heats(D2MapCmd::Find, 0, "H1"), uiH1);

  EXPECT_EQ(entries(D2MapCmd::Find, 0, "r1"), 0u);
  entries(D2MapCmd::KeyNoCase, 0, nullptr);
  EXPECT_EQ(entries(D2MapCmd::Find, 0, "r1"), entries(D2MapCmd::Find, 0, "R1"));
  EXPECT_NE(entries(D2MapCmd::Find, 0, "r1"), 0u);
  entries(D2MapCmd::KeyCase, 0, nullptr);
  EXPECT_EQ(entries(D2MapCmd::Find, 0, "r1"), 0u);

  // The choice is part of the map: it survives a save and a reopen in
  // another process.
  entries(D2MapCmd::KeyNoCase, 0, nullptr);
  entry.Heats(D2MapCmd::KeyNoCase, 0, nullptr);
  ASSERT_TRUE(file.Save(0, true, ""));
  file.UnLoad();
  const TkChildResult child = TkRunChild([&] {
    CkxVarnoxFT_RACES reopened;
    if (reopened.OpenUnm(csPath.c_str(), nullptr, nullptr, "r", "", false, nullptr, 0, 0,
                         nullptr) <= 0) {
      throw std::runtime_error("cannot reopen");
    }
    auto& map = reopened.m_ScheduleEntries.m_Container;
    const uint32_t uiEntry = map(D2MapCmd::Find, 0, "r1");
    if (uiEntry == 0) throw std::runtime_error("the schedule forgot its keys without case");
    if (map[uiEntry].Heats(D2MapCmd::Find, 0, "\xE4z") == 0) {
      throw std::runtime_error("the heats forgot their keys without case");
    }
  });
  EXPECT_EQ(child.exitCode, 0) << child.err << KernelScratch::Get().Log();
}

// Clear (by key) and ClearAt (by handle) put a record back to its initial
// state, top-level and embedded: values 0, strings without text, embedded
// maps and arrays empty; the node stays where it was.
TEST(AllFilesRoundTrip, ClearingResetsARecordInPlace) {
  CkxVarnoxFT_COMPETITORS competitors;
  ASSERT_TRUE(OpenNew(competitors, FreshDir("clear") + "/competitors.orb"))
      << KernelScratch::Get().Log();
  KxWriter writer;
  DescribeCompetitors(writer, competitors);
  auto& swimmers = competitors.m_CompetitorsStringMap.m_Container;
  const uint32_t uiSwimmer = swimmers(D2MapCmd::Find, WideKey(7), nullptr);
  ASSERT_NE(Read(swimmers[uiSwimmer].Name), u"");
  EXPECT_EQ(swimmers(D2MapCmd::ClearAt, uiSwimmer, nullptr), uiSwimmer);
  CkxCompetitor& swimmer = swimmers[uiSwimmer];
  for (const CkxD2StrDU* pText : {&swimmer.Name, &swimmer.SCBName1, &swimmer.Nation,
                                  &swimmer.BirthYear, &swimmer.Club, &swimmer.Handicap}) {
    EXPECT_EQ(Read(*pText), u"");
    EXPECT_EQ(pText->m_Str.textOffset, 0u) << "the text is freed";
  }
  EXPECT_EQ(swimmer.CategoryId, 0);
  EXPECT_EQ(swimmer.CompetitorId, 0);
  EXPECT_EQ(swimmers.GetCount(), 400u);
  EXPECT_TRUE(swimmers.IsAlive(uiSwimmer));
  EXPECT_EQ(swimmers(D2MapCmd::Find, WideKey(7), nullptr), uiSwimmer);
  competitors.UnLoad();

  CkxVarnoxFT_RACES races;
  ASSERT_TRUE(OpenNew(races, KernelScratch::Get().Path("clear") + "/races.orb"))
      << KernelScratch::Get().Log();
  DescribeRaces(writer, races);
  ASSERT_TRUE(writer.Faults().empty()) << writer.Report();
  auto& entries = races.m_ScheduleEntries.m_Container;
  CkxScheduleOneEntry& entry = entries[entries(D2MapCmd::Find, 0, RaceKey(6).c_str())];
  const uint32_t uiHeat = entry.Heats(D2MapCmd::Find, 0, "H2");
  ASSERT_GT(entry.Heats[uiHeat].LaneResults.GetCount(), 0u);
  EXPECT_EQ(entry.Heats(D2MapCmd::ClearAt, uiHeat, nullptr), uiHeat);
  CkxCompOneHeat& heat = entry.Heats[uiHeat];
  EXPECT_EQ(heat.LaneResults.GetCount(), 0u);
  EXPECT_EQ(heat.PoolConfig.Lanes.GetCount(), 0u);
  EXPECT_EQ(heat.PoolConfig.NbLanes, 0);
  EXPECT_EQ(heat.Params.GetCount(), 0u);
  EXPECT_EQ(Read(heat.HeatId), u"");
  EXPECT_EQ(heat.SortId, 0);
  EXPECT_EQ(entry.Heats(D2MapCmd::Find, 0, "H2"), uiHeat);
  EXPECT_EQ(entry.Heats.GetCount(), 3u);

  const uint32_t uiEntry = entries(D2MapCmd::Find, 0, RaceKey(6).c_str());
  EXPECT_EQ(entries(D2MapCmd::Clear, 0, RaceKey(6).c_str()), uiEntry);
  EXPECT_EQ(entries[uiEntry].Heats.GetCount(), 0u);
  EXPECT_EQ(entries[uiEntry].Params.GetCount(), 0u);
  EXPECT_EQ(Read(entries[uiEntry].TitlePrint), u"");
  EXPECT_EQ(entries[uiEntry].DateAndTime.GetNet(), 0);
  // The other entries are untouched.
  KxChecker checker;
  DescribeEntry(checker, entries[checker.Node(entries, 0, RaceKey(7).c_str())], 7);
  EXPECT_TRUE(checker.Faults().empty()) << checker.Report();
  races.UnLoad();
}

}  // namespace
