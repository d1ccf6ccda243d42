#include "kernel/KxCheck.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "contracts/kernel/KxSchemaFingerprint.h"
#include "kernel/KxSavedFile.h"

namespace {

const KxFileType* FileTypeNamed(const KxCatalogue& catalogue, const char* csName) {
  for (uint32_t i = 0; i < catalogue.fileCount; ++i) {
    if (std::strcmp(catalogue.files[i].name, csName) == 0) return &catalogue.files[i];
  }
  return nullptr;
}

// The file type a saved file's header names, or null with the reason.
const KxFileType* SavedFileType(const std::string& csPath, const KxCatalogue& catalogue,
                                std::string& csWhy) {
  KxSavedHeader header{};
  std::ifstream in(csPath, std::ios::binary);
  if (!in) {
    csWhy = "cannot read the file: " + std::string(std::strerror(errno));
    return nullptr;
  }
  if (!in.read(reinterpret_cast<char*>(&header), sizeof header) ||
      std::memcmp(header.magic, KxSavedHeader::kMagic, sizeof header.magic) != 0) {
    csWhy = "not a saved kernel file (no file header)";
    return nullptr;
  }
  header.fileType[sizeof header.fileType - 1] = '\0';
  const KxFileType* pType = FileTypeNamed(catalogue, header.fileType);
  if (pType == nullptr) csWhy = std::string("a file of unknown type ") + header.fileType;
  return pType;
}

// A segment of this process alone, its file unlinked at once.
std::unique_ptr<KxSegment> ScratchSegment(uint32_t uiClassId) {
  const char* csTmp = std::getenv("TMPDIR");
  std::string csPath = std::string(csTmp != nullptr && csTmp[0] != '\0' ? csTmp : "/tmp") +
                       "/varnox-check-XXXXXX";
  const int iFd = mkstemp(csPath.data());
  if (iFd < 0) throw std::runtime_error("cannot make scratch storage in " + csPath);
  close(iFd);
  std::unique_ptr<KxSegment> pSegment = KxSegment::Create(csPath, uiClassId);
  unlink(csPath.c_str());
  return pSegment;
}

}  // namespace

std::string KxCheckedPath(const std::string& csPath) {
  std::string csFull = csPath;
  if (csFull.empty() || csFull[0] != '/') {
    char aCwd[PATH_MAX];
    csFull = std::string(getcwd(aCwd, sizeof aCwd) != nullptr ? aCwd : ".") + "/" + csFull;
  }
  const size_t uiSlash = csFull.rfind('/');
  const std::string csDir = uiSlash == 0 ? "/" : csFull.substr(0, uiSlash);
  char aReal[PATH_MAX];
  if (realpath(csDir.c_str(), aReal) == nullptr) return csFull;
  return std::string(aReal) + (std::strcmp(aReal, "/") == 0 ? "" : "/") +
         csFull.substr(uiSlash + 1);
}

const KxFileType* KxFileTypeOfSchema(const KxCatalogue& catalogue, uint64_t uiSchema) {
  for (uint32_t i = 0; i < catalogue.fileCount; ++i) {
    if (KxFileTypeFingerprint(catalogue.files[i]) == uiSchema) return &catalogue.files[i];
  }
  return nullptr;
}

KxFileCheck KxCheckSavedFile(const std::string& csPath, const KxCatalogue& catalogue,
                             const KxRecordTypes& types) {
  KxFileCheck check;
  std::string csWhy;
  const KxFileType* pType = SavedFileType(csPath, catalogue, csWhy);
  KxLoadedFile loaded;
  if (pType != nullptr) {
    check.csFileType = pType->name;
    if (KxReadSavedFile(csPath, pType->family, pType->name, loaded, csWhy) == 0 &&
        loaded.header.formatVersion >= 2 && loaded.header.schema != KxFileTypeFingerprint(*pType))
      csWhy = std::string("written by a library of another schema: its ") + pType->name +
              " records are laid out otherwise";
    if (csWhy.empty() && loaded.members.size() != pType->memberCount)
      csWhy = "it has " + std::to_string(loaded.members.size()) + " members, its type " +
              std::to_string(pType->memberCount);
  }
  if (!csWhy.empty()) {
    check.problems.push_back(KxProblem{"the file", csWhy});
    return check;
  }
  for (size_t i = 0; i < loaded.members.size(); ++i) {
    const KxSavedMember& saved = loaded.members[i];
    const KxFileMember& member = pType->members[i];
    if (saved.classId != member.memberClass->classId) {
      check.problems.push_back(
          KxProblem{member.name, "the member has class id " + std::to_string(saved.classId) +
                                     ", its type " + std::to_string(member.memberClass->classId)});
      continue;
    }
    std::unique_ptr<KxSegment> pSegment = ScratchSegment(saved.classId);
    if (!pSegment->Reserve(saved.top)) {
      check.problems.push_back(KxProblem{member.name, "the member is too large to load"});
      continue;
    }
    std::memcpy(pSegment->At(KxSegment::kHeaderUnits), loaded.data[i], saved.dataBytes);
    KxSegmentHeader& header = pSegment->Header();
    header.top = saved.top;
    header.container = saved.container;
    header.usedUnits = saved.usedUnits;
    std::memcpy(header.freeHeads, saved.freeHeads, sizeof header.freeHeads);
    KxVerifier verifier(*pSegment, types);
    if (loaded.header.formatVersion < 2) verifier.MigratePositionalTypes(*pSegment);
    for (KxProblem& problem : verifier.VerifyMember(member.name, *member.memberClass,
                                                    saved.container, true)) {
      check.problems.push_back(std::move(problem));
    }
  }
  return check;
}

KxFileCheck KxCheckLiveFile(KxLiveFile& file) {
  KxFileCheck check;
  check.csFileType = file.FileType().name;
  for (size_t i = 0; i < file.MemberCount(); ++i) {
    const KxFileMember& member = file.FileType().members[i];
    KxSegmentLock lock(file.Segment(i));
    KxVerifier verifier(file.Segment(i), file.Types());
    for (KxProblem& problem :
         verifier.VerifyMember(member.name, *member.memberClass,
                               KxAtomicLoad(file.Segment(i).Header().container), true)) {
      check.problems.push_back(std::move(problem));
    }
  }
  return check;
}
