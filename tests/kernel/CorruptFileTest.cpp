// Damaged saved files opened through the native face on the reference
// kernel are refused with their failure id and reason, keep their bytes and
// leave no live storage; files an older build or a dying writer left behind
// open; the tool says what is wrong with which file.
//
// I/O faults during a save, injected through the engine's file seam
// (KxSaveIo) of the engine linked into this test: the Nth write, the fsync,
// the rename or the directory fsync of a save fails, or the saving process
// dies there. Every such save reports failure, leaves no temporary file, does
// not retry an fsync, and is followed by a save that succeeds; until the
// rename, the target keeps its old bytes, after it the new ones, whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "contracts/kernel/KxSchemaFingerprint.h"
#include "kernel/KxSavedFile.h"
#include "kernel/KxStore.h"
#include "kernel/KxXml.h"
#include "templates/Varnox.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

// Members of FT_GLOBALS by registration index.
constexpr size_t kPoolConfig = 0;
constexpr size_t kDistances = 1;
constexpr size_t kParameters = 6;
constexpr size_t kRecords = 7;

// A handle far beyond every segment's top, still below 2^32 units.
constexpr uint32_t kFarAway = 0x3FFFFFF0;

constexpr size_t kSlotCount = offsetof(KxContainerHeader, count);
constexpr size_t kSlotHead = offsetof(KxContainerHeader, headHandle);
constexpr size_t kMapPart = offsetof(KxEmbeddedMap, kernelBytes);
constexpr size_t kMapTag = kMapPart + offsetof(KxMapKernelPart, tag);
constexpr size_t kMapElement = kMapPart + offsetof(KxMapKernelPart, elementType);
constexpr size_t kMapBuckets = kMapPart + offsetof(KxMapKernelPart, buckets);
constexpr size_t kMapBucketCount = kMapPart + offsetof(KxMapKernelPart, bucketCount);
constexpr size_t kMapTail = kMapPart + offsetof(KxMapKernelPart, tail);
constexpr size_t kMapScheme = kMapPart + offsetof(KxMapKernelPart, hashScheme);
constexpr size_t kNodeNext = offsetof(KxMapNode, nextHandle);
constexpr size_t kNodePart = offsetof(KxMapNode, kernelWords);
constexpr size_t kNodeTextKey = kNodePart + offsetof(KxNodeKernelPart, textKey);
constexpr size_t kNodeHashNext = kNodePart + offsetof(KxNodeKernelPart, hashNext);
constexpr size_t kNodePrev = kNodePart + offsetof(KxNodeKernelPart, prev);
constexpr size_t kNodeRecord = sizeof(KxMapNode);

// A saved file's bytes with its members located, to be damaged in place and
// resealed (both checksums recomputed) so that only the structure is wrong.
class SavedImage {
 public:
  explicit SavedImage(std::string bytes) : m_Bytes(std::move(bytes)) {
    size_t uiAt = sizeof(KxSavedHeader);
    for (uint32_t i = 0; i < Word(offsetof(KxSavedHeader, memberCount)); ++i) {
      m_Members.push_back(uiAt);
      uint64_t uiData = 0;
      std::memcpy(&uiData, &m_Bytes.at(uiAt + offsetof(KxSavedMember, dataBytes)), sizeof uiData);
      uiAt += sizeof(KxSavedMember) + uiData;
    }
  }

  std::string& Bytes() { return m_Bytes; }
  size_t Size() const { return m_Bytes.size(); }

  uint32_t Word(size_t uiAt) const {
    uint32_t uiWord = 0;
    std::memcpy(&uiWord, &m_Bytes.at(uiAt + 3) - 3, sizeof uiWord);
    return uiWord;
  }
  void SetWord(size_t uiAt, uint32_t uiWord) {
    std::memcpy(&m_Bytes.at(uiAt + 3) - 3, &uiWord, sizeof uiWord);
  }

  // Where member `i`'s KxSavedMember lies, and a word of it.
  size_t MemberAt(size_t i) const { return m_Members.at(i); }
  uint32_t MemberWord(size_t i, size_t uiField) const { return Word(MemberAt(i) + uiField); }
  uint32_t Top(size_t i) const { return MemberWord(i, offsetof(KxSavedMember, top)); }
  // Where unit `uiUnit` of member `i`'s segment lies in the file.
  size_t UnitAt(size_t i, uint32_t uiUnit) const {
    if (uiUnit < KxSegment::kHeaderUnits || uiUnit >= Top(i))
      throw std::out_of_range("unit outside the member");
    return MemberAt(i) + sizeof(KxSavedMember) + 4 * size_t{uiUnit - KxSegment::kHeaderUnits};
  }
  // The member's container (a map slot for map members).
  size_t ContainerAt(size_t i) const {
    return UnitAt(i, MemberWord(i, offsetof(KxSavedMember, container)));
  }
  // The map slot at `uiSlot` of member `i`: its first node. Member `i`'s
  // map: its first and second node, the first node's record.
  uint32_t Head(size_t uiSlot) const { return Word(uiSlot + kSlotHead); }
  uint32_t First(size_t i) const { return Head(ContainerAt(i)); }
  uint32_t Second(size_t i) const { return Word(UnitAt(i, First(i)) + kNodeNext); }
  size_t FirstRecord(size_t i) const { return UnitAt(i, First(i)) + kNodeRecord; }
  // The first free list of member `i` that holds a block.
  size_t FirstFreeHead(size_t i) const {
    size_t uiAt = MemberAt(i) + offsetof(KxSavedMember, freeHeads);
    while (Word(uiAt) == 0) uiAt += 4;
    return uiAt;
  }
  // The block (its header) that holds member `i`'s container.
  size_t ContainerBlock(size_t i) const {
    return UnitAt(i,
                  MemberWord(i, offsetof(KxSavedMember, container)) - KxSegment::kBlockHeaderUnits);
  }

  void Reseal() { KxResealSavedBytes(reinterpret_cast<uint8_t*>(m_Bytes.data()), m_Bytes.size()); }
  // Sets a word and reseals, so that only the structure is wrong.
  void Put(size_t uiAt, uint32_t uiWord) {
    SetWord(uiAt, uiWord);
    Reseal();
  }

 private:
  std::string m_Bytes;
  std::vector<size_t> m_Members;
};

