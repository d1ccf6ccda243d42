#include "kernel/KxLiveFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "contracts/kernel/KxSchemaFingerprint.h"
#include "kernel/KxKernelLog.h"
#include "kernel/KxVerifier.h"

namespace {

// Live files of this process by path: two file objects of one process that
// open the same path share one live file.
std::mutex g_RegistryMutex;
std::map<std::string, std::weak_ptr<KxLiveFile>>& Registry() {
  static std::map<std::string, std::weak_ptr<KxLiveFile>> registry;
  return registry;
}

std::string LiveDirectoryOf(const std::string& csPath) {
  const char* csRoot = std::getenv("VARNOX_LIVE_DIR");
  uint64_t uiHash = 1469598103934665603ull;
  for (unsigned char c : csPath) {
    uiHash ^= c;
    uiHash *= 1099511628211ull;
  }
  char aName[64];
  std::snprintf(aName, sizeof aName, "/varnox-%u-%016llx", static_cast<unsigned>(getuid()),
                static_cast<unsigned long long>(uiHash));
  return std::string(csRoot != nullptr && csRoot[0] != '\0' ? csRoot : "/dev/shm") + aName;
}

// Holds an exclusive flock on the live directory's lock file for a scope.
// The last process to leave a file removes its directory with the lock file
// (RemoveLiveDirectory): a lock taken on a lock file that was removed while
// this process waited for it is let go and taken again on the directory as
// it is now, so that two processes never hold locks on two lock files.
class DirectoryLock {
 public:
  // `bMake`: the directory is made when it is missing; otherwise a missing
  // directory leaves the lock not held.
  DirectoryLock(const std::string& csDir, bool bMake) {
    const std::string csLock = csDir + "/lock";
    for (;;) {
      if (bMake && mkdir(csDir.c_str(), 0700) != 0 && errno != EEXIST) return;
      m_iFd = open(csLock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (m_iFd < 0) {
        if (bMake && errno == ENOENT) continue;  // removed after the mkdir
        return;
      }
      while (flock(m_iFd, LOCK_EX) != 0 && errno == EINTR) {
      }
      if (StillNamed(m_iFd, csLock)) return;
      close(m_iFd);  // the lock file was removed meanwhile: take the new one
      m_iFd = -1;
    }
  }
  ~DirectoryLock() {
    if (m_iFd >= 0) close(m_iFd);  // closing releases the lock
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  bool Held() const { return m_iFd >= 0; }

 private:
  // Whether `csPath` names the file open as `iFd`.
  static bool StillNamed(int iFd, const std::string& csPath) {
    struct stat held {};
    struct stat named {};
    return fstat(iFd, &held) == 0 && stat(csPath.c_str(), &named) == 0 &&
           held.st_ino == named.st_ino && held.st_dev == named.st_dev;
  }

  int m_iFd = -1;
};

std::string SegmentPath(const std::string& csDir, size_t i) {
  return csDir + "/seg" + std::to_string(i);
}

// Removes the live storage of a file that nobody has open any more.
void RemoveLiveStorage(const std::string& csDir, size_t uiMembers) {
  for (size_t i = 0; i < uiMembers; ++i) {
    unlink(SegmentPath(csDir, i).c_str());
    unlink((SegmentPath(csDir, i) + ".restore").c_str());
  }
  unlink((csDir + "/events").c_str());
  unlink((csDir + "/schema").c_str());
}

// Removes the live directory of a file that nobody has open any more, its
// lock files with it, holding the directory's lock: the next opener makes it
// anew (DirectoryLock). A directory holding anything else stays.
void RemoveLiveDirectory(const std::string& csDir, size_t uiMembers) {
  RemoveLiveStorage(csDir, uiMembers);
  for (const char* csName : {"/nge", "/ngm", "/attached", "/lock"})
    unlink((csDir + csName).c_str());
  rmdir(csDir.c_str());
}

// The live storage's "schema" file holds the fingerprint of the file type
// it was built for, so that a process of another schema does not attach to
// records it would misread.
bool WriteLiveSchema(const std::string& csDir, uint64_t uiSchema) {
  const int iFd =
      open((csDir + "/schema").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (iFd < 0) return false;
  const bool bOk = write(iFd, &uiSchema, sizeof uiSchema) == sizeof uiSchema;
  close(iFd);
  return bOk;
}

// The fingerprint the live storage was built for; 0 when it does not say
// (built by a kernel before the fingerprint).
uint64_t ReadLiveSchema(const std::string& csDir) {
  uint64_t uiSchema = 0;
  const int iFd = open((csDir + "/schema").c_str(), O_RDONLY | O_CLOEXEC);
  if (iFd < 0) return 0;
  if (read(iFd, &uiSchema, sizeof uiSchema) != sizeof uiSchema) uiSchema = 0;
  close(iFd);
  return uiSchema;
}

void CopyField(char* pField, size_t uiSize, const char* csText) {
  std::memset(pField, 0, uiSize);
  std::strncpy(pField, csText, uiSize - 1);
}

std::string Hex(uint64_t uiValue) {
  char aText[24];
  std::snprintf(aText, sizeof aText, "0x%016" PRIX64, uiValue);
  return aText;
}

// Whether a saved file's records are laid out as this kernel's file type
// lays them out. A file older than the fingerprint is taken on the word of
// its family and file type.
bool SameLayout(const KxSavedHeader& header, const KxFileType& fileType, const std::string& csPath,
                std::string& csWhy) {
  if (header.formatVersion < 2) return true;
  const uint64_t uiOurs = KxFileTypeFingerprint(fileType);
  if (header.schema == uiOurs) return true;
  csWhy = csPath + " was written by a library of another schema: its " + fileType.name +
          " records are laid out otherwise (file fingerprint " + Hex(header.schema) +
          ", this kernel's " + Hex(uiOurs) + ")";
  return false;
}

}  // namespace

bool KxLiveFile::ScratchStorage() {
#ifdef VARNOX_KERNEL_SCRATCH_ALLOWED
  static const bool bScratch = [] {
    const char* csScratch = std::getenv("VARNOX_KERNEL_SCRATCH");
    return csScratch != nullptr && std::strcmp(csScratch, "1") == 0;
  }();
  return bScratch;
#else
  return false;
#endif
}

KxLiveFile::KxLiveFile(const std::string& csPath, const KxFileType& fileType,
                       const KxRecordTypes& types)
    : m_csPath(csPath),
      m_csLiveDir(ScratchStorage() ? std::string() : LiveDirectoryOf(csPath)),
      m_FileType(fileType),
      m_Types(types) {}

std::shared_ptr<KxLiveFile> KxLiveFile::Open(const std::string& csPath, const KxFileType& fileType,
                                             const KxRecordTypes& types, bool bCreate,
                                             int32_t& iFailure, std::string& csWhy) {
  std::lock_guard<std::mutex> guard(g_RegistryMutex);
  if (std::shared_ptr<KxLiveFile> pOpen = Registry()[csPath].lock()) {
    if (&pOpen->m_FileType != &fileType) {
      iFailure = KxOpenOtherType;
      csWhy = csPath + " is open as " + pOpen->m_FileType.name + ", not " + fileType.name;
      return nullptr;
    }
    return pOpen;
  }
  std::shared_ptr<KxLiveFile> pFile(new KxLiveFile(csPath, fileType, types));
  // Scratch storage is built anew by this process alone: no live directory.
  const bool bOk = ScratchStorage() ? pFile->Build(bCreate, iFailure, csWhy)
                                    : pFile->JoinLiveDirectory(bCreate, iFailure, csWhy);
  if (!bOk) return nullptr;
  for (size_t i = 0; i < pFile->m_Segments.size(); ++i) {
    KxSegment& segment = *pFile->m_Segments[i];
    segment.SetGrowthListener(
        [](void* pContext, uint32_t) { static_cast<KxEventRing*>(pContext)->PublishGrowth(); },
        pFile->m_pEvents.get());
    // A process that died holding the segment's mutex may have left a
    // change half done: the next to take the mutex makes the member whole.
    KxLiveFile* pRaw = pFile.get();
    segment.SetOwnerDeathListener([pRaw, i] { pRaw->RecoverSegment(i); });
  }
  Registry()[csPath] = pFile;
  return pFile;
}

bool KxLiveFile::JoinLiveDirectory(bool bCreate, int32_t& iFailure, std::string& csWhy) {
  DirectoryLock lock(m_csLiveDir, true);
  if (lock.Held()) {
    m_iAttachedFd =
        open((m_csLiveDir + "/attached").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  }
  if (m_iAttachedFd < 0) {
    iFailure = KxOpenIoError;
    csWhy = "cannot make or lock the live directory " + m_csLiveDir + ": " + std::strerror(errno);
    return false;
  }
  bool bOk = false;
  const bool bBuilding = flock(m_iAttachedFd, LOCK_EX | LOCK_NB) == 0;
  const uint64_t uiSchema = KxFileTypeFingerprint(m_FileType);
  if (bBuilding) {
    // Nobody has the file open: build its live storage anew.
    bOk = Build(bCreate, iFailure, csWhy);
    if (bOk && !WriteLiveSchema(m_csLiveDir, uiSchema)) {
      iFailure = KxOpenIoError;
      csWhy = "cannot write " + m_csLiveDir + "/schema: " + std::strerror(errno);
      bOk = false;
    }
  } else if (const uint64_t uiLive = ReadLiveSchema(m_csLiveDir);
             uiLive != 0 && uiLive != uiSchema) {
    iFailure = KxOpenOtherSchema;
    csWhy = m_csPath + " is open in another process by a library of another schema: its " +
            m_FileType.name + " records are laid out otherwise (live fingerprint " + Hex(uiLive) +
            ", this kernel's " + Hex(uiSchema) + ")";
  } else {
    bOk = AttachExisting(csWhy);
    if (!bOk) iFailure = KxOpenIoError;
  }
  if (!bOk || flock(m_iAttachedFd, LOCK_SH) != 0) {
    m_Segments.clear();
    // What a refused build made (as large as the file) must not stay in memory.
    if (bBuilding) RemoveLiveStorage(m_csLiveDir, m_FileType.memberCount);
    close(m_iAttachedFd);
    m_iAttachedFd = -1;
    return false;
  }
  return true;
}

std::string KxLiveFile::RestoreCopyPath(size_t i) const {
  return LivePath("/seg" + std::to_string(i) + ".restore");
}

void KxLiveFile::RecoverSegment(size_t i) {
  const KxFileMember& member = m_FileType.members[i];
  KxSegment& segment = *m_Segments[i];
  std::string csRestored;
  if (segment.Header().intentOp == static_cast<uint32_t>(KxIntent::kRestore)) {
    KxSegmentSnapshot copy;
    if (KxSegment::ReadSnapshot(RestoreCopyPath(i), copy) &&
        copy.top <= segment.Header().capacity) {
      segment.Restore(copy);
      unlink(RestoreCopyPath(i).c_str());
      csRestored = "; the restore from its copy finished";
    } else {
      csRestored = "; its copy is gone, the restore could not finish";
    }
  }
  const std::string csDone = m_Stores[i]->Recover(*member.memberClass, member.name);
  KxKernelLog("KERNEL", "recovered " + m_csPath + " " + member.name + ": " + csDone + csRestored);
}

void KxLiveFile::RestoreAll(const std::vector<KxSegmentSnapshot>& before) {
  // Scratch storage has no other process to finish a restore: no copies.
  bool bCopied = !m_csLiveDir.empty();
  for (size_t i = 0; bCopied && i < m_Segments.size(); ++i)
    bCopied = KxSegment::WriteSnapshot(before[i], RestoreCopyPath(i));
  // Without every copy, a death leaves what the rebuild left, as before.
  if (bCopied) {
    for (auto& pSegment : m_Segments) pSegment->BeginIntent(KxIntent::kRestore, 0);
  }
  for (size_t i = 0; i < m_Segments.size(); ++i) {
    m_Segments[i]->Restore(before[i]);
    if (bCopied) m_Segments[i]->EndIntent();
  }
  for (size_t i = 0; bCopied && i < m_Segments.size(); ++i) unlink(RestoreCopyPath(i).c_str());
}

bool KxLiveFile::HeldOpen(const std::string& csPath, uint64_t& uiSchema) {
  const std::string csDir = LiveDirectoryOf(csPath);
  // Under the directory's lock, as an opener decides whether to build.
  DirectoryLock lock(csDir, false);
  if (!lock.Held()) return false;
  const int iFd = open((csDir + "/attached").c_str(), O_RDWR | O_CLOEXEC);
  if (iFd < 0) return false;
  // Every process that has the file open holds the file shared.
  const bool bHeld = flock(iFd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(iFd);
  uiSchema = bHeld ? ReadLiveSchema(csDir) : 0;
  return bHeld;
}

KxLiveFile::~KxLiveFile() {
  if (m_pEvents) m_pEvents->StopListening();
  for (FileWideLock& lock : m_aFileLocks) {
    if (lock.iFd >= 0) close(lock.iFd);  // releases a lock still held
  }
  if (m_iAttachedFd < 0) return;
  DirectoryLock lock(m_csLiveDir, false);
  m_Stores.clear();
  m_Segments.clear();
  m_pEvents.reset();
  flock(m_iAttachedFd, LOCK_UN);
  if (flock(m_iAttachedFd, LOCK_EX | LOCK_NB) == 0) {
    // The last process to leave frees the live storage.
    RemoveLiveDirectory(m_csLiveDir, m_FileType.memberCount);
  }
  close(m_iAttachedFd);
}

std::string KxLiveFile::LivePath(const std::string& csName) const {
  return m_csLiveDir.empty() ? std::string() : m_csLiveDir + csName;
}

void* KxLiveFile::Container(size_t i) {
  KxSegment& segment = *m_Segments[i];
  return segment.At(KxAtomicLoad(segment.Header().container));
}

bool KxLiveFile::Build(bool bCreate, int32_t& iFailure, std::string& csWhy) {
  KxLoadedFile loaded;
  const int32_t iRead =
      KxReadSavedFile(m_csPath, m_FileType.family, m_FileType.name, loaded, csWhy);
  const bool bEmpty = iRead == KxOpenNotFound && bCreate;
  if (iRead != 0 && !bEmpty) {
    iFailure = iRead;
    return false;
  }
  try {
    m_pEvents = KxEventRing::Create(LivePath("/events"));
    if (bEmpty) {
      CreateEmpty();
      return true;
    }
    if (!SameLayout(loaded.header, m_FileType, m_csPath, csWhy)) {
      iFailure = KxOpenOtherSchema;
      return false;
    }
    if (!Load(loaded, csWhy)) {
      iFailure = KxOpenCorrupted;
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    iFailure = KxOpenIoError;
    csWhy = e.what();
    return false;
  }
}

void KxLiveFile::InitContainer(size_t i) {
  KxSegment& segment = *m_Segments[i];
  const KxMemberClass& memberClass = *m_FileType.members[i].memberClass;
  KxSegmentLock lock(segment);
  const uint32_t uiUnit = segment.Allocate(KxStore::ContainerBytes(memberClass));
  if (uiUnit == 0)
    throw std::runtime_error("cannot allocate the container of " +
                             std::string(m_FileType.members[i].name));
  m_Stores[i]->InitMember(memberClass, segment.At(uiUnit));
  KxAtomicStore(segment.Header().container, uiUnit);
}

void KxLiveFile::CreateEmpty() {
  for (size_t i = 0; i < m_FileType.memberCount; ++i) {
    m_Segments.push_back(
        KxSegment::Create(LivePath("/seg" + std::to_string(i)), m_FileType.members[i].memberClass->classId));
    m_Stores.push_back(std::make_unique<KxStore>(*m_Segments.back(), m_Types));
    InitContainer(i);
  }
}

bool KxLiveFile::Load(const KxLoadedFile& loaded, std::string& csWhy) {
  if (loaded.members.size() != m_FileType.memberCount) {
    csWhy = m_csPath + " is corrupted (it has " + std::to_string(loaded.members.size()) +
            " members, its type " + std::to_string(m_FileType.memberCount) + ")";
    return false;
  }
  for (size_t i = 0; i < m_FileType.memberCount; ++i) {
    const KxSavedMember& saved = loaded.members[i];
    const KxMemberClass& memberClass = *m_FileType.members[i].memberClass;
    if (saved.classId != memberClass.classId) {
      csWhy = m_csPath + " is corrupted (member " + std::to_string(i) + " has class id " +
              std::to_string(saved.classId) + ")";
      return false;
    }
    m_Segments.push_back(KxSegment::Create(LivePath("/seg" + std::to_string(i)), saved.classId));
    m_Stores.push_back(std::make_unique<KxStore>(*m_Segments.back(), m_Types));
    KxSegment& segment = *m_Segments.back();
    if (!segment.Reserve(saved.top)) {
      csWhy = m_csPath + ": the live storage cannot hold member " + std::to_string(i);
      return false;
    }
    std::memcpy(segment.At(KxSegment::kHeaderUnits), loaded.data[i], saved.dataBytes);
    KxSegmentHeader& header = segment.Header();
    header.top = saved.top;
    header.container = saved.container;
    header.usedUnits = saved.usedUnits;
    std::memcpy(header.freeHeads, saved.freeHeads, sizeof header.freeHeads);
    KxVerifier verifier(segment, m_Types);
    if (loaded.header.formatVersion < 2) verifier.MigratePositionalTypes(segment);
    const std::vector<KxProblem> problems =
        verifier.VerifyMember(m_FileType.members[i].name, memberClass, saved.container, false);
    if (!problems.empty()) {
      csWhy = m_csPath + " is corrupted (" + problems.front().csWhere + ": " +
              problems.front().csWhat +
              (problems.size() > 1 ? "; " + std::to_string(problems.size() - 1) + " more problems"
                                   : std::string()) +
              ")";
      return false;
    }
    // Blocks a death lost in the process that saved the file come back now,
    // before the rebuild allocates anything.
    m_Stores[i]->ReclaimLost(verifier);
    m_Stores[i]->RebuildMember(memberClass, segment.At(saved.container), true);
  }
  return true;
}

bool KxLiveFile::AttachExisting(std::string& csWhy) {
  try {
    m_pEvents = KxEventRing::Attach(m_csLiveDir + "/events");
    for (size_t i = 0; i < m_FileType.memberCount; ++i) {
      m_Segments.push_back(KxSegment::Attach(SegmentPath(m_csLiveDir, i)));
      m_Stores.push_back(std::make_unique<KxStore>(*m_Segments.back(), m_Types));
      if (m_Segments.back()->Header().classId != m_FileType.members[i].memberClass->classId) {
        csWhy = m_csPath + " is open elsewhere as another file type";
        return false;
      }
    }
    return true;
  } catch (const std::exception& e) {
    csWhy = e.what();
    return false;
  }
}

KxSavedMember KxLiveFile::SavedMember(size_t i) {
  const KxSegmentHeader& header = m_Segments[i]->Header();
  KxSavedMember member{};
  member.classId = header.classId;
  member.top = header.top;
  member.container = header.container;
  member.usedUnits = header.usedUnits;
  std::memcpy(member.freeHeads, header.freeHeads, sizeof member.freeHeads);
  member.dataBytes = 4 * (uint64_t{header.top} - KxSegment::kHeaderUnits);
  return member;
}

bool KxLiveFile::Save(const std::string& csPath, bool bKeepOld, std::string& csWhy) {
  const std::string csTarget = csPath.empty() ? m_csPath : csPath;
  if (bKeepOld) {
    const std::string csBackup = csTarget + ".bak";
    unlink(csBackup.c_str());
    if (link(csTarget.c_str(), csBackup.c_str()) != 0 && errno != ENOENT) {
      csWhy = "cannot keep the old file as " + csBackup + ": " + std::strerror(errno);
      return false;
    }
  }
  // The members go to the file straight from their segments: no copy of the
  // file is made. The segments stay locked from the checksum to the last
  // write, so that the checksum covers exactly what is written, and are
  // released before the fsync.
  std::vector<std::unique_ptr<KxSegmentLock>> locks;
  std::vector<KxSavedMember> members;
  KxSavedHeader header{};
  uint32_t uiCrc = 0;
  for (size_t i = 0; i < m_Segments.size(); ++i) {
    locks.push_back(std::make_unique<KxSegmentLock>(*m_Segments[i]));
    members.push_back(SavedMember(i));
    uiCrc = KxCrc32(&members.back(), sizeof(KxSavedMember), uiCrc);
    uiCrc = KxCrc32(m_Segments[i]->At(KxSegment::kHeaderUnits), members.back().dataBytes, uiCrc);
    header.payloadBytes += sizeof(KxSavedMember) + members.back().dataBytes;
  }
  std::memcpy(header.magic, KxSavedHeader::kMagic, sizeof header.magic);
  header.formatVersion = KxSavedHeader::kFormatVersion;
  header.headerBytes = sizeof header;
  CopyField(header.family, sizeof header.family, m_FileType.family);
  CopyField(header.fileType, sizeof header.fileType, m_FileType.name);
  header.memberCount = static_cast<uint32_t>(m_Segments.size());
  header.schema = KxFileTypeFingerprint(m_FileType);
  header.payloadCrc = uiCrc;
  header.headerCrc = KxCrc32(&header, sizeof header);

  return KxWriteFileAtomically(
      csTarget,
      [&](int iFd, std::string& csError) {
        // Pieces go out gathered into whole stages: the file is written
        // from its start in equal writes, whatever the pieces.
        // A small file stages no more than its own size.
        const size_t kStageBytes =
            std::min<uint64_t>(size_t{1} << 20, sizeof header + header.payloadBytes);
        std::vector<uint8_t> stage(kStageBytes);
        size_t uiStaged = 0;
        auto put = [&](const void* p, size_t uiBytes) {
          const uint8_t* pByte = static_cast<const uint8_t*>(p);
          while (uiBytes > 0) {
            const size_t uiTake = std::min(uiBytes, kStageBytes - uiStaged);
            std::memcpy(stage.data() + uiStaged, pByte, uiTake);
            uiStaged += uiTake;
            pByte += uiTake;
            uiBytes -= uiTake;
            if (uiStaged == kStageBytes) {
              if (!KxWriteAll(iFd, stage.data(), uiStaged, csError)) return false;
              uiStaged = 0;
            }
          }
          return true;
        };
        bool bOk = put(&header, sizeof header);
        for (size_t i = 0; bOk && i < m_Segments.size(); ++i) {
          bOk = put(&members[i], sizeof(KxSavedMember)) &&
                put(m_Segments[i]->At(KxSegment::kHeaderUnits), members[i].dataBytes);
        }
        bOk = bOk && KxWriteAll(iFd, stage.data(), uiStaged, csError);
        locks.clear();
        return bOk;
      },
      csWhy);
}

void KxLiveFile::ClearMember(size_t i) {
  KxSegmentLock lock(*m_Segments[i]);
  m_Stores[i]->ClearMember(*m_FileType.members[i].memberClass, Container(i));
}

void KxLiveFile::Clear() {
  for (size_t i = 0; i < m_Segments.size(); ++i) ClearMember(i);
}

void KxLiveFile::LockFileWide(FileLock eLock) {
  FileWideLock& lock = m_aFileLocks[static_cast<int>(eLock)];
  std::unique_lock<std::mutex> guard(lock.mutex);
  lock.released.wait(guard, [&] { return !lock.bHeld; });
  lock.bHeld = true;
  // Scratch storage has no live directory and no other process: the lock
  // stays within this process.
  if (lock.iFd < 0 && !m_csLiveDir.empty()) {
    const char* csName = eLock == FileLock::kNGE ? "/nge" : "/ngm";
    lock.iFd = open(LivePath(csName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  }
  while (lock.iFd >= 0 && flock(lock.iFd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

void KxLiveFile::UnlockFileWide(FileLock eLock) {
  FileWideLock& lock = m_aFileLocks[static_cast<int>(eLock)];
  std::lock_guard<std::mutex> guard(lock.mutex);
  if (!lock.bHeld) return;
  if (lock.iFd >= 0) flock(lock.iFd, LOCK_UN);
  lock.bHeld = false;
  lock.released.notify_one();
}
