// The view models' out-of-line pieces: the one-time start and the error of
// a default literal that does not read.
#include "viewmodels/OrbViewModel.h"

namespace Tarvex::Orb::DataDirectAcces {

void OrbThrowBadDefault(std::u16string_view csLiteral) {
  throw OrbKernelException(u"OrbViewModel default ({0}):\r\nThe default value does not read\r\n",
                           {std::u16string(csLiteral)});
}

void OrbViewModelsStart() {
  // A function-local static: the start runs once, also with view models made
  // on several threads at the same time.
  static const bool bStarted = (CkxOrbCategTools::Init(), true);
  (void)bStarted;
}

}  // namespace Tarvex::Orb::DataDirectAcces