// A small FT_GLOBALS file with every container kind: the pool configuration
// with embedded maps, numerically and text-keyed maps, strings, a record
// with embedded arrays, and free blocks left by a removed element.
std::string SavedGlobals(const std::string& csPath) {
  CkxVarnoxFT_GLOBALS file;
  if (!OpenNative(file, csPath)) {
    throw std::runtime_error("cannot create " + csPath + ": " + KernelLog());
  }
  CkxPoolConfig& pool = *file.m_PoolConfig.m_Container.operator->();
  pool.NbLanes = 8;
  for (int iLane = 1; iLane <= 8; ++iLane)
    pool.Lanes[pool.Lanes(D2MapCmd::Add, iLane, nullptr)].m_LaneID = iLane;
  auto& distances = file.m_DistancesDefault.m_Container;
  for (int iMeters : {50, 100, 200, 400, 800, 1500, 9999}) {
    CkxDistance& distance = distances[distances(D2MapCmd::Add, iMeters, nullptr)];
    distance.Distance = iMeters;
    SetText(distance.DistanceStr,
            u"m" + std::u16string(static_cast<size_t>(iMeters % 7 + 1), u'0'));
  }
  distances(D2MapCmd::Remove, 9999, nullptr);
  auto& parameters = file.m_Parameters.m_Container;
  SetText(parameters[parameters(D2MapCmd::Add, 0, "MeetName")].Value, u"Winter Open");
  SetText(parameters[parameters(D2MapCmd::Add, 0, "Pool")].Value, u"North");
  auto& records = file.m_Records.m_Container;
  const uint32_t uiRecord = records(D2MapCmd::Add, 0, "W200FR");
  SetText(records[uiRecord].Name, u"Anna Keller");
  for (int iLap = 1; iLap <= 4; ++iLap) {
    const uint32_t uiLap = records[uiRecord].LapTimes.Add();
    records[uiRecord].LapTimes[uiLap].LapTime = Sd2KxTime::Make(iLap * 2800, 2, false);
  }
  if (!file.Save(0, true, "") || !file.UnLoad()) throw std::runtime_error("cannot save " + csPath);
  return Slurp(csPath);
}

// Opens `csPath` through the native face as `csType`, asking to create it
// (a file that is there, however damaged, is never taken for a missing one),
// and answers the id; a file that opens is saved to `csSaveAs` when given,
// and unloaded again.
int32_t OpenAs(const std::string& csType, const std::string& csPath,
               const std::string& csSaveAs = "") {
  std::unique_ptr<CkxVarnoxFile> pFile = NewFile(csType);
  int32_t iId =
      pFile->OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0, nullptr);
  if (iId > 0 && !csSaveAs.empty() && !pFile->Save(0, false, csSaveAs)) iId = 0;
  if (iId > 0) pFile->UnLoad();
  return iId;
}

// The small FT_GLOBALS file every case damages, made once.
const std::string& Good() {
  static const std::string csGood = SavedGlobals(Scratch("good.orb"));
  return csGood;
}

using Damager = std::function<void(SavedImage&)>;

// The good file damaged by `damage`, written to the scratch directory as
// `csName`.orb; answers its path.
std::string WriteDamaged(const std::string& csName, const Damager& damage) {
  SavedImage image(Good());
  damage(image);
  const std::string csPath = Scratch(csName + ".orb");
  Spit(csPath, image.Bytes());
  return csPath;
}
void Untouched(SavedImage&) {}

// Rewrites the header and reseals the checksums.
Damager Resealed(std::function<void(KxSavedHeader&)> change) {
  return [change](SavedImage& image) {
    KxSavedHeader header;
    std::memcpy(&header, image.Bytes().data(), sizeof header);
    change(header);
    std::memcpy(image.Bytes().data(), &header, sizeof header);
    image.Reseal();
  };
}
Damager Cut(size_t (*size)(const SavedImage&)) {
  return [size](SavedImage& i) { i.Bytes().resize(size(i)); };
}
Damager Flip(size_t (*at)(const SavedImage&)) {
  return [at](SavedImage& i) { i.Bytes().at(at(i)) ^= 0x10; };
}

// Places in the good file that the damages aim at.
size_t DistanceStr(const SavedImage& i) {
  return i.FirstRecord(kDistances) + offsetof(CkxDistance, DistanceStr);
}
size_t LapTimes(const SavedImage& i) {
  return i.FirstRecord(kRecords) + offsetof(CkxRecordEntry, LapTimes);
}
size_t Lanes(const SavedImage& i) {
  return i.ContainerAt(kPoolConfig) + offsetof(CkxPoolConfig, Lanes);
}
size_t FirstParameter(const SavedImage& i) { return i.UnitAt(kParameters, i.First(kParameters)); }
size_t FirstDistance(const SavedImage& i) { return i.UnitAt(kDistances, i.First(kDistances)); }
uint32_t BeyondTop(const SavedImage& i) { return i.Top(kDistances) + 16; }

struct Damage {
  const char* csName;
  Damager damage;
  int32_t iFailure;      // the id open must answer
  std::string csReason;  // what the log line must say
  const char* csOpenAs = "FT_GLOBALS";
};
void PrintTo(const Damage& damage, std::ostream* pOut) { *pOut << damage.csName; }

constexpr uint32_t kNextFormat = KxSavedHeader::kFormatVersion + 1;

