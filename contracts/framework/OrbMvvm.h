// View-model support: the bases the library's view models and observable
// collections build on, and the data contexts that bind a file member's
// view-model root to a user interface.
//
//   OrbBaseDataWrapper              base of every observable value, collection
//                                   and view model
//   AOrbMvvmObject<I>               base of the view model of record interface I
//   OrbSimpleDataWrapper<T>         one observable simple value
//   OrbMvvmObsMap<K,I,V>,           observable collections over a keyed map,
//   OrbMvvmObsArray<I,V>,           a record array and a fixed value array
//   OrbMvvmObsArray1D<T,TItem>      (the first two on OrbMvvmObsCollection<V>)
//   MvvmSimpleObsItem<T>            one element of a fixed value array
//   OrbCollectionChangedEventArgs,  what a collection's change event says, and
//   OrbDiffHandles                  the handle diff behind it
//   OrbMvvmTree                     lock, switches and write policy of a root
//                                   and everything below it
//   OrbTreeMutex, OrbMvvmPool,      the tree's lock and the memory of its
//   OrbMvvmAllocator                objects
//   OrbSlots                        the slot table of a view model
//   OrbGenericContextManager<F>,    data contexts
//   GetMvvmObjForDC<T>, OrbGenericDataContext, OrbDataContextSettings,
//   OrbDataMode
//
// Ownership: a parent owns its children (a view model the objects in its
// slots, a collection its element view models); a child keeps a plain
// pointer to its parent, which outlives it. Every object is held by
// std::shared_ptr. The library reads and writes the public fields named
// m_... (m_Fields, m_OrbData, m_LocalVal, m_OrbCollection); notification is
// the framework's and not part of what the library relies on.
//
// Notification. A root (an object without parent) and everything below it
// form one tree that shares an OrbMvvmTree: its lock, its write policy (set
// by a data context) and whether it raises events and follows the kernel's
// updates. The framework reloads a slot by remembering its value, calling
// the owner's GetVal and comparing: an event is raised once per real change
// and never for a reload that brings the same value. A collection reloads
// by comparing the container's current handles with the ones it shows.
//
// Threads. A user-interface write raises its events on the writing thread.
// A kernel update refreshes a tree on the kernel's notification thread,
// holding the tree's lock, unless the tree's data context has a dispatcher,
// which then runs the refresh where the application wants it. Every read and
// write of a value takes the tree's lock, so the two never interleave.
//
// Handlers that throw. As for every OrbEvent, the exception reaches the
// raiser: a user-interface write after its value was stored, the caller of
// Refresh, or OrbFileM::OnObjectUpdateEx, which finishes the update's
// routing first.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <typeindex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "contracts/framework/OrbApp.h"
#include "contracts/framework/OrbEvents.h"
#include "contracts/framework/OrbInterfaces.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/framework/OrbValues.h"

namespace Tarvex::Orb::DataDirectAcces {

class OrbBaseDataWrapper;
class OrbFileM;
class OrbGenericDataContext;

// How a data context treats its data.
enum class OrbDataMode : int32_t {
  // Reads and writes; a write reaches the record at once or at Commit,
  // as the context's auto-commit setting says.
  Live = 0,
  Default = Live,
  // Reads only: a user-interface write is refused with OrbKernelException
  // and changes nothing. A file whose maps are read-only to the framework
  // (OrbFileM::IsReadOnlyMapGet) gives read-only contexts whatever is asked.
  ReadOnly = 1,
};

// ---------------------------------------------------------------------------
// Collection changes

enum class OrbCollectionChange : uint8_t {
  Add,      // Count() elements were inserted at Index()
  Remove,   // Count() elements were taken out at Index()
  Replace,  // the Count() elements at Index() now stand for other elements
  Reset,    // everything may have changed: read the collection anew
};

// One change of an observable collection. Changes come in the order they
// are to be applied: each position counts in the collection as the earlier
// changes of the same refresh left it.
class OrbCollectionChangedEventArgs {
 public:
  OrbCollectionChangedEventArgs(OrbCollectionChange action, int32_t iIndex, int32_t iCount)
      : m_Action(action), m_iIndex(iIndex), m_iCount(iCount) {}

  OrbCollectionChange Action() const { return m_Action; }
  int32_t Index() const { return m_iIndex; }
  int32_t Count() const { return m_iCount; }
  bool operator==(const OrbCollectionChangedEventArgs&) const = default;

 private:
  OrbCollectionChange m_Action;
  int32_t m_iIndex;
  int32_t m_iCount;
};

using CollectionChangedEvent = OrbEvent<void(const OrbCollectionChangedEventArgs& args)>;

// The changes that turn the handle list `shown` into `current`, each list
// holding distinct handles: removals first (from the back), then additions
// in ascending position; a run removed and another added at the same place
// with the same length is one Replace. Add and Replace take their handles
// from `current` at the positions they name. Elements kept in both lists
// keep their relative order where they can (a longest increasing
// subsequence); the others move as a Remove and an Add. A common prefix and
// suffix are matched first, so one change costs a compare of the two lists.
std::vector<OrbCollectionChangedEventArgs> OrbDiffHandles(std::span<const uint32_t> shown,
                                                          std::span<const uint32_t> current);

// Update texts that name the elements they changed. A writer that changed
// elements of a member's top-level map or array (by handle or by index) may
// end its update text with the tag OrbNameElements appends,
// " [elements 17,25]"; a refresh that this update causes then reloads only
// those elements' view models (elements added or removed are found by the
// handle diff all the same). A text without the tag, or with a tag cut off
// or malformed, names nothing: every element view model made is checked.
std::u16string OrbNameElements(std::u16string_view csText, std::span<const uint32_t> elements);
// The elements the tag at the end of `csText` names; none without a tag.
std::optional<std::vector<uint32_t>> OrbNamedElements(std::u16string_view csText);

// ---------------------------------------------------------------------------
// The lock of a tree

// Recursive, so that a handler may read and write values. A thread that
// holds it already takes it again with a compare and a count, without an
// atomic operation or a call: the tree's objects take it that way for their
// allocations and frees inside each read.
//
// Biased to the thread that made the tree (its root's), which mostly is the
// only one that ever reads it: that thread takes it with a store and a load
// (it marks itself inside and checks that no other thread asked for the
// lock) and lets go with a store, no atomic read-modify-write. The first
// other thread that takes it (a kernel update's refresh, a free on another
// thread) asks, forces a memory barrier on every thread of the process
// (membarrier), so that either the biased thread sees the request or the
// asker sees it inside, waits for it to leave and ends the bias for good.
// Without the bias (system without membarrier, or after that first other
// thread), a first take is one compare-and-swap and a release a plain store.
// The holder never learns whether another thread waits, so a thread that
// finds the lock taken polls it, spinning briefly, then yielding, then in
// naps that grow to a tenth of a millisecond: reads take the lock three
// times per element and contention is rare (a refresh against a
// user-interface read), so the saved atomic operations weigh more than a
// waiter's wake-up delay.
class OrbTreeMutex {
 public:
  OrbTreeMutex();
  OrbTreeMutex(const OrbTreeMutex&) = delete;
  OrbTreeMutex& operator=(const OrbTreeMutex&) = delete;

  void lock() {
    const void* pSelf = ThreadMark();
    if (m_pOwner.load(std::memory_order_relaxed) == pSelf) {
      ++m_uiDepth;
      return;
    }
    const bool bBiased = TakeBiased(pSelf);
    if (!bBiased && !TryTake()) WaitAndTake();
    m_pOwner.store(pSelf, std::memory_order_relaxed);
    m_uiDepth = 1;
    m_bHeldBiased = bBiased;
  }
  void unlock() {
    if (--m_uiDepth != 0) return;
    m_pOwner.store(nullptr, std::memory_order_relaxed);
    if (m_bHeldBiased) {
      m_bBiasedInside.store(false, std::memory_order_release);
    } else {
      m_State.store(kFree, std::memory_order_release);
    }
  }

 private:
  static constexpr uint32_t kFree = 0;
  static constexpr uint32_t kTaken = 1;

