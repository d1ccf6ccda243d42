// Varnox: typed data access to the files of a swimming-timing application.
//
// This header brings in the public surface of the library:
//   - the kernel contract (what a record kernel offers the library),
//   - the native face (start-up, the file and object bases, diagnostics).
// The object face joins it as it is built.
#pragma once

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "contracts/kernel/KxComponent.h"
