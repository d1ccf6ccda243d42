// The framework's interfaces, which the library's containers, member proxies,
// record interfaces and view models implement, and through which the
// framework and the applications use them:
//
//   IOrbEnumerator<T>, IOrbEnumerable<T>   enumeration (+ range-for support)
//   IOrbObject                             base of every record interface
//   IOrbRecordStamp                        a record's content stamp, for refreshes
//   IOrbObjInternal, IOrbHandleFixInternUse  what a member proxy offers the
//                                          framework: member count, path slots
//   IOrbUpdatableObject                    a top-level container: update,
//                                          clear, XML export, change event
//   IOrbMap<K,I>, IOrbArray<I>, IOrbArray1D<T>  keyed maps, record arrays,
//                                          fixed value arrays
//   IOrbObjMap<K,I>, IOrbObjArray<I>       the same as top-level containers
//   IOrbMvvmObsInternUse<V>                a container making element view models
//   IAOrbMvvmInternUse                     a view model, addressed by property index
//   IOrbFile                               a file wrapper
//
// Conventions. Objects are shared (std::shared_ptr); an element or nested
// container is a new object on every call, never cached. Handles and indexes
// are unsigned 32-bit; a handle of 0 means "no element". Operations that only
// read the object's own path or positions are const; everything that reaches
// the kernel's storage is not, and may raise OrbKernelException.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "contracts/framework/OrbEvents.h"
#include "contracts/framework/OrbValues.h"

namespace Tarvex::Orb::DataDirectAcces {

class OrbBaseDataWrapper;

// ---------------------------------------------------------------------------
// Enumeration

// Walks a container. Fresh and after Reset it stands before the first element.
template <class T>
class IOrbEnumerator {
 public:
  virtual ~IOrbEnumerator() = default;
  // Steps to the next element; false once past the last.
  virtual bool MoveNext() = 0;
  // The element the last MoveNext reached (a new proxy for record containers).
  virtual T Current() = 0;
  virtual void Reset() = 0;
  // Ends the enumerator's use; the library's enumerators hold nothing to release.
  virtual void Dispose() = 0;
};

// Input iterator over an enumerator, so that containers work in range-for.
// Construction makes the first step; the end is reached when MoveNext gives
// false. It does not call Dispose.
template <class T>
class OrbEnumIterator {
 public:
  using iterator_concept = std::input_iterator_tag;
  using value_type = T;
  using difference_type = std::ptrdiff_t;

  OrbEnumIterator() = default;
  explicit OrbEnumIterator(std::shared_ptr<IOrbEnumerator<T>> pEnum) : m_pEnum(std::move(pEnum)) {
    Step();
  }

  T operator*() const { return m_pEnum->Current(); }
  OrbEnumIterator& operator++() {
    Step();
    return *this;
  }
  void operator++(int) { Step(); }
  friend bool operator==(const OrbEnumIterator& it, std::default_sentinel_t) {
    return !it.m_bValid;
  }

 private:
  void Step() { m_bValid = m_pEnum != nullptr && m_pEnum->MoveNext(); }

  std::shared_ptr<IOrbEnumerator<T>> m_pEnum;
  bool m_bValid = false;
};

template <class T>
class IOrbEnumerable {
 public:
  virtual ~IOrbEnumerable() = default;
  // A new enumerator over the container.
  virtual std::shared_ptr<IOrbEnumerator<T>> GetEnumerator() = 0;

