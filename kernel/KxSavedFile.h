// The saved form of a kernel file, and saving it so that a crash at any
// moment leaves either the old file or the new one, whole.
//
//   OFFSET  SIZE  DESCRIPTION
//        0   128  KxSavedHeader: magic "VARNOXF1", format version, template
//                 family and file type, member count, payload length, CRC-32
//                 of the payload and of the header itself, fingerprint of
//                 the file type's layout (KxFileTypeFingerprint)
//      128     *  per member, in registration order: KxSavedMember (class
//                 id, allocation top, container unit, free lists), then the
//                 segment's units from KxSegment::kHeaderUnits up to the top
//
// Saving writes a temporary file beside the target (first removing those
// that crashed saves left), fsyncs it, renames it over the target and
// fsyncs the directory. A failed write, fsync or rename
// fails the save, removes the temporary file and leaves the target
// untouched; a later save writes a new temporary file from the start. A
// failed directory fsync comes after the rename: the target already holds
// the new file, whole, and the save still fails, because the new name may
// not survive a power cut.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "contracts/kernel/KxComponent.h"
#include "kernel/KxSegment.h"

struct KxSavedHeader {
  static constexpr char kMagic[8] = {'V', 'A', 'R', 'N', 'O', 'X', 'F', '1'};
  // Version 2 added `schema`. A version 1 file has none: it is read on the
  // word of its family and file type, and saved again as version 2.
  static constexpr uint32_t kFormatVersion = 2;
  static constexpr uint32_t kOldestFormatVersion = 1;

  char magic[8];
  uint32_t formatVersion;
  uint32_t headerBytes;
  char family[24];
  char fileType[32];
  uint32_t memberCount;
  uint32_t reserved;
  uint64_t payloadBytes;
  uint32_t payloadCrc;
  uint32_t headerCrc;  // computed with this field 0
  uint64_t schema;     // KxFileTypeFingerprint of the writer's file type (version 2)
  uint8_t padding[24];
};
static_assert(sizeof(KxSavedHeader) == 128);
static_assert(offsetof(KxSavedHeader, schema) == 96);

struct KxSavedMember {
  uint32_t classId;
  uint32_t top;
  uint32_t container;
  uint32_t usedUnits;
  uint32_t freeHeads[KxSegmentHeader::kFreeClasses];
  uint64_t dataBytes;
};
static_assert(sizeof(KxSavedMember) == 664);

// The file operations of a save, replaceable so that tests can make the
// Nth write, fsync, rename or directory fsync fail.
struct KxFileIo {
  ssize_t (*write)(int iFd, const void* p, size_t uiBytes);
  int (*fsync)(int iFd);
  int (*rename)(const char* csFrom, const char* csTo);
  int (*fsyncDir)(int iFd);
};
KxFileIo& KxSaveIo();
KxFileIo KxSystemIo();

// Writes `bytes` to `csPath` atomically. On failure answers false and says
// why in `csWhy`.
bool KxWriteFileAtomically(const std::string& csPath, const std::vector<uint8_t>& bytes,
                           std::string& csWhy);

// Writes the content of a file into the new, empty file `iFd` from its
// start (through KxWriteAll); false with the reason on failure.
using KxContentWriter = std::function<bool(int iFd, std::string& csWhy)>;

// As above, the content written by `writeContent`: a file written in pieces
// needs no copy of it in memory.
bool KxWriteFileAtomically(const std::string& csPath, const KxContentWriter& writeContent,
                           std::string& csWhy);

// Removes the files `csPath + csInfix + <pid>` beside `csPath` whose writing
// process no longer runs: what a save (".saving.") or an export (".part.")
// cut short by a crash leaves behind. Files of running processes stay.
void KxRemoveAbandonedFiles(const std::string& csPath, const std::string& csInfix);

// Writes all `uiBytes` through the save's write operation (KxSaveIo).
bool KxWriteAll(int iFd, const void* p, size_t uiBytes, std::string& csWhy);

// A saved file read back and checked: header, length and checksum. The
// members still need their structure checked against the catalogue.
struct KxLoadedFile {
  KxSavedHeader header;
  std::vector<KxSavedMember> members;
  std::vector<const uint8_t*> data;  // into `bytes`
  std::vector<uint8_t> bytes;
};

// Reads and checks `csPath` for family `csFamily`, file type `csFileType`.
// Answers 0 or a KxOpenFailure (contracts/kernel/KxComponent.h) with the
// reason in `csWhy`. The file on disk is only read. The header's schema is
// the caller's to compare (KxOpenOtherSchema).
int32_t KxReadSavedFile(const std::string& csPath, const char* csFamily, const char* csFileType,
                        KxLoadedFile& loaded, std::string& csWhy);

// CRC-32 (the reflected IEEE polynomial of zlib and gzip) of a byte range; `uiCrcBefore` is the CRC of the bytes
// before it, for a CRC computed in pieces.
uint32_t KxCrc32(const void* p, size_t uiBytes, uint32_t uiCrcBefore = 0);

// Makes the header of a saved file's bytes agree with them: payload length,
// payload CRC and header CRC. For tests and fuzz targets that craft files
// whose structure, not their checksum, is to be refused. Bytes shorter than
// a header are left alone.
void KxResealSavedBytes(uint8_t* pBytes, size_t uiBytes);
