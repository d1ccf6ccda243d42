// GetMvvmInstance of the container wrappers: the view model of one element
// for the framework's observable collections, which reach it with a
// dynamic_cast of their source to IOrbMvvmObsInternUse<V>.
#pragma once

#include <cstdint>
#include <memory>

#include "contracts/framework/OrbInterfaces.h"
#include "contracts/framework/OrbMvvm.h"

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
  // The view model and the element's proxy take their memory from the
  // parent's tree.
  std::shared_ptr<V> GetMvvmInstance(OrbBaseDataWrapper* pParent, uint32_t i1, uint32_t, uint32_t,
                                     uint32_t) override {
    Self& self = static_cast<Self&>(*this);
    if (pParent == nullptr) return std::make_shared<V>(self.Item(i1), pParent);
    OrbMvvmTree& tree = pParent->Tree();
    if constexpr (requires { self.ItemAllocated(i1, tree.Allocator()); }) {
      return tree.Make<V>(self.ItemAllocated(i1, tree.Allocator()), pParent);
    } else {
      return tree.Make<V>(self.Item(i1), pParent);
    }
  }
};

}  // namespace Tarvex::Orb::DataDirectAcces