  // Range-for: every loop uses a new enumerator.
  OrbEnumIterator<T> begin() { return OrbEnumIterator<T>(GetEnumerator()); }
  std::default_sentinel_t end() { return std::default_sentinel; }
};

// Range-for over a container held by std::shared_ptr, found by
// argument-dependent lookup: `for (auto t : pLap->Time())` keeps the
// container alive for the whole loop, while `*pLap->Time()` lets it die
// before the first step.
template <class C>
auto begin(const std::shared_ptr<C>& pContainer) -> decltype(pContainer->begin()) {
  return pContainer->begin();
}
template <class C>
auto end(const std::shared_ptr<C>& pContainer) -> decltype(pContainer->end()) {
  return pContainer->end();
}

// ---------------------------------------------------------------------------
// Records and paths

// Base of every record interface (Id2sCkx<Record>). Implemented by the
// member proxies and by the single-record top-level containers.
class IOrbObject {
 public:
  virtual ~IOrbObject() = default;
  // Handle (keyed map) or index (array) of the element this object stands
  // for; 0 for a single embedded record.
  virtual uint32_t IEnumCurrentPos() const = 0;
};

// What a record interface may also offer, so that a refresh can tell an
// unchanged record without reading its fields one by one.
class IOrbRecordStamp {
 public:
  virtual ~IOrbRecordStamp() = default;
  // A stamp of the record's content: its fields with the texts they hold
  // (not the elements of the containers it holds). It differs whenever that
  // content changed since another call, save for a chance of 2^-64.
  virtual uint64_t RecordStamp() = 0;
};

// What a member proxy tells the framework about its record.
class IOrbObjInternal {
 public:
  virtual ~IOrbObjInternal() = default;
  // Number of members of the record, nested containers included.
  virtual int32_t NbMember() const = 0;
};

// The path protocol. An object's path has one level per container from the
// top-level one down (level 0); each level holds four unsigned 32-bit slots,
// slot 1 being the handle or index chosen at that level. The framework reads
// slots and repairs handles in place without rebuilding the object.
class IOrbHandleFixInternUse {
 public:
  virtual ~IOrbHandleFixInternUse() = default;
  // Level of the object's own element (for a value array, of its values).
  virtual int32_t GetDeep() const = 0;
  // Slot `iIndex` (1 to 4) of level `iDeep`; 0 for a level or slot outside
  // the path.
  virtual uint32_t GetHandleOrIndex(int32_t iDeep, int32_t iIndex) const = 0;
  // Compare-and-set: the slot becomes `uiNewValue` only when it holds
  // `uiOldValue`; outside the path nothing changes.
  virtual void SetHandleOrIndex(int32_t iDeep, int32_t iIndex, uint32_t uiOldValue,
                                uint32_t uiNewValue) = 0;
};

// ---------------------------------------------------------------------------
// Top-level containers

// A container registered as a member of a file: its updates reach the kernel
// and come back as change notifications. The update text is `csUpdCmdFormat`
// with its "{n}" placeholders replaced from `valueParams` (as OrbFormat
// does); `usrCmd`, when present, is attached for the application.
class IOrbUpdatableObject {
 public:
  virtual ~IOrbUpdatableObject() = default;
  // Reports an update of the container to the kernel; the kernel's update id.
  virtual uint64_t UpdateID(OrbCmd liFlags, const std::optional<AppUpdateInfo>& usrCmd,
                            std::u16string_view csUpdCmdFormat,
                            const std::vector<OrbFormatArg>& valueParams) = 0;
  // UpdateID without its result.
  virtual void Update(OrbCmd liFlags, const std::optional<AppUpdateInfo>& usrCmd,
                      std::u16string_view csUpdCmdFormat,
                      const std::vector<OrbFormatArg>& valueParams) = 0;
  // Clears the container in the kernel and reports it as UpdateID does.
  virtual void Clear(OrbCmd liFlags, const std::optional<AppUpdateInfo>& usrCmd,
                     std::u16string_view csUpdCmdFormat,
                     const std::vector<OrbFormatArg>& valueParams) = 0;
  // Writes the container as XML to `csPath`; `csUpdCmdFormat` is used as it
  // stands, without placeholders replaced.
  virtual void SaveObjectAsXml(const std::optional<AppUpdateInfo>& usrCmd,
                               std::u16string_view csUpdCmdFormat, std::u16string_view csPath) = 0;

