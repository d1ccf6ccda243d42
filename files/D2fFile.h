// The file wrapper D2fVarnox_FT_<FILE>: the object face's handle of one data
// file. The five generated classes (generated/files/D2fVarnox<FILE>.h) only
// name their native file template, their members and their view-model root
// count; the behaviour is written once here.
//
// A wrapper owns its native file template, registers itself in the
// open-files table (CkxOrbCategTools::m_OpenFiles) at construction, forwards
// every file operation to the kernel file (CkxDtb2File), hands the cached
// container wrapper of each member out and passes the kernel's update
// notifications to its framework base (OrbFileM::OnObjectUpdateEx).
//
// States: registered (constructed), open (Open succeeded), dead (teardown
// ran: UnLoad of an open file, Dispose, the destructor or the end of the
// application). A dead wrapper has released its native object: only IsOpen
// (false), UnLoad (true), GetFullPath ("") and Dispose are answered; every
// other operation refuses with OrbKernelException, and so do the container
// wrappers and proxies handed out before (they check
// OrbFileM::IsNativeReleased before every walk). A dead wrapper is never
// reopened: construct a new one.
//
// Threads: the wrapper takes no lock. Construction and teardown change the
// shared open-files table; callers serialise them. OnUpdateMan runs on the
// kernel's notification thread.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "access/CkxOrbCategTools.h"
#include "access/OrbFields.h"
#include "access/OrbGuard.h"
#include "contracts/framework/OrbApp.h"
#include "contracts/framework/OrbFileM.h"
#include "contracts/framework/OrbInterfaces.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/framework/OrbMvvm.h"
#include "contracts/framework/OrbValues.h"
#include "templates/VarnoxDescriptors.h"

namespace Tarvex::Orb::DataDirectAcces {

// A text handed to the kernel file: a zero-terminated UTF-8 copy of the
// UTF-16 text (paths are file names of this system), null for a null text.
// Lives for the call it is made for.
class OrbNarrowText {
 public:
  explicit OrbNarrowText(OrbTextArg csText);
  // The zero-terminated text, or null.
  const char* c_str() const { return m_csText ? m_csText->c_str() : nullptr; }
  // The text, empty for null.
  std::string Value() const { return m_csText.value_or(std::string()); }

