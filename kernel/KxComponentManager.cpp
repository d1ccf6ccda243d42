// The reference kernel's component manager: the entry point
// CreateKxComponent, which hands out every interface of the kernel
// contract. The interfaces live one per file (KxObjInterface.cpp,
// KxFileInterface.cpp, KxTaskInterface.cpp, KxConnectionInterface.cpp,
// KxMessManInterface.cpp) over live files in shared storage (KxLiveFile)
// and the template catalogue of the Varnox files; KxComponents.h holds what
// they share.
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
  ops.Release = AccessRelease;
  return ops;
}();

IkxDtbAccByStr* NewAccessInterface() {
  IkxDtbAccByStr* pAccess = new IkxDtbAccByStr();
  pAccess->ops = &kAccessOps;
  return pAccess;
}

void* NewInterface(const std::string& csComponent, const std::string& csInterface) {
  if (csComponent == KxNames::kBase) {
    if (csInterface == KxNames::kTask) return NewTaskInterface();
    if (csInterface == KxNames::kTaskOnly) return NewTaskOnlyInterface();
    if (csInterface == KxNames::kMessMan) return NewMessManInterface();
    if (csInterface == KxNames::kDtbAccByStr) return NewAccessInterface();
  }
  if (csComponent == KxNames::kDtb2) {
    if (csInterface == KxNames::kConnection) return NewConnectionInterface();
    if (csInterface == KxNames::kFile) return NewFileInterface();
    if (csInterface == KxNames::kObj) return NewObjInterface();
  }
  return nullptr;
}

}  // namespace
}  // namespace KxComponents

extern "C" __attribute__((visibility("default"))) int CreateKxComponent(
    const char* csComponent, const char* csInterface, const int /*iKind*/, void** ppInterface,
    uint32_t& uiVersion, void* /*pExtra*/) {
  if (ppInterface == nullptr) return 1;
  *ppInterface =
      KxComponents::NewInterface(KxComponents::Text(csComponent), KxComponents::Text(csInterface));
  if (*ppInterface == nullptr) {
    uiVersion = 0;
    KxKernelLog("KERNEL", "no interface " + KxComponents::Text(csInterface) + " in component " +
                              KxComponents::Text(csComponent));
    return 1;
  }
  return 0;  // every interface is granted at the version offered
}
