// XML export and import of kernel files (see docs/kernel.md, "XML").
//
// Export walks each member under its segment's mutex and streams the
// document through libxml2's text writer into a file beside the target,
// renamed over it when complete.
//
// Import parses with libxml2's SAX interface (no network, no DTD, no entity
// substitution; a document type declaration stops the parser at once) into
// a staged copy of the whole content: record images with the exact bytes of
// their plain fields, text pools and container lists. Nothing of the open
// file is touched until the whole document has been read and checked; then
// every member is cleared and rebuilt through the store's own operations.
#include "kernel/KxXml.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xmlwriter.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "kernel/KxLiveFile.h"
#include "kernel/KxXmlExport.h"
#include "kernel/KxXmlForms.h"
#include "kernel/KxXmlImport.h"

using namespace KxXmlDetail;

namespace {

// Holds the mutexes of every segment of a file, in member order.
class KxAllSegmentsLock {
 public:
  explicit KxAllSegmentsLock(KxLiveFile& file) {
    for (size_t i = 0; i < file.MemberCount(); ++i)
      m_Locks.push_back(std::make_unique<KxSegmentLock>(file.Segment(i)));
  }
  ~KxAllSegmentsLock() {
    while (!m_Locks.empty()) m_Locks.pop_back();
  }
  KxAllSegmentsLock(const KxAllSegmentsLock&) = delete;
  KxAllSegmentsLock& operator=(const KxAllSegmentsLock&) = delete;

 private:
  std::vector<std::unique_ptr<KxSegmentLock>> m_Locks;
};

// An open descriptor, closed with its scope.
class KxFd {
 public:
  explicit KxFd(int iFd) : m_iFd(iFd) {}
  ~KxFd() {
    if (m_iFd >= 0) close(m_iFd);
  }
  KxFd(const KxFd&) = delete;
  KxFd& operator=(const KxFd&) = delete;
  int Get() const { return m_iFd; }
  // Closes now, answering close's errno (0 when fine).
  int Close() {
    const int iResult = m_iFd >= 0 ? close(m_iFd) : 0;
    m_iFd = -1;
    return iResult == 0 ? 0 : errno;
  }

 private:
  int m_iFd;
};

}  // namespace

// ---------------------------------------------------------------------------

