// View-model support: the bases the library's view models and observable
// collections build on, and the data contexts that bind a file member's
// view-model root to a user interface.
//
//   OrbBaseDataWrapper              base of every observable value, collection
//                                   and view model
//   AOrbMvvmObject<I>               base of the view model of record interface I
//   OrbSimpleDataWrapper<T>         one observable simple value
//   OrbMvvmObsMap<K,I,V>,           observable collections over a keyed map,
//   OrbMvvmObsArray<I,V>,           a record array and a fixed value array
//   OrbMvvmObsArray1D<T,TItem>
//   MvvmSimpleObsItem<T>            one element of a fixed value array
//   OrbGenericContextManager<F>,    data contexts
//   GetMvvmObjForDC<T>, OrbGenericDataContext, OrbDataMode
//
// Ownership: a parent owns its children (a view model the objects in its
// slots, a collection its element view models); a child keeps a plain
// pointer to its parent, which outlives it. The library reads and writes the
// public fields named m_... (m_Fields, m_OrbData, m_LocalVal,
// m_OrbCollection); notification is the framework's and not part of what
// the library relies on. The data contexts are the framework's and only
// declared here.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "contracts/framework/OrbInterfaces.h"
#include "contracts/framework/OrbValues.h"

namespace Tarvex::Orb::DataDirectAcces {

class OrbBaseDataWrapper {
 public:
  // `pParent` is null for a root; `iPropIndex` is the object's property index
  // in its parent, -1 when it has none.
  OrbBaseDataWrapper(OrbBaseDataWrapper* pParent, int32_t iPropIndex)
      : m_pParent(pParent), m_iPropIndex(iPropIndex) {}
  virtual ~OrbBaseDataWrapper() = default;
  OrbBaseDataWrapper(const OrbBaseDataWrapper&) = delete;
  OrbBaseDataWrapper& operator=(const OrbBaseDataWrapper&) = delete;

  OrbBaseDataWrapper* Parent() const { return m_pParent; }
  int32_t PropIndex() const { return m_iPropIndex; }

 private:
  OrbBaseDataWrapper* m_pParent;
  int32_t m_iPropIndex;
};

// Base of the view model of one record, reached through record interface I.
// The view model provides the three IAOrbMvvmInternUse operations.
template <class I>
class AOrbMvvmObject : public OrbBaseDataWrapper, public IAOrbMvvmInternUse {
 public:
  // `pData` may be null (not connected); `iFieldCount` is the number of
  // properties (a negative count is taken as 0).
  AOrbMvvmObject(std::shared_ptr<I> pData, int32_t iFieldCount, OrbBaseDataWrapper* pParent,
                 int32_t iPropIndex)
      : OrbBaseDataWrapper(pParent, iPropIndex),
        m_Fields(iFieldCount > 0 ? static_cast<size_t>(iFieldCount) : 0),
        m_OrbData(std::move(pData)) {}

  // One slot per property index: empty until the property's object is
  // created, then owning it.
  std::vector<std::shared_ptr<OrbBaseDataWrapper>> m_Fields;
  // The record shown; null while the view model is not connected.
  std::shared_ptr<I> m_OrbData;
};

// The value types a simple property can have. A race time may be absent.
template <class T>
concept OrbSimpleValue = std::same_as<T, int32_t> || std::same_as<T, uint32_t> ||
    std::same_as<T, bool> || std::same_as<T, std::u16string> || std::same_as<T, OrbDateTime> ||
    std::same_as<T, std::optional<KxTime>>;

// One simple property of a view model.
template <OrbSimpleValue T>
class OrbSimpleDataWrapper : public OrbBaseDataWrapper {
 public:
  // `pOwner` is the view model; the library passes 0 as `uiFlags`.
  OrbSimpleDataWrapper(OrbBaseDataWrapper* pOwner, int32_t iPropIndex, uint32_t uiFlags)
      : OrbBaseDataWrapper(pOwner, iPropIndex), m_uiFlags(uiFlags) {}

  uint32_t Flags() const { return m_uiFlags; }

