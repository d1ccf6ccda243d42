// The access layer of the object face, in one include: the index paths, the
// guard, the field kinds, the path walks, the proxy and wrapper templates,
// the start and end of the object face (Tarvex::Orb::DataDirectAcces), and
// every class generated from the schema on them (Tarvex::Orb::Data::Varnox):
// the record interfaces Id2s<Record> and Id2o<Record>, the member proxies
// D2m, the top-level wrappers D2o and the nested wrappers D2i.
#pragma once

#include "access/CkxOrbCategTools.h"
#include "access/OrbAnsi.h"
#include "access/OrbArrayWrapper.h"
#include "access/OrbEnumerators.h"
#include "access/OrbFields.h"
#include "access/OrbGuard.h"
#include "access/OrbIndexsList.h"
#include "access/OrbMapWrapper.h"
#include "access/OrbPathWalk.h"
#include "access/OrbRecordFace.h"
#include "access/OrbUpdatable.h"
#include "access/VarnoxAccessClasses.h"
