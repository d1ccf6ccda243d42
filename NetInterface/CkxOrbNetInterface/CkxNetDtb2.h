// The native face of Varnox below the file templates: start-up and kernel
// connection, the file and object bases, diagnostics and exceptions, the
// container templates with their lock protocol, and the field types.
//
// Private to the library: not installed. The whole native face for the
// library's own code, its tools and tests; applications include
// <varnox/Varnox.h>.
#pragma once

#include "NetInterface/CkxOrbNetInterface/CkxAs1d.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2DateTime.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2MapA.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2MapObjA.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2MessMan.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2PntA.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2Str.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2a1dDA.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2a1dObjDA.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtb2.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtb2File.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtbAccByStr.h"
#include "NetInterface/CkxOrbNetInterface/CkxMessageInfo.h"
#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "NetInterface/CkxOrbNetInterface/CkxTask.h"
#include "NetInterface/CkxOrbNetInterface/KxClock.h"
#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"
#include "NetInterface/CkxOrbNetInterface/KxFormat.h"
#include "NetInterface/CkxOrbNetInterface/KxItf.h"
#include "NetInterface/CkxOrbNetInterface/KxLock.h"
#include "NetInterface/CkxOrbNetInterface/OrbLog.h"
#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"