// One row per check of the loader and of the structure check behind it (the
// fuzz target tries the damages in between): resealed rows pass both
// checksums, so that only the structure inside is wrong.
const Damage kDamages[] = {
    {"empty", Cut([](const SavedImage&) { return size_t{0}; }), KxOpenTruncated,
     "0 bytes, shorter than its header"},
    {"last-byte-missing", Cut([](const SavedImage& i) { return i.Size() - 1; }), KxOpenTruncated,
     "truncated"},
    {"wrong-magic", [](SavedImage& i) { i.Bytes()[7] = '2'; }, KxOpenForeign, "wrong magic"},
    {"newer-version", Resealed([](KxSavedHeader& h) { h.formatVersion = kNextFormat; }),
     KxOpenForeign, "unknown format (version " + std::to_string(kNextFormat) + ", header"},
    {"version-0", Resealed([](KxSavedHeader& h) { h.formatVersion = 0; }), KxOpenForeign,
     "unknown format (version 0, header"},
    {"header-size", Resealed([](KxSavedHeader& h) { h.headerBytes = 64; }), KxOpenForeign,
     "unknown format (version " + std::to_string(KxSavedHeader::kFormatVersion) + ", header of 64"},
    {"globals-as-races", Untouched, KxOpenOtherType, "Varnox/FT_GLOBALS, not Varnox/FT_RACES",
     "FT_RACES"},
    {"another-schema", Resealed([](KxSavedHeader& h) { h.schema ^= 1; }), KxOpenOtherSchema,
     "was written by a library of another schema"},
    {"flipped-format-version",
     Flip([](const SavedImage&) { return offsetof(KxSavedHeader, formatVersion); }),
     KxOpenCorrupted, "header checksum"},
    {"flipped-member-class", Flip([](const SavedImage& i) { return i.MemberAt(0); }),
     KxOpenCorrupted, " is corrupted (checksum mismatch)"},
    {"appended-byte", [](SavedImage& i) { i.Bytes().push_back(0); }, KxOpenCorrupted,
     "longer than its header says"},
    {"member-missing", [](SavedImage& i) { i.Put(offsetof(KxSavedHeader, memberCount), 7); },
     KxOpenCorrupted, "trailing bytes"},
    {"member-size-wrong",
     [](SavedImage& i) {
       i.Put(i.MemberAt(kDistances) + offsetof(KxSavedMember, top), i.Top(kDistances) + 1);
     },
     KxOpenCorrupted, "wrong size"},
    {"member-of-another-class",
     [](SavedImage& i) { i.Put(i.MemberAt(kDistances), i.MemberWord(kParameters, 0)); },
     KxOpenCorrupted, "class id"},
    // The segment: container, blocks, free lists.
    {"container-beyond-top",
     [](SavedImage& i) {
       i.Put(i.MemberAt(kDistances) + offsetof(KxSavedMember, container), BeyondTop(i));
     },
     KxOpenCorrupted, "container leaves its storage"},
    {"block-size-wrong",
     [](SavedImage& i) { i.Put(i.ContainerBlock(kDistances), i.Top(kDistances)); }, KxOpenCorrupted,
     "is not a block"},
    {"free-list-loops",
     [](SavedImage& i) {
       const uint32_t uiBlock = i.Word(i.FirstFreeHead(kDistances));
       i.Put(i.UnitAt(kDistances, uiBlock), uiBlock);
     },
     KxOpenCorrupted, "not a free block of its size, or does not end"},
    // Maps.
    {"map-head-outside",
     [](SavedImage& i) { i.Put(i.ContainerAt(kDistances) + kSlotHead, kFarAway); }, KxOpenCorrupted,
     "chain leaves its storage"},
    {"map-chain-loops",
     [](SavedImage& i) {
       i.Put(i.UnitAt(kDistances, i.Second(kDistances)) + kNodeNext, i.First(kDistances));
     },
     KxOpenCorrupted, "does not end"},
    {"node-inside-a-block",
     [](SavedImage& i) { i.Put(i.ContainerAt(kDistances) + kSlotHead, i.First(kDistances) + 2); },
     KxOpenCorrupted, "is no live block"},
    {"map-buckets-outside",
     [](SavedImage& i) { i.Put(i.ContainerAt(kDistances) + kMapBuckets, kFarAway); },
     KxOpenCorrupted, "bucket table leaves its storage"},
    {"embedded-map-of-another-element",
     [](SavedImage& i) {
       const size_t uiLeft = i.ContainerAt(kPoolConfig) + offsetof(CkxPoolConfig, LeftContacts);
       i.Put(Lanes(i) + kMapElement, i.Word(uiLeft + kMapElement));
     },
     KxOpenCorrupted, "PoolConfig.Lanes: a map is not of its class"},
    {"embedded-map-untagged", [](SavedImage& i) { i.Put(Lanes(i) + kMapTag, 0); }, KxOpenCorrupted,
     "a map is not laid out"},
    {"number-map-with-a-key-case",
     [](SavedImage& i) {
       i.Put(i.ContainerAt(kDistances) + offsetof(KxContainerHeader, lockWord),
             KxLockWord::kSignature | KxLockWord::kKeyNoCase);
     },
     KxOpenCorrupted, "key case"},
    {"map-key-outside", [](SavedImage& i) { i.Put(FirstParameter(i) + kNodeTextKey, kFarAway); },
     KxOpenCorrupted, "map key leaves its storage"},
    {"map-key-length-without-key",
     [](SavedImage& i) {
       i.Put(FirstDistance(i) + kNodePart + offsetof(KxNodeKernelPart, textLength), 1 << 30);
     },
     KxOpenCorrupted, "a number key with a text"},
    {"number-key-twice",
     [](SavedImage& i) {
       const size_t uiKey = kNodePart + offsetof(KxNodeKernelPart, key);
       i.Put(i.UnitAt(kDistances, i.Second(kDistances)) + uiKey, i.Word(FirstDistance(i) + uiKey));
     },
     KxOpenCorrupted, "holds this key twice"},
    {"text-key-with-nul",
     [](SavedImage& i) {
       i.Put(i.UnitAt(kParameters, i.Word(FirstParameter(i) + kNodeTextKey)), 0);
     },
     KxOpenCorrupted, "a map key holds a NUL byte"},
    // Strings and arrays.
    {"string-outside",
     [](SavedImage& i) { i.Put(DistanceStr(i) + offsetof(KxDynString, textOffset), kFarAway); },
     KxOpenCorrupted, "string DistanceStr"},
    {"string-longer-than-capacity",
     [](SavedImage& i) { i.Put(DistanceStr(i) + offsetof(KxDynString, lengthWord), 4096); },
     KxOpenCorrupted, "longer than its capacity"},
    {"string-of-another-character-size",
     [](SavedImage& i) {
       i.Put(DistanceStr(i) + offsetof(KxDynString, kernel16), KxStore::kStringTag | 1);
     },
     KxOpenCorrupted, "not laid out as a string of 2-byte characters"},
    {"empty-string-frees-its-own-node",
     [](SavedImage& i) {
       const size_t uiUnit = i.FirstRecord(kDistances) + offsetof(CkxDistance, DistanceUnit);
       i.Put(uiUnit + offsetof(KxDynString, textOffset), i.First(kDistances));
     },
     KxOpenCorrupted, "shares storage with another structure"},
    {"array-beyond-capacity",
     [](SavedImage& i) { i.Put(LapTimes(i) + offsetof(KxArrayHeader, size), 1000); },
     KxOpenCorrupted, "array leaves its storage (1000"},
    {"array-of-another-record",
     [](SavedImage& i) {
       const size_t uiLapDistances =
           i.FirstRecord(kRecords) + offsetof(CkxRecordEntry, LapDistances);
       i.Put(LapTimes(i) + offsetof(KxArrayHeader, kernel5),
             i.Word(uiLapDistances + offsetof(KxArrayHeader, kernel5)));
     },
     KxOpenCorrupted, "LapTimes: an array is not of its class"},
};

class DamagedFile : public ::testing::TestWithParam<Damage> {};

