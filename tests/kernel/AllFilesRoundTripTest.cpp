// The native face on the reference kernel, end to end: the five files with
// every container kind filled, saved and read back in a new process; and what
// removing, clearing and looking up records does to their storage. One walk
// over the catalogue derives every value from a seed, and writes or checks
// it, so that the write and the read-back cannot drift apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "contracts/kernel/KxText.h"
#include "templates/Varnox.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

constexpr uint32_t kTopLevelMapCount = 300;  // several rehashes of a map
constexpr uint32_t kTopLevelArraySize = 25;

// ---------------------------------------------------------------------------
// Values of a seed: of varied length and sign, characters outside ASCII,
// empty texts and texts longer than one block.

std::string Number(int64_t liValue) { return std::to_string(liValue); }

int Mix(int iSeed, int iSalt) {
  return static_cast<int>(
      (static_cast<uint32_t>(iSeed) * 2654435761u + static_cast<uint32_t>(iSalt) * 40503u) %
      2000003u);
}

std::u16string Text16(int i) {
  static const std::u16string aTails[] = {u"",      u" Zürich", u" Łódź",
                                          u" 東京", u" Ωμέγα",  u" São Paulo"};
  if (i % 17 == 5) return u"";
  const std::string csNumber = Number(i);
  std::u16string csText =
      u"Text " + std::u16string(csNumber.begin(), csNumber.end()) + aTails[i % 6];
  if (i % 13 == 7) csText += std::u16string(300, static_cast<char16_t>(u'a' + i % 26));
  return csText;
}

// Windows-1252 bytes, some above 0x7F.
std::string Text8(int i) {
  static const std::string aTails[] = {"", " \xC4\xD6\xDC", " \x80uro", " caf\xE9"};
  return i % 11 == 4 ? "" : "Text " + Number(i) + aTails[i % 4];
}

// Null, negative and plain times, every precision.
uint64_t TimeWord(int i) {
  if (i % 7 == 3) return Sd2KxTime::Null().m_uliWord;
  return Sd2KxTime::Make((int64_t{i} * 7919 * 104729) & static_cast<int64_t>(Sd2KxTime::kTimeMask),
                         static_cast<uint32_t>(i % 8), i % 5 == 1)
      .m_uliWord;
}

// Dates of every kind.
int64_t DateWord(int i) {
  static const KxDateTimeKind aKinds[] = {KxDateTimeKind::kUnspecified, KxDateTimeKind::kUtc,
                                          KxDateTimeKind::kLocal};
  return CkxD2DateTime::Pack(638000000000000000 + int64_t{i} * 1000000007, aKinds[i % 3]);
}

// Keys of element `i`: 0, then keys beyond 32 bits; the empty text, keys
// with Windows-1252 letters and long keys that differ only beyond the first
// bytes a node keeps of them.
uint64_t NumberKey(int i) {
  return i == 0 ? 0 : (uint64_t{static_cast<uint32_t>(i)} << 34) + 17 * uint64_t(i) + 1;
}
std::string TextKey(int i) {
  static const std::string aTails[] = {"", " \xC4\xD6\xDC", " caf\xE9"};
  if (i == 0) return "";
  return i % 5 == 3 ? std::string(30, 'L') + Number(i) : "K" + Number(i) + aTails[i % 3];
}

// `csKey` with the case of each Windows-1252 letter swapped.
std::string OtherCase(std::string csKey) {
  for (char& c : csKey) {
    const uint8_t b = static_cast<uint8_t>(c);
    const bool bAscii = (b | 0x20) >= 'a' && (b | 0x20) <= 'z';
    if (bAscii || (b >= 0xC0 && b <= 0xFE && (b & 0x1F) != 0x17 && (b & 0x1F) != 0x1F))
      c = static_cast<char>(b ^ 0x20);
  }
  return csKey;
}

std::string Show(const std::u16string& csText) { return "\"" + KxText::Utf16ToUtf8(csText) + "\""; }
std::string Show(const std::string& csText) { return "\"" + csText + "\""; }

// ---------------------------------------------------------------------------
// The walk over the catalogue.

class Pass {
 public:
  enum Mode { kWrite, kCheck, kInitial };
  explicit Pass(Mode eMode) : m_eMode(eMode) {}

