// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The constructors and destructors of FT_MEET's access classes; the
// virtual tables, and the templates they reach, are built here.
#include "access/D2VarnoxFT_MEET.h"

#include <utility>

namespace Tarvex::Orb::Data::Varnox {

D2mVarnox_FT_MEET_Races::D2mVarnox_FT_MEET_Races(VarnoxPath_FT_MEET_Races::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2mProxy(pObj, std::move(pObjM), pParent) {}
D2mVarnox_FT_MEET_Races::~D2mVarnox_FT_MEET_Races() = default;

D2oVarnox_FT_MEET_Races::D2oVarnox_FT_MEET_Races(VarnoxPath_FT_MEET_Races::Member* pObj, const std::shared_ptr<DataDirectAcces::OrbFileM>& pFileM)
    : D2oMap(pObj, pFileM) {}
D2oVarnox_FT_MEET_Races::~D2oVarnox_FT_MEET_Races() = default;

D2mVarnox_FT_MEET_Races_Laps::D2mVarnox_FT_MEET_Races_Laps(VarnoxPath_FT_MEET_Races_Laps::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Laps::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2mProxy(pObj, std::move(pObjM), pParent) {}
D2mVarnox_FT_MEET_Races_Laps::~D2mVarnox_FT_MEET_Races_Laps() = default;

D2iVarnox_FT_MEET_Races_Laps::D2iVarnox_FT_MEET_Races_Laps(VarnoxPath_FT_MEET_Races_Laps::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Laps::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2iArray(pObj, std::move(pObjM), pParent) {}
D2iVarnox_FT_MEET_Races_Laps::~D2iVarnox_FT_MEET_Races_Laps() = default;

D2mVarnox_FT_MEET_Races_Pool::D2mVarnox_FT_MEET_Races_Pool(VarnoxPath_FT_MEET_Races_Pool::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Pool::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2mProxy(pObj, std::move(pObjM), pParent) {}
D2mVarnox_FT_MEET_Races_Pool::~D2mVarnox_FT_MEET_Races_Pool() = default;

D2mVarnox_FT_MEET_Races_Pool_Starts::D2mVarnox_FT_MEET_Races_Pool_Starts(VarnoxPath_FT_MEET_Races_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2mProxy(pObj, std::move(pObjM), pParent) {}
D2mVarnox_FT_MEET_Races_Pool_Starts::~D2mVarnox_FT_MEET_Races_Pool_Starts() = default;

D2iVarnox_FT_MEET_Races_Pool_Starts::D2iVarnox_FT_MEET_Races_Pool_Starts(VarnoxPath_FT_MEET_Races_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2iMap(pObj, std::move(pObjM), pParent) {}
D2iVarnox_FT_MEET_Races_Pool_Starts::~D2iVarnox_FT_MEET_Races_Pool_Starts() = default;

D2iVarnox_FT_MEET_Races_Ids::D2iVarnox_FT_MEET_Races_Ids(VarnoxPath_FT_MEET_Races_Ids::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Ids::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2iValues(pObj, std::move(pObjM), pParent) {}
D2iVarnox_FT_MEET_Races_Ids::~D2iVarnox_FT_MEET_Races_Ids() = default;

D2iVarnox_FT_MEET_Races_Splits::D2iVarnox_FT_MEET_Races_Splits(VarnoxPath_FT_MEET_Races_Splits::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Splits::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2iValues(pObj, std::move(pObjM), pParent) {}
D2iVarnox_FT_MEET_Races_Splits::~D2iVarnox_FT_MEET_Races_Splits() = default;

D2mVarnox_FT_MEET_Notes::D2mVarnox_FT_MEET_Notes(VarnoxPath_FT_MEET_Notes::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Notes::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2mProxy(pObj, std::move(pObjM), pParent) {}
D2mVarnox_FT_MEET_Notes::~D2mVarnox_FT_MEET_Notes() = default;

D2oVarnox_FT_MEET_Notes::D2oVarnox_FT_MEET_Notes(VarnoxPath_FT_MEET_Notes::Member* pObj, const std::shared_ptr<DataDirectAcces::OrbFileM>& pFileM)
    : D2oArray(pObj, pFileM) {}
D2oVarnox_FT_MEET_Notes::~D2oVarnox_FT_MEET_Notes() = default;

D2oVarnox_FT_MEET_Pool::D2oVarnox_FT_MEET_Pool(VarnoxPath_FT_MEET_Pool::Member* pObj, const std::shared_ptr<DataDirectAcces::OrbFileM>& pFileM)
    : D2oSingle(pObj, pFileM) {}
D2oVarnox_FT_MEET_Pool::~D2oVarnox_FT_MEET_Pool() = default;

D2mVarnox_FT_MEET_Pool_Starts::D2mVarnox_FT_MEET_Pool_Starts(VarnoxPath_FT_MEET_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2mProxy(pObj, std::move(pObjM), pParent) {}
D2mVarnox_FT_MEET_Pool_Starts::~D2mVarnox_FT_MEET_Pool_Starts() = default;

D2iVarnox_FT_MEET_Pool_Starts::D2iVarnox_FT_MEET_Pool_Starts(VarnoxPath_FT_MEET_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent)
    : D2iMap(pObj, std::move(pObjM), pParent) {}
D2iVarnox_FT_MEET_Pool_Starts::~D2iVarnox_FT_MEET_Pool_Starts() = default;

}  // namespace Tarvex::Orb::Data::Varnox