// Every damaged copy is refused with its failure id and a log line that
// says why; open changes no byte of it and leaves no live storage behind.
TEST_P(DamagedFile, IsRefusedWithItsReason) {
  const Damage& damage = GetParam();
  const std::string csPath = WriteDamaged(std::string("damaged-") + damage.csName, damage.damage);
  const std::string csBytes = Slurp(csPath);
  const size_t uiLogBefore = KernelLog().size();

  EXPECT_EQ(OpenAs(damage.csOpenAs, csPath), damage.iFailure);

  const std::string csLog = KernelLog().substr(uiLogBefore);
  const std::string csRefused = csPath + " refused (" + std::to_string(damage.iFailure) + "): ";
  const size_t uiLine = csLog.find(csRefused);
  ASSERT_NE(uiLine, std::string::npos) << "no refusal in the log:\n" << csLog;
  const std::string csLine = csLog.substr(uiLine, csLog.find('\n', uiLine) - uiLine);
  EXPECT_NE(csLine.find(damage.csReason), std::string::npos) << csLine;
  EXPECT_EQ(Slurp(csPath), csBytes) << "open changed the file";
  EXPECT_EQ(EntriesWith(Scratch("live"), "seg"), std::vector<std::string>{})
      << "a refused open left live storage behind";
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedFile, ::testing::ValuesIn(kDamages), NameOfCase);

// Files saved by any build carry this checksum: it must stay the CRC-32 of
// zlib and gzip, also when computed in pieces.
TEST(SavedFileChecksum, IsTheStandardCrc32) {
  const char csCheck[] = "123456789";
  EXPECT_EQ(KxCrc32(csCheck, 9), 0xCBF43926u);
  EXPECT_EQ(KxCrc32(csCheck + 4, 5, KxCrc32(csCheck, 4)), 0xCBF43926u);
  EXPECT_EQ(KxCrc32(csCheck, 0, 0x1234u), 0x1234u);
}

// The first files of format version 1 stored each container's element type
// as the type's position in the catalogue's order: where a map's and an
// array's type word lies in a saved file.
struct PositionalType {
  const char* csName;
  std::function<size_t(const SavedImage&)> typeWord;
  const KxRecordType& element;
};

const PositionalType kPositionalTypes[] = {
    {"TopLevelMap",
     [](const SavedImage& image) { return image.ContainerAt(kDistances) + kMapElement; },
     KxVarnoxCatalogue::kCkxDistance},
    {"EmbeddedArray",
     [](const SavedImage& image) {
       const uint32_t uiEntry = image.Head(image.ContainerAt(kRecords));
       return image.UnitAt(kRecords, uiEntry) + kNodeRecord +
              EngineField(KxVarnoxCatalogue::kCkxRecordEntry, "LapTimes").offset +
              offsetof(KxArrayHeader, kernel5);
     },
     KxVarnoxCatalogue::kCkxRecordLapTime},
};

class PositionalTypeFile : public ::testing::TestWithParam<PositionalType> {};

// A version 1 file (before the schema fingerprint) whose type word holds the
// element's position, the other words ids, opens, and saves in the current
// format as a file the full check finds whole; the same word is refused in a
// version 2 file, and so is the position of another type.
TEST_P(PositionalTypeFile, OpensWithItsTypesMappedToTheirIds) {
  const PositionalType& kind = GetParam();
  const KxRecordTypes& types = EngineTypes();
  ASSERT_EQ(types.AtPosition(0), VarnoxCatalogue().classes[0].element);
  uint32_t uiPosition = 0;
  while (types.AtPosition(uiPosition) != &kind.element) {
    ASSERT_NE(types.AtPosition(uiPosition), nullptr) << "no position for " << kind.element.name;
    ++uiPosition;
  }
  const std::string csBase = std::string("positional-") + kind.csName;
  const std::string& saved = Good();
  ASSERT_EQ(SavedImage(saved).Word(kind.typeWord(SavedImage(saved))),
            KxRecordTypes::IdOf(&kind.element));
  auto write = [&](uint32_t uiFormat, uint32_t uiWord, const std::string& csName) {
    return WriteDamaged(csBase + csName, [&](SavedImage& image) {
      image.SetWord(kind.typeWord(image), uiWord);
      Resealed([uiFormat](KxSavedHeader& h) {
        h.formatVersion = uiFormat;
        if (uiFormat == 1) h.schema = 0;
      })(image);
    });
  };

  const std::string csResaved = Scratch(csBase + "-resaved.orb");
  EXPECT_GT(OpenAs("FT_GLOBALS", write(1, uiPosition, "-v1"), csResaved), 0) << KernelLog();
  EXPECT_EQ(KxCheckSavedFile(csResaved, VarnoxCatalogue(), EngineTypes()).problems.size(), 0u);
  KxSavedHeader header;  // saved in the current format, with its type's fingerprint
  std::memcpy(&header, Slurp(csResaved).data(), sizeof header);
  EXPECT_EQ(header.formatVersion, KxSavedHeader::kFormatVersion);
  EXPECT_EQ(header.schema, KxFileTypeFingerprint(EngineFileType("FT_GLOBALS")));
  EXPECT_EQ(OpenAs("FT_GLOBALS", write(2, uiPosition, "-v2")), KxOpenCorrupted);
  const uint32_t uiOther = uiPosition == 0 ? 1 : 0;
  EXPECT_EQ(OpenAs("FT_GLOBALS", write(1, uiOther, "-other")), KxOpenCorrupted);
}

INSTANTIATE_TEST_SUITE_P(EveryContainerKind, PositionalTypeFile,
                         ::testing::ValuesIn(kPositionalTypes), NameOfCase);

// The first free block of the distances taken off its free list as if
// allocated, and named by no structure.
void LoseABlock(SavedImage& i) {
  const size_t uiHead = i.FirstFreeHead(kDistances);
  const uint32_t uiBlock = i.Word(uiHead);
  const size_t uiUsed = i.MemberAt(kDistances) + offsetof(KxSavedMember, usedUnits);
  i.SetWord(uiUsed, i.Word(uiUsed) + i.Word(i.UnitAt(kDistances, uiBlock) - 8));
  i.SetWord(uiHead, i.Word(i.UnitAt(kDistances, uiBlock)));
  i.Put(i.UnitAt(kDistances, uiBlock) - 4, KxSegment::kBlockMagic);
}

