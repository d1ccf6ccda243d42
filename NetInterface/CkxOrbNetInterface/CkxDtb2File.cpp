#include "NetInterface/CkxOrbNetInterface/CkxDtb2File.h"

#include "NetInterface/CkxOrbNetInterface/CkxMessageInfo.h"
#include "NetInterface/CkxOrbNetInterface/OrbLog.h"

namespace {
using Ops = IkxDtb2FileOps;

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

bool CkxDtb2File::IsOpen() { return m_File.Call<&Ops::IsOpen>(false); }

void CkxDtb2File::Update(uint32_t uiFlags) { m_File.Call<&Ops::Update>(uiFlags); }

void CkxDtb2File::Clear(uint32_t uiFlags) { m_File.Call<&Ops::Clear>(uiFlags); }

bool CkxDtb2File::Save(int32_t iSaveOld, bool bDefPath, std::string csPath) {
  return m_File.Call<&Ops::Save>(false, iSaveOld, static_cast<int16_t>(bDefPath), csPath.c_str());
}

bool CkxDtb2File::UnLoad() { return m_File.Call<&Ops::UnLoad>(false); }

bool CkxDtb2File::GetFullPath(std::string& csPath) {
  KxStringOut out = StringOut(csPath);
  return m_File.Call<&Ops::GetFullPath>(false, &out);
}

bool CkxDtb2File::SelectFileDlg(const char* csAlias1, const char* csRootPath,
                                std::string& csPathSel, std::string& csFileSetSel, bool bUsePath,
                                bool bEnableScanDisk) {
  if (!m_File.Grants<&Ops::SelectFileDlg>()) return false;
  // The kernel reads the current selections before it writes the new ones.
  const std::string csPathIn = csPathSel;
  const std::string csFileSetIn = csFileSetSel;
  KxStringOut pathOut = StringOut(csPathSel);
  KxStringOut fileSetOut = StringOut(csFileSetSel);
  return m_File.Call<&Ops::SelectFileDlg>(false, csAlias1, csRootPath, csPathIn.c_str(), &pathOut,
                                          csFileSetIn.c_str(), &fileSetOut, bUsePath,
                                          bEnableScanDisk);
}

bool CkxDtb2File::SaveFileAsXml(const char* csPath) {
  return m_File.Call<&Ops::SaveFileAsXml>(false, csPath);
}

bool CkxDtb2File::UpdateFileFromXml(const char* csPath) {
  return m_File.Call<&Ops::UpdateFileFromXml>(false, csPath);
}

int32_t CkxDtb2File::GetDynGrowStatus() { return m_File.Call<&Ops::GetDynGrowStatus>(-1); }

void CkxDtb2File::GetNGELock() { m_File.Call<&Ops::GetNGELock>(); }

void CkxDtb2File::ReleaseNGELock() { m_File.Call<&Ops::ReleaseNGELock>(); }

void CkxDtb2File::GetNGMLock() { m_File.Call<&Ops::GetNGMLock>(); }

void CkxDtb2File::ReleaseNGMLock() { m_File.Call<&Ops::ReleaseNGMLock>(); }

void CkxDtb2File::GetObjInd(CkxD2ObjDim& dim) {
  if (m_File.Grants<&Ops::GetObjInd>()) m_File.Call<&Ops::GetObjInd>(dim.ObjectId());
}

void CkxDtb2File::GetObjInd(CkxD2ObjDim& dim, const char* csName) {
  if (m_File.Grants<&Ops::GetObjIndByName>())
    m_File.Call<&Ops::GetObjIndByName>(dim.ObjectId(), csName);
}

void CkxDtb2File::SetObjInd(CkxD2ObjDim& dim) {
  if (m_File.Grants<&Ops::SetObjInd>()) m_File.Call<&Ops::SetObjInd>(dim.ObjectId());
}

void CkxDtb2File::NameTemplate(const char* csFamily, const char* csFileType) {
  m_File.Call<&Ops::SetTemplateName>(csFamily);
  m_File.Call<&Ops::SetFileTemplateName>(csFileType);
}

void CkxDtb2File::RegisterMember(CkxDtb2Obj& member, uint32_t uiClassId) {
  if (!m_File.Grants<&Ops::RegisterMember>()) return;
  m_File.Call<&Ops::RegisterMember>(member.BindAsMember(uiClassId), uiClassId);
}

int32_t CkxDtb2File::OpenKernelFile(const char* csPath, const char* csAlias1, const char* csAlias2,
                                    const char* csMode, const char* csFileSet, bool bCreate,
                                    uint64_t uiDimHandle, uint32_t uiDimDyn, uint32_t uiDimExp) {
  return m_File.Call<&Ops::Open>(KxOpenNoInterface, csPath, csAlias1, csAlias2, csMode, csFileSet,
                                 bCreate, uiDimHandle, uiDimDyn, uiDimExp);
}

void CkxDtb2File::OrbKernelDynDataSecGrowMess(uint32_t uiMessage, int32_t iFileId,
                                              int64_t liNewStatus, int32_t iCount) {
  (void)uiMessage;
  (void)iCount;
  const int32_t iMyId = m_File.Call<&Ops::GetFileIdOfMessage>(-1, iFileId, liNewStatus);
  if (iFileId != iMyId) return;
  m_iDynGrowStatus = static_cast<int32_t>(liNewStatus);
  OrbLogMessF(
      OrbLogEvtFileMess, kFileMessIndex,
      "++++++++++ CkxDtb2File.OrbKernelDynDataSecGrowMess: New DynGrowStatus: %d for FileID: %d",
      m_iDynGrowStatus, iFileId);
}
