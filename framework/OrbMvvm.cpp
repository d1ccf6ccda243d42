// The framework's view-model machinery that is not a template: the handle
// diff of the observable collections, the tree of a root (its lock, write
// policy, pending values, refresh and detach) and the data context.
#include "contracts/framework/OrbMvvm.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <new>
#include <unordered_map>

#include "contracts/framework/OrbFileM.h"

namespace Tarvex::Orb::DataDirectAcces {
namespace {

using Change = OrbCollectionChangedEventArgs;

int32_t ToInt(size_t uiValue) { return static_cast<int32_t>(uiValue); }

// Marks the elements of the longest subsequence of `order` that increases
// (entries of -1 take no part): those keep their place, the rest move.
std::vector<bool> LongestIncreasing(const std::vector<int32_t>& order) {
  std::vector<size_t> tails;                   // index into `order` of the tail of each length
  std::vector<size_t> previous(order.size());  // the element before each in its run
  constexpr size_t kNone = static_cast<size_t>(-1);
  for (size_t i = 0; i < order.size(); ++i) {
    if (order[i] < 0) continue;
    const auto it = std::lower_bound(tails.begin(), tails.end(), order[i],
                                     [&](size_t t, int32_t v) { return order[t] < v; });
    previous[i] = it == tails.begin() ? kNone : *(it - 1);
    if (it == tails.end()) {
      tails.push_back(i);
    } else {
      *it = i;
    }
  }
  std::vector<bool> keep(order.size(), false);
  for (size_t i = tails.empty() ? kNone : tails.back(); i != kNone; i = previous[i]) keep[i] = true;
  return keep;
}

// Appends one change per run of entries not kept: removals from the back
// (so each position is still valid when applied), additions from the front.
void AppendRuns(const std::vector<bool>& kept, size_t uiOffset, OrbCollectionChange action,
                std::vector<Change>& changes) {
  const bool bBackwards = action == OrbCollectionChange::Remove;
  const size_t n = kept.size();
  size_t i = 0;
  while (i < n) {
    const size_t at = bBackwards ? n - 1 - i : i;
    if (kept[at]) {
      ++i;
      continue;
    }
    size_t run = 0;
    while (i < n && !kept[bBackwards ? n - 1 - i : i]) {
      ++run;
      ++i;
    }
    const size_t first = bBackwards ? at + 1 - run : at;
    changes.emplace_back(action, ToInt(uiOffset + first), ToInt(run));
  }
}

}  // namespace

std::vector<OrbCollectionChangedEventArgs> OrbDiffHandles(std::span<const uint32_t> shown,
                                                          std::span<const uint32_t> current) {
  std::vector<Change> changes;
  size_t prefix = 0;
  while (prefix < shown.size() && prefix < current.size() && shown[prefix] == current[prefix]) {
    ++prefix;
  }
  size_t suffix = 0;
  while (suffix < shown.size() - prefix && suffix < current.size() - prefix &&
         shown[shown.size() - 1 - suffix] == current[current.size() - 1 - suffix]) {
    ++suffix;
  }
  const auto before = shown.subspan(prefix, shown.size() - prefix - suffix);
  const auto after = current.subspan(prefix, current.size() - prefix - suffix);
  if (before.empty() && after.empty()) return changes;
  if (before.empty()) return {Change(OrbCollectionChange::Add, ToInt(prefix), ToInt(after.size()))};
  if (after.empty()) {
    return {Change(OrbCollectionChange::Remove, ToInt(prefix), ToInt(before.size()))};
  }

  // Where each element shown before stands now (-1: gone).
  std::unordered_map<uint32_t, int32_t> positionAfter;
  positionAfter.reserve(after.size());
  for (size_t j = 0; j < after.size(); ++j) positionAfter.emplace(after[j], ToInt(j));
  std::vector<int32_t> order(before.size(), -1);
  bool bAnyKept = false;
  for (size_t i = 0; i < before.size(); ++i) {
    const auto it = positionAfter.find(before[i]);
    if (it != positionAfter.end()) {
      order[i] = it->second;
      bAnyKept = true;
    }
  }
  if (!bAnyKept && before.size() == after.size()) {
    return {Change(OrbCollectionChange::Replace, ToInt(prefix), ToInt(before.size()))};
  }

  const std::vector<bool> keptBefore = LongestIncreasing(order);
  std::vector<bool> keptAfter(after.size(), false);
  for (size_t i = 0; i < before.size(); ++i) {
    if (keptBefore[i]) keptAfter[static_cast<size_t>(order[i])] = true;
  }
  AppendRuns(keptBefore, prefix, OrbCollectionChange::Remove, changes);
  AppendRuns(keptAfter, prefix, OrbCollectionChange::Add, changes);
  return changes;
}

namespace {

constexpr std::u16string_view kElementsTag = u" [elements ";
// Longer lists are not worth naming: the refresh then checks every element.
constexpr size_t kMaxNamedElements = 32;

}  // namespace

std::u16string OrbNameElements(std::u16string_view csText, std::span<const uint32_t> elements) {
  std::u16string csTagged(csText);
  if (elements.empty() || elements.size() > kMaxNamedElements) return csTagged;
  csTagged += kElementsTag;
  for (size_t i = 0; i < elements.size(); ++i) {
    if (i > 0) csTagged += u',';
    for (const char c : std::to_string(elements[i])) csTagged += static_cast<char16_t>(c);
  }
  csTagged += u']';
  return csTagged;
}

std::optional<std::vector<uint32_t>> OrbNamedElements(std::u16string_view csText) {
  if (!csText.ends_with(u']')) return std::nullopt;
  const size_t uiTag = csText.rfind(kElementsTag);
  if (uiTag == std::u16string_view::npos) return std::nullopt;
  const std::u16string_view csList =
      csText.substr(uiTag + kElementsTag.size(), csText.size() - 1 - uiTag - kElementsTag.size());
  std::vector<uint32_t> elements;
  size_t uiStart = 0;
  while (uiStart <= csList.size()) {
    const size_t uiEnd = std::min(csList.find(u',', uiStart), csList.size());
    std::string csDigits;
    for (const char16_t c : csList.substr(uiStart, uiEnd - uiStart)) {
      if (c < u'0' || c > u'9') return std::nullopt;
      csDigits += static_cast<char>(c);
    }
    uint32_t uiElement = 0;
    const auto [pEnd, error] =
        std::from_chars(csDigits.data(), csDigits.data() + csDigits.size(), uiElement);
    if (csDigits.empty() || error != std::errc()) return std::nullopt;
    elements.push_back(uiElement);
    uiStart = uiEnd + 1;
  }
  return elements;
}

void OrbThrowBadPosition(std::u16string_view csCollection, int32_t iIndex, int32_t iCount) {
  throw OrbKernelException(
      u"{0}.Item ({1}):\r\nNo element at this position; the collection has {2}\r\n",
      {csCollection, iIndex, iCount});
}

// ---------------------------------------------------------------------------
// Observable objects

void OrbBaseDataWrapper::ReloadSlot() {
  auto lock = Tree().Lock();
  if (m_pParent != nullptr && m_pParent->Connected()) {
    if (IAOrbMvvmInternUse* pOwner = m_pParent->AsViewModel()) pOwner->GetVal(m_iPropIndex, false);
  }
  Refresh();
}

// ---------------------------------------------------------------------------
// The lock of a tree

namespace {

// Whether this process may force a memory barrier on all its threads
// (membarrier's private expedited command, registered once).
bool CanForceBarriers() {
  static const bool bCan =
      syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
  return bCan;
}

// The wait of a thread polling the tree's lock: spins briefly, then yields,
// then naps that grow to a tenth of a millisecond.
class Backoff {
 public:
  void Pause() {
    ++m_iRound;
    if (m_iRound < kSpins) return;
    if (m_iRound < kSpins + kYields) {
      std::this_thread::yield();
      return;
    }
    std::this_thread::sleep_for(m_Nap);
    m_Nap = std::min(m_Nap * 2, kLongestNap);
  }

