#include "access/OrbGuard.h"

namespace Tarvex::Orb::DataDirectAcces {

std::u16string OrbOperationMessage(OrbOpName csWhere, OrbOpName csWhat) {
  const std::u16string_view csClass = csWhere.View();
  const std::u16string_view csOperation = csWhat.View();
  std::u16string csMessage;
  csMessage.reserve(csClass.size() + csOperation.size() + 3);
  csMessage.append(csClass).append(csOperation).append(u":\r\n");
  return csMessage;
}

void OrbThrowKernel(OrbOpName csWhere, OrbOpName csWhat, const CkxOrbUnmanException& cause) {
  throw OrbKernelException(OrbOperationMessage(csWhere, csWhat), cause);
}

void OrbThrowKernel(OrbOpName csWhere, OrbOpName csWhat) {
  throw OrbKernelException(OrbOperationMessage(csWhere, csWhat));
}

}  // namespace Tarvex::Orb::DataDirectAcces