 private:
  std::optional<std::string> m_csText;
};

// What the wrapper reads of the kernel's update-information record at
// `uiAddress`: the update id (offset 8), the 32-bit word (offset 24) and the
// text (length at 36, characters from 38, Windows-1252). The text never
// reaches past the record's text area: a length beyond it is cut to the
// area, and the kernel's mark of a failed formatting gives the empty text.
struct OrbUpdateInfo {
  uint64_t uiUpdateId = 0;
  uint32_t uiWord = 0;
  std::u16string csText;
};
OrbUpdateInfo OrbReadUpdateInfo(uint64_t uiAddress);

// "Illegal usage of a not yet Opened ORB file of type:\r\n<class>\r\nPlease
// OPEN this ORB file before using it !!!!!"
std::u16string OrbNotOpenMessage(std::u16string_view csClassName);
// The framework's descriptor of a file member, from its generated one.
OrbMemberInfo OrbMemberInfoOf(const VarnoxMemberInfo& member);
// Raises the refusal of `csOperation` on a dead wrapper of `csClassName`.
[[noreturn]] void OrbThrowDeadFile(std::u16string_view csClassName,
                                   std::u16string_view csOperation);

// What every file wrapper offers, whatever its file: the file operations,
// virtual so that code may handle the five wrappers alike.
class D2fFileBase : public OrbFileM, public IOrbFile {
 public:
  // Teardown: unload notification, entry removed from the open-files table,
  // native object deleted. A second call does nothing.
  virtual void Dispose() = 0;
  // Opens (or creates) the file and answers the kernel's file id (above 0),
  // or the native open's failure value, stored as FileId either way. Texts
  // go as UTF-8, a null text as a null pointer; `pObjDim` may be null; the
  // dimensions are cut to their low 32 bits. Installs the update callback,
  // replacing one of an earlier Open.
  virtual int32_t Open(OrbTextArg csPath, OrbTextArg csAlias1, OrbTextArg csAlias2,
                       OrbTextArg csMode, OrbTextArg csFileSet, bool bCreate,
                       const std::shared_ptr<Modim>& pObjDim, int64_t liDimDyn,
                       int64_t liDimExp) = 0;
  // Whether the file is open; false on a dead wrapper.
  virtual bool IsOpen() const = 0;
  // Publishes the file's changes (flags as the kernel's 32-bit word).
  virtual void Update(OrbCmd liFlags) = 0;
  // Empties the file (flags as the kernel's 32-bit word).
  virtual void Clear(OrbCmd liFlags) = 0;
  // Saves the file (at `csPath`, or its own path with `bDefPath`); the
  // kernel's answer.
  virtual bool Save(int32_t iSaveOld, bool bDefPath, OrbTextArg csPath) = 0;
  // Unloads an open file and tears the wrapper down; answers the kernel's
  // result. A wrapper that is not open (or dead) answers true and stays as
  // it is.
  virtual bool UnLoad() = 0;
  // The open file's full path; "" when not open or when the kernel has none.
  virtual std::u16string GetFullPath() = 0;
  // The kernel's file selection: writes the selected path and file set to
  // the two out-texts whatever the answer.
  virtual bool SelectFileDlg(OrbTextArg csAlias1, OrbTextArg csRootPath, std::u16string& csPathSel,
                             std::u16string& csFileSetSel, bool bUsePath, bool bEnableScanDisk) = 0;
  // The whole file as XML at `csFullPath`; the kernel's answer.
  virtual bool SaveFileAsXml(OrbTextArg csFullPath) = 0;
  // Reads the file's contents from the XML at `csFullPath`; the kernel's answer.
  virtual bool UpdateFileFromXml(OrbTextArg csFullPath) = 0;
  // A new dimension object filled by the kernel file.
  virtual std::shared_ptr<Modim> GetObjInd() = 0;
  using OrbFileM::GetObjInd;
  // Hands the dimension record of `objIndSrc` to the kernel file.
  virtual void SetObjInd(const Modim& objIndSrc) = 0;
};

// The behaviour of file wrapper `Self` over native file template `Native`.
// `Self` names kClassName and kRootCount, and ReleaseMembers(), which drops
// its cached container wrappers.
template <class Self, class Native>
class D2fFile : public D2fFileBase {
 protected:
  // Only Create constructs wrappers, so every wrapper is registered.
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  using NativeFile = Native;

  // Builds and registers a wrapper: starts the object face once, builds the
  // native file template (a failure there propagates and registers
  // nothing), enters the wrapper in the open-files table under its
  // LocalFileId (replacing an entry there) and tells the framework the table
  // and the file's number of view-model roots.
  static std::shared_ptr<Self> Create() {
    auto pSelf = std::make_shared<Self>(ConstructionKey{});
    pSelf->Register();
    return pSelf;
  }

  explicit D2fFile(ConstructionKey) {
    CkxOrbCategTools::Init();
    m_pFile = std::make_unique<Native>();
  }
  ~D2fFile() override { Teardown(false); }
  D2fFile(const D2fFile&) = delete;
  D2fFile& operator=(const D2fFile&) = delete;

  void Dispose() override { Teardown(true); }

  // The end of the application: the framework's part, then Dispose.
  void ZinternalEndNetApplication() override {
    OrbFileM::ZinternalEndNetApplication();
    Dispose();
  }

