// The connection interface ("CkxDtb2Connection" of "CkxDtb2") of the
// reference kernel.
#include "kernel/KxComponents.h"
#include "kernel/KxKernelLog.h"

namespace KxComponents {
namespace {

// The library's table of current kernel objects has one slot, 0.
uint32_t ConnectionGetObjTlsIndex(IkxDtb2Connection*) { return 0; }
// The kernel hands out no reference objects.
void ConnectionReleaseRefObject(IkxDtb2Connection*, void*) {}
void ConnectionRelease(IkxDtb2Connection* self) { delete self; }

// The schema handshake: a library of another schema is refused and told
// this kernel's fingerprint; the log says so too.
bool ConnectionAcceptSchema(IkxDtb2Connection*, uint64_t uiLibrary, uint64_t* pKernel) {
  if (pKernel != nullptr) *pKernel = kKernelSchema;
  if (uiLibrary == kKernelSchema) return true;
  KxKernelLog("KERNEL", "a library built from another schema was refused (library schema " +
                            KxHex(uiLibrary) + ", kernel schema " + KxHex(kKernelSchema) + ")");
  return false;
}

const IkxDtb2ConnectionOps kConnectionOps = [] {
  IkxDtb2ConnectionOps ops{};
  ops.Release = KX_GUARD(ConnectionRelease);
  ops.GetObjTlsIndex = KX_GUARD(ConnectionGetObjTlsIndex);
  ops.ReleaseRefObject = KX_GUARD(ConnectionReleaseRefObject);
  ops.AcceptSchema = KX_GUARD(ConnectionAcceptSchema);
  return ops;
}();

}  // namespace

IkxDtb2Connection* NewConnectionInterface() {
  IkxDtb2Connection* pConnection = new IkxDtb2Connection();
  pConnection->ops = &kConnectionOps;
  return pConnection;
}

}  // namespace KxComponents
