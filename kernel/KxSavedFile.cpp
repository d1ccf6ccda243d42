#include "kernel/KxSavedFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <isa-l/crc.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "kernel/KxLiveFile.h"

namespace {

int FsyncDirectory(int iFd) { return fsync(iFd); }

// A fuzz build's kernel on scratch storage saves without fsync: durability
// is not what a fuzz target proves, and it saves thousands of small files a
// second. Elsewhere the save always syncs.
int SkipSync(int) { return 0; }

std::string Errno(const char* csWhat) { return std::string(csWhat) + ": " + std::strerror(errno); }

std::string DirectoryOf(const std::string& csPath) {
  const size_t uiSlash = csPath.rfind('/');
  if (uiSlash == std::string::npos) return ".";
  return uiSlash == 0 ? "/" : csPath.substr(0, uiSlash);
}

bool WriteAll(int iFd, const uint8_t* p, size_t uiBytes, std::string& csWhy) {
  while (uiBytes > 0) {
    const ssize_t iWritten = KxSaveIo().write(iFd, p, uiBytes);
    if (iWritten < 0 && errno == EINTR) continue;
    if (iWritten <= 0) {
      csWhy = iWritten < 0 ? Errno("write failed") : "write failed: no progress";
      return false;
    }
    p += iWritten;
    uiBytes -= static_cast<size_t>(iWritten);
  }
  return true;
}

// Closes the last descriptor of a file that a save replaced. Dropping the
// last reference frees all the file's blocks, which for a large file takes
// about as long as renaming, fsyncing the directory and a good part of the
// write together; a short-lived thread does it so that the save need not
// wait. The new file is already durable by then.
void ReleaseReplacedFile(int iFd) {
  // Scratch storage saves only small files, many a second: a thread each
  // would cost more than the close.
  if (KxLiveFile::ScratchStorage()) {
    close(iFd);
    return;
  }
  try {
    std::thread([iFd] { close(iFd); }).detach();
  } catch (const std::system_error&) {
    close(iFd);
  }
}

// A fixed-size text field of the header, terminated.
std::string FieldText(const char* p, size_t uiSize) { return std::string(p, strnlen(p, uiSize)); }

}  // namespace

KxFileIo KxSystemIo() { return KxFileIo{::write, ::fsync, ::rename, FsyncDirectory}; }

KxFileIo& KxSaveIo() {
  static KxFileIo io = KxLiveFile::ScratchStorage()
                           ? KxFileIo{::write, SkipSync, ::rename, SkipSync}
                           : KxSystemIo();
  return io;
}

bool KxWriteAll(int iFd, const void* p, size_t uiBytes, std::string& csWhy) {
  return WriteAll(iFd, static_cast<const uint8_t*>(p), uiBytes, csWhy);
}

uint32_t KxCrc32(const void* p, size_t uiBytes, uint32_t uiCrcBefore) {
  return crc32_gzip_refl(uiCrcBefore, static_cast<const unsigned char*>(p), uiBytes);
}

void KxResealSavedBytes(uint8_t* pBytes, size_t uiBytes) {
  if (uiBytes < sizeof(KxSavedHeader)) return;
  KxSavedHeader header;
  std::memcpy(&header, pBytes, sizeof header);
  header.payloadBytes = uiBytes - sizeof header;
  header.payloadCrc = KxCrc32(pBytes + sizeof header, header.payloadBytes);
  header.headerCrc = 0;
  header.headerCrc = KxCrc32(&header, sizeof header);
  std::memcpy(pBytes, &header, sizeof header);
}

bool KxWriteFileAtomically(const std::string& csPath, const std::vector<uint8_t>& bytes,
                           std::string& csWhy) {
  return KxWriteFileAtomically(
      csPath,
      [&](int iFd, std::string& csError) {
        return WriteAll(iFd, bytes.data(), bytes.size(), csError);
      },
      csWhy);
}

void KxRemoveAbandonedFiles(const std::string& csPath, const std::string& csInfix) {
  const std::string csPrefix = std::filesystem::path(csPath).filename().string() + csInfix;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(DirectoryOf(csPath), ec)) {
    const std::string csName = entry.path().filename().string();
    const std::string csPid = csName.substr(std::min(csName.size(), csPrefix.size()));
    if (csName.compare(0, csPrefix.size(), csPrefix) != 0 || csPid.empty() || csPid.size() > 9 ||
        csPid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    const pid_t pid = static_cast<pid_t>(std::stol(csPid));
    if (pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH) unlink(entry.path().c_str());
  }
}

