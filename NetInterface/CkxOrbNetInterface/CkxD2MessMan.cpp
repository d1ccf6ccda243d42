#include "NetInterface/CkxOrbNetInterface/CkxD2MessMan.h"

CkxD2MessMan::CkxD2MessMan() { m_MessMan.Request(KxNames::kBase, KxNames::kMessMan, 1, 10); }

CkxD2MessMan::~CkxD2MessMan() { m_MessMan.Release(); }
