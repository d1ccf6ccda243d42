#include "access/CkxOrbCategTools.h"

#include <vector>

#include "NetInterface/OrbCategBaseClass/KxStartUp.h"
#include "contracts/framework/OrbApp.h"

namespace Tarvex::Orb::DataDirectAcces {

bool CkxOrbCategTools::m_bInitOk = false;
int32_t CkxOrbCategTools::m_iEndNetAppId = 0;
std::shared_ptr<OrbOpenFileTable> CkxOrbCategTools::m_OpenFiles;

void CkxOrbCategTools::Init() {
  if (m_bInitOk) return;
  KxInitCatAssembly(OrbApp::IsDebugVersion());
  m_iEndNetAppId = OrbApp::RegMess(u"EndNetApplicationMsg", &CkxOrbCategTools::OnEndNetApplication);
  m_OpenFiles = std::make_shared<OrbOpenFileTable>();
  m_bInitOk = true;
}

void CkxOrbCategTools::OnEndNetApplication(int64_t /*liCmd*/, int64_t /*liPar*/,
                                           const void* /*pData*/, const void* /*pSender*/) {
  if (m_OpenFiles != nullptr) {
    if (!m_OpenFiles->empty()) {
      std::vector<std::shared_ptr<OrbFileM>> files;
      files.reserve(m_OpenFiles->size());
      for (const auto& entry : *m_OpenFiles) files.push_back(entry.second);
      for (const auto& pFile : files) pFile->ZinternalEndNetApplication();
      m_OpenFiles->clear();
    }
    m_OpenFiles = nullptr;
  }
  // Releases the process-wide native objects once as many ends as starts
  // were seen.
  KxEndCatAssembly();
  OrbApp::UnRegMess(m_iEndNetAppId);
}

}  // namespace Tarvex::Orb::DataDirectAcces