// Open does not let an exception out into the library: a saved file larger
// than the memory the process may take (its address space limited, in a
// child) is refused as unreadable, the log names the failure, and the
// process carries on. Sanitizers reserve address space of their own: the
// limit cannot be set under them.
TEST(KernelEntryPoint, AnAllocationFailureBecomesTheSlotsFailure) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the address space cannot be limited under a sanitizer";
#endif
  const std::string csPath = Scratch("larger-than-memory.orb");
  Spit(csPath, Good().substr(0, sizeof(KxSavedHeader)));
  ASSERT_EQ(truncate(csPath.c_str(), off_t{4} << 30), 0);  // sparse: takes no disk
  const int iExit =
      ForkedChild([&] {
        long lPages = 0;
        std::ifstream("/proc/self/statm") >> lPages;
        const rlim_t uiLimit =
            static_cast<rlim_t>(lPages) * sysconf(_SC_PAGESIZE) + (rlim_t{256} << 20);
        const rlimit limit{uiLimit, uiLimit};
        if (setrlimit(RLIMIT_AS, &limit) != 0) return 2;
        const int32_t iId = OpenAs("FT_GLOBALS", csPath);
        const bool bLogged =
            KernelLog().find("FileOpen failed: std::bad_alloc") != std::string::npos;
        return iId == KxOpenIoError && bLogged ? 0 : 1;
      }).Wait();
  EXPECT_EQ(iExit, 0) << "refused otherwise, not logged, or an exception escaped:\n" << KernelLog();
}

// A saved file that is there but cannot be read is not a missing file: open
// refuses it even when asked to create, so that no save can replace it with
// an empty file.
TEST(CorruptFile, AnUnreadableFileIsNotReplacedWhenCreateIsAsked) {
  const std::string csDirectory = Scratch("a-directory.orb");
  const std::string csLoop = Scratch("a-loop.orb");
  std::filesystem::create_directory(csDirectory);
  std::filesystem::create_symlink(csLoop, csLoop);
  for (const std::string& csPath : {csDirectory, csLoop}) {
    SCOPED_TRACE(csPath);
    const size_t uiLogBefore = KernelLog().size();
    EXPECT_EQ(OpenAs("FT_GLOBALS", csPath), KxOpenIoError);
    EXPECT_NE(KernelLog().find(csPath + " refused (-7): cannot read " + csPath, uiLogBefore),
              std::string::npos)
        << KernelLog().substr(uiLogBefore);
  }
  EXPECT_TRUE(std::filesystem::is_directory(csDirectory));
  EXPECT_TRUE(std::filesystem::is_empty(csDirectory));
  EXPECT_TRUE(std::filesystem::is_symlink(csLoop));
  EXPECT_EQ(EntriesWith(Scratch("live"), "seg"), std::vector<std::string>{});
}

// A process killed while adding or removing an element, with another still
// attached that saves afterwards, leaves a map half changed (a node hashed
// but never linked, a count, tail or previous link not yet moved), or an
// older build hashed its keys otherwise. Only the chain of nodes is trusted
// at load and the rest is rebuilt from it, so such maps work, as the
// undamaged file's do; saved again unchanged, each file keeps its size (what
// the load rebuilds takes no new storage) and the full check finds it whole.
// A block lost in a saved file (by a build that never reclaimed one) is
// reclaimed when the file is loaded.
TEST(CorruptFile, MapsLeftHalfChangedAreRebuiltAtLoad) {
  const SavedImage good(Good());
  const size_t uiSlot = good.ContainerAt(kDistances);
  const uint32_t uiFirst = good.Head(uiSlot);
  const uint32_t uiMask = good.Word(uiSlot + kMapBucketCount) - 1;
  const size_t uiBuckets = good.UnitAt(kDistances, good.Word(uiSlot + kMapBuckets));
  auto bucketOf = [&](const SavedImage& image, uint32_t uiNode) {
    return uiBuckets + 4 * (image.Word(image.UnitAt(kDistances, uiNode) + kNodePart +
                                       offsetof(KxNodeKernelPart, hash)) &
                            uiMask);
  };
  // The node of the distance removed before the save heads the free list of
  // node blocks, its key and hash still in place.
  const uint32_t uiNodeUnits = good.Word(good.UnitAt(kDistances, uiFirst) - 8);
  const size_t uiNodeClass =
      good.MemberAt(kDistances) + offsetof(KxSavedMember, freeHeads) + 4 * (uiNodeUnits / 2 - 1);
  const uint32_t uiRemoved = good.Word(uiNodeClass);
  ASSERT_NE(uiRemoved, 0u);
  ASSERT_EQ(good.Word(good.UnitAt(kDistances, uiRemoved)), 0u);  // the end of the list: signature 0

  auto word = [](size_t uiAt, uint32_t uiValue) {
    return [uiAt, uiValue](SavedImage& image) { image.Put(uiAt, uiValue); };
  };
  const uint32_t uiSecond = good.Second(kDistances);
  size_t uiHeldBucket = uiBuckets;  // a bucket that holds a node
  while (good.Word(uiHeldBucket) == 0) uiHeldBucket += 4;
  const size_t uiParameter = good.UnitAt(kParameters, good.Head(good.ContainerAt(kParameters)));
  const std::vector<std::pair<const char*, Damager>> states = {
      {"undamaged", Untouched},
      {"a-block-lost", LoseABlock},
      {"count-not-moved", word(uiSlot + kSlotCount, 5)},
      {"tail-outside", word(uiSlot + kMapTail, kFarAway)},
      {"previous-outside", word(good.UnitAt(kDistances, uiSecond) + kNodePrev, kFarAway)},
      {"bucket-outside", word(uiHeldBucket, kFarAway)},
      {"hashed-by-an-older-scheme",
       [](SavedImage& image) {
         // Another scheme word, and tables (here emptied) that lead nowhere.
         for (size_t uiMember : {kDistances, kParameters}) {
           const size_t uiMap = image.ContainerAt(uiMember);
           image.SetWord(uiMap + kMapScheme, 0);
           const uint32_t uiTable = image.Word(uiMap + kMapBuckets);
           for (uint32_t b = 0; b < image.Word(uiMap + kMapBucketCount); ++b)
             image.SetWord(image.UnitAt(uiMember, uiTable + b), 0);
         }
         image.Reseal();
       }},
      {"key-copy-differs",
       word(uiParameter + kNodePart + offsetof(KxNodeKernelPart, keyStart), 0x2A2A2A2A)},
      {"hashed-not-linked",
       [&](SavedImage& image) {
         // Allocated and hashed, not yet linked: a live block off the free list.
         image.SetWord(uiNodeClass, 0);
         image.SetWord(image.UnitAt(kDistances, uiRemoved) - 4, KxSegment::kBlockMagic);
         const size_t uiBucket = bucketOf(image, uiRemoved);
         image.SetWord(image.UnitAt(kDistances, uiRemoved) + kNodeHashNext, image.Word(uiBucket));
         image.SetWord(uiBucket, uiRemoved);
         image.Reseal();
       }},
  };
  for (const auto& [csState, damage] : states) {
    SCOPED_TRACE(csState);
    const std::string csPath = WriteDamaged(std::string("midway-") + csState, damage);
    CkxVarnoxFT_GLOBALS file;
    ASSERT_TRUE(OpenNative(file, csPath, "rw", false)) << KernelLog();
    const std::string csAgain = Scratch(std::string("again-") + csState + ".orb");
    ASSERT_TRUE(file.Save(0, false, csAgain));
    EXPECT_EQ(Slurp(csAgain).size(), Good().size());
    EXPECT_EQ(Problems(KxCheckSavedFile(csAgain, VarnoxCatalogue(), EngineTypes())), "");
    EXPECT_EQ(file.m_PoolConfig.m_Container->Lanes.GetCount(), 8u);
    auto& distances = file.m_DistancesDefault.m_Container;
    EXPECT_EQ(distances.GetCount(), 6u);
    for (int iMeters : {50, 100, 200, 400, 800, 1500}) {
      const uint32_t uiHandle = distances(D2MapCmd::Find, iMeters, nullptr);
      ASSERT_NE(uiHandle, 0u) << iMeters;
      EXPECT_EQ(distances[uiHandle].Distance, iMeters);
    }
    EXPECT_EQ(distances(D2MapCmd::Find, 9999, nullptr), 0u);  // removed before the save
    auto& parameters = file.m_Parameters.m_Container;
    EXPECT_NE(parameters(D2MapCmd::Find, 0, "Pool"), 0u);
    // An Add of a present key answers its node instead of adding a twin.
    EXPECT_EQ(parameters(D2MapCmd::Add, 0, "MeetName"), parameters(D2MapCmd::Find, 0, "MeetName"));
    EXPECT_EQ(parameters.GetCount(), 2u);
    const uint32_t uiAdded = distances(D2MapCmd::Add, 7777, nullptr);
    ASSERT_NE(uiAdded, 0u);
    EXPECT_EQ(distances(D2MapCmd::Find, 7777, nullptr), uiAdded);
    EXPECT_EQ(distances(D2MapCmd::Remove, 7777, nullptr), uiAdded);
    EXPECT_EQ(distances(D2MapCmd::RemoveAt, uiFirst, nullptr), uiFirst);
    EXPECT_TRUE(file.Save(0, true, ""));
    EXPECT_TRUE(file.UnLoad());
    EXPECT_TRUE(OpenNative(file, csPath, "rw", false)) << KernelLog();
    EXPECT_EQ(file.m_DistancesDefault.m_Container.GetCount(), 5u);
    file.UnLoad();
  }
}

