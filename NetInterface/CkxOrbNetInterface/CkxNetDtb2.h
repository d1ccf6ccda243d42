// The native frame of Varnox: start-up and kernel connection, the file and
// object bases, diagnostics and exceptions.
#pragma once

#include "NetInterface/CkxOrbNetInterface/CkxD2MessMan.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtb2.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtb2File.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtbAccByStr.h"
#include "NetInterface/CkxOrbNetInterface/CkxMessageInfo.h"
#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "NetInterface/CkxOrbNetInterface/CkxTask.h"
#include "NetInterface/CkxOrbNetInterface/KxFormat.h"
#include "NetInterface/CkxOrbNetInterface/KxItf.h"
#include "NetInterface/CkxOrbNetInterface/OrbLog.h"
#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"