  // Raised when the kernel reports a change of this container.
  virtual ObjectChangedEvent& ObjectChanged() = 0;
  // Called by the framework to report a change: raises ObjectChanged with
  // this container as the sender. `pSender`, whoever reported it, is not
  // passed on.
  virtual void OnObjectChanged(const void* pSender, const OrbObjectChangedEventArgs& args) = 0;
};

// ---------------------------------------------------------------------------
// Containers

// Keys of keyed maps: a 64-bit number or a text.
template <class K>
concept OrbMapKey = std::same_as<K, uint64_t> || std::same_as<K, std::u16string>;

// What only text-keyed maps offer: the choice of case-sensitive keys.
class IOrbTextKeyMap {
 public:
  virtual ~IOrbTextKeyMap() = default;
  // From now on the map compares its text keys ignoring case.
  virtual void KeyNoCase() = 0;
  // From now on the map compares its text keys respecting case.
  virtual void KeyCase() = 0;
};

// Numerically keyed maps have nothing beyond IOrbMap.
class IOrbNumberKeyMap {};

// A keyed map of records, each element reached through a proxy implementing
// the record interface I. Locks: the shared lock (RWE: readers, writers,
// enumerators) and the exclusive lock (AR); the caller pairs each Get with
// its Release. A lock left waiting 10 s is forced.
template <OrbMapKey K, class I>
class IOrbMap
    : public IOrbEnumerable<std::shared_ptr<I>>,
      public std::conditional_t<std::same_as<K, std::u16string>, IOrbTextKeyMap, IOrbNumberKeyMap> {
 public:
  using Key = K;
  using Element = std::shared_ptr<I>;

  // The element under `key`; reading it adds the key when it is absent.
  virtual Element Item(const K& key) = 0;
  // The element at handle `hPos`, not checked until the proxy is used. A
  // 32-bit unsigned argument always selects this form, so pass a 64-bit key
  // as uint64_t.
  virtual Element Item(uint32_t hPos) = 0;
  Element operator[](const K& key) { return Item(key); }
  Element operator[](uint32_t hPos) { return Item(hPos); }

  // Adds `key` when absent; the handle of its element.
  virtual uint32_t Add(const K& key) = 0;
  // Handle of the element under `key`; 0 when absent.
  virtual uint32_t Find(const K& key) = 0;
  // Handle of the element at position `dwIndex` in map order; 0 past the end.
  virtual uint32_t AtIndex(uint32_t dwIndex) = 0;
  virtual void Remove(const K& key) = 0;
  virtual void RemoveAt(uint32_t hPos) = 0;
  virtual void RemoveAll() = 0;
  // Clears the record under `key`; Remove is what takes an element out.
  virtual void Clear(const K& key) = 0;
  virtual void ClearAt(uint32_t hPos) = 0;
  virtual void ClearAll() = 0;
  // Handle of the first element; 0 for an empty map.
  virtual uint32_t Head() = 0;
  // Handle of the element after `hPos`; 0 after the last.
  virtual uint32_t Next(uint32_t hPos) = 0;
  // Asks the kernel to show the map's statistics.
  virtual void DispStat() = 0;
  // Forms of Remove, Add and Find for which the kernel's own protection is
  // the kernel's choice.
  virtual void RemoveNotProtected(const K& key) = 0;
  virtual uint32_t AddNotProtected(const K& key) = 0;
  virtual uint32_t FindNotProt(const K& key) = 0;

  virtual K GetKey(uint32_t hPos) = 0;
  virtual K GetKeyNotProt(uint32_t hPos) = 0;
  virtual int32_t GetCount() = 0;
  // True for a valid element that is not a delete candidate.
  virtual bool IsAlive(uint32_t hPos) = 0;
  // n > 0 marks, n = 0 unmarks, n < 0 queries. The state: 0 clean, 1 delete
  // candidate, 2 modified, -1 not applicable.
  virtual int32_t SetDeleteCandidate(uint32_t hPos, int32_t iDelState) = 0;
  // As SetDeleteCandidate, counting nested modifications (up to 31).
  virtual int32_t SetAsModified(uint32_t hPos, int32_t iModifState) = 0;

  virtual void GetARLock() = 0;
  // Trades a held shared lock for the exclusive lock.
  virtual void GetARLockFromRWELock() = 0;
  virtual void ReleaseARLock() = 0;
  virtual void GetRWELock() = 0;
  virtual void ReleaseRWELock() = 0;
  virtual void IncrementVersion() = 0;
  // 0 when the map's version is still `iOldVersion`, else the new version.
  virtual int32_t IsNewVersion(int32_t iOldVersion) = 0;

  // Handle most recently reached by one of this container's enumerators.
  virtual uint32_t IEnumCurrentPos() const = 0;
};

// An array of records, each element reached through a proxy implementing I.
// Locks as for IOrbMap. An enumeration covers the whole array, or the range
// set with ForeachRange, upwards or (start above end) downwards.
template <class I>
class IOrbArray : public IOrbEnumerable<std::shared_ptr<I>> {
 public:
  using Element = std::shared_ptr<I>;

