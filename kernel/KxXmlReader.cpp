// XML import of kernel files: the reader. libxml2's SAX interface (no
// network, no DTD, no entity substitution; a document type declaration stops
// the parser at once) fills a staged copy of the whole content and checks it.
#include <libxml/SAX2.h>
#include <libxml/xmlerror.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "contracts/kernel/KxText.h"
#include "contracts/kernel/KxXmlQuiet.h"
#include "kernel/KxXmlImport.h"

namespace KxXmlDetail {

bool KxTagScanner::Feed(const char* p, size_t uiLength) {
  for (size_t i = 0; i < uiLength; ++i) {
    const char c = p[i];
    switch (m_eState) {
      case State::kText:
        if (c == '<') m_eState = State::kOpen;
        break;
      case State::kOpen:
        m_uiAttributes = 0;
        m_eState = c == '!'   ? State::kBang
                   : c == '?' ? State::kPi
                   : c == '>' ? State::kText
                              : State::kTag;
        break;
      case State::kTag:
        if (c == '"' || c == '\'') {
          m_cQuote = c;
          m_eState = State::kQuote;
        } else if (c == '=' && ++m_uiAttributes > m_uiMax) {
          return false;
        } else if (c == '>') {
          m_eState = State::kText;
        }
        break;
      case State::kQuote:
        if (c == m_cQuote) m_eState = State::kTag;
        break;
      case State::kBang:
        m_eState = c == '-'   ? State::kBangDash
                   : c == '[' ? State::kCDataOpen
                   : c == '>' ? State::kText
                              : State::kDecl;
        break;
      case State::kBangDash:
        m_eState = c == '-' ? State::kComment : State::kDecl;
        break;
      case State::kCDataOpen:
        if (c == '[') m_eState = State::kCData;
        break;
      case State::kComment:
        if (c == '>' && m_aLast[0] == '-' && m_aLast[1] == '-') m_eState = State::kText;
        break;
      case State::kCData:
        if (c == '>' && m_aLast[0] == ']' && m_aLast[1] == ']') m_eState = State::kText;
        break;
      case State::kPi:
        if (c == '>' && m_aLast[1] == '?') m_eState = State::kText;
        break;
      case State::kDecl:  // a document type declaration: the parser refuses it
        if (c == '>') m_eState = State::kText;
        break;
    }
    m_aLast[0] = m_aLast[1];
    m_aLast[1] = c;
  }
  return true;
}

void KxXmlReader::Fail(const std::string& csWhy, bool bStop) {
  if (m_pContext != nullptr && bStop) {
    m_bStopped = true;
    xmlStopParser(m_pContext);
  }
  if (!m_csWhy.empty()) return;
  m_csWhy = csWhy;
  if (m_pContext != nullptr)
    m_csWhy += " (line " + std::to_string(xmlSAX2GetLineNumber(m_pContext)) + ")";
}

bool KxXmlReader::Read(int iFd, std::string& csWhy) {
  const KxQuietXmlErrors quiet;
  m_iFd = iFd;
  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = OnStart;
  sax.endElementNs = OnEnd;
  sax.characters = OnText;
  sax.cdataBlock = OnText;
  sax.internalSubset = OnDocumentType;
  sax.externalSubset = OnDocumentType;
  sax.entityDecl = OnEntityDecl;
  sax.reference = OnReference;
  sax.serror = OnError;
  m_pContext = xmlCreateIOParserCtxt(&sax, this, OnRead, OnClose, this, XML_CHAR_ENCODING_NONE);
  if (m_pContext == nullptr) {
    csWhy = "the XML parser cannot be started";
    return false;
  }
  // No network, no DTD loaded, no entity substituted; libxml2's own limits
  // on names, text nodes and nesting stay in force (no XML_PARSE_HUGE).
  xmlCtxtUseOptions(m_pContext, XML_PARSE_NONET);
  m_Frames.reserve(std::min<size_t>(m_Limits.uiMaxDepth, 256) + 2);
  m_Frames.push_back(Frame{FrameKind::kDocument});
  xmlParseDocument(m_pContext);
  const bool bWellFormed = m_pContext->wellFormed != 0;
  if (!bWellFormed && m_csParserWhy.empty()) {
    const xmlError* pError = xmlCtxtGetLastError(m_pContext);
    if (pError != nullptr && pError->message != nullptr) {
      m_csParserWhy = ParserMessage(pError);
    }
  }
  xmlFreeParserCtxt(m_pContext);
  m_pContext = nullptr;

  if (m_bTooLarge) {
    csWhy = "the document is larger than " + std::to_string(m_Limits.uiMaxDocumentBytes) + " bytes";
    return false;
  }
  if (!m_csWhy.empty() && (m_bStopped || bWellFormed)) {
    csWhy = m_csWhy;
    return false;
  }
  if (!bWellFormed) {
    csWhy = "not well-formed XML: " + (m_csParserWhy.empty() ? "unknown error" : m_csParserWhy);
    return false;
  }
  if (!m_bRootSeen) {
    csWhy = "the document has no kxfile element";
    return false;
  }
  return true;
}

int KxXmlReader::OnRead(void* pContext, char* pBuffer, int iLength) {
  KxXmlReader& reader = *static_cast<KxXmlReader*>(pContext);
  for (;;) {
    const ssize_t iRead = read(reader.m_iFd, pBuffer, static_cast<size_t>(iLength));
    if (iRead < 0 && errno == EINTR) continue;
    if (iRead < 0) {
      reader.Refuse(std::string("cannot read the document: ") + std::strerror(errno));
      return -1;
    }
    reader.m_uiBytesRead += static_cast<uint64_t>(iRead);
    if (reader.m_uiBytesRead > reader.m_Limits.uiMaxDocumentBytes) {
      reader.m_bTooLarge = true;
      return -1;
    }
    if (!reader.m_Scanner.Feed(pBuffer, static_cast<size_t>(iRead))) {
      // Said without a line: the parser has not reached these bytes yet.
      reader.Refuse("an element has more than " + std::to_string(reader.m_Limits.uiMaxAttributes) +
                    " attributes");
      return -1;
    }
    return static_cast<int>(iRead);
  }
}

void KxXmlReader::OnError(void* pContext, xmlErrorPtr pError) {
  KxXmlReader& reader = *static_cast<KxXmlReader*>(pContext);
  if (pError == nullptr || pError->level < XML_ERR_ERROR || !reader.m_csParserWhy.empty()) return;
  reader.m_csParserWhy = ParserMessage(pError);
}

void KxXmlReader::OnDocumentType(void* pContext, const xmlChar*, const xmlChar*, const xmlChar*) {
  static_cast<KxXmlReader*>(pContext)->Fail(
      "a document type declaration is refused (no DTD, no entities)", true);
}

void KxXmlReader::OnEntityDecl(void* pContext, const xmlChar* csName, int, const xmlChar*,
                               const xmlChar*, xmlChar*) {
  static_cast<KxXmlReader*>(pContext)->Fail(
      std::string("entity declaration ") + reinterpret_cast<const char*>(csName) + " is refused",
      true);
}

void KxXmlReader::OnReference(void* pContext, const xmlChar* csName) {
  static_cast<KxXmlReader*>(pContext)->Fail(
      std::string("entity reference &") + reinterpret_cast<const char*>(csName) + "; is refused",
      true);
}

void KxXmlReader::OnStart(void* pContext, const xmlChar* csName, const xmlChar* csPrefix,
                          const xmlChar* csUri, int iNamespaces, const xmlChar**, int iAttributes,
                          int, const xmlChar** aAttributes) {
  KxXmlReader& reader = *static_cast<KxXmlReader*>(pContext);
  if (!reader.m_csWhy.empty()) return;
  reader.Start(reinterpret_cast<const char*>(csName), csPrefix != nullptr || csUri != nullptr,
               iNamespaces, iAttributes, aAttributes);
}

void KxXmlReader::OnEnd(void* pContext, const xmlChar*, const xmlChar*, const xmlChar*) {
  KxXmlReader& reader = *static_cast<KxXmlReader*>(pContext);
  if (!reader.m_csWhy.empty()) return;
  reader.End();
}

void KxXmlReader::OnText(void* pContext, const xmlChar* pText, int iLength) {
  KxXmlReader& reader = *static_cast<KxXmlReader*>(pContext);
  if (!reader.m_csWhy.empty() || reader.m_Frames.empty()) return;
  const Frame& frame = reader.m_Frames.back();
  const char* p = reinterpret_cast<const char*>(pText);
  if (frame.eKind == FrameKind::kValue) {
    if (reader.m_Text.size() + static_cast<size_t>(iLength) > reader.m_Limits.uiMaxTextBytes) {
      reader.Fail(std::string("the text of ") + frame.csName + " is longer than " +
                  std::to_string(reader.m_Limits.uiMaxTextBytes) + " bytes");
      return;
    }
    reader.m_Text.append(p, static_cast<size_t>(iLength));
    return;
  }
  if (!std::all_of(p, p + iLength, IsXmlBlank))
    reader.Fail(std::string("text ") + Quoted(std::string(p, static_cast<size_t>(iLength))) +
                " where " + frame.csName + " holds only elements");
}

const std::string* KxXmlReader::FindAttribute(const char* csName) const {
  for (const Attribute& attribute : m_Attributes) {
    if (attribute.name == csName) return &attribute.value;
  }
  return nullptr;
}

bool KxXmlReader::OnlyAttributes(const char* csElement,
                                 std::initializer_list<const char*> allowed) {
  for (const Attribute& attribute : m_Attributes) {
    if (std::none_of(allowed.begin(), allowed.end(),
                     [&](const char* cs) { return attribute.name == cs; })) {
      Fail("unknown attribute " + std::string(attribute.name) + " on " + csElement);
      return false;
    }
  }
  return true;
}

void KxXmlReader::Start(const char* csName, bool bQualified, int iNamespaces, int iAttributes,
                        const xmlChar** aAttributes) {
  if (++m_uiElements > m_Limits.uiMaxElements) {
    Fail("the document has more than " + std::to_string(m_Limits.uiMaxElements) + " elements");
    return;
  }
  if (m_Staged.uiBytes > m_Limits.uiMaxStagedBytes) {
    Fail("the content takes more than " + std::to_string(m_Limits.uiMaxStagedBytes) +
         " bytes to hold while it is checked");
    return;
  }
  if (m_Frames.size() > m_Limits.uiMaxDepth) {
    Fail("elements nested deeper than " + std::to_string(m_Limits.uiMaxDepth));
    return;
  }
  if (bQualified || iNamespaces != 0) {
    Fail(std::string("element ") + csName + " is in a namespace; the format uses none");
    return;
  }
  // Attribute values come as [value, end); a '&' arrives as "&#38;" (the
  // parser leaves it for a tree builder to resolve), so it is resolved here.
  m_Attributes.clear();
  for (int a = 0; a < iAttributes; ++a) {
    const xmlChar** aOne = aAttributes + 5 * a;
    if (aOne[1] != nullptr || aOne[2] != nullptr) {
      Fail(std::string("attribute ") + reinterpret_cast<const char*>(aOne[0]) +
           " is in a namespace; the format uses none");
      return;
    }
    Attribute attribute{reinterpret_cast<const char*>(aOne[0]), {}};
    const char* p = reinterpret_cast<const char*>(aOne[3]);
    const char* pEnd = reinterpret_cast<const char*>(aOne[4]);
    attribute.value.reserve(static_cast<size_t>(pEnd - p));
    while (p < pEnd) {
      if (*p == '&' && pEnd - p >= 5 && std::memcmp(p, "&#38;", 5) == 0) {
        attribute.value += '&';
        p += 5;
      } else {
        attribute.value += *p++;
      }
    }
    if (attribute.value.size() > m_Limits.uiMaxTextBytes) {
      Fail("attribute " + std::string(attribute.name) + " is longer than " +
           std::to_string(m_Limits.uiMaxTextBytes) + " bytes");
      return;
    }
    m_Attributes.push_back(std::move(attribute));
  }

  Frame& top = m_Frames.back();
  switch (top.eKind) {
    case FrameKind::kDocument:
      StartRoot(csName);
      break;
    case FrameKind::kFile:
      StartMember(csName);
      break;
    case FrameKind::kRecord:
      StartField(top, csName);
      break;
    case FrameKind::kMap:
      StartEntry(top, csName);
      break;
    case FrameKind::kArray:
      StartItem(top, csName);
      break;
    case FrameKind::kValue:
      Fail(std::string("element ") + csName + " inside " + top.csName + ", which holds a value");
      break;
  }
}

void KxXmlReader::StartRoot(const char* csName) {
  if (std::strcmp(csName, kRootName) != 0) {
    Fail(std::string("the document is no kernel file (root element ") + csName + ", not " +
         kRootName + ")");
    return;
  }
  m_Frames.push_back(Frame{FrameKind::kFile});
  m_Frames.back().csName = kRootName;
  if (!OnlyAttributes(kRootName, {"family", "type", "version", "member"})) return;
  const std::string* pFamily = FindAttribute("family");
  const std::string* pType = FindAttribute("type");
  const std::string* pVersion = FindAttribute("version");
  if (pFamily == nullptr || pType == nullptr || pVersion == nullptr) {
    Fail("the kxfile element lacks family, type or version");
    return;
  }
  if (*pVersion != kFormatVersion) {
    Fail("format version " + Quoted(*pVersion) + " is unknown (this kernel reads " +
         kFormatVersion + ")");
    return;
  }
  if (*pFamily != m_FileType.family || *pType != m_FileType.name) {
    Fail("the document holds a file of type " + Quoted(*pFamily) + " " + Quoted(*pType) +
         "; the open file is " + m_FileType.family + " " + m_FileType.name);
    return;
  }
  if (const std::string* pMember = FindAttribute("member")) {
    Fail("the document holds member " + Quoted(*pMember) +
         " only; an import replaces the whole file and needs every member");
    return;
  }
  m_bRootSeen = true;
}

void KxXmlReader::PushRecord(const KxRecordType& type, size_t uiImage, const char* csName,
                             uint32_t uiMember) {
  Frame frame{FrameKind::kRecord};
  frame.pType = &type;
  frame.uiImage = uiImage;
  frame.csName = csName;
  frame.uiMember = uiMember;
  frame.uiSeenAt = m_Seen.size();
  m_Seen.resize(m_Seen.size() + (type.fieldCount + 63) / 64, 0);
  m_Frames.push_back(frame);
}

void KxXmlReader::StartMember(const char* csName) {
  uint32_t i = 0;
  while (i < m_FileType.memberCount && std::strcmp(m_FileType.members[i].name, csName) != 0) ++i;
  if (i == m_FileType.memberCount) {
    Fail(std::string("unknown member ") + csName + " (not of file type " + m_FileType.name + ")");
    return;
  }
  KxStagedMember& member = m_Staged.members[i];
  if (member.bSeen) {
    Fail(std::string("member ") + csName + " appears twice");
    return;
  }
  member.bSeen = true;
  const KxMemberClass& memberClass = *m_FileType.members[i].memberClass;
  const char* csMember = m_FileType.members[i].name;
  switch (memberClass.kind) {
    case KxMemberKind::kSingle:
      member.uiImage = m_Staged.NewImage(memberClass.element->size);
      PushRecord(*memberClass.element, member.uiImage, csMember, i);
      OnlyAttributes(csMember, {});
      return;
    case KxMemberKind::kMap:
    case KxMemberKind::kArray: {
      Frame frame{memberClass.kind == KxMemberKind::kMap ? FrameKind::kMap : FrameKind::kArray};
      frame.pType = memberClass.element;
      frame.eKey = memberClass.key;
      frame.csName = csMember;
      frame.uiMember = i;
      frame.uiContainer = NewContainer();
      member.uiContainer = frame.uiContainer + 1;
      m_Frames.push_back(frame);
      if (memberClass.kind == KxMemberKind::kArray) {
        OnlyAttributes(csMember, {});
        return;
      }
      if (!OnlyAttributes(csMember, {"case"})) return;
      if (const std::string* pCase = FindAttribute("case")) {
        if (memberClass.key != KxKeyKind::kText ||
            (*pCase != "insensitive" && *pCase != "sensitive")) {
          Fail(std::string("case ") + Quoted(*pCase) + " on " + csMember +
               " (only a text-keyed map takes case=\"insensitive\" or \"sensitive\")");
          return;
        }
        m_Frames.back().bNoCase = member.bNoCase = *pCase == "insensitive";
      }
      return;
    }
  }
}

void KxXmlReader::StartField(Frame& record, const char* csName) {
  const KxRecordType& type = *record.pType;
  uint32_t f = record.uiNextField;
  if (f >= type.fieldCount || std::strcmp(type.fields[f].name, csName) != 0) {
    f = 0;
    while (f < type.fieldCount && std::strcmp(type.fields[f].name, csName) != 0) ++f;
    if (f == type.fieldCount) {
      Fail(std::string("unknown field ") + csName + " in " + record.csName + " (a " + type.name +
           ")");
      return;
    }
  }
  uint64_t& uiSeen = m_Seen[record.uiSeenAt + f / 64];
  if ((uiSeen >> (f % 64)) & 1) {
    Fail(std::string("field ") + csName + " appears twice in " + record.csName);
    return;
  }
  uiSeen |= uint64_t{1} << (f % 64);
  record.uiNextField = f + 1;
  const KxRecordField& field = type.fields[f];
  const size_t uiAt = record.uiImage + field.offset;
  const uint32_t uiMember = record.uiMember;
  switch (field.kind) {
    case KxFieldKind::kRecord:
      PushRecord(*field.element, uiAt, field.name, uiMember);
      OnlyAttributes(field.name, {});
      return;
    case KxFieldKind::kMap:
    case KxFieldKind::kArray: {
      Frame frame{field.kind == KxFieldKind::kMap ? FrameKind::kMap : FrameKind::kArray};
      frame.pType = field.element;
      frame.eKey = field.key;
      frame.csName = field.name;
      frame.uiMember = uiMember;
      frame.uiContainer = NewContainer();
      m_Staged.SetWord(uiAt, frame.uiContainer + 1);
      m_Frames.push_back(frame);
      if (field.kind == KxFieldKind::kArray) {
        OnlyAttributes(field.name, {});
        return;
      }
      if (!OnlyAttributes(field.name, {"case"})) return;
      if (const std::string* pCase = FindAttribute("case")) {
        if (field.key != KxKeyKind::kText || (*pCase != "insensitive" && *pCase != "sensitive")) {
          Fail(std::string("case ") + Quoted(*pCase) + " on " + field.name +
               " (only a text-keyed map takes case=\"insensitive\" or \"sensitive\")");
          return;
        }
        if (*pCase == "insensitive") {
          m_Frames.back().bNoCase = true;
          m_Staged.SetWord(uiAt + 4, 1);
        }
      }
      return;
    }
    default: {
      Frame frame{FrameKind::kValue};
      frame.pField = &field;
      frame.csName = field.name;
      frame.uiImage = record.uiImage;
      frame.uiMember = uiMember;
      const bool bDynamic = field.kind == KxFieldKind::kStrDU || field.kind == KxFieldKind::kStrD;
      const bool bText = bDynamic || field.kind == KxFieldKind::kStrSU;
      m_Frames.push_back(frame);
      m_Text.clear();
      if (!bText) {
        OnlyAttributes(field.name, {});
        return;
      }
      if (!OnlyAttributes(field.name, {"form"})) return;
      if (const std::string* pForm = FindAttribute("form")) {
        if (*pForm == "hex") {
          m_Frames.back().uiForm = 1;
        } else if (*pForm == "unset" && bDynamic) {
          m_Frames.back().uiForm = 2;
        } else {
          Fail(std::string("form ") + Quoted(*pForm) + " on " + field.name + " (it takes " +
               (bDynamic ? "\"hex\" or \"unset\")" : "\"hex\")"));
        }
      }
      return;
    }
  }
}

void KxXmlReader::StartEntry(Frame& map, const char* csName) {
  if (std::strcmp(csName, kEntryName) != 0) {
    Fail(std::string("element ") + csName + " in map " + map.csName + " (a map holds only " +
         kEntryName + " elements)");
    return;
  }
  if (!OnlyAttributes(kEntryName, {"key", "hexkey"})) return;
  const std::string* pKey = FindAttribute("key");
  const std::string* pHexKey = FindAttribute("hexkey");
  if ((pKey == nullptr) == (pHexKey == nullptr)) {
    Fail(std::string("an entry of ") + map.csName + " needs exactly one of key and hexkey");
    return;
  }
  const size_t uiDepth = m_Frames.size();
  KxStagedEntry entry{0, 0, 0};
  if (map.eKey == KxKeyKind::kNumber) {
    if (pKey == nullptr) {
      Fail(std::string("hexkey on an entry of ") + map.csName + ", which has numeric keys");
      return;
    }
    const auto [pAfter, ec] =
        std::from_chars(pKey->data(), pKey->data() + pKey->size(), entry.uiKey);
    if (pKey->empty() || ec != std::errc() || pAfter != pKey->data() + pKey->size()) {
      Fail("key " + Quoted(*pKey) + " of " + map.csName + " is no number from 0 to " +
           std::to_string(UINT64_MAX));
      return;
    }
    if (m_NumberKeys.size() < uiDepth) m_NumberKeys.resize(uiDepth);
    auto& pKeys = m_NumberKeys[uiDepth - 1];
    if (!pKeys) pKeys = std::make_unique<std::unordered_set<uint64_t>>();
    if (!pKeys->insert(entry.uiKey).second) {
      Fail("key " + *pKey + " appears twice in " + map.csName);
      return;
    }
  } else {
    // A key is an identity: a character Windows-1252 cannot hold is refused
    // rather than replaced, which could merge two keys into one.
    std::string csKey;
    if (pKey != nullptr) {
      for (size_t i = 0; i < pKey->size();) {
        char32_t cp = 0;
        const int iByte =
            KxText::NextUtf8(pKey->data(), pKey->size(), i, cp) ? KxText::UnicodeToCp1252(cp) : -1;
        if (iByte < 0) {
          Fail("key " + Quoted(*pKey) + " of " + map.csName +
               " has a character Windows-1252 cannot hold");
          return;
        }
        csKey += static_cast<char>(iByte);
      }
    } else {
      uint64_t uiByte = 0;
      for (size_t i = 0; i < pHexKey->size(); i += 2) {
        if (pHexKey->size() % 2 != 0 || !ReadHex(pHexKey->data() + i, 2, uiByte) || uiByte == 0) {
          Fail("hexkey " + Quoted(*pHexKey) + " of " + map.csName +
               " is no even run of hex digits without 00");
          return;
        }
        csKey += static_cast<char>(uiByte);
      }
    }
    std::string csIdentity = csKey;
    if (map.bNoCase) {
      for (char& c : csIdentity) c = static_cast<char>(KxText::FoldCp1252(static_cast<uint8_t>(c)));
    }
    if (m_TextKeys.size() < uiDepth) m_TextKeys.resize(uiDepth);
    auto& pKeys = m_TextKeys[uiDepth - 1];
    if (!pKeys) pKeys = std::make_unique<std::unordered_set<std::string>>();
    if (!pKeys->insert(std::move(csIdentity)).second) {
      Fail("key " + Quoted(pKey != nullptr ? *pKey : *pHexKey) + " appears twice in " + map.csName +
           (map.bNoCase ? " (keys compared without case)" : ""));
      return;
    }
    Count(map.uiMember, csKey.size() + 1);
    entry.uiTextKey = m_Staged.NewText(std::move(csKey)) + 1;
  }
  const KxRecordType& element = *map.pType;
  entry.uiImage = m_Staged.NewImage(element.size);
  const size_t uiContainer = map.uiContainer;
  const uint32_t uiMember = map.uiMember;
  m_Staged.AddEntry(uiContainer, entry);
  Count(uiMember, sizeof(KxMapNode) + uint64_t{element.size});
  PushRecord(element, entry.uiImage, kEntryName, uiMember);
}

void KxXmlReader::StartItem(Frame& array, const char* csName) {
  if (std::strcmp(csName, kItemName) != 0) {
    Fail(std::string("element ") + csName + " in array " + array.csName + " (an array holds only " +
         kItemName + " elements)");
    return;
  }
  const KxRecordType& element = *array.pType;
  const size_t uiImage = m_Staged.NewImage(element.size);
  const uint32_t uiMember = array.uiMember;
  m_Staged.AddEntry(array.uiContainer, KxStagedEntry{0, 0, uiImage});
  PushRecord(element, uiImage, kItemName, uiMember);
  OnlyAttributes(kItemName, {});
}

void KxXmlReader::End() {
  if (m_Frames.size() <= 1) return;
  const Frame frame = m_Frames.back();
  switch (frame.eKind) {
    case FrameKind::kValue:
      FinishValue(frame);
      break;
    case FrameKind::kRecord:
      m_Seen.resize(frame.uiSeenAt);
      break;
    case FrameKind::kMap: {
      const size_t uiDepth = m_Frames.size();
      // The key sets of this depth serve the next map here; a large one is
      // dropped rather than cleared bucket by bucket for every small map.
      if (m_NumberKeys.size() >= uiDepth && m_NumberKeys[uiDepth - 1]) {
        auto& pKeys = m_NumberKeys[uiDepth - 1];
        if (pKeys->bucket_count() > 1024)
          pKeys.reset();
        else
          pKeys->clear();
      }
      if (m_TextKeys.size() >= uiDepth && m_TextKeys[uiDepth - 1]) {
        auto& pKeys = m_TextKeys[uiDepth - 1];
        if (pKeys->bucket_count() > 1024)
          pKeys.reset();
        else
          pKeys->clear();
      }
      m_Staged.members[frame.uiMember].uiUnits +=
          BucketUnits(m_Staged.containers[frame.uiContainer].entries.size());
      break;
    }
    case FrameKind::kArray: {
      const uint64_t uiCount = m_Staged.containers[frame.uiContainer].entries.size();
      if (uiCount > UINT32_MAX) {
        Fail(std::string("array ") + frame.csName + " has more elements than an array holds");
        return;
      }
      Count(frame.uiMember, std::max<uint64_t>(uiCount, 4) * frame.pType->size);
      break;
    }
    case FrameKind::kFile:
      for (uint32_t i = 0; i < m_FileType.memberCount; ++i) {
        if (!m_Staged.members[i].bSeen) {
          Fail(std::string("member ") + m_FileType.members[i].name + " (a " +
               KindName(m_FileType.members[i].memberClass->kind) + ") is missing");
          return;
        }
      }
      break;
    case FrameKind::kDocument:
      break;
  }
  m_Frames.pop_back();
}

// Decodes the current value's text into stored code units: UTF-16 (`bWide`)
// or Windows-1252 bytes, from UTF-8 or from the hex form.
bool KxXmlReader::ReadText(const Frame& frame, bool bWide, std::string& out) {
  out.clear();
  if (frame.uiForm == 1) {
    const int iDigits = bWide ? 4 : 2;
    if (m_Text.size() % static_cast<size_t>(iDigits) != 0) {
      Fail(std::string("hex text of ") + frame.csName + " is not in groups of " +
           std::to_string(iDigits) + " digits");
      return false;
    }
    for (size_t i = 0; i < m_Text.size(); i += static_cast<size_t>(iDigits)) {
      uint64_t uiUnit = 0;
      if (!ReadHex(m_Text.data() + i, iDigits, uiUnit)) {
        Fail(std::string("hex text of ") + frame.csName + " has a character that is no hex digit");
        return false;
      }
      if (bWide) {
        const char16_t u = static_cast<char16_t>(uiUnit);
        out.append(reinterpret_cast<const char*>(&u), 2);
      } else {
        out += static_cast<char>(uiUnit);
      }
    }
    return true;
  }
  // At most one UTF-16 unit (or one byte) per UTF-8 byte.
  out.resize(m_Text.size() * (bWide ? 2 : 1));
  char* pOut = out.data();
  for (size_t i = 0; i < m_Text.size();) {
    char32_t cp = 0;
    if (!KxText::NextUtf8(m_Text.data(), m_Text.size(), i, cp)) {
      Fail(std::string("text of ") + frame.csName + " is no valid UTF-8");
      return false;
    }
    if (!bWide) {
      const int iByte = KxText::UnicodeToCp1252(cp);
      *pOut++ = iByte < 0 ? KxText::kMissingAnsi : static_cast<char>(iByte);
      continue;
    }
    char16_t aUnits[2];
    const size_t uiUnits = KxText::EncodeUtf16(cp, aUnits);
    std::memcpy(pOut, aUnits, 2 * uiUnits);
    pOut += 2 * uiUnits;
  }
  out.resize(static_cast<size_t>(pOut - out.data()));
  return true;
}

void KxXmlReader::FinishValue(const Frame& frame) {
  const KxRecordField& field = *frame.pField;
  uint8_t* pAt = m_Staged.arena.data() + frame.uiImage + field.offset;
  const char* p = m_Text.data();
  const char* pEnd = p + m_Text.size();
  auto bad = [&](const char* csWhat) {
    Fail(std::string(field.name) + " " + Quoted(m_Text) + " is " + csWhat);
  };
  switch (field.kind) {
    case KxFieldKind::kInt32: {
      int64_t liValue = 0;
      if (!ParseInteger(p, pEnd, INT32_MIN, INT32_MAX, liValue))
        return bad("no whole number from -2147483648 to 2147483647");
      const int32_t iValue = static_cast<int32_t>(liValue);
      std::memcpy(pAt, &iValue, 4);
      return;
    }
    case KxFieldKind::kUInt32: {
      int64_t liValue = 0;
      if (!ParseInteger(p, pEnd, 0, UINT32_MAX, liValue))
        return bad("no whole number from 0 to 4294967295");
      const uint32_t uiValue = static_cast<uint32_t>(liValue);
      std::memcpy(pAt, &uiValue, 4);
      return;
    }
    case KxFieldKind::kBool: {
      int64_t liValue = 0;
      if (m_Text == "true") {
        liValue = 1;
      } else if (m_Text != "false" && !ParseInteger(p, pEnd, 0, 255, liValue)) {
        return bad("no bool (true, false or a byte value 0 to 255)");
      }
      *pAt = static_cast<uint8_t>(liValue);
      return;
    }
    case KxFieldKind::kDateTime: {
      uint64_t uiWord = 0;
      if (!ParseDateTime(m_Text, uiWord))
        return bad(
            "no date-time (YYYY-MM-DDThh:mm:ss.fffffff, then Z, L or nothing; or 0x and 16 hex "
            "digits)");
      std::memcpy(pAt, &uiWord, 8);
      return;
    }
    case KxFieldKind::kKxTime: {
      uint64_t uiWord = 0;
      if (!ParseKxTime(m_Text, uiWord))
        return bad("no time (null, [-]<0 to 8796093022207> P<0 to 7>, or 0x and 16 hex digits)");
      std::memcpy(pAt, &uiWord, 8);
      return;
    }
    case KxFieldKind::kFixedInt32:
    case KxFieldKind::kFixedUInt32: {
      const bool bSigned = field.kind == KxFieldKind::kFixedInt32;
      uint32_t uiCount = 0;
      bool bTooMany = false;
      while (true) {
        while (p < pEnd && IsXmlBlank(*p)) ++p;
        if (p == pEnd) break;
        const char* pWord = p;
        while (p < pEnd && !IsXmlBlank(*p)) ++p;
        int64_t liValue = 0;
        if (!ParseInteger(pWord, p, bSigned ? INT32_MIN : 0, bSigned ? INT32_MAX : UINT32_MAX,
                          liValue)) {
          return bad(bSigned ? "no list of whole numbers from -2147483648 to 2147483647"
                             : "no list of whole numbers from 0 to 4294967295");
        }
        if (uiCount == field.count) {
          bTooMany = true;
          break;
        }
        const uint32_t uiValue = static_cast<uint32_t>(liValue);
        std::memcpy(pAt + 4 * size_t{uiCount}, &uiValue, 4);
        ++uiCount;
      }
      if (bTooMany || uiCount != field.count) {
        Fail(std::string(field.name) + " needs exactly " + std::to_string(field.count) +
             " numbers");
      }
      return;
    }
    case KxFieldKind::kStrSU: {
      if (!ReadText(frame, true, m_Scratch)) return;
      const size_t uiUnits = m_Scratch.size() / 2;
      if (uiUnits > field.count) {
        Fail(std::string(field.name) + " has " + std::to_string(uiUnits) +
             " UTF-16 characters; its field holds " + std::to_string(field.count));
        return;
      }
      const uint16_t usLength = static_cast<uint16_t>(uiUnits);
      std::memcpy(pAt, &usLength, 2);
      std::memcpy(pAt + 2, m_Scratch.data(), m_Scratch.size());
      return;
    }
    case KxFieldKind::kStrDU:
    case KxFieldKind::kStrD: {
      if (frame.uiForm == 2) {
        if (!m_Text.empty()) Fail(std::string(field.name) + " is never written, yet has a text");
        return;  // the image's zero: never written
      }
      const bool bWide = field.kind == KxFieldKind::kStrDU;
      std::string csStored;
      if (!ReadText(frame, bWide, csStored)) return;
      if (csStored.size() / (bWide ? 2 : 1) + 1 > UINT32_MAX / 2) {
        Fail(std::string(field.name) + " is longer than a string holds");
        return;
      }
      if (!csStored.empty()) Count(frame.uiMember, csStored.size() + (bWide ? 2 : 1));
      const uint32_t aWords[2] = {1, m_Staged.NewText(std::move(csStored))};
      std::memcpy(pAt, aWords, sizeof aWords);
      return;
    }
    default:
      Fail(std::string("field ") + field.name + " is of a kind this kernel cannot read");
      return;
  }
}

}  // namespace KxXmlDetail
