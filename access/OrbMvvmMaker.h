// GetMvvmInstance of the container wrappers: the view model of one element
// for the framework's observable collections, which reach it with a
// dynamic_cast of their source to IOrbMvvmObsInternUse<V>.
#pragma once

#include <cstdint>
#include <memory>

#include "contracts/framework/OrbInterfaces.h"

namespace Tarvex::Orb::DataDirectAcces {

// Mixed into wrapper Self, whose Item(uint32_t) gives the element at a
// handle (map) or index (array, value array). V is built from that element
// and its parent: a record view model from the element's proxy, a
// MvvmSimpleObsItem<T> from the value.
template <class Self, class V>
class OrbMvvmMaker : public IOrbMvvmObsInternUse<V> {
 public:
  // A new view model of element `i1`; the proxy checks the handle when the
  // view model reads. The element level's other slots are the wrapper's own.
  std::shared_ptr<V> GetMvvmInstance(OrbBaseDataWrapper* pParent, uint32_t i1, uint32_t,
                                     uint32_t, uint32_t) override {
    return std::make_shared<V>(static_cast<Self&>(*this).Item(i1), pParent);
  }
};

}  // namespace Tarvex::Orb::DataDirectAcces
