#include "access/OrbIndexsList.h"

#include <stdexcept>

namespace Tarvex::Orb::DataDirectAcces {

void OrbIndexsList::NewIndexs(const OrbIndexsList* pParent) {
  const int32_t iCount = pParent != nullptr ? pParent->m_iCount : 0;
  for (int32_t i = 0; i < iCount; ++i) m_aCopies[i] = pParent->Index(i);
  m_pLive = nullptr;
  m_iCount = iCount;
  if (pParent != nullptr) m_Parent = pParent;
}

void OrbIndexsList::NewIndexs(const OrbIndexsList* pParent, OrbIndexsHandle* pCurrent) {
  NewIndexs(pParent);
  // The generated paths are checked against kMaxLevels when compiled.
  if (m_iCount >= kMaxLevels) throw std::length_error("OrbIndexsList: path too deep");
  m_pLive = pCurrent;
  ++m_iCount;
}

}  // namespace Tarvex::Orb::DataDirectAcces