#ifdef VARNOX_TOOL
// The tool on a file the kernel refuses, and without a command: it says what
// is wrong with which file and fails, never aborts.
struct ToolCase {
  const char* csName;
  Damager damage;
  const char* csCommand;  // on the damaged file (an export writes out.xml); null: none
  int iExit;
  std::vector<std::string> says;  // on standard output or error; "FILE": the damaged file
};

class ToolOnDamagedFile : public ::testing::TestWithParam<ToolCase> {};

TEST_P(ToolOnDamagedFile, SaysWhatIsWrongWithWhichFile) {
  const ToolCase& tool = GetParam();
  const std::string csPath = WriteDamaged(std::string("tool-") + tool.csName, tool.damage);
  std::vector<std::string> argv{VARNOX_TOOL};
  if (tool.csCommand != nullptr) argv.insert(argv.end(), {tool.csCommand, csPath});
  if (argv.size() > 1 && argv[1] == "export") argv.push_back("out.xml");

  const TkChildResult result = TkRunProgram(argv);
  EXPECT_TRUE(result.exited) << "signal " << result.signal;
  EXPECT_EQ(result.exitCode, tool.iExit) << result.err;
  for (const std::string& csText : tool.says) {
    EXPECT_NE((result.out + result.err).find(csText == "FILE" ? csPath : csText), std::string::npos)
        << csText << " not in:\n"
        << result.out << result.err;
  }
}

const Damager kForeign = [](SavedImage& image) { image.Bytes().assign(300, 'x'); };

const ToolCase kToolCases[] = {
    {"no-command", Untouched, nullptr, 2, {"usage: varnox"}},
    {"truncated",
     Cut([](const SavedImage&) { return size_t{1000}; }),
     "info",
     1,
     {"cannot open ", "FILE", ": truncated: ", "1000 bytes"}},
    {"checksum",
     Flip([](const SavedImage& i) { return i.Size() / 2; }),
     "export",
     1,
     {"FILE", ": corrupted: ", "checksum mismatch"}},
    {"foreign", kForeign, "info", 1, {"FILE", ": not a Varnox file"}},
    {"check-foreign", kForeign, "check", 1, {"not a saved kernel file"}},
    {"bad-structure",
     [](SavedImage& i) { i.Put(i.ContainerAt(kDistances) + kSlotHead, kFarAway); },
     "export",
     1,
     {"FILE", ": corrupted: ", "DistancesDefault[node at unit ", "chain leaves its storage"}},
    {"check-whole", Untouched, "check", 0, {"FILE", " (saved file, FT_GLOBALS): whole\n"}},
    {"check-lost-block",
     LoseABlock,
     "check",
     1,
     {"FILE", ": DistancesDefault: the live block at unit ", "named by no structure",
      " (saved file, FT_GLOBALS): 1 problem\n"}},
};

INSTANTIATE_TEST_SUITE_P(Tool, ToolOnDamagedFile, ::testing::ValuesIn(kToolCases), NameOfCase);

// `varnox check` on a file this process holds open checks its live data.
TEST(CheckTool, ChecksTheLiveDataOfAFileHeldOpen) {
  const std::string csPath = FreshDir("check-live") + "/globals.orb";
  std::shared_ptr<KxLiveFile> pFile = EngineOpen(csPath, "FT_GLOBALS", true);
  {
    KxSegmentLock lock(pFile->Segment(kRecords));
    pFile->Segment(kRecords).Allocate(100);  // named by no structure
  }
  std::string csWhy;
  ASSERT_TRUE(pFile->Save("", false, csWhy)) << csWhy;
  const TkChildResult result = TkRunProgram({VARNOX_TOOL, "check", csPath});
  EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
  for (const char* csText :
       {": Records: the live block at unit ", " (live data, open in a process, FT_GLOBALS): 1 "})
    EXPECT_NE(result.out.find(csText), std::string::npos) << csText << " not in:\n" << result.out;
}