  // Names a part of the files for the scope of the object.
  class In {
   public:
    In(Pass& pass, const std::string& csPart) : m_Pass(pass), m_csOld(pass.m_csWhere) {
      pass.m_csWhere += "/" + csPart;
    }
    ~In() { m_Pass.m_csWhere = m_csOld; }
    In(const In&) = delete;
    In& operator=(const In&) = delete;

   private:
    Pass& m_Pass;
    std::string m_csOld;
  };

  bool Writes() const { return m_eMode == kWrite; }
  void Fault(const std::string& csWhat) { m_csFaults += m_csWhere + ": " + csWhat + "\n"; }
  const std::string& Faults() const { return m_csFaults; }

  // Every member of a file, as its catalogue entry describes it.
  template <class File>
  void WholeFile(File& file) {
    const KxFileType& type = EngineFileType(File::kFileType);
    uint32_t uiMember = 0;
    VarnoxMembers<File>::ForEach(file, [&](const char* csName, auto& member) {
      In in(*this, csName);
      Member(member.m_Container, *type.members[uiMember].memberClass, static_cast<int>(uiMember));
      ++uiMember;
    });
  }

  // Element `i` of a map (added when writing, found otherwise), its record
  // walked with `iSeed`; answers its handle. Its text key in the other case
  // finds it (or adds no twin) only in a map without case.
  uint32_t Element(const KxMapView& map, KxKeyKind eKey, const KxRecordType& type, int i, int iSeed,
                   bool bNoCase = false) {
    const std::string csKey = TextKey(i);
    const uint64_t uiKey = eKey == KxKeyKind::kNumber ? NumberKey(i) : 0;
    const char* pKey = eKey == KxKeyKind::kText ? csKey.c_str() : nullptr;
    In in(*this, "[" + (pKey != nullptr ? Show(csKey) : Number(static_cast<int64_t>(uiKey))) + "]");
    const uint32_t uiHandle = map.Command(Writes() ? D2MapCmd::Add : D2MapCmd::Find, uiKey, pKey);
    if (uiHandle == 0) throw std::runtime_error(m_csWhere + ": no node");
    uint64_t uiStored = 0;
    std::string csStored;
    map.GetKey(uiHandle, uiStored, csStored, false, true);
    if (pKey != nullptr ? csStored != csKey : uiStored != uiKey)
      Fault("GetKey answers " + Number(static_cast<int64_t>(uiStored)) + "/" + Show(csStored));
    const std::string csOther = OtherCase(csKey);
    if (pKey != nullptr && csOther != csKey && (bNoCase || !Writes())) {
      const uint32_t uiOther =
          map.Command(Writes() ? D2MapCmd::Add : D2MapCmd::Find, 0, csOther.c_str());
      if (uiOther != (bNoCase ? uiHandle : 0))
        Fault("the key in the other case answers " + Number(uiOther));
    }
    Record(map.Record(uiHandle, type.size), type, iSeed);
    return uiHandle;
  }

  // A record: each field by its kind.
  void Record(uint8_t* pRecord, const KxRecordType& type, int iSeed) {
    for (uint32_t f = 0; f < type.fieldCount; ++f) {
      const KxRecordField& field = type.fields[f];
      In in(*this, field.name);
      Field(field, pRecord + field.offset, Mix(iSeed, static_cast<int>(f)));
    }
  }

 private:
  template <class T>
  void Member(CkxD2MapObjA<T>& map, const KxMemberClass& member, int iSeed) {
    KxSetCurrentObject(map.m_pOwner);
    Map(map.View(), member.key, *member.element, kTopLevelMapCount, iSeed);
  }
  template <class T>
  void Member(CkxD2a1dObjDA<T>& array, const KxMemberClass& member, int iSeed) {
    KxSetCurrentObject(array.m_pOwner);
    Array(array.View(), false, *member.element, kTopLevelArraySize, iSeed);
  }
  template <class T>
  void Member(CkxD2PntA<T>& single, const KxMemberClass& member, int iSeed) {
    Record(reinterpret_cast<uint8_t*>(single.operator->()), *member.element, iSeed);
  }