bool KxWriteFileAtomically(const std::string& csPath, const KxContentWriter& writeContent,
                           std::string& csWhy) {
  KxRemoveAbandonedFiles(csPath, ".saving.");
  const std::string csTemp = csPath + ".saving." + std::to_string(getpid());
  const int iFd = open(csTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (iFd < 0) {
    csWhy = Errno(("cannot create " + csTemp).c_str());
    return false;
  }
  bool bOk = writeContent(iFd, csWhy);
  // A failed fsync may have dropped dirty pages: the file is not trusted and
  // the next save writes a new one from the start.
  if (bOk && KxSaveIo().fsync(iFd) != 0) {
    csWhy = Errno("fsync failed");
    bOk = false;
  }
  close(iFd);
  // Held open across the rename, so that the old file's storage is freed
  // after the save rather than inside the rename.
  const int iReplaced = bOk ? open(csPath.c_str(), O_RDONLY | O_CLOEXEC) : -1;
  if (bOk && KxSaveIo().rename(csTemp.c_str(), csPath.c_str()) != 0) {
    csWhy = Errno("rename failed");
    bOk = false;
  }
  if (!bOk) {
    if (iReplaced >= 0) close(iReplaced);
    unlink(csTemp.c_str());
    return false;
  }
  const int iDir = open(DirectoryOf(csPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bOk = iDir >= 0 && KxSaveIo().fsyncDir(iDir) == 0;
  if (!bOk) {
    // The new file is in place but its name may not survive a power cut.
    csWhy = Errno("directory fsync failed");
  }
  if (iDir >= 0) close(iDir);
  if (iReplaced >= 0) ReleaseReplacedFile(iReplaced);
  return bOk;
}

int32_t KxReadSavedFile(const std::string& csPath, const char* csFamily, const char* csFileType,
                        KxLoadedFile& loaded, std::string& csWhy) {
  const int iFd = open(csPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (iFd < 0) {
    // Only a file that is not there may be created anew: one that is there
    // but cannot be read must not be replaced by an empty one.
    const bool bMissing = errno == ENOENT;
    csWhy = bMissing ? "no saved file at " + csPath : Errno(("cannot read " + csPath).c_str());
    return bMissing ? KxOpenNotFound : KxOpenIoError;
  }
  struct stat st {};
  if (fstat(iFd, &st) != 0 || !S_ISREG(st.st_mode)) {
    csWhy = "cannot read " + csPath + ": not a regular file";
    close(iFd);
    return KxOpenIoError;
  }
  loaded.bytes.resize(static_cast<size_t>(st.st_size));
  size_t uiRead = 0;
  while (uiRead < loaded.bytes.size()) {
    const ssize_t iGot = read(iFd, loaded.bytes.data() + uiRead, loaded.bytes.size() - uiRead);
    if (iGot < 0 && errno == EINTR) continue;
    if (iGot < 0) {
      csWhy = Errno(("cannot read " + csPath).c_str());
      close(iFd);
      return KxOpenIoError;
    }
    if (iGot == 0) break;  // shorter than it was: the length check tells
    uiRead += static_cast<size_t>(iGot);
  }
  loaded.bytes.resize(uiRead);
  close(iFd);
  const std::vector<uint8_t>& bytes = loaded.bytes;
  // A file that starts as the magic does (an empty one included) but ends
  // inside the header is a cut-off saved file; anything else is foreign.
  if (!bytes.empty() && std::memcmp(bytes.data(), KxSavedHeader::kMagic,
                                    std::min(bytes.size(), sizeof KxSavedHeader::kMagic)) != 0) {
    csWhy = csPath + " is not a saved kernel file (wrong magic)";
    return KxOpenForeign;
  }
  if (bytes.size() < sizeof(KxSavedHeader)) {
    csWhy = csPath + " is truncated: " + std::to_string(bytes.size()) +
            " bytes, shorter than its header";
    return KxOpenTruncated;
  }
  KxSavedHeader& header = loaded.header;
  std::memcpy(&header, bytes.data(), sizeof header);
  KxSavedHeader unsummed = header;
  unsummed.headerCrc = 0;
  if (KxCrc32(&unsummed, sizeof unsummed) != header.headerCrc) {
    csWhy = csPath + " is corrupted (header checksum mismatch)";
    return KxOpenCorrupted;
  }
  if (header.formatVersion < KxSavedHeader::kOldestFormatVersion ||
      header.formatVersion > KxSavedHeader::kFormatVersion || header.headerBytes != sizeof header) {
    csWhy = csPath + " has an unknown format (version " + std::to_string(header.formatVersion) +
            ", header of " + std::to_string(header.headerBytes) + " bytes)";
    return KxOpenForeign;
  }
  if (FieldText(header.family, sizeof header.family) != csFamily ||
      FieldText(header.fileType, sizeof header.fileType) != csFileType) {
    csWhy = csPath + " holds a file of type " + FieldText(header.family, sizeof header.family) +
            "/" + FieldText(header.fileType, sizeof header.fileType) + ", not " + csFamily + "/" +
            csFileType;
    return KxOpenOtherType;
  }
  if (bytes.size() - sizeof header != header.payloadBytes) {
    const bool bShort = bytes.size() - sizeof header < header.payloadBytes;
    csWhy = csPath +
            (bShort ? " is truncated: " : " is corrupted (longer than its header says): ") +
            std::to_string(bytes.size()) + " bytes, expected " +
            std::to_string(sizeof header + header.payloadBytes);
    return bShort ? KxOpenTruncated : KxOpenCorrupted;
  }
  if (KxCrc32(bytes.data() + sizeof header, header.payloadBytes) != header.payloadCrc) {
    csWhy = csPath + " is corrupted (checksum mismatch)";
    return KxOpenCorrupted;
  }

  size_t uiAt = sizeof header;
  for (uint32_t i = 0; i < header.memberCount; ++i) {
    KxSavedMember member;
    if (bytes.size() - uiAt < sizeof member) {
      csWhy = csPath + " is corrupted (member " + std::to_string(i) + " cut short)";
      return KxOpenCorrupted;
    }
    std::memcpy(&member, bytes.data() + uiAt, sizeof member);
    uiAt += sizeof member;
    const uint64_t uiExpected = 4 * (uint64_t{member.top} - KxSegment::kHeaderUnits);
    if (member.top < KxSegment::kHeaderUnits || member.dataBytes != uiExpected ||
        bytes.size() - uiAt < member.dataBytes) {
      csWhy = csPath + " is corrupted (member " + std::to_string(i) + " has a wrong size)";
      return KxOpenCorrupted;
    }
    loaded.members.push_back(member);
    loaded.data.push_back(bytes.data() + uiAt);
    uiAt += member.dataBytes;
  }
  if (uiAt != bytes.size()) {
    csWhy = csPath + " is corrupted (trailing bytes)";
    return KxOpenCorrupted;
  }
  return 0;
}