  // The value shown, loaded by the owner's GetVal and stored by its SetVal.
  T m_LocalVal{};

 private:
  uint32_t m_uiFlags;
};

// Observable collection over a keyed map. The framework makes the element
// view models through the source's IOrbMvvmObsInternUse<V>.
template <OrbMapKey K, class I, class V>
class OrbMvvmObsMap : public OrbBaseDataWrapper {
 public:
  // `pSource` may be null: the owning view model is not connected yet.
  OrbMvvmObsMap(std::shared_ptr<IOrbMap<K, I>> pSource, OrbBaseDataWrapper* pParent,
                int32_t iPropIndex)
      : OrbBaseDataWrapper(pParent, iPropIndex), m_OrbCollection(std::move(pSource)) {}

  // The container shown; rebound by the owning view model's GetVal.
  std::shared_ptr<IOrbMap<K, I>> m_OrbCollection;
};

// Observable collection over a record array (see OrbMvvmObsMap).
template <class I, class V>
class OrbMvvmObsArray : public OrbBaseDataWrapper {
 public:
  OrbMvvmObsArray(std::shared_ptr<IOrbArray<I>> pSource, OrbBaseDataWrapper* pParent,
                  int32_t iPropIndex)
      : OrbBaseDataWrapper(pParent, iPropIndex), m_OrbCollection(std::move(pSource)) {}

  std::shared_ptr<IOrbArray<I>> m_OrbCollection;
};

// One element of a fixed value array, as its observable collection shows it.
template <OrbArrayValue T>
class MvvmSimpleObsItem : public OrbBaseDataWrapper {
 public:
  MvvmSimpleObsItem(T value, OrbBaseDataWrapper* pParent)
      : OrbBaseDataWrapper(pParent, -1), m_LocalVal(value) {}

  T m_LocalVal;
};

// Observable collection over a fixed array of `iCount` values; `defaultValue`
// stands for an element while there is no source. TItem is the element
// view model, MvvmSimpleObsItem<T>.
template <OrbArrayValue T, class TItem>
class OrbMvvmObsArray1D : public OrbBaseDataWrapper {
 public:
  OrbMvvmObsArray1D(std::shared_ptr<IOrbArray1D<T>> pSource, OrbBaseDataWrapper* pParent,
                    int32_t iPropIndex, T defaultValue, int32_t iCount)
      : OrbBaseDataWrapper(pParent, iPropIndex),
        m_OrbCollection(std::move(pSource)),
        m_DefaultVal(defaultValue),
        m_iCount(iCount) {}

  T DefaultVal() const { return m_DefaultVal; }
  int32_t Count() const { return m_iCount; }

  std::shared_ptr<IOrbArray1D<T>> m_OrbCollection;

 private:
  T m_DefaultVal;
  int32_t m_iCount;
};

// ---------------------------------------------------------------------------
// Data contexts (the framework's; declared only)

// How a data context treats its data. The library passes the value through;
// the framework names the modes it offers.
enum class OrbDataMode : int32_t { Default = 0 };

// Makes the view-model root of a data context when the context needs it: a
// file wrapper's Get<Member>MvvmRoot bound to the wrapper.
template <class T>
using GetMvvmObjForDC = std::function<std::shared_ptr<T>()>;

// A data context over one view-model root; opaque to the library.
class OrbGenericDataContext;

// The data-context manager of one file wrapper of class F.
template <class F>
class OrbGenericContextManager {
 public:
  // The manager known under `csKey`, or null.
  static std::shared_ptr<OrbGenericContextManager> Instance(const std::u16string& csKey);

  // The file wrapper the manager holds.
  std::shared_ptr<F> TheFile() const;

  // A data context over the root that `producer` makes. The five settings go
  // to the framework unchanged.
  template <class T>
  std::shared_ptr<OrbGenericDataContext> GetDC(GetMvvmObjForDC<T> producer, bool bShared,
                                               OrbDataMode dataMode, bool bUseMvvmNotification,
                                               bool bUseOrbNotification, bool bUseAutoCommit);
};

}  // namespace Tarvex::Orb::DataDirectAcces