  // A map of `uiCount` elements: its count, and when checking, its Head/Next
  // order and AtIndex (the order the elements were added in). A text-keyed
  // map of an odd seed has keys without case; one of seed 2 mod 4 had them
  // and was switched back.
  void Map(const KxMapView& map, KxKeyKind eKey, const KxRecordType& type, uint32_t uiCount,
           int iSeed) {
    if (m_eMode == kInitial) uiCount = 0;
    const bool bText = eKey == KxKeyKind::kText;
    if (Writes() && bText && iSeed % 4 != 0) map.Command(D2MapCmd::KeyNoCase, 0, nullptr);
    if (Writes() && bText && iSeed % 4 == 2) map.Command(D2MapCmd::KeyCase, 0, nullptr);
    std::vector<uint32_t> added;
    for (uint32_t i = 0; i < uiCount; ++i) {
      const int iIndex = static_cast<int>(i);
      added.push_back(
          Element(map, eKey, type, iIndex, Mix(iSeed, iIndex), bText && iSeed % 2 != 0));
    }
    if (map.GetCount() != uiCount)
      Fault("count " + Number(map.GetCount()) + ", described " + Number(uiCount));
    if (Writes()) return;
    std::vector<uint32_t> walked;
    for (uint32_t h = map.Command(D2MapCmd::Head, 0, nullptr); h != 0 && walked.size() <= uiCount;
         h = map.Command(D2MapCmd::Next, h, nullptr)) {
      walked.push_back(h);
    }
    if (walked != added) Fault("Head/Next does not follow the order the elements were added in");
    added.push_back(0);  // AtIndex of the count: none
    for (uint32_t i = 0; i < added.size(); ++i) {
      if (map.Command(D2MapCmd::AtIndex, i, nullptr) != added[i]) Fault("AtIndex " + Number(i));
    }
  }

  // An array of `uiSize` elements: an embedded one grows one Add at a time,
  // a top-level one in one SetSize.
  void Array(const KxArrayView& array, bool bEmbedded, const KxRecordType& type, uint32_t uiSize,
             int iSeed) {
    if (m_eMode == kInitial) uiSize = 0;
    if (Writes()) {
      if (!bEmbedded) array.SetSize(uiSize, true);
      while (array.Size() < uiSize) {
        const uint32_t uiBefore = array.Size();
        array.Add();
        if (array.Size() != uiBefore + 1) throw std::runtime_error(m_csWhere + ": Add failed");
      }
    }
    if (array.Size() != uiSize)
      throw std::runtime_error(m_csWhere + ": size " + Number(array.Size()) + ", described " +
                               Number(uiSize));
    for (uint32_t i = 0; i < uiSize; ++i) {
      In in(*this, "[" + Number(i) + "]");
      Record(array.Element(i, type.size), type, Mix(iSeed, static_cast<int>(i)));
    }
  }

  void Field(const KxRecordField& field, uint8_t* p, int iSeed) {
    const bool bInitial = m_eMode == kInitial;
    switch (field.kind) {
      case KxFieldKind::kInt32:
        return Scalar<int32_t>(p, bInitial ? 0 : iSeed - 1000000);
      case KxFieldKind::kUInt32:
        return Scalar<uint32_t>(p, bInitial ? 0 : 4000000000u + static_cast<uint32_t>(iSeed));
      case KxFieldKind::kBool:
        return Scalar<uint8_t>(p, bInitial ? 0 : iSeed % 3 == 0);
      case KxFieldKind::kDateTime:
        return Scalar<int64_t>(p, bInitial ? 0 : DateWord(iSeed));
      case KxFieldKind::kKxTime:
        return Scalar<uint64_t>(p, bInitial ? 0 : TimeWord(iSeed));
      case KxFieldKind::kFixedInt32:
      case KxFieldKind::kFixedUInt32:
        for (uint32_t k = 0; k < field.count; ++k)
          Scalar<int32_t>(p + 4 * k, bInitial ? 0 : Mix(iSeed, static_cast<int>(k)) - 1000000);
        return;
      case KxFieldKind::kStrDU:
        return String(*reinterpret_cast<CkxD2StrDU*>(p), bInitial ? u"" : Text16(iSeed));
      case KxFieldKind::kStrD:
        return String(*reinterpret_cast<CkxD2StrD*>(p), bInitial ? "" : Text8(iSeed));
      case KxFieldKind::kStrSU: {
        // Up to the field's 64 characters, the full 64 included.
        std::u16string csText = iSeed % 3 == 2 ? std::u16string(64, u'Ŵ') : Text16(iSeed);
        csText.resize(std::min<size_t>(csText.size(), field.count));
        return String(*reinterpret_cast<CkxD2StrSU<64>*>(p), bInitial ? u"" : csText);
      }
      case KxFieldKind::kMap:
        return Map(KxMapView(&reinterpret_cast<KxEmbeddedMap*>(p)->header, KxCurrentObject(), true),
                   field.key, *field.element, 2 + static_cast<uint32_t>(iSeed % 2), iSeed);
      case KxFieldKind::kArray:  // empty arrays included
        return Array(KxArrayView(reinterpret_cast<KxArrayHeader*>(p), KxCurrentObject(), true),
                     true, *field.element, static_cast<uint32_t>(iSeed % 4), iSeed);
      case KxFieldKind::kRecord:
        return Record(p, *field.element, iSeed);
    }
  }

