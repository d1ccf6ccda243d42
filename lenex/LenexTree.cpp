// The XML stage of the reader (LenexTree.h).
#include "lenex/LenexTree.h"

#include <libxml/SAX2.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "contracts/kernel/KxXmlQuiet.h"

namespace Varnox::Lenex::Detail {

namespace {

// Whether the start tag whose name begins at p has at most uiMax
// attributes: its '=' outside quoted values, up to its '>', are counted.
bool TagWithin(const char* p, const char* pEnd, uint32_t uiMax) {
  // Comments, CDATA, declarations and processing instructions are skipped
  // to their first '>': a '=' there is no attribute, and an early '>' only
  // makes the scan count fewer, never more, than the parser would see.
  if (p < pEnd && (*p == '!' || *p == '?')) return true;
  uint32_t uiCount = 0;
  while (p < pEnd && *p != '>') {
    if (*p == '"' || *p == '\'') {
      const char cQuote = *p++;
      const void* pFound = std::memchr(p, cQuote, static_cast<size_t>(pEnd - p));
      p = pFound != nullptr ? static_cast<const char*>(pFound) + 1 : pEnd;
      continue;
    }
    if (*p == '=' && ++uiCount > uiMax) return false;
    ++p;
  }
  return true;
}

}  // namespace

bool AttributesWithin(std::string_view bytes, uint32_t uiMax) {
  const char* p = bytes.data();
  const char* const pEnd = p + bytes.size();
  // The position of c at or after pFrom, or pEnd.
  auto find = [pEnd](const char* pFrom, char c) {
    const void* pFound = std::memchr(pFrom, c, static_cast<size_t>(pEnd - pFrom));
    return pFound != nullptr ? static_cast<const char*>(pFound) : pEnd;
  };
  // A '<' never lies inside an attribute value the parser accepts (it stops
  // at the first), so a start tag it reads whole lies between one '<' and
  // the next. An attribute takes at least five bytes (a blank, a name, '='
  // and two quotes), so a stretch shorter than a tag of uiMax + 1 of them
  // holds none; a longer one with no more '=' than allowed holds none
  // either, and only a stretch with more is scanned tag-wise.
  const uint64_t uiShortestTooMany = 2 + 5 * (uint64_t{uiMax} + 1);
  // So only the stretches between one '<' and the next that are at least
  // that long matter. From each '<' the last '<' within the next
  // uiShortestTooMany - 1 bytes is looked for: the stretches up to it are
  // all shorter and are skipped at once (a few hundred bytes a step, not
  // one tag); only when there is none is the stretch from here looked at.
  const size_t uiWindow =
      static_cast<size_t>(std::min<uint64_t>(uiShortestTooMany - 1, bytes.size()));
  p = find(p, '<');
  while (p < pEnd) {
    const size_t uiAhead = std::min(uiWindow, static_cast<size_t>(pEnd - p - 1));
    if (const void* pLast = memrchr(p + 1, '<', uiAhead); pLast != nullptr) {
      p = static_cast<const char*>(pLast);
      continue;
    }
    const char* const pNext = find(p + 1, '<');
    if (static_cast<uint64_t>(pNext - p) >= uiShortestTooMany &&
        static_cast<uint64_t>(std::count(p, pNext, '=')) > uiMax && !TagWithin(p + 1, pEnd, uiMax))
      return false;
    p = pNext;
  }
  return true;
}

namespace {

// The SAX handler's state: the tree so far, the open elements, the first
// refusal.
class TreeBuilder {
 public:
  TreeBuilder(std::string_view bytes, const LenexLimits& limits)
      : m_Bytes(bytes), m_Limits(limits) {
    // Room for what a typical document holds (an element per 60 bytes or
    // so, an attribute per 20, a third of it attribute text), so the
    // vectors rarely move while they fill.
    m_Tree.nodes.reserve(bytes.size() / 64);
    m_Tree.attributes.reserve(bytes.size() / 24);
    m_Tree.values.reserve(bytes.size() / 3);
  }