  int32_t Open(OrbTextArg csPath, OrbTextArg csAlias1, OrbTextArg csAlias2, OrbTextArg csMode,
               OrbTextArg csFileSet, bool bCreate, const std::shared_ptr<Modim>& pObjDim,
               int64_t liDimDyn, int64_t liDimExp) override {
    RefuseIfDead(u".Open");
    const OrbNarrowText path(csPath), alias1(csAlias1), alias2(csAlias2), mode(csMode),
        fileSet(csFileSet);
    CkxD2ObjDim* pDim = pObjDim ? pObjDim->GetPrivatePnt() : nullptr;
    m_UpdateCallBack = std::make_unique<KxUpdateUmCallBack>(
        [this](int32_t iObjId, uint64_t uiInfo) { OnUpdateMan(iObjId, uiInfo); });
    set_FileId(m_pFile->OpenUnm(path.c_str(), alias1.c_str(), alias2.c_str(), mode.c_str(),
                                fileSet.c_str(), bCreate, pDim, static_cast<uint32_t>(liDimDyn),
                                static_cast<uint32_t>(liDimExp),
                                m_UpdateCallBack->GetNativeEntry()));
    return FileId();
  }

  bool IsOpen() const override { return m_pFile != nullptr && m_pFile->IsOpen(); }

  void Update(OrbCmd liFlags) override {
    RefuseIfDead(u".Update");
    m_pFile->Update(static_cast<uint32_t>(liFlags));
  }
  void Clear(OrbCmd liFlags) override {
    RefuseIfDead(u".Clear");
    m_pFile->Clear(static_cast<uint32_t>(liFlags));
  }
  bool Save(int32_t iSaveOld, bool bDefPath, OrbTextArg csPath) override {
    RefuseIfDead(u".Save");
    return m_pFile->Save(iSaveOld, bDefPath, OrbNarrowText(csPath).Value());
  }

  bool UnLoad() override {
    if (!IsOpen()) return true;
    OrbFileUnloaded();
    const bool bResult = m_pFile->UnLoad();
    Teardown(true);
    return bResult;
  }

  std::u16string GetFullPath() override {
    if (!IsOpen()) return {};
    std::string csPath;
    return m_pFile->GetFullPath(csPath) ? KxText::Utf8ToUtf16(csPath) : std::u16string();
  }

  bool SelectFileDlg(OrbTextArg csAlias1, OrbTextArg csRootPath, std::u16string& csPathSel,
                     std::u16string& csFileSetSel, bool bUsePath, bool bEnableScanDisk) override {
    RefuseIfDead(u".SelectFileDlg");
    std::string csPath, csFileSet;
    const bool bResult =
        m_pFile->SelectFileDlg(OrbNarrowText(csAlias1).c_str(), OrbNarrowText(csRootPath).c_str(),
                               csPath, csFileSet, bUsePath, bEnableScanDisk);
    csPathSel = KxText::Utf8ToUtf16(csPath);
    csFileSetSel = KxText::Utf8ToUtf16(csFileSet);
    return bResult;
  }

  bool SaveFileAsXml(OrbTextArg csFullPath) override {
    RefuseIfDead(u".SaveFileAsXml");
    return m_pFile->SaveFileAsXml(OrbNarrowText(csFullPath).c_str());
  }
  bool UpdateFileFromXml(OrbTextArg csFullPath) override {
    RefuseIfDead(u".UpdateFileFromXml");
    return m_pFile->UpdateFileFromXml(OrbNarrowText(csFullPath).c_str());
  }

  std::shared_ptr<Modim> GetObjInd() override {
    RefuseIfDead(u".GetObjInd");
    auto pDim = std::make_shared<Modim>();
    m_pFile->GetObjInd(*pDim->GetPrivatePnt());
    return pDim;
  }
  // A new dimension object filled by the kernel file for `csPath`.
  std::shared_ptr<Modim> GetObjInd(std::u16string_view csPath) override {
    RefuseIfDead(u".GetObjInd");
    auto pDim = std::make_shared<Modim>();
    const std::string csNarrow = KxText::Utf16ToUtf8(csPath);
    m_pFile->GetObjInd(*pDim->GetPrivatePnt(), csNarrow.c_str());
    return pDim;
  }
  void SetObjInd(const Modim& objIndSrc) override {
    RefuseIfDead(u".SetObjInd");
    m_pFile->SetObjInd(*objIndSrc.GetPrivatePnt());
  }

