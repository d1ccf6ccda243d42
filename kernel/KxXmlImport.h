// XML import of kernel files: the staged content, the reader that fills it
// from the document and checks it, and the rebuild that writes it into the
// open file.
#pragma once

#include <libxml/parser.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "contracts/kernel/KxComponent.h"
#include "kernel/KxLiveFile.h"
#include "kernel/KxXml.h"
#include "kernel/KxXmlForms.h"

namespace KxXmlDetail {

// Import: the staged content.
//
// A record is staged as an image of its own size. Plain fields (numbers,
// bools, dates, times, fixed arrays and fixed strings) hold in the image
// exactly the bytes the record will hold. The other fields hold a
// reference instead:
//   dynamic string  word 0: 0 never written, 1 written; word 1: text index
//   map             word 0: container index + 1 (0: no entries);
//                   word 1: 1 when keys are compared without case
//   array           word 0: container index + 1 (0: no elements)
//   record          laid out in place, like the record itself
// A zeroed image is therefore a record as a map Add lays it out.

struct KxStagedEntry {
  uint64_t uiKey;      // a numeric key
  uint32_t uiTextKey;  // text index + 1 of a text key, else 0
  size_t uiImage;      // offset of the element's image
};

struct KxStagedContainer {
  std::vector<KxStagedEntry> entries;
};

struct KxStagedMember {
  bool bSeen = false;
  size_t uiImage = 0;        // a single record's image
  uint32_t uiContainer = 0;  // a map's or array's container index + 1
  bool bNoCase = false;
  uint64_t uiUnits = 0;  // storage units the rebuild may allocate at most
};

struct KxStaged {
  std::vector<uint8_t> arena;  // record images, each on an 8-byte boundary
  std::vector<std::string> texts;
  std::vector<KxStagedContainer> containers;
  std::vector<KxStagedMember> members;

  uint64_t uiBytes = 0;  // held in all of the above, roughly

  size_t NewImage(uint32_t uiSize) {
    const size_t uiAt = arena.size();
    arena.resize(uiAt + ((size_t{uiSize} + 7) & ~size_t{7}));
    uiBytes += arena.size() - uiAt;
    return uiAt;
  }
  uint32_t NewText(std::string&& csText) {
    uiBytes += csText.size() + sizeof(std::string);
    texts.push_back(std::move(csText));
    return static_cast<uint32_t>(texts.size() - 1);
  }
  void AddEntry(size_t uiContainer, const KxStagedEntry& entry) {
    uiBytes += sizeof entry;
    containers[uiContainer].entries.push_back(entry);
  }
  uint32_t Word(size_t uiAt) const {
    uint32_t uiValue;
    std::memcpy(&uiValue, arena.data() + uiAt, 4);
    return uiValue;
  }
  void SetWord(size_t uiAt, uint32_t uiValue) { std::memcpy(arena.data() + uiAt, &uiValue, 4); }
};

// Counts the attributes of every tag in the bytes as they are read, so that
// an element with thousands of attributes is refused before the parser
// (which looks for duplicates pair by pair) spends quadratic time on it.
// Quoted values, comments, CDATA sections, processing instructions and
// declarations are stepped over.
class KxTagScanner {
 public:
  explicit KxTagScanner(uint32_t uiMaxAttributes) : m_uiMax(uiMaxAttributes) {}

  // False as soon as a tag has more attributes than allowed.
  bool Feed(const char* p, size_t uiLength);

 private:
  enum class State : uint8_t {
    kText,
    kOpen,
    kTag,
    kQuote,
    kBang,
    kBangDash,
    kComment,
    kCDataOpen,
    kCData,
    kPi,
    kDecl
  };
  State m_eState = State::kText;
  char m_cQuote = 0;
  char m_aLast[2] = {0, 0};  // the two bytes before, for "-->", "]]>" and "?>"
  uint32_t m_uiAttributes = 0;
  uint32_t m_uiMax;
};

class KxXmlReader {
 public:
  KxXmlReader(const KxFileType& fileType, const KxXmlLimits& limits)
      : m_FileType(fileType), m_Limits(limits), m_Scanner(limits.uiMaxAttributes) {
    m_Staged.members.resize(fileType.memberCount);
  }

  // Reads the whole document from `iFd`; false with the reason in `csWhy`.
  bool Read(int iFd, std::string& csWhy);
  const KxStaged& Staged() const { return m_Staged; }