  Tree Build() {
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = OnStart;
    sax.endElementNs = OnEnd;
    sax.internalSubset = OnDocumentType;
    sax.externalSubset = OnDocumentType;
    sax.entityDecl = OnEntityDecl;
    sax.reference = OnReference;
    sax.serror = OnError;
    // The whole document as one input (ParseTree keeps it below 2 GiB):
    // read in chunks, the parser moves and refills its buffer over and over.
    m_pContext = xmlCreateMemoryParserCtxt(m_Bytes.data(), static_cast<int>(m_Bytes.size()));
    if (m_pContext == nullptr) throw LenexError("", "", 0, "the XML parser cannot be started", "");
    std::memcpy(m_pContext->sax, &sax, sizeof sax);
    m_pContext->userData = this;
    // No network, no DTD loaded, no entity substituted; libxml2's own limits
    // on names and text stay in force (no XML_PARSE_HUGE).
    xmlCtxtUseOptions(m_pContext, XML_PARSE_NONET);
    {
      const KxQuietXmlErrors quiet;
      xmlParseDocument(m_pContext);
    }
    const bool bWellFormed = m_pContext->wellFormed != 0;
    if (!bWellFormed && m_csParserWhy.empty()) {
      const xmlError* pError = xmlCtxtGetLastError(m_pContext);
      if (pError != nullptr && pError->message != nullptr) Note(*pError);
    }
    xmlFreeParserCtxt(m_pContext);
    m_pContext = nullptr;
    if (m_pRefusal) throw *m_pRefusal;
    if (!bWellFormed)
      throw LenexError("", "", m_iParserLine,
                       "not well-formed XML: " +
                           (m_csParserWhy.empty() ? std::string("unknown error") : m_csParserWhy),
                       "well-formed XML");
    if (m_Tree.nodes.empty())
      throw LenexError("", "", 0, "the document has no element", "a LENEX element");
    return std::move(m_Tree);
  }

 private:
  // What xmlSAX2GetLineNumber answers, read here: it is asked for every
  // element, and the call into the library cost more than the read.
  int Line() const {
    return m_pContext != nullptr && m_pContext->input != nullptr ? m_pContext->input->line : 0;
  }

  // Keeps the first refusal and stops the parser.
  void Refuse(const std::string& csElement, const std::string& csAttribute,
              const std::string& csProblem, const std::string& csExpected) {
    if (!m_pRefusal)
      m_pRefusal =
          std::make_unique<LenexError>(csElement, csAttribute, Line(), csProblem, csExpected);
    if (m_pContext != nullptr) xmlStopParser(m_pContext);
  }

  void Note(const xmlError& error) {
    m_csParserWhy = error.message != nullptr ? error.message : "unknown error";
    while (!m_csParserWhy.empty() && m_csParserWhy.back() == '\n') m_csParserWhy.pop_back();
    std::replace(m_csParserWhy.begin(), m_csParserWhy.end(), '\n', ' ');
    m_iParserLine = error.line;
  }

  static void OnError(void* pContext, xmlErrorPtr pError) {
    TreeBuilder& builder = *static_cast<TreeBuilder*>(pContext);
    if (pError == nullptr || pError->level < XML_ERR_ERROR || !builder.m_csParserWhy.empty())
      return;
    builder.Note(*pError);
  }

  static void OnDocumentType(void* pContext, const xmlChar*, const xmlChar*, const xmlChar*) {
    static_cast<TreeBuilder*>(pContext)->Refuse("", "", "a document type declaration",
                                                "no DTD and no entities");
  }

  static void OnEntityDecl(void* pContext, const xmlChar* csName, int, const xmlChar*,
                           const xmlChar*, xmlChar*) {
    static_cast<TreeBuilder*>(pContext)->Refuse(
        "", "", std::string("entity declaration ") + reinterpret_cast<const char*>(csName),
        "no DTD and no entities");
  }

  static void OnReference(void* pContext, const xmlChar* csName) {
    static_cast<TreeBuilder*>(pContext)->Refuse(
        "", "", std::string("entity reference &") + reinterpret_cast<const char*>(csName) + ";",
        "no entities");
  }

