// A kernel file as it lives while open: one storage segment per member, in
// a live directory shared by every process that has the file open.
//
// The live directory is named after the file's real path:
//   $VARNOX_LIVE_DIR (default /dev/shm) / varnox-<uid>-<hash of the path>/
//     lock       taken exclusively while a process joins or leaves
//     attached   held shared by every process that has the file open
//     seg<i>     the segment of member i
//     events     the ring of update and growth events (KxEventRing)
//     schema     the fingerprint of the file type it was built for: a process
//                of another schema is refused instead of attaching
//     nge, ngm   the two file-wide locks (flock), see LockFileWide
//
// The first process to open a file (nobody holds "attached") builds the
// live storage from the saved file, or empty when it is created; later
// processes attach to what is there. A process that dies releases its
// locks with it, so the next opener finds nobody attached and rebuilds the
// live storage from the saved file: changes that were never saved are lost
// with the process that made them, and the file always opens.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "contracts/kernel/KxCatalogue.h"
#include "kernel/KxEvents.h"
#include "kernel/KxSavedFile.h"
#include "kernel/KxSegment.h"
#include "kernel/KxStore.h"

class KxLiveFile {
 public:
  // Opens the live file for `csPath` (an absolute path), attaching to it in
  // this process or another, or building it. Answers null with a
  // KxOpenFailure in `iFailure` and the reason in `csWhy`.
  static std::shared_ptr<KxLiveFile> Open(const std::string& csPath, const KxFileType& fileType,
                                          const KxRecordTypes& types, bool bCreate,
                                          int32_t& iFailure, std::string& csWhy);
  // Whether files live in scratch storage: segments and event ring in this
  // process's memory only, no live directory, no other process attached,
  // no listener thread (updates are published but not delivered). Chosen by
  // VARNOX_KERNEL_SCRATCH=1 in a kernel built for fuzzing, where each input
  // opens a file of its own; every other kernel ignores the variable. The
  // load, verification, XML and save run as they always do.
  static bool ScratchStorage();
  ~KxLiveFile();
  KxLiveFile(const KxLiveFile&) = delete;
  KxLiveFile& operator=(const KxLiveFile&) = delete;

  const std::string& Path() const { return m_csPath; }
  const KxFileType& FileType() const { return m_FileType; }
  const KxRecordTypes& Types() const { return m_Types; }
  // Whether a process (this one or another) has the file at `csPath` open:
  // its live data then exists, and `uiSchema` answers the fingerprint of the
  // file type it was built for (0 when it does not say).
  static bool HeldOpen(const std::string& csPath, uint64_t& uiSchema);
  size_t MemberCount() const { return m_Segments.size(); }
  KxSegment& Segment(size_t i) { return *m_Segments[i]; }
  KxStore& Store(size_t i) { return *m_Stores[i]; }
  // The member's container: map slot, array header or record.
  void* Container(size_t i);

  // Saves to `csPath` (this file's path when empty). `bKeepOld` keeps the
  // previous file as csPath + ".bak".
  bool Save(const std::string& csPath, bool bKeepOld, std::string& csWhy);
  // Puts every segment back as `before` holds it (one snapshot per member,
  // taken with all segments locked; call with them still locked), ordered
  // for a death at any point: each copy is first written to the live
  // directory (seg<i>.restore), then every segment records a restore intent,
  // then each is put back and its intent cleared. Whoever recovers a segment
  // whose intent is left finishes its restore from the copy
  // (RecoverSegment), so a death leaves the file either as the change left
  // it or as it was.
  void RestoreAll(const std::vector<KxSegmentSnapshot>& before);
  // Empties every member: maps and arrays lose their elements, single
  // records go back to their initial state.
  void Clear();
  // Empties member `i`.
  void ClearMember(size_t i);

  // The two file-wide locks, NGE and NGM: each is held by at most one
  // thread of one process at a time, whichever process has the file open.
  // A process that dies releases what it held. Blocks until the lock is
  // free; call without the kernel's own lock held.
  enum class FileLock { kNGE, kNGM };
  void LockFileWide(FileLock eLock);
  void UnlockFileWide(FileLock eLock);

  // The file's events: updates published by any process, and the growth
  // of its storage, which the segments publish themselves.
  KxEventRing& Events() { return *m_pEvents; }

 private:
  KxLiveFile(const std::string& csPath, const KxFileType& fileType, const KxRecordTypes& types);
  // Builds the live storage in the shared live directory, or attaches to
  // what another process built there.
  bool JoinLiveDirectory(bool bCreate, int32_t& iFailure, std::string& csWhy);
  bool Build(bool bCreate, int32_t& iFailure, std::string& csWhy);
  bool Load(const KxLoadedFile& loaded, std::string& csWhy);
  void CreateEmpty();
  bool AttachExisting(std::string& csWhy);
  void InitContainer(size_t i);
  // The path of `csName` in the live directory; empty (scratch storage)
  // when there is none.
  std::string LivePath(const std::string& csName) const;
  // Makes member `i` whole after a process died holding its segment's
  // mutex: finishes a restore it left, then KxStore::Recover.
  void RecoverSegment(size_t i);
  // Where the copy of segment `i` lies while it is restored.
  std::string RestoreCopyPath(size_t i) const;
  // What the saved file says of member `i` (its segment locked).
  KxSavedMember SavedMember(size_t i);

  std::string m_csPath;
  std::string m_csLiveDir;
  const KxFileType& m_FileType;
  const KxRecordTypes& m_Types;
  int m_iAttachedFd = -1;
  std::vector<std::unique_ptr<KxSegment>> m_Segments;
  std::vector<std::unique_ptr<KxStore>> m_Stores;
  std::shared_ptr<KxEventRing> m_pEvents;

  // One file-wide lock: a flock on its file for the process, and a flag for
  // the threads of this process (flock alone does not exclude them).
  struct FileWideLock {
    std::mutex mutex;
    std::condition_variable released;
    bool bHeld = false;
    int iFd = -1;
  };
  FileWideLock m_aFileLocks[2];
};
