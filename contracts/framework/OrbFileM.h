// OrbFileM: the framework's base of every file wrapper, and the type of the
// library's open-files table.
//
// The base gives each wrapper its process-wide LocalFileId, keeps the
// kernel's FileId, learns the open-files table and the number of view-model
// roots of its file (Init), registers view-model roots with the container
// each one shows (AddMvvmRoot), and routes every kernel update notification
// that the wrapper receives to the containers concerned (OnObjectUpdateEx).
// The wrapper supplies the file-level operations the framework asks for
// (GetObjInd, IsReadOnlyMapGet, the growth status and the file-wide locks).
//
// Routing. A root index is the member's position in its file, which is the
// order the file template registers its members in, and so the object
// number the kernel gives the member in its update notifications. An
// update of object n goes to the containers registered under n (their
// ObjectChanged event, through OnObjectChanged) and then to the roots
// registered under n, which refresh (OrbMvvmTree::OnKernelUpdate). The file
// holds roots and containers weakly: a root lives as long as its user (a
// data context, a screen) holds it.
//
// Threads. OnObjectUpdateEx runs on the kernel's notification thread; the
// events it causes are raised there (or where a data context's dispatcher
// runs them). The tables are guarded, so roots may be added and the file
// unloaded on other threads meanwhile.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>

#include "contracts/framework/OrbApp.h"
#include "contracts/framework/OrbInterfaces.h"
#include "contracts/framework/OrbValues.h"

namespace Tarvex::Orb::DataDirectAcces {

class OrbBaseDataWrapper;
class OrbFileM;

// The open file wrappers, keyed by LocalFileId taken as a signed 32-bit
// number. The table holds every registered wrapper alive.
using OrbOpenFileTable = std::map<int32_t, std::shared_ptr<OrbFileM>>;

// File wrappers are held by std::shared_ptr; a wrapper reaches its own
// owner through shared_from_this (for the table and its containers).
class OrbFileM : public std::enable_shared_from_this<OrbFileM> {
 public:
  virtual ~OrbFileM();
  OrbFileM(const OrbFileM&) = delete;
  OrbFileM& operator=(const OrbFileM&) = delete;

  // Distinct for every wrapper of the process; fixed at construction.
  uint32_t LocalFileId() const { return m_uiLocalFileId; }
  // The kernel's id of the file, as the last open returned it; -1 before.
  int32_t FileId() const { return m_iFileId; }
  void set_FileId(int32_t iFileId) { m_iFileId = iFileId; }
  // True once the wrapper released its native file object (its teardown
  // ran). Container wrappers and proxies handed out earlier check it before
  // every walk, so none reaches the released native memory. One relaxed
  // load: the caller serialises teardown with the use of the file.
  bool IsNativeReleased() const { return m_bNativeReleased.load(std::memory_order_relaxed); }

  // Called once, by the wrapper's construction: the table the wrapper is
  // registered in (held weakly) and the number of view-model roots of its
  // file. A negative count is taken as 0.
  void Init(std::shared_ptr<OrbOpenFileTable> pOpenFiles, int32_t iRootCount);
  // The open-files table given to Init, while it lives.
  std::shared_ptr<OrbOpenFileTable> OpenFiles() const;
  int32_t RootCount() const;
  // Registers `pRoot`, a new view-model root of member `iRootIndex`
  // (described by `memberInfo`), showing `pContainer`, whose change
  // notifications the framework delivers. The same index may be registered
  // many times, once per root made. The root's tree learns the container
  // (to publish its writes) and the member's name. OrbKernelException for a
  // root index outside 0 to the root count - 1, or a null root.
  void AddMvvmRoot(int32_t iRootIndex, std::shared_ptr<OrbBaseDataWrapper> pRoot,
                   std::shared_ptr<IOrbUpdatableObject> pContainer,
                   const OrbMemberInfo& memberInfo);
  // Registers the container of member `iRootIndex` alone, so that its
  // ObjectChanged event follows the kernel without any view model. A
  // container registered twice is told once per update.
  void AddUpdatable(int32_t iRootIndex, std::shared_ptr<IOrbUpdatableObject> pContainer);
  // Routes one kernel update: the kernel object number, the update's text,
  // its 32-bit word and its update id. Runs on the kernel's notification
  // thread. An object number with nothing registered is ignored. Every
  // container and root of the member is reached even when one of them (or
  // a handler) throws; the first exception is then rethrown.
  void OnObjectUpdateEx(int32_t iObjId, std::u16string_view csText, uint32_t uiWord,
                        uint64_t uiUpdateId);
  // Updates of member `iObjId` were lost before they could be delivered (the
  // kernel reported them overwritten): every root of the member reloads
  // everything it shows, as a kernel update that names nothing does.
  // Failures as OnObjectUpdateEx.
  void OnUpdatesLost(int32_t iObjId);
  // The file is unloaded or the wrapper torn down: every registered root is
  // detached (OrbMvvmTree::Detach) and forgotten with the containers, even
  // when a handler throws (the first exception is then rethrown). Repeated
  // calls are harmless.
  void OrbFileUnloaded();

  // The framework's part of the end of the application (OrbFileUnloaded).
  // A wrapper's override calls it first, then disposes of the wrapper.
  virtual void ZinternalEndNetApplication();
  // A new dimension object filled by the kernel file for `csPath`.
  virtual std::shared_ptr<Modim> GetObjInd(std::u16string_view csPath) = 0;
  // Whether the file's maps are read-only to the framework.
  virtual bool IsReadOnlyMapGet() const = 0;

 protected:
  // Gives the wrapper its LocalFileId.
  OrbFileM();
  // The wrapper's teardown calls this before it deletes its native object.
  void MarkNativeReleased() { m_bNativeReleased.store(true, std::memory_order_relaxed); }

  // The kernel file's dynamic-data growth status; -1 when unknown.
  virtual int32_t GetDynGrowStatus() = 0;
  // The kernel's file-wide locks NGE and NGM, for the framework's use.
  virtual void GetNGELock() = 0;
  virtual void ReleaseNGELock() = 0;
  virtual void GetNGMLock() = 0;
  virtual void ReleaseNGMLock() = 0;

 private:
  friend class OrbFileWideLock;

  // Roots, open-files table and routing state: the framework's.
  struct Impl;
  std::unique_ptr<Impl> m_pImpl;
  uint32_t m_uiLocalFileId = 0;
  int32_t m_iFileId = -1;
  std::atomic<bool> m_bNativeReleased{false};
};

// Holds one of the kernel's file-wide locks (NGE or NGM) of a file for a
// scope, through the wrapper's forwards; released also when the scope ends
// by an exception.
class OrbFileWideLock {
 public:
  enum class Kind : uint8_t { NGE, NGM };

  OrbFileWideLock(OrbFileM& file, Kind kind);
  ~OrbFileWideLock();
  OrbFileWideLock(const OrbFileWideLock&) = delete;
  OrbFileWideLock& operator=(const OrbFileWideLock&) = delete;

 private:
  OrbFileM& m_File;
  Kind m_Kind;
};

}  // namespace Tarvex::Orb::DataDirectAcces