  // An address of the calling thread's own: cheaper to read than its id
  // (no call), and no two live threads share it.
  static const void* ThreadMark() {
    static thread_local const char cMark = 0;
    return &cMark;
  }
  // The biased thread's take: false for any other thread, and once another
  // thread asked for the lock. The load of the mark pairs with the release
  // of a thread that had the same mark before (a thread-local address
  // reused); the signal fence keeps the compiler from moving the check
  // above the mark, the asker's membarrier does the same for the processor.
  bool TakeBiased(const void* pSelf) {
    if (m_pBiasedTo.load(std::memory_order_relaxed) != pSelf) return false;
    (void)m_bBiasedInside.load(std::memory_order_acquire);
    m_bBiasedInside.store(true, std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (!m_bAsked.load(std::memory_order_relaxed)) return true;
    m_bBiasedInside.store(false, std::memory_order_release);
    return false;
  }
  // Takes the unbiased lock, then ends a bias that is left.
  bool TryTake() {
    uint32_t uiState = kFree;
    if (!m_State.compare_exchange_strong(uiState, kTaken, std::memory_order_acquire,
                                         std::memory_order_relaxed)) {
      return false;
    }
    if (m_pBiasedTo.load(std::memory_order_relaxed) != nullptr) EndBias();
    return true;
  }
  // Polls until the lock is free and takes it (see the class comment). Out
  // of line, as is the end of the bias, so that each take stays small where
  // it is inlined.
  void WaitAndTake();
  void EndBias();

  std::atomic<uint32_t> m_State{kFree};
  std::atomic<const void*> m_pOwner{nullptr};
  // The thread the lock is biased to; null once the bias ended (or never
  // began). Written by the constructor and by the thread that ends it.
  std::atomic<const void*> m_pBiasedTo{nullptr};
  std::atomic<bool> m_bBiasedInside{false};  // written by the biased thread only
  std::atomic<bool> m_bAsked{false};         // another thread asked for the lock
  // Guarded by the lock.
  size_t m_uiDepth = 0;
  bool m_bHeldBiased = false;
};

// ---------------------------------------------------------------------------
// Memory of a tree

// The memory of the small objects of one tree (element view models, their
// proxies, slots): blocks of one size class (16-byte steps up to 512 bytes)
// carved in turn from large chunks, so that the objects of one element lie
// side by side, and a freed block kept on its class's free list for the next
// object of that class. A collection loading thousands of elements then costs
// a carve or a free-list pop per object and a push per free, instead of a
// heap allocation and a free. The pool holds the tree's lock and takes it
// for each allocation and free: the tree makes its objects holding it
// already, and drops its elements holding it, so neither costs an atomic
// operation; an object freed on another thread waits for the lock. The pool
// frees its chunks once its tree let go of it and its last object was freed;
// until then it keeps the peak of what the tree held.
class OrbMvvmPool {
 public:
  static OrbMvvmPool* Create() { return new OrbMvvmPool(); }
  OrbMvvmPool(const OrbMvvmPool&) = delete;
  OrbMvvmPool& operator=(const OrbMvvmPool&) = delete;

  // The tree's lock (OrbMvvmTree::Lock).
  OrbTreeMutex& Mutex() { return m_Mutex; }

  void* Allocate(size_t uiBytes);
  void Deallocate(void* p, size_t uiBytes) noexcept;
  // The tree lets go of the pool.
  void Release() noexcept;

 private:
  static constexpr size_t kStep = alignof(std::max_align_t);
  static constexpr size_t kLargest = 512;  // larger objects go to the heap
  struct FreeBlock {
    FreeBlock* pNext;
  };

  OrbMvvmPool() = default;
  ~OrbMvvmPool();
  static size_t ClassOf(size_t uiBytes) { return uiBytes == 0 ? 0 : (uiBytes - 1) / kStep; }
  void* Carve(size_t uiBytes);

  OrbTreeMutex m_Mutex;
  // Guarded by m_Mutex.
  std::array<FreeBlock*, kLargest / kStep> m_FreeLists{};
  std::vector<void*> m_Chunks;
  std::byte* m_pCarve = nullptr;  // the unused end of the last chunk
  size_t m_uiCarveLeft = 0;
  size_t m_uiNextChunk = 4096;  // doubles up to 1 MiB as the tree grows
  size_t m_uiLive = 0;          // objects allocated and not yet freed
  bool m_bReleased = false;
};

// The allocator of a tree's objects, over its pool (see OrbMvvmTree::Make).
template <class T>
class OrbMvvmAllocator {
 public:
  using value_type = T;
  static_assert(alignof(T) <= alignof(std::max_align_t), "over-aligned objects are not pooled");

  explicit OrbMvvmAllocator(OrbMvvmPool* pPool) noexcept : m_pPool(pPool) {}
  template <class U>
  OrbMvvmAllocator(const OrbMvvmAllocator<U>& other) noexcept : m_pPool(other.Pool()) {}

