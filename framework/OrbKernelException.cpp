// The object face's exception: a message, and the text of what caused it.
#include "contracts/framework/OrbKernelException.h"

#include <cstdio>
#include <csignal>

#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "contracts/kernel/KxText.h"

namespace Tarvex::Orb::DataDirectAcces {
namespace {

std::string WhatText(std::u16string_view csMessage, std::u16string_view csCause) {
  std::string text = KxText::Utf16ToUtf8(csMessage);
  text += KxText::Utf16ToUtf8(csCause);
  return text;
}

std::u16string NativeCauseText(const CkxOrbUnmanException& cause) {
  std::string text;
  cause.GetErrorText(text);
  return KxText::Utf8ToUtf16(text);
}

std::u16string FaultText(const OrbAccessFault& fault) {
  const char* name = fault.iSignal == SIGSEGV  ? "SIGSEGV"
                     : fault.iSignal == SIGBUS ? "SIGBUS"
                                               : "signal";
  char text[128];
  std::snprintf(text, sizeof text, "Memory access fault (%s %d, code %d) at address %p",
                name, static_cast<int>(fault.iSignal), static_cast<int>(fault.iCode),
                fault.pAddress);
  return KxText::Utf8ToUtf16(text);
}

std::u16string Formatted(std::u16string_view csFormat, std::initializer_list<OrbFormatArg> args) {
  return OrbFormat(csFormat, std::span<const OrbFormatArg>(args.begin(), args.size()));
}

}  // namespace

OrbKernelException::OrbKernelException(std::u16string_view csMessage)
    : OrbKernelException(csMessage, std::u16string_view{}, 0) {}

OrbKernelException::OrbKernelException(std::u16string_view csFormat,
                                       std::initializer_list<OrbFormatArg> args)
    : OrbKernelException(Formatted(csFormat, args), std::u16string_view{}, 0) {}

OrbKernelException::OrbKernelException(std::u16string_view csMessage,
                                       const CkxOrbUnmanException& cause)
    : OrbKernelException(csMessage, NativeCauseText(cause), 0) {}

OrbKernelException::OrbKernelException(std::u16string_view csMessage, const OrbAccessFault& fault)
    : OrbKernelException(csMessage, FaultText(fault), 0) {}

OrbKernelException::OrbKernelException(std::u16string_view csMessage,
                                       std::u16string_view csCause, int)
    : std::runtime_error(WhatText(csMessage, csCause)),
      m_pMessage(std::make_shared<const std::u16string>(csMessage)),
      m_pCauseText(std::make_shared<const std::u16string>(csCause)) {}

}  // namespace Tarvex::Orb::DataDirectAcces
