// Varnox: typed data access to the files of a swimming-timing application.
//
// This header brings in the public surface of the library:
//   - the kernel contract (what a record kernel offers the library),
//   - the native face (start-up, the file and object bases, diagnostics,
//     the containers and field types),
//   - the record model and the five file templates, generated from
//     schema/varnox.toml, with their member descriptors and the kernel's
//     template catalogue.
// The object face joins it as it is built.
#pragma once

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "contracts/kernel/KxComponent.h"
#include "templates/Varnox.h"
#include "templates/VarnoxSchema.h"
