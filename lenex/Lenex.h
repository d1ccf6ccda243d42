// Reading and writing LENEX 3 documents: .lef (one XML document) and .lxf
// (a ZIP archive holding exactly one .lef).
//
// The reader refuses what is hostile (a document type declaration, entity
// references, documents and archives beyond the limits) and what breaks the
// format (a missing required attribute or child, a value not in its form,
// a code not in its list, an id used twice, a reference to an id that does
// not exist, a lane outside the pool), each with a LenexError naming the
// element, the attribute, the line and what was expected. It tolerates what
// real files do: unknown elements and attributes are skipped, child order is
// free, reaction times come in hundredths or seconds, "NT" and zero times
// are no time, DNS is taken as an entry status, birth dates may be missing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "lenex/LenexModel.h"

namespace Varnox::Lenex {

// A refused document (or, on writing, a model the format cannot carry).
// line is 0 where no line applies (archives, the writer); element and
// attribute are empty where they do not apply.
class LenexError : public std::runtime_error {
 public:
  LenexError(std::string csElement, std::string csAttribute, int iLine, std::string csProblem,
             std::string csExpected);

  const std::string& Element() const { return m_csElement; }
  const std::string& Attribute() const { return m_csAttribute; }
  int Line() const { return m_iLine; }
  // What was expected instead (a form, a code list, a limit).
  const std::string& Expected() const { return m_csExpected; }

 private:
  std::string m_csElement;
  std::string m_csAttribute;
  int m_iLine;
  std::string m_csExpected;
};

// How much a document or an archive may hold before it is refused unread.
struct LenexLimits {
  uint64_t uiMaxDocumentBytes = 256ull << 20;  // the .lef, also inside a .lxf
  uint32_t uiMaxDepth = 24;                    // the format nests about ten deep
  uint64_t uiMaxElements = 4'000'000;
  uint32_t uiMaxAttributes = 64;         // on one element
  uint32_t uiMaxAttributeBytes = 65536;  // one attribute value
};

// Parses a .lef document held in memory. Throws LenexError.
Document ReadLef(std::string_view bytes, const LenexLimits& limits = {});

// Takes a meet's athletes one by one while the meet is read, instead of
// the document holding them: an import stages each athlete while its
// entries and results are fresh, and never holds them all at once.
class MeetReceiver {
 public:
  virtual ~MeetReceiver() = default;
  // A meet's own fields and sessions, read and checked; its clubs follow.
  virtual void OnSessions(const Meet& meet) = 0;
  // An athlete of `club` (the club's own fields) with its entries and
  // results, checked but for what may point forward in the file (rankings
  // to results, relay legs to athletes), which the meet's end checks.
  virtual void OnAthlete(const Club& club, const Athlete& athlete) = 0;
  // The relays of `club`, whose athletes went to OnAthlete.
  virtual void OnRelays(const Club& club) = 0;
};

// ReadLef, with each meet's athletes handed to `receiver` instead of kept in
// the document (its clubs hold their own fields and relays).
Document ReadLef(std::string_view bytes, const LenexLimits& limits, MeetReceiver& receiver);

// Writes a document as a .lef: UTF-8, declared, indented by two spaces.
// Throws LenexError when the model breaks the format (a required id
// missing, text that is not UTF-8 or holds control characters, a time
// beyond 99:59:59.99, an impossible date).
std::string WriteLef(const Document& document);

// The .lef held by a .lxf archive in memory. Refuses an archive that is no
// ZIP, that holds anything but exactly one entry, whose entry name holds a
// path or does not end in ".lef", whose entry is larger than the limit or
// whose entry's size or checksum lies. Throws LenexError.
std::string ExtractLxf(std::string_view archive, const LenexLimits& limits = {});

// A .lxf archive holding csLef under the name csEntryName (which must be a
// plain file name ending in ".lef").
std::string PackLxf(std::string_view lef, const std::string& csEntryName);

// Reads a .lef or .lxf file (by its extension, case-insensitive).
Document ReadLenexFile(const std::filesystem::path& path, const LenexLimits& limits = {});

// The .lef text of a .lef or .lxf file, not parsed yet.
std::string ReadLenexText(const std::filesystem::path& path, const LenexLimits& limits = {});

// Writes a .lef or .lxf file (by its extension) through a temporary file
// beside it, so a failed write leaves what was there. The entry of a .lxf
// takes the file's stem with ".lef".
void WriteLenexFile(const std::filesystem::path& path, const Document& document);

}  // namespace Varnox::Lenex