  T* allocate(size_t n) { return static_cast<T*>(m_pPool->Allocate(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { m_pPool->Deallocate(p, n * sizeof(T)); }
  OrbMvvmPool* Pool() const noexcept { return m_pPool; }
  template <class U>
  bool operator==(const OrbMvvmAllocator<U>& other) const noexcept {
    return m_pPool == other.Pool();
  }

 private:
  OrbMvvmPool* m_pPool;
};

// ---------------------------------------------------------------------------
// The tree of a root

// What a root and every object below it share: the lock, the notification
// switches and the write policy. Made by the root's construction; a data
// context sets it up, and the file sets the container and member name when
// the root is registered (OrbFileM::AddMvvmRoot).
class OrbMvvmTree {
 public:
  // Runs a refresh where the application wants it (e.g. posts it to the
  // user-interface thread).
  using Dispatcher = std::function<void(std::function<void()> refresh)>;

  explicit OrbMvvmTree(OrbBaseDataWrapper* pRoot)
      : m_pRoot(pRoot), m_pPool(OrbMvvmPool::Create()) {}
  ~OrbMvvmTree() { m_pPool->Release(); }
  OrbMvvmTree(const OrbMvvmTree&) = delete;
  OrbMvvmTree& operator=(const OrbMvvmTree&) = delete;

  // Every object of the tree holds it from its construction to its
  // destruction: the tree lives until the last of them is gone (a child may
  // outlive its root), then deletes itself. Counted under the tree's lock,
  // which the tree's own objects hold already when it makes and drops them,
  // so that holding costs no atomic operation there.
  void Hold() {
    auto lock = Lock();
    ++m_uiHolders;
  }
  void Drop() noexcept {
    bool bLast = false;
    {
      auto lock = Lock();
      bLast = --m_uiHolders == 0;
    }
    if (bLast) delete this;
  }

  // The tree's lock; recursive, so that a handler may read and write values.
  std::unique_lock<OrbTreeMutex> Lock() { return std::unique_lock(m_pPool->Mutex()); }
  OrbBaseDataWrapper* Root() const { return m_pRoot; }

  // A new object of the tree (a slot, an element view model, its proxy),
  // its memory taken from the tree's pool; it may outlive the tree. The
  // object lies in a box that the pointer aliases, so that its own weak
  // pointer (enable_shared_from_this) stays unset: the two atomic counts
  // that would cost per object are saved, and its owner, which keeps the
  // only pointer to it, answers for it (OrbBaseDataWrapper::WeakSelf).
  template <class T, class... A>
  std::shared_ptr<T> Make(A&&... args) {
    auto pBox = std::allocate_shared<Box<T>>(Allocator<Box<T>>(), std::forward<A>(args)...);
    T* pObject = &pBox->object;
    return std::shared_ptr<T>(std::move(pBox), pObject);
  }
  template <class T = std::byte>
  OrbMvvmAllocator<T> Allocator() const {
    return OrbMvvmAllocator<T>(m_pPool);
  }

  // Whether values and collections raise their events (on by default).
  bool Notifying() const { return m_bNotifying.load(std::memory_order_relaxed); }
  void set_Notifying(bool b) { m_bNotifying.store(b, std::memory_order_relaxed); }
  // Whether the kernel's updates of the member refresh the tree (on by default).
  bool FollowsKernel() const { return m_bFollowsKernel.load(std::memory_order_relaxed); }
  void set_FollowsKernel(bool b) { m_bFollowsKernel.store(b, std::memory_order_relaxed); }
  OrbDataMode Mode() const { return m_Mode.load(std::memory_order_relaxed); }
  void set_Mode(OrbDataMode mode) { m_Mode.store(mode, std::memory_order_relaxed); }
  // Whether a write reaches the record at once (on by default) or waits for Commit.
  bool AutoCommit() const { return m_bAutoCommit.load(std::memory_order_relaxed); }
  void set_AutoCommit(bool b) { m_bAutoCommit.store(b, std::memory_order_relaxed); }
  // True once the file was unloaded: the tree shows nothing and takes no write.
  bool Detached() const { return m_bDetached.load(std::memory_order_relaxed); }

  // The container the root shows, as the file registered it, the member's
  // name for the update texts and the file, whose exclusive file-wide lock
  // (NGE) guards the writes of a root that has no container lock of its own
  // (a single record).
  void BindMember(std::weak_ptr<IOrbUpdatableObject> pContainer, std::u16string csMember,
                  std::weak_ptr<OrbFileM> pFile = {});
  void SetDispatcher(Dispatcher dispatcher);

  // A user-interface write of value `iIndex` of `target`: WriteBegins throws
  // OrbKernelException for a read-only or detached tree; WriteStored, called
  // once the new value is stored, writes it to the record at once and
  // publishes it (auto commit) or keeps it pending. The update text names
  // the member, the target's property (NameInOwner) and the index.
  void WriteBegins(const OrbBaseDataWrapper& target, int32_t iIndex) const;
  void WriteStored(OrbBaseDataWrapper& target, int32_t iIndex);
  // Whether value `iIndex` of `target` waits for Commit; a reload leaves it alone.
  bool IsPending(const OrbBaseDataWrapper& target, int32_t iIndex) const;
  bool HasPending() const;
  // Writes every pending value under the container's exclusive lock and
  // publishes them with one update id, which it returns (0 with nothing
  // pending or no container to publish to). A write that fails leaves it
  // and the later ones pending, publishes the earlier ones and rethrows.
  uint64_t Commit();
  // Forgets the pending values and reloads them from the record, raising
  // the events that takes them back.
  void Rollback();

  // Reloads the whole tree from its records, holding the lock.
  void Refresh();
  // Refresh, told that the content of the `named` elements of the root's
  // collection alone may have changed: only their view models reload. No
  // names: as Refresh.
  void RefreshNamed(const std::optional<std::vector<uint32_t>>& named);
  // A kernel update of the member with text `csText`: Refresh, through the
  // dispatcher when there is one, unless the tree does not follow the kernel
  // or is detached. When the text names the elements it changed
  // (OrbNamedElements), only those element view models reload.
  void OnKernelUpdate(std::u16string_view csText = {});
  // The file is unloaded: pending values are dropped, the root lets go of
  // its source (collections empty themselves with a Reset). Repeats are harmless.
  void Detach();

  OrbEvent<void(uint64_t uiUpdateId)>& Committed() { return m_Committed; }
  OrbEvent<void()>& RolledBack() { return m_RolledBack; }
  // Raised after a refresh that a kernel update caused.
  OrbEvent<void()>& Refreshed() { return m_Refreshed; }

 private:
  struct PendingWrite {
    std::weak_ptr<OrbBaseDataWrapper> pTarget;
    const OrbBaseDataWrapper* pKey;
    int32_t iIndex;
  };
  class ExclusiveSourceLock;
  template <class T>
  struct Box {
    template <class... A>
    explicit Box(A&&... args) : object(std::forward<A>(args)...) {}
    T object;
  };
  std::shared_ptr<IOrbUpdatableObject> Container() const;
  uint64_t Publish(std::u16string_view csFormat, std::vector<OrbFormatArg> args);
  // The elements of the root's collection the pending `writes` lie in;
  // empty when one of them lies outside the elements.
  std::vector<uint32_t> ElementsOf(const std::vector<PendingWrite>& writes) const;

  OrbBaseDataWrapper* const m_pRoot;
  OrbMvvmPool* const m_pPool;
  size_t m_uiHolders = 0;  // guarded by the lock
  std::atomic<bool> m_bNotifying{true};
  std::atomic<bool> m_bFollowsKernel{true};
  std::atomic<OrbDataMode> m_Mode{OrbDataMode::Live};
  std::atomic<bool> m_bAutoCommit{true};
  std::atomic<bool> m_bDetached{false};
  // Guarded by the lock.
  std::weak_ptr<IOrbUpdatableObject> m_pContainer;
  std::u16string m_csMember;
  std::weak_ptr<OrbFileM> m_pFile;
  std::vector<PendingWrite> m_Pending;
  // The dispatcher has its own lock: a kernel update hands a refresh to it
  // without waiting for the tree.
  std::mutex m_DispatcherMutex;
  Dispatcher m_Dispatcher;
  OrbEvent<void(uint64_t)> m_Committed;
  OrbEvent<void()> m_RolledBack;
  OrbEvent<void()> m_Refreshed;
};

// ---------------------------------------------------------------------------
// Observable objects

class OrbBaseDataWrapper : public std::enable_shared_from_this<OrbBaseDataWrapper> {
 public:
  // `pParent` is null for a root; `iPropIndex` is the object's property index
  // in its parent, -1 when it has none. A root makes its tree; every other
  // object joins its parent's.
  OrbBaseDataWrapper(OrbBaseDataWrapper* pParent, int32_t iPropIndex)
      : m_pParent(pParent),
        m_iPropIndex(iPropIndex),
        m_pTree(pParent != nullptr ? pParent->m_pTree : new OrbMvvmTree(this)) {
    m_pTree->Hold();
  }
  virtual ~OrbBaseDataWrapper() { m_pTree->Drop(); }
  OrbBaseDataWrapper(const OrbBaseDataWrapper&) = delete;
  OrbBaseDataWrapper& operator=(const OrbBaseDataWrapper&) = delete;

  OrbBaseDataWrapper* Parent() const { return m_pParent; }
  int32_t PropIndex() const { return m_iPropIndex; }
  OrbMvvmTree& Tree() const { return *m_pTree; }

  // Reloads what the object shows from its source and raises the events of
  // what really changed. Takes the tree's lock.
  virtual void Refresh() {}
  // Reloads the object as slot PropIndex() of its owner view model: the
  // owner's GetVal rebinds it first (when the owner is connected), then
  // Refresh. An element of a collection only refreshes.
  virtual void ReloadSlot();
  // Lets go of the kernel's data: the file is unloaded.
  virtual void Detach() {}

  // This object as the view model the framework drives; null for values
  // and collections.
  virtual IAOrbMvvmInternUse* AsViewModel() { return nullptr; }
  // False for a view model that shows no record.
  virtual bool Connected() const { return true; }
  // Property `iPropIndex` of this view model changed.
  virtual void OnChildChanged(int32_t iPropIndex) { (void)iPropIndex; }
  // Writes value `iIndex` of this object, as the user interface set it, to
  // the record (Commit), or reloads it from there (Rollback).
  virtual void WritePending(int32_t iIndex) { (void)iIndex; }
  virtual void RevertPending(int32_t iIndex) { (void)iIndex; }
  // The exclusive lock of the container a root shows, held around a
  // commit's writes; false when the object has none (a record), and the
  // tree then takes the file's.
  virtual bool LockSource() { return false; }
  virtual void UnlockSource() {}
  // Refresh, told that only the elements `elements` (handles or indexes)
  // may have changed their content; a collection reloads only those.
  virtual void RefreshElements(std::span<const uint32_t> elements) {
    (void)elements;
    Refresh();
  }
  // Refresh as slot of a view model whose own record did not change: a
  // value held in that record has nothing to reload; a collection or a
  // nested view model refreshes what lies below.
  virtual void RefreshInUnchangedRecord() { Refresh(); }
  // A slot of this view model loaded a value outside a refresh.
  virtual void OnSlotLoaded() {}
  // The handle (map) or index (array) of the element this view model shows
  // in its collection; none for anything else.
  virtual std::optional<uint32_t> ElementHandle() const { return std::nullopt; }

  // This object as a weak pointer: its own when a shared pointer made it,
  // otherwise the pointer its owner keeps to it (the tree makes its slots
  // and elements without their own, see OrbMvvmTree::Make); empty when
  // neither holds it.
  std::weak_ptr<OrbBaseDataWrapper> WeakSelf() {
    std::weak_ptr<OrbBaseDataWrapper> pSelf = weak_from_this();
    if (!pSelf.expired() || m_pParent == nullptr) return pSelf;
    return m_pParent->PointerTo(*this);
  }
  // WeakSelf as a shared pointer; std::bad_weak_ptr when nothing holds it.
  std::shared_ptr<OrbBaseDataWrapper> SharedSelf() {
    return std::shared_ptr<OrbBaseDataWrapper>(WeakSelf());
  }
  // The pointer this object keeps to its slot or element `child`; null when
  // it keeps none.
  virtual std::shared_ptr<OrbBaseDataWrapper> PointerTo(const OrbBaseDataWrapper& child) {
    (void)child;
    return nullptr;
  }

  // The name of this object's property in its owner view model, for update
  // texts; empty without owner.
  std::u16string NameInOwner() const {
    IAOrbMvvmInternUse* pOwner = m_pParent != nullptr ? m_pParent->AsViewModel() : nullptr;
    return pOwner != nullptr ? pOwner->GetMembInfo(m_iPropIndex).Name() : std::u16string();
  }

 private:
  OrbBaseDataWrapper* m_pParent;
  int32_t m_iPropIndex;
  OrbMvvmTree* const m_pTree;  // held (OrbMvvmTree::Hold) until the destructor
};

// The slots of a view model, one per property index, each empty until the
// property's object is created and then owning it. A view model class that
// knows its property count keeps the slots inside itself (storage it hands
// in, which outlives this table); otherwise the table allocates them. Two
// words, since every element view model of a collection carries one.
class OrbSlots {
 public:
  using Slot = std::shared_ptr<OrbBaseDataWrapper>;

  explicit OrbSlots(size_t uiCount)
      : m_pSlots(uiCount > 0 ? new Slot[uiCount] : nullptr),
        m_uiSize(static_cast<uint32_t>(uiCount)),
        m_bOwned(true) {}
  explicit OrbSlots(std::span<Slot> storage)
      : m_pSlots(storage.data()), m_uiSize(static_cast<uint32_t>(storage.size())) {}
  ~OrbSlots() {
    if (m_bOwned) delete[] m_pSlots;
  }
  OrbSlots(const OrbSlots&) = delete;
  OrbSlots& operator=(const OrbSlots&) = delete;

  size_t size() const { return m_uiSize; }
  Slot& operator[](size_t i) { return m_pSlots[i]; }
  const Slot& operator[](size_t i) const { return m_pSlots[i]; }
  // std::out_of_range for an index outside the table.
  Slot& at(size_t i) {
    if (i >= m_uiSize) throw std::out_of_range("OrbSlots::at");
    return m_pSlots[i];
  }
  Slot* begin() { return m_pSlots; }
  Slot* end() { return m_pSlots + m_uiSize; }
  const Slot* begin() const { return m_pSlots; }
  const Slot* end() const { return m_pSlots + m_uiSize; }

 private:
  Slot* m_pSlots;
  uint32_t m_uiSize;
  bool m_bOwned = false;  // allocated here rather than handed in
};

// Base of the view model of one record, reached through record interface I.
// The view model provides the three IAOrbMvvmInternUse operations.
template <class I>
class AOrbMvvmObject : public OrbBaseDataWrapper, public IAOrbMvvmInternUse {
 public:
  // Raised with the index of a simple property whose value changed.
  using PropertyChangedEvent = OrbEvent<void(int32_t iPropIndex)>;

  // `pData` may be null (not connected); `iFieldCount` is the number of
  // properties (a negative count is taken as 0).
  AOrbMvvmObject(std::shared_ptr<I> pData, int32_t iFieldCount, OrbBaseDataWrapper* pParent,
                 int32_t iPropIndex)
      : OrbBaseDataWrapper(pParent, iPropIndex),
        m_Fields(iFieldCount > 0 ? static_cast<size_t>(iFieldCount) : 0),
        m_OrbData(std::move(pData)) {}
  // The same with the slots in `slots`, storage of the view model that
  // outlives this base.
  AOrbMvvmObject(std::shared_ptr<I> pData, std::span<OrbSlots::Slot> slots,
                 OrbBaseDataWrapper* pParent, int32_t iPropIndex)
      : OrbBaseDataWrapper(pParent, iPropIndex), m_Fields(slots), m_OrbData(std::move(pData)) {}

  // Drops the slots and the record holding the tree's lock, which their
  // frees take (OrbMvvmPool): once for all of them.
  ~AOrbMvvmObject() override {
    auto lock = Tree().Lock();
    for (auto& pSlot : m_Fields) pSlot.reset();
    m_OrbData.reset();
  }

  PropertyChangedEvent& PropertyChanged() { return m_PropertyChanged; }

  // The object of property `iPropIndex`, its slot created through GetVal
  // when empty; a bad index raises the view model's OrbKernelException.
  std::shared_ptr<OrbBaseDataWrapper> Property(int32_t iPropIndex) {
    auto lock = Tree().Lock();
    if (iPropIndex < 0 || static_cast<size_t>(iPropIndex) >= m_Fields.size() ||
        !m_Fields[static_cast<size_t>(iPropIndex)]) {
      GetVal(iPropIndex, false);
    }
    return m_Fields.at(static_cast<size_t>(iPropIndex));
  }
  template <class W>
  std::shared_ptr<W> PropertyAs(int32_t iPropIndex) {
    return std::dynamic_pointer_cast<W>(Property(iPropIndex));
  }

  // Reloads every property whose slot exists. When the record tells its
  // content by a stamp (IOrbRecordStamp) and the stamp is the one of the
  // last refresh, with no value loaded since, the values held in the record
  // are left as they are and only what lies below (collections, nested
  // view models) refreshes.
  void Refresh() override {
    auto lock = Tree().Lock();
    const bool bUnchanged = RecordUnchanged();
    for (size_t i = 0; i < m_Fields.size(); ++i) {
      const auto& pSlot = m_Fields[i];
      if (!pSlot) continue;
      if (bUnchanged) {
        pSlot->RefreshInUnchangedRecord();
      } else {
        pSlot->ReloadSlot();
      }
    }
  }
  void OnSlotLoaded() override {
    if (m_pStamp) m_pStamp->bTaken = false;
  }
  std::optional<uint32_t> ElementHandle() const override {
    if constexpr (std::derived_from<I, IOrbObject>) {
      if (PropIndex() < 0 && m_OrbData != nullptr) return m_OrbData->IEnumCurrentPos();
    }
    return std::nullopt;
  }
  void Detach() override {
    auto lock = Tree().Lock();
    m_OrbData = nullptr;
    for (const auto& pSlot : m_Fields) {
      if (pSlot) pSlot->Detach();
    }
  }
  IAOrbMvvmInternUse* AsViewModel() override { return this; }
  std::shared_ptr<OrbBaseDataWrapper> PointerTo(const OrbBaseDataWrapper& child) override {
    auto lock = Tree().Lock();
    const auto uiAt = static_cast<size_t>(child.PropIndex());
    if (uiAt < m_Fields.size() && m_Fields[uiAt].get() == &child) return m_Fields[uiAt];
    return nullptr;
  }
  bool Connected() const override { return m_OrbData != nullptr; }
  void OnChildChanged(int32_t iPropIndex) override {
    if (Tree().Notifying()) m_PropertyChanged.Raise(iPropIndex);
  }

  // One slot per property index: empty until the property's object is
  // created, then owning it.
  OrbSlots m_Fields;
  // The record shown; null while the view model is not connected.
  std::shared_ptr<I> m_OrbData;

 private:
  // The record's stamp at the last refresh, and the record it was asked of.
  struct StampState {
    const I* pOf = nullptr;
    IOrbRecordStamp* pRecord = nullptr;  // the record as its stamp's interface
    uint64_t uiStamp = 0;
    bool bTaken = false;  // uiStamp holds, and no value was loaded since
  };

  // Takes the record's stamp; true when it equals the one taken last and no
  // value was loaded since. Records without a stamp always count as changed.
  bool RecordUnchanged() {
    if (!m_pStamp) m_pStamp = std::make_unique<StampState>();
    StampState& stamp = *m_pStamp;
    if (m_OrbData.get() != stamp.pOf) {
      stamp.pOf = m_OrbData.get();
      if constexpr (std::is_polymorphic_v<I>) {
        stamp.pRecord = dynamic_cast<IOrbRecordStamp*>(m_OrbData.get());
      }
      stamp.bTaken = false;
    }
    if (stamp.pRecord == nullptr) return false;
    const uint64_t uiStamp = stamp.pRecord->RecordStamp();
    const bool bUnchanged = stamp.bTaken && uiStamp == stamp.uiStamp;
    stamp.uiStamp = uiStamp;
    stamp.bTaken = true;
    return bUnchanged;
  }

  PropertyChangedEvent m_PropertyChanged;
  // Made by the first refresh: most element view models are never
  // refreshed, and each would carry it.
  std::unique_ptr<StampState> m_pStamp;
};

// The value types a simple property can have. A race time may be absent.
template <class T>
concept OrbSimpleValue = std::same_as<T, int32_t> || std::same_as<T, uint32_t> ||
    std::same_as<T, bool> || std::same_as<T, std::u16string> || std::same_as<T, OrbDateTime> ||
    std::same_as<T, std::optional<KxTime>>;

// One simple property of a view model. Its owner's GetVal loads m_LocalVal
// and SetVal stores it; the framework calls them and raises PropertyChanged
// (old value, new value) on the property and the property's index on the
// owner, once per real change.
template <OrbSimpleValue T>
class OrbSimpleDataWrapper : public OrbBaseDataWrapper {
 public:
  using ChangedEvent = OrbEvent<void(const T& oldValue, const T& newValue)>;

  // `pOwner` is the view model; the library passes 0 as `uiFlags`.
  OrbSimpleDataWrapper(OrbBaseDataWrapper* pOwner, int32_t iPropIndex, uint32_t uiFlags)
      : OrbBaseDataWrapper(pOwner, iPropIndex), m_uiFlags(uiFlags) {}

  uint32_t Flags() const { return m_uiFlags; }
  ChangedEvent& PropertyChanged() { return m_Changed; }

  // The value shown; the first read loads it from the record.
  T Value() {
    auto lock = Tree().Lock();
    if (!m_bLoaded) Load();
    return m_LocalVal;
  }

  // The user interface sets the value. Nothing happens when it equals the
  // shown one. A read-only or detached tree refuses it with
  // OrbKernelException. Otherwise the value is stored, written through or
  // kept pending as the tree's data context says (a failed write-through
  // restores the old value and rethrows), and the events are raised.
  void set_Value(const T& value) {
    auto lock = Tree().Lock();
    Tree().WriteBegins(*this, PropIndex());
    if (!m_bLoaded) Load();
    if (value == m_LocalVal) return;
    T oldValue = std::move(m_LocalVal);
    m_LocalVal = value;
    try {
      Tree().WriteStored(*this, PropIndex());
    } catch (...) {
      m_LocalVal = std::move(oldValue);
      throw;
    }
    Raise(oldValue);
  }

  // Reloads the value through the owner's GetVal, unless a write of it is
  // pending; raises the events when the value differs from the one shown.
  void ReloadSlot() override {
    auto lock = Tree().Lock();
    IAOrbMvvmInternUse* pOwner = Owner();
    if (pOwner == nullptr || Tree().IsPending(*this, PropIndex())) return;
    const bool bWasLoaded = m_bLoaded;
    T oldValue = m_LocalVal;
    pOwner->GetVal(PropIndex(), false);
    m_bLoaded = true;
    if (bWasLoaded && !(m_LocalVal == oldValue)) Raise(oldValue);
  }
  void Refresh() override { ReloadSlot(); }
  void RefreshInUnchangedRecord() override {}
  void WritePending(int32_t iIndex) override {
    if (IAOrbMvvmInternUse* pOwner = Owner()) pOwner->SetVal(iIndex);
  }
  void RevertPending(int32_t) override { ReloadSlot(); }

  // The value shown, loaded by the owner's GetVal and stored by its SetVal.
  T m_LocalVal{};

 private:
  IAOrbMvvmInternUse* Owner() const {
    return Parent() != nullptr ? Parent()->AsViewModel() : nullptr;
  }
  void Load() {
    if (IAOrbMvvmInternUse* pOwner = Owner()) {
      pOwner->GetVal(PropIndex(), false);
      Parent()->OnSlotLoaded();
    }
    m_bLoaded = true;
  }
  void Raise(const T& oldValue) {
    if (!Tree().Notifying()) return;
    m_Changed.Raise(oldValue, m_LocalVal);
    if (Parent() != nullptr) Parent()->OnChildChanged(PropIndex());
  }

  uint32_t m_uiFlags;
  bool m_bLoaded = false;
  ChangedEvent m_Changed;
};

// Walks an indexed collection C (Count, Item) with a new enumerator each time.
template <class C, class E>
class OrbIndexEnumerator : public IOrbEnumerator<E> {
 public:
  explicit OrbIndexEnumerator(std::shared_ptr<C> pCollection)
      : m_pCollection(std::move(pCollection)) {}
  bool MoveNext() override {
    if (m_iPos + 1 < m_pCollection->Count()) {
      ++m_iPos;
      return true;
    }
    m_iPos = m_pCollection->Count();
    return false;
  }
  // Raises OrbKernelException before the first and after the last element.
  E Current() override { return m_pCollection->Item(m_iPos); }
  void Reset() override { m_iPos = -1; }
  void Dispose() override {}

 private:
  std::shared_ptr<C> m_pCollection;
  int32_t m_iPos = -1;
};

// Raises the error of an element position outside a collection.
[[noreturn]] void OrbThrowBadPosition(std::u16string_view csCollection, int32_t iIndex,
                                      int32_t iCount);

// Base of the observable collections of record view models V: the handles
// (map) or indexes (array) shown, in container order, and the element view
// models made on demand through the container's GetMvvmInstance and kept
// per element until it leaves the collection.
template <class V>
class OrbMvvmObsCollection : public OrbBaseDataWrapper, public IOrbEnumerable<std::shared_ptr<V>> {
 public:
  using OrbBaseDataWrapper::OrbBaseDataWrapper;
  // Drops the element view models holding the tree's lock, which their
  // frees take (OrbMvvmPool): once for all of them.
  ~OrbMvvmObsCollection() override {
    auto lock = Tree().Lock();
    m_Elements.clear();
  }

  // Number of elements shown; the first use reads the container.
  int32_t Count() {
    auto lock = Tree().Lock();
    EnsureLoaded();
    return static_cast<int32_t>(m_Shown.size());
  }
  // The view model of the element at position `iIndex`; OrbKernelException
  // for a position outside the collection or a container that makes no
  // view models.
  std::shared_ptr<V> Item(int32_t iIndex) {
    auto lock = Tree().Lock();
    const size_t uiAt = CheckedPosition(iIndex);
    std::shared_ptr<V>& pElement = m_Elements[uiAt];
    if (!pElement) pElement = MakeElement(m_Shown[uiAt]);
    return pElement;
  }
  std::shared_ptr<V> operator[](int32_t iIndex) { return Item(iIndex); }
  // The handle (map) or index (array) of the element at `iIndex`.
  uint32_t HandleAt(int32_t iIndex) {
    auto lock = Tree().Lock();
    return m_Shown[CheckedPosition(iIndex)];
  }
  std::shared_ptr<IOrbEnumerator<std::shared_ptr<V>>> GetEnumerator() override {
    return std::make_shared<OrbIndexEnumerator<OrbMvvmObsCollection, std::shared_ptr<V>>>(
        std::static_pointer_cast<OrbMvvmObsCollection>(this->SharedSelf()));
  }
  std::shared_ptr<OrbBaseDataWrapper> PointerTo(const OrbBaseDataWrapper& child) override {
    auto lock = Tree().Lock();
    for (const auto& pElement : m_Elements) {
      if (pElement.get() == &child) return pElement;
    }
    return nullptr;
  }
  CollectionChangedEvent& CollectionChanged() { return m_CollectionChanged; }

  // Reads the container's elements, applies the difference to the elements
  // shown, raising one event per change, then refreshes the element view
  // models made so far (in no particular order), each of which skips its
  // values when its record did not change. Before the first use there is
  // nothing to compare. The cost is one pass over the container's handles
  // and one compare with the shown ones, plus the check of the view models
  // made.
  void Refresh() override {
    auto lock = Tree().Lock();
    if (!m_bLoaded) return;
    ApplyCurrentHandles();
    // A copy: a handler may make further elements while these refresh.
    std::vector<std::shared_ptr<V>> made;
    for (const auto& pElement : m_Elements) {
      if (pElement) made.push_back(pElement);
    }
    for (const auto& pElement : made) pElement->Refresh();
  }
  // Refresh, but only the view models of `elements` (handles or indexes)
  // reload: the others' records did not change.
  void RefreshElements(std::span<const uint32_t> elements) override {
    auto lock = Tree().Lock();
    if (!m_bLoaded) return;
    ApplyCurrentHandles();
    std::vector<uint32_t> wanted(elements.begin(), elements.end());
    std::sort(wanted.begin(), wanted.end());
    std::vector<std::shared_ptr<V>> named;
    for (size_t i = 0; i < m_Shown.size(); ++i) {
      if (m_Elements[i] && std::binary_search(wanted.begin(), wanted.end(), m_Shown[i]))
        named.push_back(m_Elements[i]);
    }
    for (const auto& pElement : named) pElement->Refresh();
  }
  void Detach() override {
    auto lock = Tree().Lock();
    ReleaseSource();
    if (!m_bLoaded || m_Shown.empty()) return;
    m_Shown.clear();
    m_Elements.clear();
    if (Tree().Notifying()) m_CollectionChanged.Raise({OrbCollectionChange::Reset, 0, 0});
  }

 protected:
  // Appends the container's handles or indexes in container order; none
  // without a container.
  virtual void ReadHandles(std::vector<uint32_t>& handles) = 0;
  virtual std::shared_ptr<V> MakeElement(uint32_t uiHandle) = 0;
  virtual void ReleaseSource() = 0;

  // The element view model that `pSource` (also an IOrbMvvmObsInternUse<V>)
  // makes for `uiHandle`. The source is asked for its maker once, not per
  // element: again only after a rebind to another source.
  template <class S>
  std::shared_ptr<V> MakeThrough(const std::shared_ptr<S>& pSource, uint32_t uiHandle) {
    if (pSource.get() != m_pMakerOf) {
      m_pMaker = dynamic_cast<IOrbMvvmObsInternUse<V>*>(pSource.get());
      m_pMakerOf = pSource.get();
    }
    if (m_pMaker == nullptr) {
      throw OrbKernelException(
          u"OrbMvvmObs.Item:\r\nThe container makes no view models of its elements\r\n");
    }
    return m_pMaker->GetMvvmInstance(this, uiHandle, 0, 0, 0);
  }

 private:
  void EnsureLoaded() {
    if (m_bLoaded) return;
    m_Shown.clear();
    ReadHandles(m_Shown);
    m_Elements.assign(m_Shown.size(), nullptr);
    m_bLoaded = true;
  }
  // Applies the difference between the container's handles and the shown
  // ones, one event per change.
  void ApplyCurrentHandles() {
    std::vector<uint32_t> current;
    current.reserve(m_Shown.size() + 1);
    ReadHandles(current);
    for (const auto& change : OrbDiffHandles(m_Shown, current)) Apply(change, current);
  }
  size_t CheckedPosition(int32_t iIndex) {
    EnsureLoaded();
    if (iIndex < 0 || static_cast<size_t>(iIndex) >= m_Shown.size()) {
      OrbThrowBadPosition(u"OrbMvvmObs", iIndex, static_cast<int32_t>(m_Shown.size()));
    }
    return static_cast<size_t>(iIndex);
  }
  void Apply(const OrbCollectionChangedEventArgs& change, const std::vector<uint32_t>& current) {
    const auto at = static_cast<ptrdiff_t>(change.Index());
    const auto count = static_cast<ptrdiff_t>(change.Count());
    switch (change.Action()) {
      case OrbCollectionChange::Add:
        m_Shown.insert(m_Shown.begin() + at, current.begin() + at, current.begin() + at + count);
        m_Elements.insert(m_Elements.begin() + at, static_cast<size_t>(count), nullptr);
        break;
      case OrbCollectionChange::Remove:
        m_Shown.erase(m_Shown.begin() + at, m_Shown.begin() + at + count);
        m_Elements.erase(m_Elements.begin() + at, m_Elements.begin() + at + count);
        break;
      case OrbCollectionChange::Replace:
        std::copy_n(current.begin() + at, count, m_Shown.begin() + at);
        std::fill_n(m_Elements.begin() + at, count, nullptr);
        break;
      case OrbCollectionChange::Reset:
        m_Shown = current;
        m_Elements.assign(m_Shown.size(), nullptr);
        break;
    }
    if (Tree().Notifying()) m_CollectionChanged.Raise(change);
  }
  std::vector<uint32_t> m_Shown;
  // The element view models made so far, by position beside m_Shown (null
  // where none was made): a change of the elements shown moves them along.
  std::vector<std::shared_ptr<V>> m_Elements;
  // The source last asked for its maker, and the maker it gave.
  const void* m_pMakerOf = nullptr;
  IOrbMvvmObsInternUse<V>* m_pMaker = nullptr;
  bool m_bLoaded = false;
  CollectionChangedEvent m_CollectionChanged;
};

// Holds a container's shared lock (readers, writers, enumerators) for a scope;
// a release refused at its end goes to DispError (OrbReleaseInDestructor).
template <class C>
class OrbSharedLockScope {
 public:
  explicit OrbSharedLockScope(C& container) : m_Container(container) { m_Container.GetRWELock(); }
  ~OrbSharedLockScope() {
    OrbReleaseInDestructor([&] { m_Container.ReleaseRWELock(); });
  }
  OrbSharedLockScope(const OrbSharedLockScope&) = delete;
  OrbSharedLockScope& operator=(const OrbSharedLockScope&) = delete;

 private:
  C& m_Container;
};

// Observable collection over a keyed map, in map order. The framework makes
// the element view models through the source's IOrbMvvmObsInternUse<V>.
template <OrbMapKey K, class I, class V>
class OrbMvvmObsMap : public OrbMvvmObsCollection<V> {
 public:
  // `pSource` may be null: the owning view model is not connected yet.
  OrbMvvmObsMap(std::shared_ptr<IOrbMap<K, I>> pSource, OrbBaseDataWrapper* pParent,
                int32_t iPropIndex)
      : OrbMvvmObsCollection<V>(pParent, iPropIndex), m_OrbCollection(std::move(pSource)) {}

  bool LockSource() override {
    m_pLocked = m_OrbCollection;
    if (m_pLocked) m_pLocked->GetARLock();
    return m_pLocked != nullptr;
  }
  void UnlockSource() override {
    if (m_pLocked) m_pLocked->ReleaseARLock();
    m_pLocked = nullptr;
  }

  // The container shown; rebound by the owning view model's GetVal.
  std::shared_ptr<IOrbMap<K, I>> m_OrbCollection;

 protected:
  // The handles from Head to the last Next, under the map's shared lock.
  void ReadHandles(std::vector<uint32_t>& handles) override {
    const auto pMap = m_OrbCollection;
    if (!pMap) return;
    OrbSharedLockScope scope(*pMap);
    for (uint32_t h = pMap->Head(); h != 0; h = pMap->Next(h)) handles.push_back(h);
  }
  std::shared_ptr<V> MakeElement(uint32_t uiHandle) override {
    return this->MakeThrough(m_OrbCollection, uiHandle);
  }
  void ReleaseSource() override { m_OrbCollection = nullptr; }

 private:
  std::shared_ptr<IOrbMap<K, I>> m_pLocked;
};

// Observable collection over a record array (see OrbMvvmObsMap); its
// elements are the indexes 0 to GetLength - 1.
template <class I, class V>
class OrbMvvmObsArray : public OrbMvvmObsCollection<V> {
 public:
  OrbMvvmObsArray(std::shared_ptr<IOrbArray<I>> pSource, OrbBaseDataWrapper* pParent,
                  int32_t iPropIndex)
      : OrbMvvmObsCollection<V>(pParent, iPropIndex), m_OrbCollection(std::move(pSource)) {}

  bool LockSource() override {
    m_pLocked = m_OrbCollection;
    if (m_pLocked) m_pLocked->GetARLock();
    return m_pLocked != nullptr;
  }
  void UnlockSource() override {
    if (m_pLocked) m_pLocked->ReleaseARLock();
    m_pLocked = nullptr;
  }

  std::shared_ptr<IOrbArray<I>> m_OrbCollection;

 protected:
  void ReadHandles(std::vector<uint32_t>& handles) override {
    const auto pArray = m_OrbCollection;
    if (!pArray) return;
    OrbSharedLockScope scope(*pArray);
    const uint32_t uiLength = pArray->GetLength(0);
    for (uint32_t i = 0; i < uiLength; ++i) handles.push_back(i);
  }
  std::shared_ptr<V> MakeElement(uint32_t uiIndex) override {
    return this->MakeThrough(m_OrbCollection, uiIndex);
  }
  void ReleaseSource() override { m_OrbCollection = nullptr; }

 private:
  std::shared_ptr<IOrbArray<I>> m_pLocked;
};

// One element of a fixed value array, as its observable collection shows it.
template <OrbArrayValue T>
class MvvmSimpleObsItem : public OrbBaseDataWrapper {
 public:
  MvvmSimpleObsItem(T value, OrbBaseDataWrapper* pParent)
      : OrbBaseDataWrapper(pParent, -1), m_LocalVal(value) {}

  // The value shown; its collection keeps it current.
  T Value() {
    auto lock = Tree().Lock();
    return m_LocalVal;
  }

  T m_LocalVal;
};

// Observable collection over a fixed array of `iCount` values; `defaultValue`
// stands for an element while there is no source. TItem is the element
// view model, MvvmSimpleObsItem<T>. A changed value is reported as a
// Replace of its position.
template <OrbArrayValue T, class TItem>
class OrbMvvmObsArray1D : public OrbBaseDataWrapper, public IOrbEnumerable<std::shared_ptr<TItem>> {
 public:
  OrbMvvmObsArray1D(std::shared_ptr<IOrbArray1D<T>> pSource, OrbBaseDataWrapper* pParent,
                    int32_t iPropIndex, T defaultValue, int32_t iCount)
      : OrbBaseDataWrapper(pParent, iPropIndex),
        m_OrbCollection(std::move(pSource)),
        m_DefaultVal(defaultValue),
        m_iCount(iCount) {}

  T DefaultVal() const { return m_DefaultVal; }
  int32_t Count() const { return m_iCount; }

  // The value at `iIndex`; the first use reads them all.
  T Value(int32_t iIndex) {
    auto lock = Tree().Lock();
    return m_Values[CheckedPosition(iIndex)];
  }
  // The element view model at `iIndex`, made on first use and kept.
  std::shared_ptr<TItem> Item(int32_t iIndex) {
    auto lock = Tree().Lock();
    const size_t uiAt = CheckedPosition(iIndex);
    if (!m_Items[uiAt]) m_Items[uiAt] = Tree().template Make<TItem>(m_Values[uiAt], this);
    return m_Items[uiAt];
  }
  std::shared_ptr<TItem> operator[](int32_t iIndex) { return Item(iIndex); }
  // The user interface sets the value at `iIndex`, as
  // OrbSimpleDataWrapper::set_Value does; raises a Replace of it.
  void set_Value(int32_t iIndex, T value) {
    auto lock = Tree().Lock();
    Tree().WriteBegins(*this, iIndex);
    const size_t uiAt = CheckedPosition(iIndex);
    if (m_Values[uiAt] == value) return;
    const T oldValue = m_Values[uiAt];
    Show(uiAt, value);
    try {
      Tree().WriteStored(*this, iIndex);
    } catch (...) {
      Show(uiAt, oldValue);
      throw;
    }
    if (Tree().Notifying()) m_CollectionChanged.Raise({OrbCollectionChange::Replace, iIndex, 1});
  }
  std::shared_ptr<IOrbEnumerator<std::shared_ptr<TItem>>> GetEnumerator() override {
    return std::make_shared<OrbIndexEnumerator<OrbMvvmObsArray1D, std::shared_ptr<TItem>>>(
        std::static_pointer_cast<OrbMvvmObsArray1D>(SharedSelf()));
  }
  std::shared_ptr<OrbBaseDataWrapper> PointerTo(const OrbBaseDataWrapper& child) override {
    auto lock = Tree().Lock();
    for (const auto& pItem : m_Items) {
      if (pItem.get() == &child) return pItem;
    }
    return nullptr;
  }
  CollectionChangedEvent& CollectionChanged() { return m_CollectionChanged; }

  // Reads every value and raises one Replace per run of changed positions
  // (pending writes left alone).
  void Refresh() override {
    auto lock = Tree().Lock();
    if (m_Values.empty()) return;
    std::vector<T> current = ReadValues();
    int32_t iRunStart = -1;
    for (int32_t i = 0; i <= m_iCount; ++i) {
      const bool bChanged = i < m_iCount &&
                            current[static_cast<size_t>(i)] != m_Values[static_cast<size_t>(i)] &&
                            !Tree().IsPending(*this, i);
      if (bChanged) {
        Show(static_cast<size_t>(i), current[static_cast<size_t>(i)]);
        if (iRunStart < 0) iRunStart = i;
      } else if (iRunStart >= 0) {
        if (Tree().Notifying()) {
          m_CollectionChanged.Raise({OrbCollectionChange::Replace, iRunStart, i - iRunStart});
        }
        iRunStart = -1;
      }
    }
  }
  // The values lie in the owning record: unchanged with it.
  void RefreshInUnchangedRecord() override {}
  void Detach() override {
    auto lock = Tree().Lock();
    m_OrbCollection = nullptr;
  }
  void WritePending(int32_t iIndex) override {
    if (!m_OrbCollection) {
      throw OrbKernelException(u"OrbMvvmObsArray1D.set_Value ({0}):\r\nNo source array\r\n",
                               {iIndex});
    }
    m_OrbCollection->set_Item(static_cast<uint32_t>(iIndex), m_Values[static_cast<size_t>(iIndex)]);
  }
  void RevertPending(int32_t iIndex) override {
    const size_t uiAt = static_cast<size_t>(iIndex);
    const T value =
        m_OrbCollection ? m_OrbCollection->Item(static_cast<uint32_t>(iIndex)) : m_DefaultVal;
    if (value == m_Values[uiAt]) return;
    Show(uiAt, value);
    if (Tree().Notifying()) m_CollectionChanged.Raise({OrbCollectionChange::Replace, iIndex, 1});
  }

  std::shared_ptr<IOrbArray1D<T>> m_OrbCollection;

 private:
  std::vector<T> ReadValues() {
    std::vector<T> values(static_cast<size_t>(std::max(m_iCount, 0)), m_DefaultVal);
    if (const auto pSource = m_OrbCollection) {
      for (size_t i = 0; i < values.size(); ++i)
        values[i] = pSource->Item(static_cast<uint32_t>(i));
    }
    return values;
  }
  size_t CheckedPosition(int32_t iIndex) {
    if (m_Values.empty() && m_iCount > 0) {
      m_Values = ReadValues();
      m_Items.assign(m_Values.size(), nullptr);
      if (Parent() != nullptr) Parent()->OnSlotLoaded();
    }
    if (iIndex < 0 || iIndex >= m_iCount)
      OrbThrowBadPosition(u"OrbMvvmObsArray1D", iIndex, m_iCount);
    return static_cast<size_t>(iIndex);
  }
  void Show(size_t uiAt, T value) {
    m_Values[uiAt] = value;
    if (m_Items[uiAt]) m_Items[uiAt]->m_LocalVal = value;
  }

  T m_DefaultVal;
  int32_t m_iCount;
  std::vector<T> m_Values;
  std::vector<std::shared_ptr<TItem>> m_Items;
  CollectionChangedEvent m_CollectionChanged;
};

// ---------------------------------------------------------------------------
// Data contexts

// Makes the view-model root of a data context when the context needs it: a
// file wrapper's Get<Member>MvvmRoot bound to the wrapper.
template <class T>
using GetMvvmObjForDC = std::function<std::shared_ptr<T>()>;

// What a data context was asked for (see OrbGenericContextManager::GetDC).
struct OrbDataContextSettings {
  bool bShared = false;
  OrbDataMode dataMode = OrbDataMode::Live;
  bool bUseMvvmNotification = true;
  bool bUseOrbNotification = true;
  bool bUseAutoCommit = true;
};

// A data context: one view-model root and the policy its tree follows.
// Values written by the user interface reach the record at once
// (auto commit) or at Commit; Rollback takes them back. The context keeps
// its root alive.
class OrbGenericDataContext {
 public:
  // Applies `settings` to the tree of `pRoot` (not null).
  OrbGenericDataContext(std::shared_ptr<OrbBaseDataWrapper> pRoot,
                        const OrbDataContextSettings& settings);
  OrbGenericDataContext(const OrbGenericDataContext&) = delete;
  OrbGenericDataContext& operator=(const OrbGenericDataContext&) = delete;

  // The root, typed as the producer made it (null for another type).
  template <class T>
  std::shared_ptr<T> Root() const {
    return std::dynamic_pointer_cast<T>(m_pRoot);
  }
  const std::shared_ptr<OrbBaseDataWrapper>& RootObject() const { return m_pRoot; }
  const OrbDataContextSettings& Settings() const { return m_Settings; }
  OrbDataMode DataMode() const { return m_pRoot->Tree().Mode(); }

  // Turns the user-interface events of the tree on or off.
  void set_UseMvvmNotification(bool bOn);
  // Writes the pending values (see OrbMvvmTree::Commit); the update id.
  uint64_t Commit();
  void Rollback();
  bool HasPendingChanges() const;
  // Reloads the tree from the records (what a kernel update does when the
  // context follows the kernel).
  void Refresh();
  // Kernel updates then refresh through `dispatcher` instead of on the
  // kernel's notification thread; an empty one restores that.
  void SetDispatcher(OrbMvvmTree::Dispatcher dispatcher);
  // The tree's lock, for reading several values consistently.
  std::unique_lock<OrbTreeMutex> Lock();

  OrbEvent<void(uint64_t uiUpdateId)>& Committed();
  OrbEvent<void()>& RolledBack();
  OrbEvent<void()>& Refreshed();

 private:
  std::shared_ptr<OrbBaseDataWrapper> m_pRoot;
  OrbDataContextSettings m_Settings;
};

// The data-context manager of one file wrapper of class F. The application
// creates it under a key; the file wrapper finds it again with Instance.
template <class F>
class OrbGenericContextManager {
 public:
  // Creates the manager of `pFile` under `csKey`. OrbKernelException for a
  // null file or a key that already has a manager of this file class.
  static std::shared_ptr<OrbGenericContextManager> Create(const std::u16string& csKey,
                                                          std::shared_ptr<F> pFile) {
    if (!pFile) {
      throw OrbKernelException(u"OrbGenericContextManager.Create ({0}):\r\nNo file\r\n", {csKey});
    }
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    auto [it, bAdded] = registry.managers.try_emplace(csKey);
    if (!bAdded) {
      throw OrbKernelException(
          u"OrbGenericContextManager.Create ({0}):\r\nThe key already has a manager\r\n", {csKey});
    }
    it->second.reset(new OrbGenericContextManager(csKey, std::move(pFile)));
    return it->second;
  }
  // The manager known under `csKey`, or null.
  static std::shared_ptr<OrbGenericContextManager> Instance(const std::u16string& csKey) {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    const auto it = registry.managers.find(csKey);
    return it != registry.managers.end() ? it->second : nullptr;
  }
  // Forgets the manager under `csKey`; false when there is none.
  static bool Remove(const std::u16string& csKey) {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    return registry.managers.erase(csKey) != 0;
  }

  const std::u16string& Key() const { return m_csKey; }
  // The file wrapper the manager holds.
  std::shared_ptr<F> TheFile() const { return m_pFile; }

  // A data context over the root of member `iRootIndex` (its position in
  // the file) that `producer` makes:
  //  - bShared: every caller asking for the same member gets one context,
  //    made with the first caller's settings; otherwise a new context over a
  //    new root. Two members of one root type get two contexts;
  //  - dataMode: Live, or ReadOnly (writes refused); a file whose maps are
  //    read-only gives ReadOnly;
  //  - bUseMvvmNotification: the tree raises its change events;
  //  - bUseOrbNotification: the kernel's update notifications of the member
  //    (other processes' included) refresh the tree;
  //  - bUseAutoCommit: a write reaches the record at once and is published
  //    with its own update id; otherwise it waits for Commit or Rollback.
  // OrbKernelException when the producer is empty or makes no root.
  template <class T>
  std::shared_ptr<OrbGenericDataContext> GetDC(int32_t iRootIndex, GetMvvmObjForDC<T> producer,
                                               bool bShared, OrbDataMode dataMode,
                                               bool bUseMvvmNotification, bool bUseOrbNotification,
                                               bool bUseAutoCommit) {
    return Context(SharedKey{iRootIndex, std::type_index(typeid(T))}, producer,
                   {bShared, dataMode, bUseMvvmNotification, bUseOrbNotification, bUseAutoCommit});
  }
  // The same for a caller that does not name the member: shared contexts
  // are then told apart by the root type T alone.
  template <class T>
  std::shared_ptr<OrbGenericDataContext> GetDC(GetMvvmObjForDC<T> producer, bool bShared,
                                               OrbDataMode dataMode, bool bUseMvvmNotification,
                                               bool bUseOrbNotification, bool bUseAutoCommit) {
    return GetDC(-1, std::move(producer), bShared, dataMode, bUseMvvmNotification,
                 bUseOrbNotification, bUseAutoCommit);
  }

 private:
  struct Managers {
    std::mutex mutex;
    std::map<std::u16string, std::shared_ptr<OrbGenericContextManager>> managers;
  };
  static Managers& Registry() {
    static Managers registry;
    return registry;
  }

  OrbGenericContextManager(std::u16string csKey, std::shared_ptr<F> pFile)
      : m_csKey(std::move(csKey)), m_pFile(std::move(pFile)) {}

  // A shared context's member: its root index (-1 when the caller named
  // none) and its root type.
  using SharedKey = std::pair<int32_t, std::type_index>;

  template <class T>
  std::shared_ptr<OrbGenericDataContext> Context(const SharedKey& key,
                                                 const GetMvvmObjForDC<T>& producer,
                                                 OrbDataContextSettings settings) {
    std::unique_lock lock(m_Mutex, std::defer_lock);
    if (settings.bShared) {
      lock.lock();
      const auto it = m_Shared.find(key);
      if (it != m_Shared.end()) return it->second;
    }
    std::shared_ptr<T> pRoot = producer ? producer() : nullptr;
    if (!pRoot) {
      throw OrbKernelException(u"OrbGenericContextManager.GetDC ({0}):\r\nNo view-model root\r\n",
                               {m_csKey});
    }
    if constexpr (requires(const F& file) { file.IsReadOnlyMapGet(); }) {
      if (m_pFile->IsReadOnlyMapGet()) settings.dataMode = OrbDataMode::ReadOnly;
    }
    auto pContext = std::make_shared<OrbGenericDataContext>(std::move(pRoot), settings);
    if (settings.bShared) m_Shared.emplace(key, pContext);
    return pContext;
  }

  const std::u16string m_csKey;
  const std::shared_ptr<F> m_pFile;
  std::mutex m_Mutex;
  // The shared contexts, one per member.
  std::map<SharedKey, std::shared_ptr<OrbGenericDataContext>> m_Shared;
};

}  // namespace Tarvex::Orb::DataDirectAcces
