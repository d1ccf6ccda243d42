#include "access/OrbIndexsList.h"

#include <stdexcept>

namespace Tarvex::Orb::DataDirectAcces {

void OrbIndexsList::NewIndexs(const OrbIndexsList* pParent) {
  const int32_t iCount = pParent != nullptr ? pParent->m_iCount : 0;
  for (int32_t i = 0; i < iCount; ++i) {
    m_aCopies[i] = *pParent->m_Indexs[i];
    m_Indexs[i] = &m_aCopies[i];
  }
  m_iCount = iCount;
  if (pParent != nullptr) m_Parent = pParent;
}

void OrbIndexsList::NewIndexs(const OrbIndexsList* pParent, OrbIndexsHandle* pCurrent) {
  NewIndexs(pParent);
  // The generated paths are checked against kMaxLevels when compiled.
  if (m_iCount >= kMaxLevels) throw std::length_error("OrbIndexsList: path too deep");
  m_Indexs[m_iCount++] = pCurrent;
}

}  // namespace Tarvex::Orb::DataDirectAcces