 private:
  static constexpr int kSpins = 64;
  static constexpr int kYields = 64;
  static constexpr auto kLongestNap = std::chrono::microseconds(100);
  int m_iRound = 0;
  std::chrono::microseconds m_Nap{1};
};

}  // namespace

OrbTreeMutex::OrbTreeMutex() {
  if (CanForceBarriers()) m_pBiasedTo.store(ThreadMark(), std::memory_order_relaxed);
}

void OrbTreeMutex::WaitAndTake() {
  for (Backoff backoff;; backoff.Pause()) {
    if (m_State.load(std::memory_order_relaxed) == kFree && TryTake()) return;
  }
}

// Called holding m_State. After the barrier, the biased thread either sees
// the request in its next take or is seen inside; once it left, the bias
// ends and every take goes through m_State.
void OrbTreeMutex::EndBias() {
  m_bAsked.store(true, std::memory_order_relaxed);
  syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0);
  for (Backoff backoff; m_bBiasedInside.load(std::memory_order_acquire); backoff.Pause()) {
  }
  m_pBiasedTo.store(nullptr, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Memory of a tree

OrbMvvmPool::~OrbMvvmPool() {
  for (void* pChunk : m_Chunks) ::operator delete(pChunk);
}

void* OrbMvvmPool::Allocate(size_t uiBytes) {
  std::lock_guard lock(m_Mutex);
  void* p = nullptr;
  if (uiBytes > kLargest) {
    p = ::operator new(uiBytes);
  } else if (FreeBlock*& pFree = m_FreeLists[ClassOf(uiBytes)]; pFree != nullptr) {
    p = std::exchange(pFree, pFree->pNext);
  } else {
    p = Carve((ClassOf(uiBytes) + 1) * kStep);
  }
  ++m_uiLive;
  return p;
}

// A new block of `uiBytes` (a whole class) from the last chunk, or from a new
// one when it has not enough left; the old one's rest stays unused.
void* OrbMvvmPool::Carve(size_t uiBytes) {
  if (m_uiCarveLeft < uiBytes) {
    constexpr size_t kLargestChunk = size_t{1} << 20;
    m_Chunks.reserve(m_Chunks.size() + 1);
    m_pCarve = static_cast<std::byte*>(::operator new(m_uiNextChunk));
    m_Chunks.push_back(m_pCarve);
    m_uiCarveLeft = m_uiNextChunk;
    m_uiNextChunk = std::min(m_uiNextChunk * 2, kLargestChunk);
  }
  void* p = m_pCarve;
  m_pCarve += uiBytes;
  m_uiCarveLeft -= uiBytes;
  return p;
}

void OrbMvvmPool::Deallocate(void* p, size_t uiBytes) noexcept {
  bool bLast = false;
  {
    std::lock_guard lock(m_Mutex);
    if (uiBytes > kLargest) {
      ::operator delete(p);
    } else {
      FreeBlock*& pFree = m_FreeLists[ClassOf(uiBytes)];
      pFree = new (p) FreeBlock{pFree};
    }
    bLast = --m_uiLive == 0 && m_bReleased;
  }
  if (bLast) delete this;
}

void OrbMvvmPool::Release() noexcept {
  bool bEmpty = false;
  {
    std::lock_guard lock(m_Mutex);
    m_bReleased = true;
    bEmpty = m_uiLive == 0;
  }
  if (bEmpty) delete this;
}

// ---------------------------------------------------------------------------
// The tree of a root

// Holds the exclusive lock that guards a tree's writes to its records: the
// container's when the root shows one, otherwise the file's NGE (a single
// record has no lock word of its own); nothing without either.
class OrbMvvmTree::ExclusiveSourceLock {
 public:
  explicit ExclusiveSourceLock(OrbMvvmTree& tree) : m_Root(*tree.m_pRoot) {
    m_bContainer = m_Root.LockSource();
    if (m_bContainer) return;
    m_pFile = tree.m_pFile.lock();
    if (m_pFile) m_FileLock.emplace(*m_pFile, OrbFileWideLock::Kind::NGE);
  }
  ~ExclusiveSourceLock() {
    if (m_bContainer) OrbReleaseInDestructor([&] { m_Root.UnlockSource(); });
  }
  ExclusiveSourceLock(const ExclusiveSourceLock&) = delete;
  ExclusiveSourceLock& operator=(const ExclusiveSourceLock&) = delete;

 private:
  OrbBaseDataWrapper& m_Root;
  bool m_bContainer = false;
  std::shared_ptr<OrbFileM> m_pFile;
  std::optional<OrbFileWideLock> m_FileLock;
};

namespace {

// The element of the root's collection that `target` lies in: its handle or
// index, none when the target is not inside an element.
std::optional<uint32_t> ElementOf(const OrbBaseDataWrapper& target,
                                  const OrbBaseDataWrapper* pRoot) {
  for (const OrbBaseDataWrapper* p = &target; p != nullptr; p = p->Parent()) {
    if (p->Parent() == pRoot) return p->ElementHandle();
  }
  return std::nullopt;
}

}  // namespace

void OrbMvvmTree::BindMember(std::weak_ptr<IOrbUpdatableObject> pContainer, std::u16string csMember,
                             std::weak_ptr<OrbFileM> pFile) {
  auto lock = Lock();
  m_pContainer = std::move(pContainer);
  m_csMember = std::move(csMember);
  m_pFile = std::move(pFile);
}

void OrbMvvmTree::SetDispatcher(Dispatcher dispatcher) {
  std::lock_guard lock(m_DispatcherMutex);
  m_Dispatcher = std::move(dispatcher);
}

void OrbMvvmTree::WriteBegins(const OrbBaseDataWrapper& target, int32_t iIndex) const {
  (void)target;
  if (Mode() == OrbDataMode::ReadOnly) {
    throw OrbKernelException(
        u"OrbMvvm.set_Value ({0}):\r\nThe data context is read-only: the write is refused\r\n",
        {iIndex});
  }
  if (Detached()) {
    throw OrbKernelException(
        u"OrbMvvm.set_Value ({0}):\r\nThe file is unloaded: the write is refused\r\n", {iIndex});
  }
}

void OrbMvvmTree::WriteStored(OrbBaseDataWrapper& target, int32_t iIndex) {
  auto lock = Lock();
  if (!AutoCommit()) {
    if (IsPending(target, iIndex)) return;
    std::weak_ptr<OrbBaseDataWrapper> pTarget = target.WeakSelf();
    if (pTarget.expired()) {
      throw OrbKernelException(
          u"OrbMvvm.set_Value ({0}):\r\nA value not held by a shared pointer cannot wait for "
          u"Commit\r\n",
          {iIndex});
    }
    m_Pending.push_back({std::move(pTarget), &target, iIndex});
    return;
  }
  {
    ExclusiveSourceLock source(*this);
    target.WritePending(iIndex);
  }
  if (const auto pContainer = Container()) {
    const std::optional<uint32_t> element = ElementOf(target, m_pRoot);
    const std::u16string csFormat =
        element ? OrbNameElements(u"Mvvm write {0}.{1} ({2})", std::span(&*element, 1))
                : std::u16string(u"Mvvm write {0}.{1} ({2})");
    pContainer->UpdateID(OrbCmd::None, std::nullopt, csFormat,
                         {m_csMember, target.NameInOwner(), iIndex});
  }
}

bool OrbMvvmTree::IsPending(const OrbBaseDataWrapper& target, int32_t iIndex) const {
  auto lock = std::unique_lock(m_pPool->Mutex());
  return std::any_of(m_Pending.begin(), m_Pending.end(), [&](const PendingWrite& write) {
    return write.pKey == &target && write.iIndex == iIndex;
  });
}

bool OrbMvvmTree::HasPending() const {
  auto lock = std::unique_lock(m_pPool->Mutex());
  return !m_Pending.empty();
}

std::shared_ptr<IOrbUpdatableObject> OrbMvvmTree::Container() const {
  auto lock = std::unique_lock(m_pPool->Mutex());
  return m_pContainer.lock();
}

uint64_t OrbMvvmTree::Publish(std::u16string_view csFormat, std::vector<OrbFormatArg> args) {
  const auto pContainer = Container();
  if (!pContainer) return 0;
  return pContainer->UpdateID(OrbCmd::None, std::nullopt, csFormat, args);
}

uint64_t OrbMvvmTree::Commit() {
  std::vector<PendingWrite> pending;
  std::u16string csFormat = u"Mvvm commit {0}: {1} values";
  {
    auto lock = Lock();
    if (Detached()) {
      throw OrbKernelException(u"OrbMvvm.Commit:\r\nThe file is unloaded: nothing is written\r\n");
    }
    if (m_Pending.empty()) return 0;
    pending.swap(m_Pending);
    size_t written = 0;
    try {
      ExclusiveSourceLock source(*this);
      for (; written < pending.size(); ++written) {
        if (auto pTarget = pending[written].pTarget.lock()) {
          pTarget->WritePending(pending[written].iIndex);
        }
      }
    } catch (...) {
      m_Pending.insert(m_Pending.begin(), pending.begin() + static_cast<ptrdiff_t>(written),
                       pending.end());
      if (written > 0) {
        try {
          Publish(csFormat, {m_csMember, written});
        } catch (...) {
          // The write's failure is the one the caller hears of.
        }
      }
      throw;
    }
    csFormat = OrbNameElements(csFormat, ElementsOf(pending));
  }
  const uint64_t uiUpdateId = Publish(csFormat, {m_csMember, pending.size()});
  m_Committed.Raise(uiUpdateId);
  return uiUpdateId;
}

std::vector<uint32_t> OrbMvvmTree::ElementsOf(const std::vector<PendingWrite>& writes) const {
  std::vector<uint32_t> elements;
  for (const auto& write : writes) {
    const auto pTarget = write.pTarget.lock();
    const std::optional<uint32_t> element =
        pTarget ? ElementOf(*pTarget, m_pRoot) : std::optional<uint32_t>();
    if (!element) return {};  // a value outside the elements: name nothing
    if (std::find(elements.begin(), elements.end(), *element) == elements.end())
      elements.push_back(*element);
  }
  return elements;
}

void OrbMvvmTree::Rollback() {
  {
    auto lock = Lock();
    std::vector<PendingWrite> pending;
    pending.swap(m_Pending);
    for (const auto& write : pending) {
      if (auto pTarget = write.pTarget.lock()) pTarget->RevertPending(write.iIndex);
    }
  }
  m_RolledBack.Raise();
}

void OrbMvvmTree::Refresh() { RefreshNamed(std::nullopt); }

void OrbMvvmTree::RefreshNamed(const std::optional<std::vector<uint32_t>>& named) {
  auto lock = Lock();
  if (Detached()) return;
  if (named) {
    m_pRoot->RefreshElements(*named);
  } else {
    m_pRoot->Refresh();
  }
}

void OrbMvvmTree::OnKernelUpdate(std::u16string_view csText) {
  if (!FollowsKernel() || Detached()) return;
  Dispatcher dispatcher;
  {
    std::lock_guard lock(m_DispatcherMutex);
    dispatcher = m_Dispatcher;
  }
  std::optional<std::vector<uint32_t>> named = OrbNamedElements(csText);
  if (!dispatcher) {
    RefreshNamed(named);
    m_Refreshed.Raise();
    return;
  }
  std::weak_ptr<OrbBaseDataWrapper> pRoot = m_pRoot->WeakSelf();
  dispatcher([pRoot, named = std::move(named)] {
    if (auto pAlive = pRoot.lock()) {
      pAlive->Tree().RefreshNamed(named);
      pAlive->Tree().Refreshed().Raise();
    }
  });
}

void OrbMvvmTree::Detach() {
  auto lock = Lock();
  m_bDetached.store(true, std::memory_order_relaxed);
  m_Pending.clear();
  m_pRoot->Detach();
}

// ---------------------------------------------------------------------------
// Data contexts

OrbGenericDataContext::OrbGenericDataContext(std::shared_ptr<OrbBaseDataWrapper> pRoot,
                                             const OrbDataContextSettings& settings)
    : m_pRoot(std::move(pRoot)), m_Settings(settings) {
  if (!m_pRoot) throw OrbKernelException(u"OrbGenericDataContext:\r\nNo view-model root\r\n");
  OrbMvvmTree& tree = m_pRoot->Tree();
  tree.set_Mode(settings.dataMode);
  tree.set_Notifying(settings.bUseMvvmNotification);
  tree.set_FollowsKernel(settings.bUseOrbNotification);
  tree.set_AutoCommit(settings.bUseAutoCommit);
}

void OrbGenericDataContext::set_UseMvvmNotification(bool bOn) {
  m_Settings.bUseMvvmNotification = bOn;
  m_pRoot->Tree().set_Notifying(bOn);
}

uint64_t OrbGenericDataContext::Commit() { return m_pRoot->Tree().Commit(); }
void OrbGenericDataContext::Rollback() { m_pRoot->Tree().Rollback(); }
bool OrbGenericDataContext::HasPendingChanges() const { return m_pRoot->Tree().HasPending(); }
void OrbGenericDataContext::Refresh() { m_pRoot->Tree().Refresh(); }
void OrbGenericDataContext::SetDispatcher(OrbMvvmTree::Dispatcher dispatcher) {
  m_pRoot->Tree().SetDispatcher(std::move(dispatcher));
}
std::unique_lock<OrbTreeMutex> OrbGenericDataContext::Lock() { return m_pRoot->Tree().Lock(); }
OrbEvent<void(uint64_t)>& OrbGenericDataContext::Committed() { return m_pRoot->Tree().Committed(); }
OrbEvent<void()>& OrbGenericDataContext::RolledBack() { return m_pRoot->Tree().RolledBack(); }
OrbEvent<void()>& OrbGenericDataContext::Refreshed() { return m_pRoot->Tree().Refreshed(); }

}  // namespace Tarvex::Orb::DataDirectAcces
