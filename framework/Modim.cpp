// The multi-dimension index object: owns the native dimension object that
// the kernel file fills (GetObjInd) or reads (Open, SetObjInd).
#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "contracts/framework/OrbApp.h"

namespace Tarvex::Orb {

Modim::Modim() : m_pDim(std::make_unique<CkxD2ObjDim>()) {}

Modim::~Modim() = default;

}  // namespace Tarvex::Orb