bool KxExportXml(KxLiveFile& file, size_t uiMember, const std::string& csPath, std::string& csWhy) {
  xmlInitParser();
  const KxFileType& fileType = file.FileType();
  if (uiMember != kKxWholeFile && uiMember >= file.MemberCount()) {
    csWhy = "member " + std::to_string(uiMember) + " does not exist";
    return false;
  }
  KxRemoveAbandonedFiles(csPath, ".part.");
  const std::string csPartial = csPath + ".part." + std::to_string(getpid());
  KxXmlSink sink;
  sink.iFd = open(csPartial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (sink.iFd < 0) {
    csWhy = "cannot create " + csPartial + ": " + std::strerror(errno);
    return false;
  }
  KxFd fd(sink.iFd);
  // The buffer grows to its flush size only for a file that large: a small
  // export does not pay for a megabyte of fresh pages.
  sink.buffer.reserve(size_t{64} << 10);

  xmlOutputBufferPtr pOutput =
      xmlOutputBufferCreateIO(KxXmlSink::Write, KxXmlSink::Close, &sink, nullptr);
  xmlTextWriterPtr pWriter = pOutput != nullptr ? xmlNewTextWriter(pOutput) : nullptr;
  bool bOk = pWriter != nullptr;
  std::string csFault = bOk ? "" : "the XML writer cannot be started";
  if (pWriter == nullptr && pOutput != nullptr) xmlOutputBufferClose(pOutput);
  if (bOk) {
    KxXmlExporter exporter(pWriter, KxXmlLimits{}.uiMaxTextBytes);
    const auto attribute = [&](const char* csName, const char* csValue) {
      return xmlTextWriterWriteAttribute(pWriter, BAD_CAST csName, BAD_CAST csValue) >= 0;
    };
    bOk = xmlTextWriterSetIndent(pWriter, 1) >= 0 &&
          xmlTextWriterSetIndentString(pWriter, BAD_CAST " ") >= 0 &&
          xmlTextWriterStartDocument(pWriter, "1.0", "UTF-8", nullptr) >= 0 &&
          xmlTextWriterStartElement(pWriter, BAD_CAST kRootName) >= 0 &&
          attribute("family", fileType.family) && attribute("type", fileType.name) &&
          attribute("version", kFormatVersion) &&
          (uiMember == kKxWholeFile || attribute("member", fileType.members[uiMember].name));
    for (size_t i = 0; bOk && i < file.MemberCount(); ++i) {
      if (uiMember == kKxWholeFile || uiMember == i) bOk = exporter.Member(file, i);
    }
    bOk = bOk && xmlTextWriterEndDocument(pWriter) >= 0;
    if (!bOk) csFault = exporter.Why().empty() ? "the XML writer failed" : exporter.Why();
    xmlFreeTextWriter(pWriter);  // flushes into the sink
  }
  if (bOk && !sink.Flush()) bOk = false;
  if (sink.iErrno != 0) csFault = "cannot write " + csPartial + ": " + std::strerror(sink.iErrno);
  if (const int iClose = fd.Close(); bOk && iClose != 0) {
    bOk = false;
    csFault = "cannot write " + csPartial + ": " + std::strerror(iClose);
  }
  if (bOk && rename(csPartial.c_str(), csPath.c_str()) != 0) {
    bOk = false;
    csFault = "cannot rename " + csPartial + " to " + csPath + ": " + std::strerror(errno);
  }
  if (!bOk) {
    unlink(csPartial.c_str());
    csWhy = csFault;
  }
  return bOk;
}

bool KxImportXml(KxLiveFile& file, const std::string& csPath, std::string& csWhy) {
  return KxImportXml(file, csPath, KxXmlLimits{}, csWhy);
}

bool KxImportXml(KxLiveFile& file, const std::string& csPath, const KxXmlLimits& limits,
                 std::string& csWhy) {
  xmlInitParser();
  const KxFileType& fileType = file.FileType();
  KxFd fd(open(csPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    csWhy = "cannot open " + csPath + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    csWhy = csPath + " is no regular file";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > limits.uiMaxDocumentBytes) {
    csWhy = "the document is larger than " + std::to_string(limits.uiMaxDocumentBytes) + " bytes";
    return false;
  }

  // Read and check everything first.
  auto pReader = std::make_unique<KxXmlReader>(fileType, limits);
  if (!pReader->Read(fd.Get(), csWhy)) return false;
  fd.Close();
  const KxStaged& staged = pReader->Staged();

  KxAllSegmentsLock lock(file);
  // Make room for the rebuild before anything changes, so that it cannot
  // run out of storage half way.
  for (size_t i = 0; i < file.MemberCount(); ++i) {
    KxSegment& segment = file.Segment(i);
    const uint64_t uiWanted = uint64_t{segment.Header().top} + staged.members[i].uiUnits;
    if (uiWanted > UINT32_MAX || !segment.Reserve(static_cast<uint32_t>(uiWanted))) {
      csWhy = std::string("the live storage of ") + fileType.members[i].name + " cannot grow by " +
              std::to_string(4 * staged.members[i].uiUnits) + " bytes for the imported content";
      return false;
    }
  }
  // The estimate of room cannot foresee how the allocator cuts its runs: a
  // copy of every segment lets a rebuild that still runs out put the file
  // back as it was.
  std::vector<KxSegmentSnapshot> before;
  try {
    for (size_t i = 0; i < file.MemberCount(); ++i) before.push_back(file.Segment(i).Snapshot());
  } catch (const std::bad_alloc&) {
    csWhy = "no memory to keep the file's content while it is rebuilt";
    return false;
  }
  for (size_t i = 0; i < file.MemberCount(); ++i) {
    const KxMemberClass& memberClass = *fileType.members[i].memberClass;
    const KxStagedMember& member = staged.members[i];
    KxStore& store = file.Store(i);
    void* pContainer = file.Container(i);
    store.ClearMember(memberClass, pContainer);
    KxXmlRebuild rebuild(staged, file.Segment(i), store);
    bool bOk = true;
    switch (memberClass.kind) {
      case KxMemberKind::kSingle:
        bOk =
            rebuild.Record(*memberClass.element, static_cast<uint8_t*>(pContainer), member.uiImage);
        break;
      case KxMemberKind::kMap: {
        KxEmbeddedMap* pSlot = static_cast<KxEmbeddedMap*>(pContainer);
        if (memberClass.key == KxKeyKind::kText && NoCase(pSlot) != member.bNoCase) {
          store.MapCommand(pSlot, member.bNoCase ? D2MapCmd::KeyNoCase : D2MapCmd::KeyCase, 0,
                           nullptr);
        }
        bOk = rebuild.Map(pSlot, *memberClass.element, memberClass.key, member.uiContainer);
        break;
      }
      case KxMemberKind::kArray:
        bOk = rebuild.Array(static_cast<KxArrayHeader*>(pContainer), *memberClass.element,
                            member.uiContainer);
        break;
    }
    if (!bOk) {
      file.RestoreAll(before);
      csWhy = std::string("the live storage of ") + fileType.members[i].name +
              " ran out while rebuilding it; the file is left as it was";
      return false;
    }
  }
  return true;
}
