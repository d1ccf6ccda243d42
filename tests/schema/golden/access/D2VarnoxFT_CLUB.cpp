// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The constructors and destructors of FT_CLUB's access classes; the
// virtual tables, and the templates they reach, are built here.
#include "access/D2VarnoxFT_CLUB.h"

#include <utility>

namespace Tarvex::Orb::Data::Varnox {

D2oVarnox_FT_CLUB_Pool::D2oVarnox_FT_CLUB_Pool(VarnoxPath_FT_CLUB_Pool::Member* pObj, const std::shared_ptr<DataDirectAcces::OrbFileM>& pFileM)
    : D2oSingle(pObj, pFileM) {}
D2oVarnox_FT_CLUB_Pool::~D2oVarnox_FT_CLUB_Pool() = default;

D2mVarnox_FT_CLUB_Pool_Starts::D2mVarnox_FT_CLUB_Pool_Starts(VarnoxPath_FT_CLUB_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_CLUB_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2mProxy(pObj, std::move(pObjM), pParent) {}
D2mVarnox_FT_CLUB_Pool_Starts::~D2mVarnox_FT_CLUB_Pool_Starts() = default;

D2iVarnox_FT_CLUB_Pool_Starts::D2iVarnox_FT_CLUB_Pool_Starts(VarnoxPath_FT_CLUB_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_CLUB_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2iMap(pObj, std::move(pObjM), pParent) {}
D2iVarnox_FT_CLUB_Pool_Starts::~D2iVarnox_FT_CLUB_Pool_Starts() = default;

}  // namespace Tarvex::Orb::Data::Varnox
