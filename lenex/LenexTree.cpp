// The XML stage of the reader (LenexTree.h).
#include "lenex/LenexTree.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/globals.h>
#include <libxml/xmlerror.h>

#include <algorithm>
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
  while ((p = find(p, '<')) < pEnd) {
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
    m_pContext = xmlCreateIOParserCtxt(&sax, this, OnRead, nullptr, this, XML_CHAR_ENCODING_NONE);
    if (m_pContext == nullptr)
      throw LenexError("", "", 0, "the XML parser cannot be started", "");
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
  int Line() const { return m_pContext != nullptr ? xmlSAX2GetLineNumber(m_pContext) : 0; }

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

  static int OnRead(void* pContext, char* pBuffer, int iLength) {
    TreeBuilder& builder = *static_cast<TreeBuilder*>(pContext);
    const size_t uiCount =
        std::min(static_cast<size_t>(iLength), builder.m_Bytes.size() - builder.m_uiRead);
    std::memcpy(pBuffer, builder.m_Bytes.data() + builder.m_uiRead, uiCount);
    builder.m_uiRead += uiCount;
    return static_cast<int>(uiCount);
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

  // The index of a name. The parser hands out each name from its
  // dictionary, so one pointer stands for one name throughout a parse.
  uint32_t NameIndex(const xmlChar* pName) {
    const auto [it, bNew] =
        m_NameIndex.try_emplace(pName, static_cast<uint32_t>(m_Tree.names.size()));
    if (bNew) m_Tree.names.emplace_back(reinterpret_cast<const char*>(pName));
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
      AppendResolvingAmpersands(p, pEnd);
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
    m_Open.push_back(uiIndex);
  }

  // Attribute values come as [p, pEnd) with every '&' left as "&#38;" (the
  // parser leaves it for a tree builder to resolve).
  void AppendResolvingAmpersands(const char* p, const char* pEnd) {
    while (p < pEnd) {
      const char* pAmpersand = static_cast<const char*>(std::memchr(p, '&', static_cast<size_t>(pEnd - p)));
      if (pAmpersand == nullptr) pAmpersand = pEnd;
      m_Tree.values.append(p, pAmpersand);
      p = pAmpersand;
      if (p == pEnd) break;
      m_Tree.values += '&';
      p += pEnd - p >= 5 && std::memcmp(p, "&#38;", 5) == 0 ? 5 : 1;
    }
  }

  std::string_view m_Bytes;
  size_t m_uiRead = 0;
  const LenexLimits& m_Limits;
  xmlParserCtxtPtr m_pContext = nullptr;
  Tree m_Tree;
  std::vector<uint32_t> m_Open;
  std::unordered_map<const xmlChar*, uint32_t> m_NameIndex;
  std::unique_ptr<LenexError> m_pRefusal;
  std::string m_csParserWhy;
  int m_iParserLine = 0;
};

}  // namespace

Tree ParseTree(std::string_view bytes, const LenexLimits& limits) {
  // Offsets into the tree's text are 32-bit.
  if (bytes.size() > limits.uiMaxDocumentBytes || bytes.size() > UINT32_MAX)
    throw LenexError("", "", 0, "the document is too large",
                     "at most " + std::to_string(limits.uiMaxDocumentBytes) + " bytes");
  if (!AttributesWithin(bytes, limits.uiMaxAttributes))
    throw LenexError("", "", 0, "an element has too many attributes",
                     "at most " + std::to_string(limits.uiMaxAttributes) + " attributes");
  TreeBuilder builder(bytes, limits);
  return builder.Build();
}

}  // namespace Varnox::Lenex::Detail
