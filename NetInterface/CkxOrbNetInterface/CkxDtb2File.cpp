#include "NetInterface/CkxOrbNetInterface/CkxDtb2File.h"

#include "NetInterface/CkxOrbNetInterface/CkxMessageInfo.h"
#include "NetInterface/CkxOrbNetInterface/OrbLog.h"

namespace {
// Minimum versions of the file interface's operations.
constexpr uint32_t kIsOpenVersion = 3;
constexpr uint32_t kClearVersion = 4;
constexpr uint32_t kSelectFileDlgVersion = 5;
constexpr uint32_t kSaveVersion = 7;
constexpr uint32_t kUnLoadVersion = 9;
constexpr uint32_t kUpdateVersion = 11;
constexpr uint32_t kDynGrowStatusVersion = 12;
constexpr uint32_t kFileIdOfMessageVersion = 13;
constexpr uint32_t kFileLockVersion = 14;
constexpr uint32_t kObjIndByNameVersion = 15;
constexpr uint32_t kXmlVersion = 16;

constexpr uint32_t kFileMessIndex = 9000;
constexpr int32_t kAnyTask = -1;

// Hands a kernel string to a std::string.
KxStringOut StringOut(std::string& csTarget) {
  return KxStringOut{&csTarget, [](KxStringOut* pSelf, const char* csText, size_t uiLength) {
                       static_cast<std::string*>(pSelf->context)->assign(csText, uiLength);
                     }};
}
}  // namespace

CkxDtb2File::CkxDtb2File() {
  m_File.Request(KxNames::kDtb2, KxNames::kFile, 1, kOffered);
  m_pDynGrowMess = std::make_unique<CkxMessageInfoT<CkxDtb2File>>(
      kDynGrowMessage, this, &CkxDtb2File::OrbKernelDynDataSecGrowMess, kAnyTask);
}

// The registration ends first: a growth message delivered meanwhile would
// otherwise reach a handler whose file interface is already released.
CkxDtb2File::~CkxDtb2File() {
  m_pDynGrowMess->Unregister();
  m_File.Release();
}

bool CkxDtb2File::IsOpen() { return m_File.Has(kIsOpenVersion) && m_File.ops().IsOpen(m_File.p); }

void CkxDtb2File::Update(uint32_t uiFlags) {
  if (m_File.Has(kUpdateVersion)) m_File.ops().Update(m_File.p, uiFlags);
}

void CkxDtb2File::Clear(uint32_t uiFlags) {
  if (m_File.Has(kClearVersion)) m_File.ops().Clear(m_File.p, uiFlags);
}

bool CkxDtb2File::Save(int32_t iSaveOld, bool bDefPath, std::string csPath) {
  if (!m_File.Has(kSaveVersion)) return false;
  return m_File.ops().Save(m_File.p, iSaveOld, static_cast<int16_t>(bDefPath), csPath.c_str());
}

bool CkxDtb2File::UnLoad() { return m_File.Has(kUnLoadVersion) && m_File.ops().UnLoad(m_File.p); }

bool CkxDtb2File::GetFullPath(std::string& csPath) {
  if (!m_File.Has(kUnLoadVersion)) return false;
  KxStringOut out = StringOut(csPath);
  return m_File.ops().GetFullPath(m_File.p, &out);
}

bool CkxDtb2File::SelectFileDlg(const char* csAlias1, const char* csRootPath,
                                std::string& csPathSel, std::string& csFileSetSel, bool bUsePath,
                                bool bEnableScanDisk) {
  if (!m_File.Has(kSelectFileDlgVersion)) return false;
  // The kernel reads the current selections before it writes the new ones.
  const std::string csPathIn = csPathSel;
  const std::string csFileSetIn = csFileSetSel;
  KxStringOut pathOut = StringOut(csPathSel);
  KxStringOut fileSetOut = StringOut(csFileSetSel);
  return m_File.ops().SelectFileDlg(m_File.p, csAlias1, csRootPath, csPathIn.c_str(), &pathOut,
                                    csFileSetIn.c_str(), &fileSetOut, bUsePath, bEnableScanDisk);
}