  // The file's maps are writable.
  bool IsReadOnlyMapGet() const override { return false; }

  // The data-context manager known under `csKey` for this wrapper class, or
  // null (then nothing is bound). Binds the manager to the wrapper it holds,
  // so that wrapper's The<Member>MvvmDC reach it.
  static std::shared_ptr<OrbGenericContextManager<Self>> TheDataContextManager(
      const std::u16string& csKey) {
    auto pManager = OrbGenericContextManager<Self>::Instance(csKey);
    if (pManager != nullptr && pManager->TheFile() != nullptr) {
      pManager->TheFile()->m_GenDCM = pManager;
    }
    return pManager;
  }

 protected:
  int32_t GetDynGrowStatus() override {
    RefuseIfDead(u".GetDynGrowStatus");
    return m_pFile->GetDynGrowStatus();
  }
  void GetNGELock() override {
    RefuseIfDead(u".GetNGELock");
    m_pFile->GetNGELock();
  }
  void ReleaseNGELock() override {
    RefuseIfDead(u".ReleaseNGELock");
    m_pFile->ReleaseNGELock();
  }
  void GetNGMLock() override {
    RefuseIfDead(u".GetNGMLock");
    m_pFile->GetNGMLock();
  }
  void ReleaseNGMLock() override {
    RefuseIfDead(u".ReleaseNGMLock");
    m_pFile->ReleaseNGMLock();
  }

  // The container wrapper of member `pMember` (root index `iRootIndex`),
  // made on the first read and cached; a file that is not open is reported
  // through DispError each time and the read goes on. The container is
  // registered with the framework, so its ObjectChanged event follows the
  // kernel without any view model.
  template <class Wrapper, class NativeMember>
  std::shared_ptr<Wrapper> Member(std::shared_ptr<Wrapper>& pCache, NativeMember Native::*pMember,
                                  int32_t iRootIndex, std::u16string_view csOperation) {
    RefuseIfDead(csOperation);
    if (!IsOpen()) OrbApp::DispError(OrbNotOpenMessage(Self::kClassName));
    if (pCache == nullptr) {
      pCache = std::make_shared<Wrapper>(&(m_pFile.get()->*pMember), shared_from_this());
      AddUpdatable(iRootIndex, pCache);
    }
    return pCache;
  }

  // A new view-model root of member `iRootIndex` over the container that
  // `pMember` reads (a map or array collection, or the single record's view
  // model), registered with the framework under the root index with the
  // member's generated descriptor. The container is read twice, as the view
  // model and as the updatable object, so a file that is not open is
  // reported twice. Every call makes and registers a new root.
  template <class Root, class Container>
  std::shared_ptr<Root> MvvmRoot(std::shared_ptr<Container> (Self::*pMember)(),
                                 int32_t iRootIndex) {
    Self& self = static_cast<Self&>(*this);
    auto pRoot = std::make_shared<Root>((self.*pMember)(), nullptr, iRootIndex);
    AddMvvmRoot(iRootIndex, pRoot, (self.*pMember)(),
                OrbMemberInfoOf(VarnoxDescriptors<Native>::kMembers[iRootIndex]));
    return pRoot;
  }

  // The data context of member `iRootIndex`, whose roots `pGetRoot` makes,
  // from the manager that TheDataContextManager bound; the five settings go
  // to OrbGenericContextManager::GetDC unchanged, and shared contexts are
  // kept per member. Refuses the operation on a wrapper no manager is bound
  // to.
  template <class Root>
  std::shared_ptr<OrbGenericDataContext> DataContext(std::shared_ptr<Root> (Self::*pGetRoot)(),
                                                     int32_t iRootIndex,
                                                     std::u16string_view csOperation, bool bShared,
                                                     OrbDataMode dataMode,
                                                     bool bUseMvvmNotification,
                                                     bool bUseOrbNotification,
                                                     bool bUseAutoCommit) {
    OrbGenericContextManager<Self>& manager = BoundManager(csOperation);
    Self& self = static_cast<Self&>(*this);
    // GetDC calls the producer before it returns, so `self` outlives it.
    const GetMvvmObjForDC<Root> producer = [&self, pGetRoot] { return (self.*pGetRoot)(); };
    return manager.template GetDC<Root>(iRootIndex, producer, bShared, dataMode, bUseMvvmNotification,
                                        bUseOrbNotification, bUseAutoCommit);
  }

