// The file base of the object face: process-wide local file ids, the
// view-model roots and containers registered per member, and the routing
// of the kernel's update notifications to them.
#include "contracts/framework/OrbFileM.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "contracts/framework/OrbKernelException.h"
#include "contracts/framework/OrbMvvm.h"

namespace Tarvex::Orb::DataDirectAcces {
namespace {

// Local file ids start at 1 and are never handed out twice in a process.
std::atomic<uint32_t> g_uiNextLocalFileId{1};

template <class T>
void PruneExpired(std::vector<std::weak_ptr<T>>& entries) {
  std::erase_if(entries, [](const std::weak_ptr<T>& entry) { return entry.expired(); });
}

template <class T>
std::vector<std::shared_ptr<T>> Alive(const std::vector<std::weak_ptr<T>>& entries) {
  std::vector<std::shared_ptr<T>> alive;
  for (const auto& entry : entries) {
    if (auto p = entry.lock()) alive.push_back(std::move(p));
  }
  return alive;
}

// Tells every root of a member of a kernel update with text `csText`; each
// is reached even when one throws, and the first failure is kept.
void TellRoots(const std::vector<std::shared_ptr<OrbBaseDataWrapper>>& roots,
               std::u16string_view csText, std::exception_ptr& pFirstFailure) {
  for (const auto& pRoot : roots) {
    try {
      pRoot->Tree().OnKernelUpdate(csText);
    } catch (...) {
      if (!pFirstFailure) pFirstFailure = std::current_exception();
    }
  }
}

}  // namespace

struct OrbFileM::Impl {
  // What is registered under one root index.
  struct Member {
    std::vector<std::weak_ptr<OrbBaseDataWrapper>> roots;
    std::vector<std::weak_ptr<IOrbUpdatableObject>> containers;
  };

  mutable std::mutex mutex;  // guards everything below
  std::weak_ptr<OrbOpenFileTable> pOpenFiles;
  std::vector<Member> members;

  Member& At(int32_t iRootIndex) {
    if (iRootIndex < 0 || static_cast<size_t>(iRootIndex) >= members.size()) {
      throw OrbKernelException(
          u"OrbFileM.AddMvvmRoot ({0}):\r\nRoot index outside the file's {1} members\r\n",
          {iRootIndex, members.size()});
    }
    return members[static_cast<size_t>(iRootIndex)];
  }