#endif

enum SaveOp { kWrite, kFsync, kRename, kFsyncDir, kSaveOps };
const char* const kOpNames[kSaveOps] = {"write", "fsync", "rename", "directory fsync"};

enum class Fault {
  kError,        // the call fails (ENOSPC for a write, EIO otherwise)
  kNoProgress,   // a write that writes nothing
  kInterrupted,  // a write interrupted before it wrote anything (EINTR)
  kKilled,       // the process dies at the call (as SIGKILL would end it)
};
constexpr int kKilledExit = 77;

// Writes go out in pieces of this size, so that a save makes many writes
// and a short write is the normal case.
constexpr size_t kWriteChunk = 4096;

// What the seam saw during one save, and the fault it injects: call
// `iFailAt` (1-based) of operation `eFailOp`.
struct SeamRecord {
  SaveOp eFailOp = kWrite;
  int iFailAt = 0;  // 0: no fault
  Fault eFault = Fault::kError;
  int aCalls[kSaveOps] = {};
  std::vector<std::pair<int, off_t>> writes;  // descriptor and file offset of each write
  std::vector<int> fsyncs;                    // descriptor of each fsync
};
SeamRecord g_Seam;

// Starts a new record for the next save, failing call `iFailAt` of `eOp`.
void Inject(SaveOp eOp, int iFailAt, Fault eFault) {
  g_Seam = SeamRecord{};
  g_Seam.eFailOp = eOp;
  g_Seam.iFailAt = iFailAt;
  g_Seam.eFault = eFault;
}

bool Fires(SaveOp eOp) {
  const bool bFires = ++g_Seam.aCalls[eOp] == g_Seam.iFailAt && g_Seam.eFailOp == eOp;
  if (bFires && g_Seam.eFault == Fault::kKilled) _exit(kKilledExit);
  return bFires;
}

ssize_t SeamWrite(int iFd, const void* p, size_t uiBytes) {
  g_Seam.writes.emplace_back(iFd, lseek(iFd, 0, SEEK_CUR));
  if (Fires(kWrite)) {
    switch (g_Seam.eFault) {
      case Fault::kError:
        errno = ENOSPC;
        return -1;
      case Fault::kNoProgress:
        return 0;
      case Fault::kInterrupted:
        errno = EINTR;
        return -1;
      case Fault::kKilled:
        break;
    }
  }
  return ::write(iFd, p, std::min(uiBytes, kWriteChunk));
}

// The fsync, rename and directory fsync: EIO when the fault fires, else the
// system call.
template <SaveOp eOp, auto call, class... A>
int SeamCall(A... args) {
  if (!Fires(eOp)) return call(args...);
  errno = EIO;
  return -1;
}

int SeamFsync(int iFd) {
  g_Seam.fsyncs.push_back(iFd);
  return SeamCall<kFsync, ::fsync>(iFd);
}

const KxFileIo kSeam{SeamWrite, SeamFsync, SeamCall<kRename, ::rename, const char*, const char*>,
                     SeamCall<kFsyncDir, ::fsync, int>};

// Where a save goes: the file's own path (keeping the old file as .bak or
// not), or another path that holds no file yet.
struct Target {
  const char* csName;
  bool bKeepOld;
  bool bAnotherPath;
};
void PrintTo(const Target& target, std::ostream* pOut) { *pOut << target.csName; }
const Target kTargets[] = {
    {"OwnPath", false, false}, {"OwnPathKeepingOld", true, false}, {"AnotherPath", false, true}};

constexpr uint32_t kCompetitors = 150;

class SaveFault : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    KxSaveIo() = kSeam;
    m_csDir = FreshDir("save-" + std::to_string(++s_iTests));
    m_csPath = m_csDir + "/competitors.orb";
    m_pFile = EngineOpen(m_csPath, "FT_COMPETITORS", true);
    m_pCompetitors = std::make_unique<EngineCompetitors>(*m_pFile);
    m_pCompetitors->Set(kCompetitors, m_iGeneration);
    std::string csWhy;
    ASSERT_TRUE(m_pFile->Save("", false, csWhy)) << csWhy;
  }

  void TearDown() override {
    KxSaveIo() = KxSystemIo();
    m_pCompetitors.reset();
    m_pFile.reset();
  }

  std::string TargetPath() const {
    return GetParam().bAnotherPath ? m_csDir + "/another.orb" : m_csPath;
  }

  bool Save(std::string& csWhy) {
    return m_pFile->Save(GetParam().bAnotherPath ? TargetPath() : "", GetParam().bKeepOld, csWhy);
  }

  // Saves the current content to reference.orb; answers how many writes
  // the save made.
  int WritesPerSave() {
    std::string csWhy;
    Inject(kWrite, 0, Fault::kError);
    if (!m_pFile->Save(m_csDir + "/reference.orb", false, csWhy)) throw std::runtime_error(csWhy);
    return g_Seam.aCalls[kWrite];
  }

  // Changes the content, then saves with call `iFailAt` of `eOp` failing
  // (or, for kKilled, the saving process dying there, in a child), and
  // checks the failed save, the files it left and the save after it.
  void FailOneSave(SaveOp eOp, int iFailAt, Fault eFault) {
    SCOPED_TRACE(std::string(kOpNames[eOp]) + " " + std::to_string(iFailAt) + " of the save " +
                 (eFault == Fault::kKilled ? "kills it" : "fails"));
    const bool bExists = std::filesystem::exists(TargetPath());
    const std::string old = Slurp(TargetPath());  // "" when there is none
    m_pCompetitors->Set(kCompetitors, ++m_iGeneration);
    // What the target holds after a save of the new content.
    WritesPerSave();
    const std::string fresh = Slurp(m_csDir + "/reference.orb");
    ASSERT_NE(fresh, old);

    Inject(eOp, iFailAt, eFault);
    std::string csWhy;
    if (eFault == Fault::kKilled) {
      ASSERT_EQ(ForkedChild([&] { return Save(csWhy) ? 0 : 1; }).Wait(), kKilledExit);
    } else {
      EXPECT_FALSE(Save(csWhy));
      EXPECT_NE(csWhy.find(std::string(kOpNames[eOp]) + " failed"), std::string::npos) << csWhy;
      // The save stopped at the failed call.
      EXPECT_EQ(g_Seam.aCalls[eOp], iFailAt);
      for (int iOp = eOp + 1; iOp < kSaveOps; ++iOp) {
        EXPECT_EQ(g_Seam.aCalls[iOp], 0) << kOpNames[iOp];
      }
    }
    if (eOp == kFsync && eFault != Fault::kKilled) {
      // Never retried: the descriptor is closed and the data written again
      // by the next save, into a new temporary file.
      ASSERT_EQ(g_Seam.fsyncs.size(), 1u);
      EXPECT_EQ(fcntl(g_Seam.fsyncs[0], F_GETFD), -1);
    }
    if (eOp == kFsyncDir) {
      // The rename has replaced the target with the new file, whole: the
      // old file cannot come back by any atomic step. The save still fails,
      // because the new name may not survive a power cut (which would bring
      // back the old file, whole); the caller must save again.
      EXPECT_TRUE(Slurp(TargetPath()) == fresh);
    } else if (bExists) {
      EXPECT_TRUE(Slurp(TargetPath()) == old) << "the old file was changed";
    } else {
      EXPECT_FALSE(std::filesystem::exists(TargetPath())) << "a failed save made a file";
    }
    if (GetParam().bKeepOld) {
      EXPECT_TRUE(Slurp(TargetPath() + ".bak") == old);
    }
    // A killed save leaves its temporary file for the next save to remove.
    if (eFault != Fault::kKilled) {
      EXPECT_EQ(EntriesWith(m_csDir, ".saving."), std::vector<std::string>{});
    }

    // The next save writes a new temporary file from its first byte, fsyncs
    // it once and succeeds.
    Inject(kWrite, 0, Fault::kError);
    ASSERT_TRUE(Save(csWhy)) << csWhy;
    ASSERT_FALSE(g_Seam.writes.empty());
    const int iFd = g_Seam.writes.front().first;
    off_t liExpected = 0;
    for (const auto& [iWriteFd, liOffset] : g_Seam.writes) {
      EXPECT_EQ(iWriteFd, iFd);
      EXPECT_EQ(liOffset, liExpected);
      liExpected = std::min<off_t>(liExpected + static_cast<off_t>(kWriteChunk),
                                   static_cast<off_t>(fresh.size()));
    }
    EXPECT_EQ(g_Seam.fsyncs, std::vector<int>{iFd});
    // (The recovery after a kill may lay the storage out otherwise.)
    if (eFault != Fault::kKilled) {
      EXPECT_TRUE(Slurp(TargetPath()) == fresh);
    }
    EXPECT_EQ(EntriesWith(m_csDir, ".saving."), std::vector<std::string>{});
    if (GetParam().bAnotherPath) std::filesystem::remove(TargetPath());
  }

  static int s_iTests;
  std::string m_csDir;
  std::string m_csPath;
  std::shared_ptr<KxLiveFile> m_pFile;
  std::unique_ptr<EngineCompetitors> m_pCompetitors;
  int32_t m_iGeneration = 1;
};

