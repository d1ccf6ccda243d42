// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The constructors and destructors of the view models; their virtual tables,
// and the templates those reach, are built here.
#include "viewmodels/VarnoxViewModelClasses.h"

#include <utility>

namespace Tarvex::Orb::Data::Varnox {

MvvmCkxNote::MvvmCkxNote(std::shared_ptr<Id2sCkxNote> pData, DataDirectAcces::OrbBaseDataWrapper* pParent, int32_t iPropIndex)
    : OrbViewModel(std::move(pData), pParent, iPropIndex) {}
MvvmCkxNote::MvvmCkxNote(std::shared_ptr<Id2sCkxNote> pData, DataDirectAcces::OrbBaseDataWrapper* pParent)
    : OrbViewModel(std::move(pData), pParent) {}
MvvmCkxNote::MvvmCkxNote() = default;
MvvmCkxNote::~MvvmCkxNote() = default;

MvvmCkxPool::MvvmCkxPool(std::shared_ptr<Id2sCkxPool> pData, DataDirectAcces::OrbBaseDataWrapper* pParent, int32_t iPropIndex)
    : OrbViewModel(std::move(pData), pParent, iPropIndex) {}
MvvmCkxPool::MvvmCkxPool(std::shared_ptr<Id2sCkxPool> pData, DataDirectAcces::OrbBaseDataWrapper* pParent)
    : OrbViewModel(std::move(pData), pParent) {}
MvvmCkxPool::MvvmCkxPool() = default;
MvvmCkxPool::~MvvmCkxPool() = default;

MvvmCkxRace::MvvmCkxRace(std::shared_ptr<Id2sCkxRace> pData, DataDirectAcces::OrbBaseDataWrapper* pParent, int32_t iPropIndex)
    : OrbViewModel(std::move(pData), pParent, iPropIndex) {}
MvvmCkxRace::MvvmCkxRace(std::shared_ptr<Id2sCkxRace> pData, DataDirectAcces::OrbBaseDataWrapper* pParent)
    : OrbViewModel(std::move(pData), pParent) {}
MvvmCkxRace::MvvmCkxRace() = default;
MvvmCkxRace::~MvvmCkxRace() = default;

}  // namespace Tarvex::Orb::Data::Varnox
