// The reference kernel's component manager: the entry point
// CreateKxComponent, which hands out every interface of the kernel
// contract. The interfaces live one per file (KxObjInterface.cpp,
// KxFileInterface.cpp, KxTaskInterface.cpp, KxConnectionInterface.cpp,
// KxMessManInterface.cpp) over live files in shared storage (KxLiveFile)
// and the template catalogue of the Varnox files; KxComponents.h holds what
// they share.
#include <algorithm>
#include <string>

#include "contracts/kernel/KxComponent.h"
#include "kernel/KxComponents.h"
#include "kernel/KxKernelLog.h"

namespace KxComponents {
namespace {

// The access-by-string interface: the library only holds it.
void AccessRelease(IkxDtbAccByStr* self) { delete self; }

const IkxDtbAccByStrOps kAccessOps = [] {
  IkxDtbAccByStrOps ops{};
  ops.Release = KX_GUARD(AccessRelease);
  return ops;
}();

IkxDtbAccByStr* NewAccessInterface() {
  IkxDtbAccByStr* pAccess = new IkxDtbAccByStr();
  pAccess->ops = &kAccessOps;
  return pAccess;
}

// One interface the kernel hands out: where it is found, the highest
// version this kernel implements (every slot of the contract's table) and
// how to make one.
struct KxInterfaceEntry {
  const char* csComponent;
  const char* csInterface;
  uint32_t uiHighest;
  void* (*create)();
};

template <class Ops, auto New>
constexpr KxInterfaceEntry Entry(const char* csComponent, const char* csInterface) {
  return {csComponent, csInterface, Ops::kVersion, [] { return static_cast<void*>(New()); }};
}

constexpr KxInterfaceEntry kInterfaces[] = {
    Entry<IkxTaskOps, NewTaskInterface>(KxNames::kBase, KxNames::kTask),
    Entry<IkxTaskOnlyOps, NewTaskOnlyInterface>(KxNames::kBase, KxNames::kTaskOnly),
    Entry<IkxD2MessManOps, NewMessManInterface>(KxNames::kBase, KxNames::kMessMan),
    Entry<IkxDtbAccByStrOps, NewAccessInterface>(KxNames::kBase, KxNames::kDtbAccByStr),
    Entry<IkxDtb2ConnectionOps, NewConnectionInterface>(KxNames::kDtb2, KxNames::kConnection),
    Entry<IkxDtb2FileOps, NewFileInterface>(KxNames::kDtb2, KxNames::kFile),
    Entry<IkxDtb2ObjOps, NewObjInterface>(KxNames::kDtb2, KxNames::kObj),
};

const KxInterfaceEntry* FindInterface(const std::string& csComponent,
                                      const std::string& csInterface) {
  for (const KxInterfaceEntry& entry : kInterfaces) {
    if (csComponent == entry.csComponent && csInterface == entry.csInterface) return &entry;
  }
  return nullptr;
}

// Hands out interface `csInterface` of `csComponent` (see CreateKxComponent).
int Grant(const char* csComponent, const char* csInterface, void** ppInterface,
          uint32_t& uiVersion) {
  const KxInterfaceEntry* pEntry = FindInterface(Text(csComponent), Text(csInterface));
  if (pEntry == nullptr || uiVersion == 0) {
    *ppInterface = nullptr;
    uiVersion = 0;
    KxKernelLog("KERNEL", pEntry == nullptr ? "no interface " + Text(csInterface) +
                                                  " in component " + Text(csComponent)
                                            : Text(csInterface) + " asked for at version 0");
    return 1;
  }
  *ppInterface = pEntry->create();
  uiVersion = std::min(uiVersion, pEntry->uiHighest);
  return 0;
}

}  // namespace
}  // namespace KxComponents

// Grants an interface at the version offered, capped at the highest this
// kernel implements: a newer library then falls back on the slots it has
// above that, as the contract says. An interface it does not have is
// refused (null, version 0).
extern "C" __attribute__((visibility("default"))) int CreateKxComponent(
    const char* csComponent, const char* csInterface, const int /*iKind*/, void** ppInterface,
    uint32_t& uiVersion, void* /*pExtra*/) {
  using namespace KxComponents;
  if (ppInterface == nullptr) return 1;
  try {
    return Grant(csComponent, csInterface, ppInterface, uiVersion);
  } catch (const std::exception& e) {
    // No exception crosses the C interface: the interface is refused.
    *ppInterface = nullptr;
    uiVersion = 0;
    KxLogEscaped("CreateKxComponent", e.what());
    return 1;
  }
}
