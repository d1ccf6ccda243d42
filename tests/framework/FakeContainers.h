// Stand-ins for what the object face gives the framework, counting what the
// framework does to them: records read, writes outside the exclusive lock,
// locks held, element view models made, updates published. A map, a record
// array and a single record, each over a store of its own, a record view
// model and a file of the three members. (The fixed value arrays are
// VarnoxViewModelTest's, on the reference kernel.)
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "contracts/framework/OrbFileM.h"
#include "contracts/framework/OrbMvvm.h"

namespace fake {

using namespace Tarvex::Orb;
using namespace Tarvex::Orb::DataDirectAcces;

[[noreturn]] inline void Unused() { throw std::logic_error("not used by the framework"); }

// Records by handle, in container order, and what was done to them.
struct Store {
  struct Record {
    int32_t number = 0;
    std::u16string text;
  };
  std::vector<uint32_t> order;
  std::map<uint32_t, Record> records;
  uint32_t nextHandle = 1;
  int exclusiveLocks = 0, sharedLocks = 0, writesOutsideExclusiveLock = 0, reads = 0;
  uint64_t nextUpdateId = 100;
  std::vector<std::u16string> updates;  // texts of the published updates

  uint32_t Insert(size_t position, int32_t number) {
    records[nextHandle] = {number, u""};
    order.insert(order.begin() + static_cast<std::ptrdiff_t>(position), nextHandle);
    return nextHandle++;
  }
  void Erase(size_t position) {
    records.erase(order.at(position));
    order.erase(order.begin() + static_cast<std::ptrdiff_t>(position));
  }
  Record& At(size_t position) { return records.at(order.at(position)); }
};

// A record of a store; it stamps its number and text. `uiPos` is what it
// answers as its position: the handle in a map, the index in an array.
class Proxy : public IOrbObject, public IOrbRecordStamp {
 public:
  Proxy(std::shared_ptr<Store> pStore, uint32_t h, std::optional<uint32_t> uiPos = std::nullopt)
      : m_pStore(std::move(pStore)), m_h(h), m_uiPos(uiPos.value_or(h)) {}
  uint32_t IEnumCurrentPos() const override { return m_uiPos; }
  uint64_t RecordStamp() override {
    return std::hash<std::u16string>()(Rec().text) * 31 + static_cast<uint32_t>(Rec().number);
  }
  int32_t Number() {
    ++m_pStore->reads;
    return Rec().number;
  }
  std::u16string Text() {
    ++m_pStore->reads;
    return Rec().text;
  }
  void set_Number(int32_t value) { Written().number = value; }
  void set_Text(const std::u16string& value) { Written().text = value; }

 private:
  Store::Record& Rec() {
    const auto it = m_pStore->records.find(m_h);
    if (it == m_pStore->records.end()) throw OrbKernelException(u"Proxy: no record\r\n");
    return it->second;
  }
  Store::Record& Written() {
    if (m_pStore->exclusiveLocks == 0) ++m_pStore->writesOutsideExclusiveLock;
    return Rec();
  }
  std::shared_ptr<Store> m_pStore;
  uint32_t m_h;
  uint32_t m_uiPos;
};

// The view model of a record: property 0 Number (default -1), 1 Text.
class ViewModel : public AOrbMvvmObject<Proxy> {
 public:
  static constexpr int32_t kNumber = 0;
  static constexpr int32_t kText = 1;
  using NumberWrapper = OrbSimpleDataWrapper<int32_t>;
  using TextWrapper = OrbSimpleDataWrapper<std::u16string>;

  ViewModel(std::shared_ptr<Proxy> pData, OrbBaseDataWrapper* pParent, int32_t iPropIndex = -1)
      : AOrbMvvmObject(std::move(pData), 2, pParent, iPropIndex) {}
  std::shared_ptr<NumberWrapper> NumberSlot() { return PropertyAs<NumberWrapper>(kNumber); }
  std::shared_ptr<TextWrapper> TextSlot() { return PropertyAs<TextWrapper>(kText); }