  static void OnStart(void* pContext, const xmlChar* csName, const xmlChar*, const xmlChar*, int,
                      const xmlChar**, int iAttributes, int, const xmlChar** aAttributes) {
    TreeBuilder& builder = *static_cast<TreeBuilder*>(pContext);
    if (!builder.m_pRefusal)
      builder.Start(reinterpret_cast<const char*>(csName), iAttributes, aAttributes);
  }

  static void OnEnd(void* pContext, const xmlChar*, const xmlChar*, const xmlChar*) {
    TreeBuilder& builder = *static_cast<TreeBuilder*>(pContext);
    if (!builder.m_Open.empty()) builder.m_Open.pop_back();
  }

  static constexpr unsigned kRecentBits = 7;
  struct Recent {
    const xmlChar* pName = nullptr;
    uint32_t uiIndex = 0;
  };

  // The index of a name. The parser hands out each name from its
  // dictionary, so one pointer stands for one name throughout a parse. A
  // document uses a few dozen names over and over: a small table by
  // address answers nearly every call before the hash map is asked.
  uint32_t NameIndex(const xmlChar* pName) {
    const auto uiAddress = reinterpret_cast<uintptr_t>(pName);
    Recent& recent = m_Recent[(uiAddress * 0x9E3779B97F4A7C15ull) >> (64 - kRecentBits)];
    if (recent.pName == pName) return recent.uiIndex;
    return NameIndexMissed(pName, recent);
  }

  // NameIndex past its small table, out of line so that the table's check
  // is inlined where names are read.
  [[gnu::noinline]] uint32_t NameIndexMissed(const xmlChar* pName, Recent& recent) {
    const auto [it, bNew] =
        m_NameIndex.try_emplace(pName, static_cast<uint32_t>(m_Tree.names.size()));
    if (bNew) {
      const std::string& csName = m_Tree.names.emplace_back(reinterpret_cast<const char*>(pName));
      m_Tree.elementCounts.push_back(0);
      if (const uint32_t uiRead = ReadNameIndex(csName); uiRead != kNoName) {
        uint32_t& uiId = m_Tree.readNames[uiRead];
        if (uiId == kNoName) uiId = it->second;
      }
    }
    recent = {pName, it->second};
    return it->second;
  }

  void Start(const char* csName, int iAttributes, const xmlChar** aAttributes) {
    if (m_Tree.nodes.size() >= m_Limits.uiMaxElements) {
      Refuse(csName, "", "too many elements",
             "at most " + std::to_string(m_Limits.uiMaxElements) + " elements");
      return;
    }
    if (m_Open.size() >= m_Limits.uiMaxDepth) {
      Refuse(csName, "", "elements nested too deep",
             "at most " + std::to_string(m_Limits.uiMaxDepth) + " levels");
      return;
    }
    if (m_Open.empty() && !m_Tree.nodes.empty()) return;  // the parser refuses a second root
    Node node;
    node.name = NameIndex(reinterpret_cast<const xmlChar*>(csName));
    node.line = Line();
    node.firstAttribute = static_cast<uint32_t>(m_Tree.attributes.size());
    for (int a = 0; a < iAttributes; ++a) {
      const xmlChar** aOne = aAttributes + 5 * a;
      // Attributes in a namespace (xmlns:..., xsi:...) are none of the format's.
      if (aOne[1] != nullptr) continue;
      const char* p = reinterpret_cast<const char*>(aOne[3]);
      const char* pEnd = reinterpret_cast<const char*>(aOne[4]);
      if (static_cast<size_t>(pEnd - p) > m_Limits.uiMaxAttributeBytes) {
        Refuse(csName, reinterpret_cast<const char*>(aOne[0]), "the value is too long",
               "at most " + std::to_string(m_Limits.uiMaxAttributeBytes) + " bytes");
        return;
      }
      Attribute attribute;
      attribute.name = NameIndex(aOne[0]);
      attribute.valueOffset = static_cast<uint32_t>(m_Tree.values.size());
      if (InInput(p, pEnd)) {
        m_Tree.values.append(p, static_cast<size_t>(pEnd - p));
      } else {
        AppendResolvingAmpersands(p, pEnd);
      }
      attribute.valueSize = static_cast<uint32_t>(m_Tree.values.size()) - attribute.valueOffset;
      m_Tree.attributes.push_back(attribute);
    }
    node.attributeCount = static_cast<uint32_t>(m_Tree.attributes.size()) - node.firstAttribute;
    const auto uiIndex = static_cast<uint32_t>(m_Tree.nodes.size());
    if (!m_Open.empty()) {
      Node& parent = m_Tree.nodes[m_Open.back()];
      if (parent.lastChild == kNoNode) {
        parent.firstChild = uiIndex;
      } else {
        m_Tree.nodes[parent.lastChild].nextSibling = uiIndex;
      }
      parent.lastChild = uiIndex;
    }
    m_Tree.nodes.push_back(node);
    ++m_Tree.elementCounts[node.name];
    m_Open.push_back(uiIndex);
  }