  template <class T, class V>
  void Scalar(uint8_t* p, V value) {
    const T wanted = static_cast<T>(value);
    if (Writes()) {
      std::memcpy(p, &wanted, sizeof wanted);
      return;
    }
    T stored;
    std::memcpy(&stored, p, sizeof stored);
    if (stored != wanted)
      Fault("expected " + Number(static_cast<int64_t>(wanted)) + ", found " +
            Number(static_cast<int64_t>(stored)));
  }

  template <class Field, class Text>
  void String(Field& field, const Text& csText) {
    if (Writes()) {
      if constexpr (std::is_same_v<Field, CkxD2StrSU<64>>) {
        field.SetNet(csText.data(), static_cast<int>(csText.size()));
      } else {
        SetText(field, csText);
      }
      return;
    }
    const Text csStored = TextOf(field).value_or(Text());
    if (csStored != csText) Fault("expected " + Show(csText) + ", found " + Show(csStored));
    if constexpr (!std::is_same_v<Field, CkxD2StrSU<64>>) {
      if (m_eMode == kInitial && field.m_Str.textOffset != 0) Fault("the text is not freed");
    }
  }

  Mode m_eMode;
  std::string m_csWhere;
  std::string m_csFaults;
};

// Runs the pass over every file of `csDir`: created and saved when writing,
// opened read-only otherwise.
void RunAllFiles(Pass& pass, const std::string& csDir) {
  VarnoxFileTemplates::ForEach([&](auto type) {
    typename decltype(type)::type file;
    const std::string csPath = csDir + "/" + file.kFileType + ".orb";
    Pass::In in(pass, file.kFileType);
    if (!OpenNative(file, csPath, pass.Writes() ? "rw" : "r", pass.Writes())) {
      pass.Fault("cannot open");
      return;
    }
    try {
      pass.WholeFile(file);
    } catch (const std::exception& e) {
      pass.Fault(e.what());
    } catch (const CkxOrbUnmanException& e) {
      std::string csText;
      pass.Fault("exception: " + e.GetErrorText(csText));
    }
    if (pass.Writes() && !file.Save(0, true, "")) pass.Fault("Save failed");
    if (!file.UnLoad()) pass.Fault("UnLoad failed");
  });
}

// The record type of a races file's schedule entries.
const KxRecordType& EntryType() {
  return *EngineFileType("FT_RACES").members[0].memberClass->element;
}

// A races file with schedule entries 0..iCount-1 written by the walk (every
// embedded map holds at least two elements).
struct RacesFile {
  explicit RacesFile(const std::string& csName, int iCount = 1) : pass(Pass::kWrite) {
    if (!OpenNative(file, FreshDir(csName) + "/races.orb"))
      throw std::runtime_error("cannot create: " + KernelLog());
    for (int i = 0; i < iCount; ++i) Add(i);
  }
  ~RacesFile() { file.UnLoad(); }
  void Add(int i) { Walk(pass, i); }
  // What entry `i` holds, against the walk in `eMode`: the faults found.
  std::string Check(int i, Pass::Mode eMode) {
    Pass checker(eMode);
    Walk(checker, i);
    return checker.Faults();
  }
  void Walk(Pass& walk, int i) {
    KxSetCurrentObject(entries.m_pOwner);  // the storage of the entries' records
    walk.Element(entries.View(), KxKeyKind::kText, EntryType(), i, i);
  }

  CkxVarnoxFT_RACES file;
  CkxD2MapObjA<CkxScheduleOneEntry>& entries = file.m_ScheduleEntries.m_Container;
  Pass pass;
};

// ---------------------------------------------------------------------------