bool CkxDtb2File::SaveFileAsXml(const char* csPath) {
  return m_File.Has(kXmlVersion) && m_File.ops().SaveFileAsXml(m_File.p, csPath);
}

bool CkxDtb2File::UpdateFileFromXml(const char* csPath) {
  return m_File.Has(kXmlVersion) && m_File.ops().UpdateFileFromXml(m_File.p, csPath);
}

int32_t CkxDtb2File::GetDynGrowStatus() {
  return m_File.Has(kDynGrowStatusVersion) ? m_File.ops().GetDynGrowStatus(m_File.p) : -1;
}

void CkxDtb2File::GetNGELock() {
  if (m_File.Has(kFileLockVersion)) m_File.ops().GetNGELock(m_File.p);
}

void CkxDtb2File::ReleaseNGELock() {
  if (m_File.Has(kFileLockVersion)) m_File.ops().ReleaseNGELock(m_File.p);
}

void CkxDtb2File::GetNGMLock() {
  if (m_File.Has(kFileLockVersion)) m_File.ops().GetNGMLock(m_File.p);
}

void CkxDtb2File::ReleaseNGMLock() {
  if (m_File.Has(kFileLockVersion)) m_File.ops().ReleaseNGMLock(m_File.p);
}

void CkxDtb2File::GetObjInd(CkxD2ObjDim& dim) {
  if (m_File.Has()) m_File.ops().GetObjInd(m_File.p, dim.ObjectId());
}

void CkxDtb2File::GetObjInd(CkxD2ObjDim& dim, const char* csName) {
  if (m_File.Has(kObjIndByNameVersion))
    m_File.ops().GetObjIndByName(m_File.p, dim.ObjectId(), csName);
}

void CkxDtb2File::SetObjInd(CkxD2ObjDim& dim) {
  if (m_File.Has()) m_File.ops().SetObjInd(m_File.p, dim.ObjectId());
}

void CkxDtb2File::NameTemplate(const char* csFamily, const char* csFileType) {
  if (m_File.Has()) m_File.ops().SetTemplateName(m_File.p, csFamily);
  if (m_File.Has()) m_File.ops().SetFileTemplateName(m_File.p, csFileType);
}

void CkxDtb2File::RegisterMember(CkxDtb2Obj& member, uint32_t uiClassId) {
  if (!m_File.Has()) return;
  m_File.ops().RegisterMember(m_File.p, member.BindAsMember(uiClassId), uiClassId);
}

int32_t CkxDtb2File::OpenKernelFile(const char* csPath, const char* csAlias1, const char* csAlias2,
                                    const char* csMode, const char* csFileSet, bool bCreate,
                                    uint64_t uiDimHandle, uint32_t uiDimDyn, uint32_t uiDimExp) {
  if (!m_File.Has()) return -1;
  return m_File.ops().Open(m_File.p, csPath, csAlias1, csAlias2, csMode, csFileSet, bCreate,
                           uiDimHandle, uiDimDyn, uiDimExp);
}

void CkxDtb2File::OrbKernelDynDataSecGrowMess(uint32_t uiMessage, int32_t iFileId,
                                              int64_t liNewStatus, int32_t iCount) {
  (void)uiMessage;
  (void)iCount;
  const int32_t iMyId = m_File.Has(kFileIdOfMessageVersion)
                            ? m_File.ops().GetFileIdOfMessage(m_File.p, iFileId, liNewStatus)
                            : -1;
  if (iFileId != iMyId) return;
  m_iDynGrowStatus = static_cast<int32_t>(liNewStatus);
  OrbLogMessF(
      OrbLogEvtFileMess, kFileMessIndex,
      "++++++++++ CkxDtb2File.OrbKernelDynDataSecGrowMess: New DynGrowStatus: %d for FileID: %d",
      m_iDynGrowStatus, iFileId);
}