  void GetVal(int32_t i, bool bClear) override {
    auto& slot = m_Fields.at(static_cast<size_t>(i));
    if (!slot) {
      if (i == kNumber) slot = std::make_shared<NumberWrapper>(this, i, 0);
      if (i == kText) slot = std::make_shared<TextWrapper>(this, i, 0);
      return;
    }
    const bool bRead = m_OrbData != nullptr && !bClear;
    if (i == kNumber) {
      std::static_pointer_cast<NumberWrapper>(slot)->m_LocalVal = bRead ? m_OrbData->Number() : -1;
    } else {
      std::static_pointer_cast<TextWrapper>(slot)->m_LocalVal = bRead ? m_OrbData->Text() : u"";
    }
  }
  void SetVal(int32_t i) override {
    if (!m_OrbData) throw OrbKernelException(u"ViewModel.SetVal:\r\nNot connected\r\n");
    if (i == kNumber) m_OrbData->set_Number(NumberSlot()->m_LocalVal);
    if (i == kText) m_OrbData->set_Text(TextSlot()->m_LocalVal);
  }
  OrbMemberInfo GetMembInfo(int32_t i) override {
    return i == kNumber ? OrbMemberInfo(u"Number", 4, 4, false)
                        : OrbMemberInfo(u"Text", 24, 2, true);
  }
};

// What both fake containers share: the update protocol, the change event,
// the locks and the element view models, on top of the container interface
// Base.
template <class Base>
class Updatable : public Base, public IOrbMvvmObsInternUse<ViewModel> {
 public:
  using Element = std::shared_ptr<Proxy>;
  explicit Updatable(std::shared_ptr<Store> pStore) : m_pStore(std::move(pStore)) {}
  std::shared_ptr<ViewModel> GetMvvmInstance(OrbBaseDataWrapper* pParent, uint32_t i1, uint32_t,
                                             uint32_t, uint32_t) override {
    ++made;
    return std::make_shared<ViewModel>(this->Item(i1), pParent);
  }
  void GetARLock() override { ++m_pStore->exclusiveLocks; }
  void ReleaseARLock() override { --m_pStore->exclusiveLocks; }
  void GetRWELock() override { ++m_pStore->sharedLocks; }
  void ReleaseRWELock() override { --m_pStore->sharedLocks; }
  void GetARLockFromRWELock() override { Unused(); }
  std::shared_ptr<IOrbEnumerator<Element>> GetEnumerator() override { Unused(); }
  uint32_t IEnumCurrentPos() const override { return 0; }
  uint64_t UpdateID(OrbCmd, const std::optional<AppUpdateInfo>&, std::u16string_view csFormat,
                    const std::vector<OrbFormatArg>& params) override {
    m_pStore->updates.push_back(OrbFormat(csFormat, params));
    return m_pStore->nextUpdateId++;
  }
  void Update(OrbCmd f, const std::optional<AppUpdateInfo>& u, std::u16string_view c,
              const std::vector<OrbFormatArg>& p) override {
    UpdateID(f, u, c, p);
  }
  void Clear(OrbCmd, const std::optional<AppUpdateInfo>&, std::u16string_view,
             const std::vector<OrbFormatArg>&) override {
    Unused();
  }
  void SaveObjectAsXml(const std::optional<AppUpdateInfo>&, std::u16string_view,
                       std::u16string_view) override {
    Unused();
  }
  ObjectChangedEvent& ObjectChanged() override { return m_ObjectChanged; }
  void OnObjectChanged(const void*, const OrbObjectChangedEventArgs& args) override {
    m_ObjectChanged.Raise(this, args);
  }

  int made = 0;  // element view models made

