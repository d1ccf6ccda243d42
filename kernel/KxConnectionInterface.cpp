// The connection interface ("CkxDtb2Connection" of "CkxDtb2") of the
// reference kernel.
#include "kernel/KxComponents.h"

namespace KxComponents {
namespace {

// The library's table of current kernel objects has one slot, 0.
uint32_t ConnectionGetObjTlsIndex(IkxDtb2Connection*) { return 0; }
// The kernel hands out no reference objects.
void ConnectionReleaseRefObject(IkxDtb2Connection*, void*) {}
void ConnectionRelease(IkxDtb2Connection* self) { delete self; }

const IkxDtb2ConnectionOps kConnectionOps = [] {
  IkxDtb2ConnectionOps ops{};
  ops.Release = ConnectionRelease;
  ops.GetObjTlsIndex = ConnectionGetObjTlsIndex;
  ops.ReleaseRefObject = ConnectionReleaseRefObject;
  return ops;
}();

}  // namespace

IkxDtb2Connection* NewConnectionInterface() {
  IkxDtb2Connection* pConnection = new IkxDtb2Connection();
  pConnection->ops = &kConnectionOps;
  return pConnection;
}

}  // namespace KxComponents
