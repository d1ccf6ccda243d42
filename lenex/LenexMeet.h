// A meet's files and LENEX documents, through the object face: import of an
// entries or start-list document (and of an exported results document) into
// the competitors, global settings and races files, and export of the meet
// as a results document. docs/lenex.md gives the mapping field by field.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "files/VarnoxFiles.h"
#include "lenex/Lenex.h"

namespace Varnox::Lenex {

// The three files LENEX touches, opened by the caller.
struct MeetFiles {
  std::shared_ptr<Tarvex::Orb::Data::Varnox::D2fVarnox_FT_COMPETITORS> competitors;
  std::shared_ptr<Tarvex::Orb::Data::Varnox::D2fVarnox_FT_GLOBALS> globals;
  std::shared_ptr<Tarvex::Orb::Data::Varnox::D2fVarnox_FT_RACES> races;
};

// Unloads and disposes each file of `files` that is set, and empties it.
void CloseMeetFiles(MeetFiles& files);

// What an import did.
struct ImportReport {
  int iCompetitors = 0;  // added or updated
  int iEvents = 0;       // schedule entries added or updated
  int iHeats = 0;
  int iLanes = 0;  // lanes given competitors
  int iRecords = 0;
  int iSkippedRecordLists = 0;  // of another course than the meet's
  // Lanes the document no longer names that were kept for their lap times,
  // as "E<event>/H<heat> lane <n>".
  std::vector<std::string> keptLanes;
};

// Imports `document` into the open files. The whole document is checked
// against the files first (lanes within the resulting pool, split
// distances against each heat's pool length, one meet, a meet or record
// lists at all); a refusal throws LenexError naming element, attribute and
// line, before anything is changed. Then it writes, under the maps' locks.
// A failure while writing (OrbKernelException, storage exhausted) leaves the
// live data partly changed: the caller then must not save (LenexImportFiles
// does not).
ImportReport ImportDocument(const Document& document, MeetFiles& files);

// Reads the .lef text `bytes` and imports it into the open files as
// ImportDocument does, with the same checks and refusals (a refused
// document changes nothing), but in one pass: each athlete is staged as it
// is read, so that the document's athletes, entries and results are never
// held all at once.
ImportReport ImportLef(std::string_view bytes, MeetFiles& files, const LenexLimits& limits = {});

// The meet of the open files as a LENEX 3.0 results document. Throws
// LenexError when the files hold what the format cannot carry (no meet
// name, city or nation parameter; a pool length of no course; a competitor
// without gender).
Document ExportDocument(MeetFiles& files);

// The meet folder's files: competitors.orb, globals.orb, races.orb.
struct MeetPaths {
  std::filesystem::path competitors, globals, races;
  static MeetPaths In(const std::filesystem::path& dir);
};

// Reads `lenexPath` (.lef or .lxf), imports it into the files of `dir`
// (created when missing) and saves them: each file is first saved beside
// itself, and only when all three are written are they renamed over the
// old ones. A refused document, or a failure before the renames, leaves
// the saved files byte for byte as they were. Throws LenexError for a
// refused document, std::runtime_error for a file that does not open or
// save.
ImportReport LenexImportFiles(const std::filesystem::path& dir,
                              const std::filesystem::path& lenexPath);

// Exports the meet of `dir` to `lenexPath` (.lef or .lxf); the files are
// opened read-only.
void LenexExportFiles(const std::filesystem::path& dir, const std::filesystem::path& lenexPath);

}  // namespace Varnox::Lenex