 protected:
  std::shared_ptr<Store> m_pStore;
  ObjectChangedEvent m_ObjectChanged;
};

// A 64-bit-keyed map over a store (keys are the handles).
class Map : public Updatable<IOrbObjMap<uint64_t, Proxy>> {
 public:
  explicit Map(std::shared_ptr<Store> pStore) : Updatable(std::move(pStore)) {}
  Element Item(const uint64_t& key) override { return Item(static_cast<uint32_t>(key)); }
  Element Item(uint32_t h) override { return std::make_shared<Proxy>(m_pStore, h); }
  uint32_t Head() override { return m_pStore->order.empty() ? 0 : m_pStore->order.front(); }
  uint32_t Next(uint32_t h) override {
    const auto& order = m_pStore->order;
    const auto it = std::find(order.begin(), order.end(), h);
    if (it == order.end()) throw OrbKernelException(u"Map.Next:\r\n");
    return it + 1 == order.end() ? 0 : *(it + 1);
  }
  int32_t GetCount() override { return static_cast<int32_t>(m_pStore->order.size()); }
  uint32_t Add(const uint64_t&) override { Unused(); }
  uint32_t Find(const uint64_t&) override { Unused(); }
  uint32_t AtIndex(uint32_t) override { Unused(); }
  void Remove(const uint64_t&) override { Unused(); }
  void RemoveAt(uint32_t) override { Unused(); }
  void RemoveAll() override { Unused(); }
  void Clear(const uint64_t&) override { Unused(); }
  using Updatable::Clear;
  void ClearAt(uint32_t) override { Unused(); }
  void ClearAll() override { Unused(); }
  void DispStat() override { Unused(); }
  void RemoveNotProtected(const uint64_t&) override { Unused(); }
  uint32_t AddNotProtected(const uint64_t&) override { Unused(); }
  uint32_t FindNotProt(const uint64_t&) override { Unused(); }
  uint64_t GetKey(uint32_t) override { Unused(); }
  uint64_t GetKeyNotProt(uint32_t) override { Unused(); }
  bool IsAlive(uint32_t) override { Unused(); }
  int32_t SetDeleteCandidate(uint32_t, int32_t) override { Unused(); }
  int32_t SetAsModified(uint32_t, int32_t) override { Unused(); }
  void IncrementVersion() override { Unused(); }
  int32_t IsNewVersion(int32_t) override { Unused(); }
};

// A record array over a store: element i is the i-th record of the order.
class Array : public Updatable<IOrbObjArray<Proxy>> {
 public:
  explicit Array(std::shared_ptr<Store> pStore) : Updatable(std::move(pStore)) {}
  Element Item(uint32_t i) override {
    return std::make_shared<Proxy>(m_pStore, m_pStore->order.at(i), i);
  }
  uint32_t GetLength(int32_t) override { return static_cast<uint32_t>(m_pStore->order.size()); }
  void SetLength(uint32_t) override { Unused(); }
  void SetLengthNotProtected(uint32_t) override { Unused(); }
  uint32_t Add() override { Unused(); }
  void ForeachRange(int32_t, int32_t) override { Unused(); }
};

using MapRoot = OrbMvvmObsMap<uint64_t, Proxy, ViewModel>;
using ArrayRoot = OrbMvvmObsArray<Proxy, ViewModel>;

// A file of three members, each over a store of its own: 0 a map, 1 an
// array, 2 a single record (the first of its store), whose writes the file's
// NGE lock guards.
class File : public OrbFileM, public IOrbFile {
 public:
  File() {
    Init(nullptr, 3);
    stores[2]->Insert(0, 0);
  }
  std::shared_ptr<Modim> GetObjInd(std::u16string_view) override { return nullptr; }
  bool IsReadOnlyMapGet() const override { return m_bReadOnlyMaps; }

  // A new root of member `iMember`, registered with the file.
  std::shared_ptr<OrbBaseDataWrapper> Root(int32_t iMember) {
    if (iMember == 0) return MapRootOf();
    if (iMember == 1) {
      auto pRoot = std::make_shared<ArrayRoot>(m_pArray, nullptr, 1);
      AddMvvmRoot(1, pRoot, m_pArray, OrbMemberInfo(u"Rows", 8, 8, true));
      return pRoot;
    }
    auto pRoot = std::make_shared<ViewModel>(
        std::make_shared<Proxy>(stores[2], stores[2]->order.front()), nullptr, 2);
    AddMvvmRoot(2, pRoot, m_pRecordMember, OrbMemberInfo(u"Setup", 8, 8, false));
    return pRoot;
  }
  std::shared_ptr<MapRoot> MapRootOf() {
    auto pRoot = std::make_shared<MapRoot>(m_pMap, nullptr, 0);
    AddMvvmRoot(0, pRoot, m_pMap, OrbMemberInfo(u"Things", 8, 8, true));
    return pRoot;
  }

  std::shared_ptr<Store> stores[3] = {std::make_shared<Store>(), std::make_shared<Store>(),
                                      std::make_shared<Store>()};
  std::shared_ptr<Map> m_pMap = std::make_shared<Map>(stores[0]);
  std::shared_ptr<Array> m_pArray = std::make_shared<Array>(stores[1]);
  // The single record's member as the file registers it: it publishes updates.
  std::shared_ptr<Map> m_pRecordMember = std::make_shared<Map>(stores[2]);
  bool m_bReadOnlyMaps = false;
  std::vector<std::string> m_FileLocks;  // "NGE+", "NGE-", ...

 protected:
  int32_t GetDynGrowStatus() override { return -1; }
  void GetNGELock() override {
    m_FileLocks.push_back("NGE+");
    ++stores[2]->exclusiveLocks;
  }
  void ReleaseNGELock() override {
    m_FileLocks.push_back("NGE-");
    --stores[2]->exclusiveLocks;
  }
  void GetNGMLock() override { m_FileLocks.push_back("NGM+"); }
  void ReleaseNGMLock() override { m_FileLocks.push_back("NGM-"); }
};

}  // namespace fake
