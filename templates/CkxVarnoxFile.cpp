#include "templates/CkxVarnoxFile.h"

#include <string>

int32_t CkxVarnoxFile::OpenUnm(const char* csPath, const char* csAlias1, const char* csAlias2,
                               const char* csMode, const char* csFileSet, bool bCreate,
                               CkxD2ObjDim* pObjDim, uint32_t liDimDyn, uint32_t liDimExp,
                               PfKxUpdateCallBack pfCallBack) {
  m_pfUpdateCallBack = pfCallBack;
  // The kernel gets copies that live until it returns.
  const std::string csFileSetCopy = csFileSet != nullptr ? csFileSet : "";
  const std::string csModeCopy = csMode != nullptr ? csMode : "";
  const std::string csPathCopy = csPath != nullptr ? csPath : "";
  const uint64_t uliDimHandle = pObjDim != nullptr ? pObjDim->ObjectId() : 0;
  m_iFileId = OpenKernelFile(csPathCopy.c_str(), csAlias1, csAlias2, csModeCopy.c_str(),
                             csFileSetCopy.c_str(), bCreate, uliDimHandle, liDimDyn, liDimExp);
  return m_iFileId;
}

void CkxVarnoxFile::NotifyUpdate(const KxUpdateRecord& info) const {
  if (m_pfUpdateCallBack == nullptr) return;
  m_pfUpdateCallBack(static_cast<int32_t>(info.objectNumber), reinterpret_cast<uint64_t>(&info));
}

void CkxVarnoxFile::NotifyUpdatesLost(uint32_t uiMember) const {
  if (m_pfUpdateCallBack == nullptr) return;
  m_pfUpdateCallBack(static_cast<int32_t>(uiMember), 0);
}

void CkxVarnoxFile::UnbindMembers() {
  for (auto it = m_apMembers.rbegin(); it != m_apMembers.rend(); ++it) (*it)->m_Obj.Release();
}