  // The element at index `uiIndex`, not checked until the proxy is used.
  virtual Element Item(uint32_t uiIndex) = 0;
  Element operator[](uint32_t uiIndex) { return Item(uiIndex); }

  // Number of elements; `iDimension` is ignored (the arrays have one).
  virtual uint32_t GetLength(int32_t iDimension) = 0;
  virtual void SetLength(uint32_t uiNewLength) = 0;
  // SetLength for which the kernel's own protection is the kernel's choice.
  virtual void SetLengthNotProtected(uint32_t uiNewLength) = 0;
  // Appends one element; the kernel's result.
  virtual uint32_t Add() = 0;
  // Limits later enumerations to `iStart`..`iEnd` inclusive; iEnd < 0 or
  // beyond the last index means the last index; (-1, -1) removes the range.
  virtual void ForeachRange(int32_t iStart, int32_t iEnd) = 0;

  virtual void GetARLock() = 0;
  virtual void GetARLockFromRWELock() = 0;
  virtual void ReleaseARLock() = 0;
  virtual void GetRWELock() = 0;
  virtual void ReleaseRWELock() = 0;

  // Index most recently reached by one of this container's enumerators.
  virtual uint32_t IEnumCurrentPos() const = 0;
};

// Element types of the fixed value arrays.
template <class T>
concept OrbArrayValue = std::same_as<T, int32_t> || std::same_as<T, uint32_t>;

// A fixed array of 32-bit values inside a record. Its length is fixed by the
// record layout; an index from the length upwards raises OrbKernelException.
template <OrbArrayValue T>
class IOrbArray1D : public IOrbEnumerable<T> {
 public:
  virtual T Item(uint32_t uiIndex) = 0;
  virtual void set_Item(uint32_t uiIndex, T value) = 0;
  T operator[](uint32_t uiIndex) { return Item(uiIndex); }

  // The fixed length; `iDimension` is ignored.
  virtual uint32_t GetLength(int32_t iDimension) = 0;
  // As IOrbArray::ForeachRange.
  virtual void ForeachRange(int32_t iStart, int32_t iEnd) = 0;

  // Index most recently reached by one of this container's enumerators.
  virtual uint32_t IEnumCurrentPos() const = 0;
};

// A keyed map that is a member of a file. Both Clear forms stay reachable:
// Clear(key) resets one record, Clear(flags, ...) empties the container.
template <OrbMapKey K, class I>
class IOrbObjMap : public IOrbMap<K, I>, public IOrbUpdatableObject {
 public:
  using IOrbMap<K, I>::Clear;
  using IOrbUpdatableObject::Clear;
};

// A record array that is a member of a file.
template <class I>
class IOrbObjArray : public IOrbArray<I>, public IOrbUpdatableObject {};

// ---------------------------------------------------------------------------
// View models

// A container that makes the view model V of one of its elements for the
// framework's observable collections.
template <class V>
class IOrbMvvmObsInternUse {
 public:
  virtual ~IOrbMvvmObsInternUse() = default;
  // A new view model of element `i1` (handle or index) whose parent is
  // `pParent`; i2 to i4 are the element level's other path slots.
  virtual std::shared_ptr<V> GetMvvmInstance(OrbBaseDataWrapper* pParent, uint32_t i1, uint32_t i2,
                                             uint32_t i3, uint32_t i4) = 0;
};

// A view model as the framework drives it: property by property index, 0 to
// N-1 in the order of the record interface. A bad index raises
// OrbKernelException.
class IAOrbMvvmInternUse {
 public:
  virtual ~IAOrbMvvmInternUse() = default;
  // Loads property `iPropIndex` from the record (its default when `bClear` or
  // when not connected), or rebinds a collection or nested view model. The
  // first call for a property only creates its slot.
  virtual void GetVal(int32_t iPropIndex, bool bClear) = 0;
  // Stores simple property `iPropIndex` back into the record.
  virtual void SetVal(int32_t iPropIndex) = 0;
  // Describes property `iPropIndex`.
  virtual OrbMemberInfo GetMembInfo(int32_t iPropIndex) = 0;
};

// Implemented by the file wrappers; the framework identifies files by it.
class IOrbFile {
 public:
  virtual ~IOrbFile() = default;
};

}  // namespace Tarvex::Orb::DataDirectAcces