TEST(AllFilesRoundTrip, EveryContainerKindReadsBackIdenticalInANewProcess) {
  const std::string csDir = FreshDir("round-trip");
  Pass writer(Pass::kWrite);
  RunAllFiles(writer, csDir);
  ASSERT_EQ(writer.Faults(), "") << KernelLog();
  // Nobody has the files open: nothing of them stays live (the last to leave
  // removes each live directory), so the new process sees only what was saved.
  ASSERT_EQ(EntriesWith(Scratch("live"), ""), std::vector<std::string>{});

  const TkChildResult child = TkRunChild([&] {
    Pass checker(Pass::kCheck);
    RunAllFiles(checker, csDir);
    if (!checker.Faults().empty())
      throw std::runtime_error("read back differently:\n" + checker.Faults());
  });
  EXPECT_EQ(child.exitCode, 0) << child.err << KernelLog();
}

// Clear (by key) and ClearAt (by handle) put a record back as a new record
// is, top-level and embedded: values 0, strings never written and freed,
// embedded maps and arrays empty; the node stays where it was. The kernel
// finds nothing to remove or clear at a removed node (top-level or embedded,
// whose signature it wiped) nor at a node of another map. The other records
// keep their content.
TEST(AllFilesRoundTrip, RecordsClearedOrRemoved) {
  RacesFile races("records", 5);
  auto& entries = races.entries;
  ASSERT_EQ(races.pass.Faults(), "");
  auto handleOf = [&](int i) { return entries(D2MapCmd::Find, 0, TextKey(i).c_str()); };
  auto firstHeat = [&](int i) -> CkxCompOneHeat& {
    CkxScheduleOneEntry& entry = entries[handleOf(i)];
    return entry.Heats[entry.Heats(D2MapCmd::Head, 0, nullptr)];
  };
  CkxScheduleOneEntry& entry = entries[handleOf(1)];
  const uint32_t uiHeat = entry.Heats(D2MapCmd::Head, 0, nullptr);
  const uint32_t uiHeats = entry.Heats.GetCount();
  EXPECT_EQ(entry.Heats(D2MapCmd::ClearAt, uiHeat, nullptr), uiHeat);
  EXPECT_EQ(entry.Heats(D2MapCmd::Head, 0, nullptr), uiHeat);
  EXPECT_EQ(entry.Heats.GetCount(), uiHeats);
  Pass initial(Pass::kInitial);
  initial.Record(reinterpret_cast<uint8_t*>(&entry.Heats[uiHeat]),
                 *EngineField(EntryType(), "Heats").element, 0);
  EXPECT_EQ(initial.Faults(), "");
  EXPECT_EQ(entries(D2MapCmd::Clear, 0, TextKey(1).c_str()), handleOf(1));
  EXPECT_EQ(races.Check(1, Pass::kInitial), "");
  EXPECT_EQ(entries(D2MapCmd::ClearAt, handleOf(2), nullptr), handleOf(2));
  EXPECT_EQ(races.Check(2, Pass::kInitial), "");

  auto& lanes = firstHeat(4).LaneResults;
  const uint32_t uiLane = lanes(D2MapCmd::Find, NumberKey(1), nullptr);
  const uint32_t uiOtherLane = firstHeat(3).LaneResults(D2MapCmd::Head, 0, nullptr);
  const uint32_t uiFirst = handleOf(0);
  ASSERT_EQ(lanes(D2MapCmd::Remove, NumberKey(1), nullptr), uiLane);
  ASSERT_EQ(entries(D2MapCmd::RemoveAt, uiFirst, nullptr), uiFirst);
  EXPECT_FALSE(lanes.IsAlive(uiLane));
  EXPECT_FALSE(entries.IsAlive(uiFirst));
  const uint32_t uiLanes = lanes.GetCount();
  for (const D2MapCmd::Cmd eCmd : {D2MapCmd::RemoveAt, D2MapCmd::ClearAt}) {
    EXPECT_EQ(lanes(eCmd, uiLane, nullptr), 0u);
    EXPECT_EQ(entries(eCmd, uiFirst, nullptr), 0u);
    EXPECT_EQ(lanes(eCmd, uiOtherLane, nullptr), 0u);
  }
  EXPECT_EQ(lanes.GetCount(), uiLanes);
  EXPECT_EQ(entries.GetCount(), 4u);

  // Removed and re-added, or cleared and filled again, hundreds of times, a
  // record frees everything it held for reuse: the storage stays the size
  // it had after the first rounds.
  const std::string csKey = TextKey(0);
  auto savedBytes = [&] {
    EXPECT_TRUE(races.file.Save(0, true, ""));
    return std::filesystem::file_size(Scratch("records/races.orb"));
  };
  auto cycle = [&](int iRound) {
    const uint32_t uiEntry = entries(D2MapCmd::Find, 0, csKey.c_str());
    switch (iRound % 3) {
      case 0:
        EXPECT_EQ(entries(D2MapCmd::Remove, 0, csKey.c_str()), uiEntry);
        break;
      case 1:
        EXPECT_EQ(entries(D2MapCmd::ClearAt, uiEntry, nullptr), uiEntry);
        break;
      case 2: {  // embedded: the lanes of one heat by handle, another heat by key
        CkxScheduleOneEntry& cycled = entries[uiEntry];
        CkxCompOneHeat& heat = cycled.Heats[cycled.Heats(D2MapCmd::Head, 0, nullptr)];
        while (const uint32_t uiHead = heat.LaneResults(D2MapCmd::Head, 0, nullptr))
          EXPECT_EQ(heat.LaneResults(D2MapCmd::RemoveAt, uiHead, nullptr), uiHead);
        EXPECT_NE(cycled.Heats(D2MapCmd::Remove, 0, TextKey(1).c_str()), 0u);
        break;
      }
    }
    races.Add(0);
  };

  races.Add(0);
  for (int iRound = 0; iRound < 3; ++iRound) cycle(iRound);
  const uintmax_t uiSettled = savedBytes();
  for (int iRound = 3; iRound < 303; ++iRound) cycle(iRound);
  ASSERT_EQ(races.pass.Faults(), "");
  EXPECT_EQ(entries.GetCount(), 5u);
  // A leak of the smallest block (16 bytes) per round would add 4800 bytes.
  EXPECT_LE(savedBytes(), uiSettled + 1024);
  cycle(0);  // the heats back in the order they were added in
  EXPECT_EQ(races.Check(0, Pass::kCheck), "");
  EXPECT_EQ(races.Check(3, Pass::kCheck), "") << "another record changed";
}

