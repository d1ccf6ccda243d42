// OrbKernelException: the one exception type of the object face.
//
// Guards around every access to kernel memory turn a native container
// exception (CkxOrbUnmanException and its derived classes) or a memory-access
// fault into this exception, with a message naming the class and the member
// ("D2mVarnox_FT_COMPETITORS_CompetitorsStringMap.Name:\r\n"); view models
// raise it with formatted messages ("... GetVal ({0}):\r\n..."). It keeps the
// message and a copy of the cause's text, so the native object may die with
// the handler that caught it. The constructors are the framework's.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "contracts/framework/OrbValues.h"

// The native container exception (global namespace, the native face's own).
// Only referred to here, so the framework contract does not depend on the
// native headers.
class CkxOrbUnmanException;

namespace Tarvex::Orb::DataDirectAcces {

// Description of a memory-access fault met while touching kernel memory.
struct OrbAccessFault {
  int32_t iSignal = 0;             // SIGSEGV or SIGBUS
  int32_t iCode = 0;               // the signal's si_code
  const void* pAddress = nullptr;  // the faulting address
};

class OrbKernelException : public std::runtime_error {
 public:
  // A message without cause.
  explicit OrbKernelException(std::u16string_view csMessage);
  // The message is `csFormat` with its placeholders replaced as OrbFormat
  // does, e.g. ("...GetVal ({0}):\r\nInvalid property index !!!\r\n", {16}).
  OrbKernelException(std::u16string_view csFormat, std::initializer_list<OrbFormatArg> args);
  // Caught native exception: keeps its text (its GetErrorText).
  OrbKernelException(std::u16string_view csMessage, const CkxOrbUnmanException& cause);
  // Caught memory-access fault: keeps a description of it.
  OrbKernelException(std::u16string_view csMessage, const OrbAccessFault& fault);

  // The message as given (or formatted), without the cause.
  const std::u16string& Message() const noexcept { return *m_pMessage; }
  // Text of the cause; empty when there is none.
  const std::u16string& CauseText() const noexcept { return *m_pCauseText; }
  // what() is the message followed by the cause's text, in UTF-8.

 private:
  // The one constructor the public ones end in (the int only sets it apart).
  OrbKernelException(std::u16string_view csMessage, std::u16string_view csCause, int);

  // Shared and immutable, so copying the exception while it is thrown and
  // caught cannot fail. Never null once constructed.
  std::shared_ptr<const std::u16string> m_pMessage;
  std::shared_ptr<const std::u16string> m_pCauseText;
};

}  // namespace Tarvex::Orb::DataDirectAcces
