// XML export of kernel files: the writer's sink and the member walker.
#pragma once

#include <libxml/xmlwriter.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "contracts/kernel/KxComponent.h"
#include "kernel/KxLiveFile.h"

namespace KxXmlDetail {

// Where the writer's output goes: a file, through a large buffer; the first
// write error is kept.
struct KxXmlSink {
  static constexpr size_t kBufferBytes = size_t{1} << 20;
  int iFd = -1;
  int iErrno = 0;
  std::vector<char> buffer;

  bool Flush() {
    size_t uiDone = 0;
    while (iErrno == 0 && uiDone < buffer.size()) {
      const ssize_t iWritten = write(iFd, buffer.data() + uiDone, buffer.size() - uiDone);
      if (iWritten < 0 && errno == EINTR) continue;
      if (iWritten <= 0) {
        iErrno = iWritten < 0 ? errno : EIO;
        break;
      }
      uiDone += static_cast<size_t>(iWritten);
    }
    buffer.clear();
    return iErrno == 0;
  }
  static int Write(void* pContext, const char* pBytes, int iLength) {
    KxXmlSink& sink = *static_cast<KxXmlSink*>(pContext);
    sink.buffer.insert(sink.buffer.end(), pBytes, pBytes + iLength);
    if (sink.buffer.size() >= kBufferBytes && !sink.Flush()) return -1;
    return iLength;
  }
  static int Close(void*) { return 0; }
};

// Writes members of a live file as elements of an open document.
class KxXmlExporter {
 public:
  KxXmlExporter(xmlTextWriterPtr pWriter, uint32_t uiMaxText)
      : m_pWriter(pWriter), m_uiMaxText(uiMaxText) {}

  // Member `i` of `file`, with its segment's mutex held.
  bool Member(KxLiveFile& file, size_t i);
  const std::string& Why() const { return m_csWhy; }

 private:
  bool Ok(int iResult) {
    if (iResult < 0 && m_csWhy.empty()) m_csWhy = "the XML writer failed";
    return iResult >= 0;
  }
  bool Fail(const std::string& csWhy) {
    if (m_csWhy.empty()) m_csWhy = csWhy;
    return false;
  }
  bool Start(const char* csName) {
    return Ok(xmlTextWriterStartElement(m_pWriter, BAD_CAST csName));
  }
  bool End() { return Ok(xmlTextWriterEndElement(m_pWriter)); }
  bool Attribute(const char* csName, const std::string& csValue) {
    return Ok(xmlTextWriterWriteAttribute(m_pWriter, BAD_CAST csName, BAD_CAST csValue.c_str()));
  }
  bool Element(const char* csName, const char* csText) {
    return Ok(xmlTextWriterWriteElement(m_pWriter, BAD_CAST csName, BAD_CAST csText));
  }
  bool Fields(const KxRecordType& type, const uint8_t* pRecord);
  // Whether every field name of the type and the types inside is an XML
  // name (catalogue names are written as they are).
  bool CheckNames(const KxRecordType& type, int iDepth);
  bool Value(const KxRecordField& field, const uint8_t* pField);
  bool Text(const KxRecordField& field, const uint8_t* pText, uint32_t uiLength, bool bWide);
  bool MapEntries(const KxEmbeddedMap* pSlot, const KxRecordType& element, KxKeyKind eKey,
                  const char* csName);
  bool ArrayItems(const KxArrayHeader* pHeader, const KxRecordType& element, const char* csName);

  xmlTextWriterPtr m_pWriter;
  uint32_t m_uiMaxText;
  KxSegment* m_pSegment = nullptr;
  KxStore* m_pStore = nullptr;
  std::string m_Text;
  std::string m_csWhy;
};

}  // namespace KxXmlDetail
