// The guard of the object face's operations that touch kernel memory.
//
// The native face validates every handle, index and offset before it
// touches storage (docs/design.md, "validation before access"), so a bad
// path ends in a native exception, never in a memory-access fault. The guard
// turns that exception (CkxOrbUnmanException or derived) into
// OrbKernelException whose message names the operation:
//   where + what + ":\r\n"
// e.g. ("D2mVarnox_FT_COMPETITORS_CompetitorsStringMap", ".Name") or
// ("D2oVarnox_FT_RACES_ScheduleEntries", "[]"). The text is put together
// only on failure; on success the guard costs nothing but the try block.
// Every other exception, OrbKernelException included, passes unchanged.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "contracts/framework/OrbKernelException.h"

namespace Tarvex::Orb::DataDirectAcces {

// The message of an operation: where + what + ":\r\n".
std::u16string OrbOperationMessage(std::u16string_view csWhere, std::u16string_view csWhat);

// Raises OrbKernelException with the operation's message and `cause`.
[[noreturn]] void OrbThrowKernel(std::u16string_view csWhere, std::u16string_view csWhat,
                                 const CkxOrbUnmanException& cause);
// Raises OrbKernelException with the operation's message and no cause (bad
// input refused before any native call).
[[noreturn]] void OrbThrowKernel(std::u16string_view csWhere, std::u16string_view csWhat);

// Runs `body` and answers its result; a native exception becomes
// OrbKernelException with the operation's message.
template <class Body>
inline decltype(auto) OrbGuarded(std::u16string_view csWhere, std::u16string_view csWhat,
                                 Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (const CkxOrbUnmanException& cause) {
    OrbThrowKernel(csWhere, csWhat, cause);
  }
}

}  // namespace Tarvex::Orb::DataDirectAcces
