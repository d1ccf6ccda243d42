#include "access/OrbGuard.h"

namespace Tarvex::Orb::DataDirectAcces {

std::u16string OrbOperationMessage(std::u16string_view csWhere, std::u16string_view csWhat) {
  std::u16string csMessage;
  csMessage.reserve(csWhere.size() + csWhat.size() + 3);
  csMessage.append(csWhere).append(csWhat).append(u":\r\n");
  return csMessage;
}

void OrbThrowKernel(std::u16string_view csWhere, std::u16string_view csWhat,
                    const CkxOrbUnmanException& cause) {
  throw OrbKernelException(OrbOperationMessage(csWhere, csWhat), cause);
}

void OrbThrowKernel(std::u16string_view csWhere, std::u16string_view csWhat) {
  throw OrbKernelException(OrbOperationMessage(csWhere, csWhat));
}

}  // namespace Tarvex::Orb::DataDirectAcces