  // Whether [p, pEnd) lies in the parser's input: such a value is the
  // document's own text between the quotes, which holds no '&' (a value
  // with a reference, or one whose blanks are normalised, is built by the
  // parser in a buffer of its own). Most values are of this kind, and a
  // search for '&' in each cost more than the rest of its handling.
  bool InInput(const char* p, const char* pEnd) const {
    const xmlParserInputPtr pInput = m_pContext->input;
    return pInput != nullptr && p >= reinterpret_cast<const char*>(pInput->base) &&
           pEnd <= reinterpret_cast<const char*>(pInput->end);
  }

  // Attribute values built by the parser come as [p, pEnd) with every '&'
  // left as "&#38;" (the parser leaves it for a tree builder to resolve):
  // the value is appended whole, and only one with an '&' is closed up.
  void AppendResolvingAmpersands(const char* p, const char* pEnd) {
    std::string& values = m_Tree.values;
    const size_t uiStart = values.size();
    values.append(p, static_cast<size_t>(pEnd - p));
    char* const pFirst = values.data() + uiStart;
    char* pIn = static_cast<char*>(std::memchr(pFirst, '&', values.size() - uiStart));
    if (pIn == nullptr) return;
    char* const pValueEnd = values.data() + values.size();
    char* pOut = pIn;
    while (pIn < pValueEnd) {
      const char c = *pIn;
      *pOut++ = c;
      pIn += c == '&' && pValueEnd - pIn >= 5 && std::memcmp(pIn, "&#38;", 5) == 0 ? 5 : 1;
    }
    values.resize(static_cast<size_t>(pOut - values.data()));
  }

  std::string_view m_Bytes;
  const LenexLimits& m_Limits;
  xmlParserCtxtPtr m_pContext = nullptr;
  Tree m_Tree;
  std::vector<uint32_t> m_Open;
  std::unordered_map<const xmlChar*, uint32_t> m_NameIndex;
  std::array<Recent, size_t{1} << kRecentBits> m_Recent{};
  std::unique_ptr<LenexError> m_pRefusal;
  std::string m_csParserWhy;
  int m_iParserLine = 0;
};

}  // namespace

Tree ParseTree(std::string_view bytes, const LenexLimits& limits) {
  // Offsets into the tree's text are 32-bit, and the parser takes the
  // document's size as an int.
  if (bytes.size() > limits.uiMaxDocumentBytes || bytes.size() > INT32_MAX)
    throw LenexError("", "", 0, "the document is too large",
                     "at most " + std::to_string(limits.uiMaxDocumentBytes) + " bytes");
  if (!AttributesWithin(bytes, limits.uiMaxAttributes))
    throw LenexError("", "", 0, "an element has too many attributes",
                     "at most " + std::to_string(limits.uiMaxAttributes) + " attributes");
  // The parser takes no input of no bytes; it would say this.
  if (bytes.empty())
    throw LenexError("", "", 1, "not well-formed XML: Document is empty", "well-formed XML");
  TreeBuilder builder(bytes, limits);
  return builder.Build();
}

}  // namespace Varnox::Lenex::Detail
