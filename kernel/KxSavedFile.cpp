#include "kernel/KxSavedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

int FsyncDirectory(int iFd) { return fsync(iFd); }

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

// A fixed-size text field of the header, terminated.
std::string FieldText(const char* p, size_t uiSize) { return std::string(p, strnlen(p, uiSize)); }

}  // namespace

KxFileIo KxSystemIo() { return KxFileIo{::write, ::fsync, ::rename, FsyncDirectory}; }

KxFileIo& KxSaveIo() {
  static KxFileIo io = KxSystemIo();
  return io;
}

uint32_t KxCrc32(const void* p, size_t uiBytes) {
  uLong uiCrc = crc32(0L, Z_NULL, 0);
  const Bytef* pBytes = static_cast<const Bytef*>(p);
  while (uiBytes > 0) {
    const uInt uiChunk = static_cast<uInt>(std::min<size_t>(uiBytes, 1u << 30));
    uiCrc = crc32(uiCrc, pBytes, uiChunk);
    pBytes += uiChunk;
    uiBytes -= uiChunk;
  }
  return static_cast<uint32_t>(uiCrc);
}

bool KxWriteFileAtomically(const std::string& csPath, const std::vector<uint8_t>& bytes,
                           std::string& csWhy) {
  const std::string csTemp = csPath + ".saving." + std::to_string(getpid());
  const int iFd = open(csTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (iFd < 0) {
    csWhy = Errno(("cannot create " + csTemp).c_str());
    return false;
  }
  bool bOk = WriteAll(iFd, bytes.data(), bytes.size(), csWhy);
  // A failed fsync may have dropped dirty pages: the file is not trusted and
  // the next save writes a new one from the start.
  if (bOk && KxSaveIo().fsync(iFd) != 0) {
    csWhy = Errno("fsync failed");
    bOk = false;
  }
  close(iFd);
  if (bOk && KxSaveIo().rename(csTemp.c_str(), csPath.c_str()) != 0) {
    csWhy = Errno("rename failed");
    bOk = false;
  }
  if (!bOk) {
    unlink(csTemp.c_str());
    return false;
  }
  const int iDir = open(DirectoryOf(csPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (iDir < 0 || KxSaveIo().fsyncDir(iDir) != 0) {
    // The new file is in place but its name may not survive a power cut.
    csWhy = Errno("directory fsync failed");
    if (iDir >= 0) close(iDir);
    return false;
  }
  close(iDir);
  return true;
}

int32_t KxReadSavedFile(const std::string& csPath, const char* csFamily, const char* csFileType,
                        KxLoadedFile& loaded, std::string& csWhy) {
  std::ifstream in(csPath, std::ios::binary);
  if (!in) {
    csWhy = "no saved file at " + csPath;
    return KxOpenNotFound;
  }
  loaded.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    csWhy = "cannot read " + csPath;
    return KxOpenIoError;
  }
  const std::vector<uint8_t>& bytes = loaded.bytes;
  if (bytes.size() < sizeof(KxSavedHeader) ||
      std::memcmp(bytes.data(), KxSavedHeader::kMagic, sizeof KxSavedHeader::kMagic) != 0) {
    csWhy = csPath + " is not a saved kernel file (wrong magic)";
    return bytes.size() < sizeof KxSavedHeader::kMagic ? KxOpenTruncated : KxOpenForeign;
  }
  KxSavedHeader& header = loaded.header;
  std::memcpy(&header, bytes.data(), sizeof header);
  KxSavedHeader unsummed = header;
  unsummed.headerCrc = 0;
  if (KxCrc32(&unsummed, sizeof unsummed) != header.headerCrc) {
    csWhy = csPath + " is corrupted (header checksum mismatch)";
    return KxOpenCorrupted;
  }
  if (header.formatVersion != KxSavedHeader::kFormatVersion ||
      header.headerBytes != sizeof header) {
    csWhy = csPath + " has an unknown format version " + std::to_string(header.formatVersion);
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
    csWhy = csPath + " is truncated: " + std::to_string(bytes.size()) + " bytes, expected " +
            std::to_string(sizeof header + header.payloadBytes);
    return bytes.size() - sizeof header < header.payloadBytes ? KxOpenTruncated : KxOpenCorrupted;
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