  // The data-context manager bound by TheDataContextManager; refuses the
  // operation when none is.
  OrbGenericContextManager<Self>& BoundManager(std::u16string_view csOperation) {
    RefuseIfDead(csOperation);
    if (m_GenDCM == nullptr) {
      throw OrbKernelException(OrbOperationMessage(Self::kClassName, csOperation) +
                               u"No data-context manager is bound to this file wrapper: "
                               u"use TheFile() of TheDataContextManager(key)\r\n");
    }
    return *m_GenDCM;
  }

  void RefuseIfDead(std::u16string_view csOperation) const {
    if (m_pFile == nullptr) OrbThrowDeadFile(Self::kClassName, csOperation);
  }

  // The native file template; null once dead.
  Native* NativeObject() const { return m_pFile.get(); }

 private:
  void Register() {
    std::shared_ptr<OrbOpenFileTable> pTable = CkxOrbCategTools::m_OpenFiles;
    if (pTable != nullptr) {
      (*pTable)[static_cast<int32_t>(LocalFileId())] = shared_from_this();
    }
    Init(std::move(pTable), Self::kRootCount);
  }

  // The update callback's target: the record read as OrbReadUpdateInfo
  // tells, passed to the framework's routing; no record: the member's
  // updates were lost, and its view models reload everything.
  void OnUpdateMan(int32_t iObjId, uint64_t uiUpdateInfo) {
    if (IsNativeReleased()) return;
    if (uiUpdateInfo == 0) {
      OnUpdatesLost(iObjId);
      return;
    }
    const OrbUpdateInfo info = OrbReadUpdateInfo(uiUpdateInfo);
    OnObjectUpdateEx(iObjId, info.csText, info.uiWord, info.uiUpdateId);
  }

  // Idempotent. The cached containers and the bound manager hold the
  // wrapper and are dropped, which ends both ownership cycles. A failure of
  // an unload handler does not stop the teardown; it is rethrown at the end,
  // or reported through DispError from the destructor.
  void Teardown(bool bMayThrow) {
    if (m_pFile == nullptr) return;
    const std::shared_ptr<OrbFileM> pKeep = weak_from_this().lock();  // null in the destructor
    // No kernel delivery may still be running into the members once their
    // wrappers refuse: a refresh would find its own lock release refused.
    m_pFile->UnbindMembers();
    MarkNativeReleased();
    std::exception_ptr pFailure;
    try {
      OrbFileUnloaded();
    } catch (...) {
      pFailure = std::current_exception();
    }
    if (const auto pTable = OpenFiles(); pTable != nullptr) {
      const auto it = pTable->find(static_cast<int32_t>(LocalFileId()));
      if (it != pTable->end() && it->second.get() == this) pTable->erase(it);
    }
    m_pFile.reset();
    if (bMayThrow) {
      static_cast<Self*>(this)->ReleaseMembers();
      m_GenDCM = nullptr;
    }
    if (pFailure == nullptr) return;
    if (bMayThrow) std::rethrow_exception(pFailure);
    OrbApp::DispError(OrbOperationMessage(Self::kClassName, u".Dispose") +
                      u"An unload handler failed\r\n");
  }

  std::unique_ptr<Native> m_pFile;
  std::shared_ptr<OrbGenericContextManager<Self>> m_GenDCM;
  // Kept for the wrapper's life: the kernel keeps its entry address.
  std::unique_ptr<KxUpdateUmCallBack> m_UpdateCallBack;
};

}  // namespace Tarvex::Orb::DataDirectAcces
