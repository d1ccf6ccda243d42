// The fingerprint of the schema this library was built from: the hash of
// its template catalogue (contracts/kernel/KxSchemaFingerprint.h). The
// start-up hands it to the kernel, which refuses a library of another
// schema.
#pragma once

#include <cstdint>

#include "contracts/kernel/KxSchemaFingerprint.h"
#include "templates/VarnoxCatalogue.h"

inline constexpr uint64_t kVarnoxSchemaFingerprint =
    KxSchemaFingerprint(KxVarnoxCatalogue::kCatalogue);
