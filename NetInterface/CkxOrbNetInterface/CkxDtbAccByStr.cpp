#include "NetInterface/CkxOrbNetInterface/CkxDtbAccByStr.h"

CkxDtbAccByStr::CkxDtbAccByStr() { m_Access.Request(KxNames::kBase, KxNames::kDtbAccByStr, 1, 4); }

CkxDtbAccByStr::~CkxDtbAccByStr() { m_Access.Release(); }
