// XML export and import of kernel files, by the names of the template
// catalogue: every member, record, key and nested container. The document
// format and the text forms of the values are described in docs/kernel.md
// ("XML").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class KxLiveFile;

constexpr size_t kKxWholeFile = static_cast<size_t>(-1);

// What an imported document may hold at most. The defaults lie far above
// what the application's files need and below what would exhaust the
// process; export refuses a value whose text import would refuse.
struct KxXmlLimits {
  uint64_t uiMaxDocumentBytes = uint64_t{2} << 30;  // the file as read
  uint64_t uiMaxElements = uint64_t{64} << 20;
  uint64_t uiMaxStagedBytes = uint64_t{2} << 30;  // the content held while it is checked
  uint32_t uiMaxTextBytes = 8u << 20;             // one value or key, in UTF-8
  uint32_t uiMaxDepth = 64;                       // elements open at once
  uint32_t uiMaxAttributes = 16;                  // on one element
};

// Writes the whole file (`uiMember` kKxWholeFile) or one member as XML at
// `csPath`. False, with the reason in `csWhy`, when it cannot. The document
// is written beside `csPath` and renamed over it when complete, so a failed
// export leaves no half-written file.
bool KxExportXml(KxLiveFile& file, size_t uiMember, const std::string& csPath, std::string& csWhy);

// Replaces the file's content with the XML at `csPath`. The whole document
// is read and checked before anything changes: on any error (malformed or
// hostile XML, another file type, unknown elements, bad values) the open
// file is left as it was and `csWhy` says why.
bool KxImportXml(KxLiveFile& file, const std::string& csPath, std::string& csWhy);
bool KxImportXml(KxLiveFile& file, const std::string& csPath, const KxXmlLimits& limits,
                 std::string& csWhy);