int SaveFault::s_iTests = 0;

// A save whose write, fsync, rename or directory fsync fails (a write also
// by making no progress), or that is killed at any call of the seam (before
// the first write, between writes, before the fsync, the rename or the
// directory fsync), leaves the old file, or once renamed the new one, whole;
// the next save clears up after it.
TEST_P(SaveFault, EveryFailedOrKilledCallFailsTheSave) {
  const int iWrites = WritesPerSave();
  ASSERT_GT(iWrites, 8) << "the file is too small to fail many writes";
  RecordProperty("writes_per_save", iWrites);
  for (Fault eFault : {Fault::kError, Fault::kNoProgress, Fault::kKilled}) {
    for (SaveOp eOp : {kWrite, kFsync, kRename, kFsyncDir}) {
      if (eOp != kWrite && eFault == Fault::kNoProgress) continue;
      for (int iFailAt = 1; iFailAt <= (eOp == kWrite ? iWrites : 1); ++iFailAt) {
        FailOneSave(eOp, iFailAt, eFault);
        if (HasFatalFailure()) return;
      }
    }
  }
}

// A write interrupted before it wrote anything is not a fault: the save
// carries on and writes the same bytes as an uninterrupted one.
TEST_P(SaveFault, InterruptedWritesAreResumed) {
  const int iWrites = WritesPerSave();
  const std::string reference = Slurp(m_csDir + "/reference.orb");
  for (int iFailAt : {1, iWrites / 2, iWrites}) {
    Inject(kWrite, iFailAt, Fault::kInterrupted);
    std::string csWhy;
    EXPECT_TRUE(Save(csWhy)) << csWhy;
    EXPECT_EQ(g_Seam.aCalls[kWrite], iWrites + 1);
    EXPECT_TRUE(Slurp(TargetPath()) == reference);
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, SaveFault, ::testing::ValuesIn(kTargets), NameOfCase);

// A save or an export cut short by a crash leaves its temporary file; the
// next save or export beside it removes those whose process is gone, and
// leaves those of running processes and every other file alone.
TEST(SaveFaultSeam, TemporaryFilesOfDeadProcessesAreRemoved) {
  const std::string csDir = FreshDir("abandoned");
  const std::string csPath = csDir + "/competitors.orb";
  std::shared_ptr<KxLiveFile> pFile = EngineOpen(csPath, "FT_COMPETITORS", true);
  EngineCompetitors(*pFile).Set(3, 1);
  ForkedChild dead([] { return 0; });
  ASSERT_EQ(dead.Wait(), 0);
  const std::string csDead = std::to_string(dead.Pid());
  const std::vector<std::string> kept = {csPath + ".saving.1", csPath + ".saving.x" + csDead,
                                         csDir + "/other.orb.saving." + csDead,
                                         csDir + "/meet.xml.part.1"};
  for (const std::string& csName :
       {csPath + ".saving." + csDead, csDir + "/meet.xml.part." + csDead}) {
    Spit(csName, "123");
  }
  for (const std::string& csName : kept) Spit(csName, "4");

  std::string csWhy;
  ASSERT_TRUE(pFile->Save("", false, csWhy)) << csWhy;
  EXPECT_FALSE(std::filesystem::exists(csPath + ".saving." + csDead));
  EXPECT_TRUE(std::filesystem::exists(csDir + "/meet.xml.part." + csDead)) << "not beside the save";
  ASSERT_TRUE(KxExportXml(*pFile, kKxWholeFile, csDir + "/meet.xml", csWhy)) << csWhy;
  EXPECT_FALSE(std::filesystem::exists(csDir + "/meet.xml.part." + csDead));
  for (const std::string& csName : kept) EXPECT_TRUE(std::filesystem::exists(csName)) << csName;
}

}  // namespace