  static void AddContainer(Member& member, const std::shared_ptr<IOrbUpdatableObject>& pContainer) {
    PruneExpired(member.containers);
    const bool bKnown = std::any_of(member.containers.begin(), member.containers.end(),
                                    [&](const auto& entry) { return entry.lock() == pContainer; });
    if (!bKnown) member.containers.push_back(pContainer);
  }
};

OrbFileM::OrbFileM()
    : m_pImpl(std::make_unique<Impl>()),
      m_uiLocalFileId(g_uiNextLocalFileId.fetch_add(1, std::memory_order_relaxed)) {}

OrbFileM::~OrbFileM() {
  try {
    OrbFileUnloaded();
  } catch (...) {
    // A handler's failure cannot leave a destructor; the roots are detached.
  }
}

void OrbFileM::Init(std::shared_ptr<OrbOpenFileTable> pOpenFiles, int32_t iRootCount) {
  std::lock_guard lock(m_pImpl->mutex);
  m_pImpl->pOpenFiles = pOpenFiles;
  m_pImpl->members.resize(static_cast<size_t>(std::max(iRootCount, 0)));
}

std::shared_ptr<OrbOpenFileTable> OrbFileM::OpenFiles() const {
  std::lock_guard lock(m_pImpl->mutex);
  return m_pImpl->pOpenFiles.lock();
}

int32_t OrbFileM::RootCount() const {
  std::lock_guard lock(m_pImpl->mutex);
  return static_cast<int32_t>(m_pImpl->members.size());
}

void OrbFileM::AddMvvmRoot(int32_t iRootIndex, std::shared_ptr<OrbBaseDataWrapper> pRoot,
                           std::shared_ptr<IOrbUpdatableObject> pContainer,
                           const OrbMemberInfo& memberInfo) {
  if (!pRoot) {
    throw OrbKernelException(u"OrbFileM.AddMvvmRoot ({0}):\r\nNo root\r\n", {iRootIndex});
  }
  {
    std::lock_guard lock(m_pImpl->mutex);
    Impl::Member& member = m_pImpl->At(iRootIndex);
    PruneExpired(member.roots);
    member.roots.push_back(pRoot);
    if (pContainer) Impl::AddContainer(member, pContainer);
  }
  pRoot->Tree().BindMember(pContainer, memberInfo.Name(), weak_from_this());
}

void OrbFileM::AddUpdatable(int32_t iRootIndex, std::shared_ptr<IOrbUpdatableObject> pContainer) {
  if (!pContainer) return;
  std::lock_guard lock(m_pImpl->mutex);
  Impl::AddContainer(m_pImpl->At(iRootIndex), pContainer);
}

void OrbFileM::OnObjectUpdateEx(int32_t iObjId, std::u16string_view csText, uint32_t uiWord,
                                uint64_t uiUpdateId) {
  // Take what is registered, then work without the table's lock: a refresh
  // may take long, and handlers may register roots.
  std::vector<std::shared_ptr<IOrbUpdatableObject>> containers;
  std::vector<std::shared_ptr<OrbBaseDataWrapper>> roots;
  {
    std::lock_guard lock(m_pImpl->mutex);
    if (iObjId < 0 || static_cast<size_t>(iObjId) >= m_pImpl->members.size()) return;
    Impl::Member& member = m_pImpl->members[static_cast<size_t>(iObjId)];
    containers = Alive(member.containers);
    roots = Alive(member.roots);
  }
  const OrbObjectChangedEventArgs args(iObjId, std::u16string(csText), uiWord, uiUpdateId);
  std::exception_ptr pFirstFailure;
  for (const auto& pContainer : containers) {
    try {
      pContainer->OnObjectChanged(this, args);
    } catch (...) {
      if (!pFirstFailure) pFirstFailure = std::current_exception();
    }
  }
  TellRoots(roots, csText, pFirstFailure);
  if (pFirstFailure) std::rethrow_exception(pFirstFailure);
}

void OrbFileM::OnUpdatesLost(int32_t iObjId) {
  std::vector<std::shared_ptr<OrbBaseDataWrapper>> roots;
  {
    std::lock_guard lock(m_pImpl->mutex);
    if (iObjId < 0 || static_cast<size_t>(iObjId) >= m_pImpl->members.size()) return;
    roots = Alive(m_pImpl->members[static_cast<size_t>(iObjId)].roots);
  }
  std::exception_ptr pFirstFailure;
  TellRoots(roots, {}, pFirstFailure);  // a text that names nothing: everything reloads
  if (pFirstFailure) std::rethrow_exception(pFirstFailure);
}

void OrbFileM::OrbFileUnloaded() {
  std::vector<Impl::Member> members;
  {
    std::lock_guard lock(m_pImpl->mutex);
    for (auto& member : m_pImpl->members) members.push_back(std::exchange(member, {}));
  }
  std::exception_ptr pFirstFailure;
  for (const auto& member : members) {
    for (const auto& entry : member.roots) {
      try {
        if (auto pRoot = entry.lock()) pRoot->Tree().Detach();
      } catch (...) {
        if (!pFirstFailure) pFirstFailure = std::current_exception();
      }
    }
  }
  if (pFirstFailure) std::rethrow_exception(pFirstFailure);
}

void OrbFileM::ZinternalEndNetApplication() { OrbFileUnloaded(); }

OrbFileWideLock::OrbFileWideLock(OrbFileM& file, Kind kind) : m_File(file), m_Kind(kind) {
  if (m_Kind == Kind::NGE) {
    m_File.GetNGELock();
  } else {
    m_File.GetNGMLock();
  }
}

OrbFileWideLock::~OrbFileWideLock() {
  OrbReleaseInDestructor([&] {
    if (m_Kind == Kind::NGE) {
      m_File.ReleaseNGELock();
    } else {
      m_File.ReleaseNGMLock();
    }
  });
}

}  // namespace Tarvex::Orb::DataDirectAcces
