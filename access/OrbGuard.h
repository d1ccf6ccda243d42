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
// only on failure; on success the guard costs nothing but the try block
// (the names are not even measured, see OrbOpName).
// Every other exception, OrbKernelException included, passes unchanged.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "contracts/framework/OrbKernelException.h"

namespace Tarvex::Orb::DataDirectAcces {

// A part of an operation's message (the class, the operation). A literal is
// kept as its pointer and measured only when a message is made: a guarded
// call that succeeds spends nothing on its names.
class OrbOpName {
 public:
  // A zero-terminated text that outlives the operation (a literal).
  constexpr OrbOpName(const char16_t* csText) : m_csText(csText) {}
  // A text of known length, e.g. a class's kClassName.
  constexpr OrbOpName(std::u16string_view csText)
      : m_csText(csText.data()), m_uiLength(csText.size()) {}

  std::u16string_view View() const {
    return m_uiLength != kUnmeasured ? std::u16string_view(m_csText, m_uiLength)
                                     : std::u16string_view(m_csText);
  }

 private:
  static constexpr size_t kUnmeasured = static_cast<size_t>(-1);
  const char16_t* m_csText;
  size_t m_uiLength = kUnmeasured;
};

// The message of an operation: where + what + ":\r\n".
std::u16string OrbOperationMessage(OrbOpName csWhere, OrbOpName csWhat);

// Raises OrbKernelException with the operation's message and `cause`.
[[noreturn]] void OrbThrowKernel(OrbOpName csWhere, OrbOpName csWhat,
                                 const CkxOrbUnmanException& cause);
// Raises OrbKernelException with the operation's message and no cause (bad
// input refused before any native call).
[[noreturn]] void OrbThrowKernel(OrbOpName csWhere, OrbOpName csWhat);

// Runs `body` and answers its result; a native exception becomes
// OrbKernelException with the operation's message.
template <class Body>
inline decltype(auto) OrbGuarded(OrbOpName csWhere, OrbOpName csWhat, Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (const CkxOrbUnmanException& cause) {
    OrbThrowKernel(csWhere, csWhat, cause);
  }
}

}  // namespace Tarvex::Orb::DataDirectAcces
