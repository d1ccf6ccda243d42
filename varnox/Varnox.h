// Varnox: typed data access to the files of a swimming-timing application.
//
// This header is the public surface of the library; it and what it
// includes are what gets installed:
//   - the kernel contract (what a record kernel offers the library),
//   - the start and end of the native face,
//   - the file and object bases, the native exceptions, the containers and
//     field types,
//   - the record model and the five file templates, generated from
//     schema/varnox.toml, with their member descriptors and the kernel's
//     template catalogue;
//   - the object face: the framework contract it builds on, the access
//     layer (record interfaces, proxies, container wrappers), the view
//     models and the five file wrappers D2fVarnox_FT_<FILE> with their
//     view-model roots and data contexts.
// The library's own objects (the process-wide kernel objects, the message
// records, the thread's current kernel object) stay private.
#pragma once

#include "NetInterface/CkxOrbNetInterface/CkxAs1d.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2DateTime.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2MapA.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2MapObjA.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2PntA.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2Str.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2a1dDA.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2a1dObjDA.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtb2File.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "NetInterface/OrbCategBaseClass/KxStartUp.h"
#include "contracts/kernel/KxComponent.h"
#include "templates/Varnox.h"
#include "templates/VarnoxSchema.h"
#include "access/VarnoxAccess.h"
#include "contracts/framework/OrbFramework.h"
#include "files/VarnoxFiles.h"
#include "viewmodels/VarnoxViewModels.h"