 private:
  enum class FrameKind : uint8_t { kDocument, kFile, kRecord, kMap, kArray, kValue };
  struct Frame {
    FrameKind eKind;
    uint8_t uiForm = 0;                     // kValue: 0 text, 1 hex, 2 never written
    bool bNoCase = false;                   // kMap
    KxKeyKind eKey = KxKeyKind::kNone;      // kMap
    const char* csName = "";                // the element, for messages
    const KxRecordType* pType = nullptr;    // kRecord: its type; kMap, kArray: the element type
    const KxRecordField* pField = nullptr;  // kValue
    size_t uiImage = 0;                     // kRecord: its image; kValue: the record's image
    uint32_t uiContainer = 0;               // kMap, kArray: container index
    uint32_t uiMember = 0;
    size_t uiSeenAt = 0;       // kRecord: its fields' seen bits in m_Seen
    uint32_t uiNextField = 0;  // kRecord: the field expected next
  };

  // SAX callbacks.
  static void OnStart(void* pContext, const xmlChar* csName, const xmlChar* csPrefix,
                      const xmlChar* csUri, int iNamespaces, const xmlChar** aNamespaces,
                      int iAttributes, int iDefaulted, const xmlChar** aAttributes);
  static void OnEnd(void* pContext, const xmlChar* csName, const xmlChar* csPrefix,
                    const xmlChar* csUri);
  static void OnText(void* pContext, const xmlChar* pText, int iLength);
  static void OnDocumentType(void* pContext, const xmlChar*, const xmlChar*, const xmlChar*);
  static void OnEntityDecl(void* pContext, const xmlChar*, int, const xmlChar*, const xmlChar*,
                           xmlChar*);
  static void OnReference(void* pContext, const xmlChar* csName);
  static void OnError(void* pContext, xmlErrorPtr pError);
  static int OnRead(void* pContext, char* pBuffer, int iLength);
  static int OnClose(void*) { return 0; }

  void Start(const char* csName, bool bQualified, int iNamespaces, int iAttributes,
             const xmlChar** aAttributes);
  void End();
  void StartRoot(const char* csName);
  void StartMember(const char* csName);
  void StartField(Frame& record, const char* csName);
  void StartEntry(Frame& map, const char* csName);
  void StartItem(Frame& array, const char* csName);
  void PushRecord(const KxRecordType& type, size_t uiImage, const char* csName, uint32_t uiMember);
  void FinishValue(const Frame& frame);
  bool ReadText(const Frame& frame, bool bWide, std::string& out);

  // The attributes of the current element, decoded.
  struct Attribute {
    std::string_view name;
    std::string value;
  };
  bool OnlyAttributes(const char* csElement, std::initializer_list<const char*> allowed);
  const std::string* FindAttribute(const char* csName) const;

  // Records the first fault. The parser reads on (with every callback
  // ignored), so that a document that is also not well-formed is reported
  // as such; `bStop` stops it at once (a DTD, an entity, a read error).
  void Fail(const std::string& csWhy, bool bStop = false);
  // From the read callback: the parser stops on the read error it answers
  // (stopping it from inside its own read would pull its input away).
  void Refuse(const std::string& csWhy) {
    m_bStopped = true;
    if (m_csWhy.empty()) m_csWhy = csWhy;
  }
  uint32_t NewContainer() {
    m_Staged.containers.emplace_back();
    return static_cast<uint32_t>(m_Staged.containers.size() - 1);
  }
  void Count(uint32_t uiMember, uint64_t uiBytes) {
    m_Staged.members[uiMember].uiUnits += BlockUnits(uiBytes);
  }

  const KxFileType& m_FileType;
  const KxXmlLimits& m_Limits;
  KxTagScanner m_Scanner;
  KxStaged m_Staged;
  xmlParserCtxtPtr m_pContext = nullptr;
  std::vector<Frame> m_Frames;
  std::vector<uint64_t> m_Seen;
  std::vector<Attribute> m_Attributes;
  std::vector<std::unique_ptr<std::unordered_set<uint64_t>>> m_NumberKeys;
  std::vector<std::unique_ptr<std::unordered_set<std::string>>> m_TextKeys;
  std::string m_Text;
  std::string m_Scratch;
  std::string m_csWhy;
  std::string m_csParserWhy;
  int m_iFd = -1;
  uint64_t m_uiBytesRead = 0;
  uint64_t m_uiElements = 0;
  bool m_bTooLarge = false;
  bool m_bStopped = false;
  bool m_bRootSeen = false;
};

class KxXmlRebuild {
 public:
  KxXmlRebuild(const KxStaged& staged, KxSegment& segment, KxStore& store)
      : m_Staged(staged), m_Segment(segment), m_Store(store) {}

  bool Record(const KxRecordType& type, uint8_t* pRecord, size_t uiImage);
  bool Map(KxEmbeddedMap* pSlot, const KxRecordType& element, uint32_t uiContainer);
  bool Array(KxArrayHeader* pHeader, const KxRecordType& element, uint32_t uiContainer);

 private:
  const KxStaged& m_Staged;
  KxSegment& m_Segment;
  KxStore& m_Store;
};

}  // namespace KxXmlDetail