// A walk over a map streams through memory only when its nodes follow each
// other at one stride, rising, not between the strings their records point
// to; also when the map is filled again after being emptied.
TEST(AllFilesRoundTrip, NodesOfAGrowingMapLieAtOneStrideApartFromTheirStrings) {
  const std::string csPath = Scratch("stride.orb");
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_TRUE(OpenNative(file, csPath)) << KernelLog();
  auto& map = file.m_CompetitorsStringMap.m_Container;
  for (int iFill = 0; iFill < 2; ++iFill) {
    SCOPED_TRACE(iFill == 0 ? "first fill" : "filled again");
    map(D2MapCmd::RemoveAll, 0, nullptr);
    std::vector<uint32_t> handles;
    for (uint64_t uiKey = 1; uiKey <= 2000; ++uiKey) {
      handles.push_back(map(D2MapCmd::Add, uiKey, nullptr));
      SetText(map[handles.back()].Name, u"Swimmer " + std::u16string(uiKey % 13 + 1, u'x'));
    }
    std::map<int64_t, int> strides;
    for (size_t i = 1; i < handles.size(); ++i)
      ++strides[int64_t{handles[i]} - int64_t{handles[i - 1]}];
    const auto common = std::max_element(strides.begin(), strides.end(),
                                         [](auto& a, auto& b) { return a.second < b.second; });
    EXPECT_GT(common->first, 0) << "nodes do not rise";
    EXPECT_GE(common->second, 1900) << "nodes do not follow each other";
  }
  file.UnLoad();
}

// A segment asked for one unit beyond its capacity grows: the last unit of a
// reservation lies inside the file.
TEST(AllFilesRoundTrip, ASegmentGrowsForItsLastUnit) {
  std::unique_ptr<KxSegment> pSegment = KxSegment::Create(Scratch("grown"), 1);
  const uint32_t uiCapacity = pSegment->Header().capacity;
  ASSERT_TRUE(pSegment->Reserve(uiCapacity + 1));
  EXPECT_GT(pSegment->Header().capacity, uiCapacity);
}

}  // namespace
