#include "access/OrbUpdatable.h"

#include <string>

#include "access/OrbAnsi.h"
#include "contracts/kernel/KxText.h"

namespace Tarvex::Orb::DataDirectAcces {
namespace {

// The record of `usrCmd`, or none: the native call then gets null.
const Sd2UpdateCmd* CommandOf(const std::optional<AppUpdateInfo>& usrCmd, Sd2UpdateCmd& cmd) {
  if (!usrCmd) return nullptr;
  cmd = OrbUpdateCmdOf(*usrCmd);
  return &cmd;
}

}  // namespace

Sd2UpdateCmd OrbUpdateCmdOf(const AppUpdateInfo& info) {
  return Sd2UpdateCmd::Make(info.UsrCmd1(), info.UsrCmd2(),
                            static_cast<uint16_t>(info.UsrVal1()),
                            static_cast<uint16_t>(info.UsrVal2()));
}

uint64_t OrbUpdateID(CkxDtb2Obj& obj, OrbCmd liFlags, const std::optional<AppUpdateInfo>& usrCmd,
                     std::u16string_view csFormat, const std::vector<OrbFormatArg>& valueParams) {
  const std::string csText = OrbToAnsi(OrbFormat(csFormat, valueParams));
  Sd2UpdateCmd cmd;
  return obj.UpdateID(static_cast<uint32_t>(liFlags), CommandOf(usrCmd, cmd), csText.c_str());
}

void OrbClear(CkxDtb2Obj& obj, OrbCmd liFlags, const std::optional<AppUpdateInfo>& usrCmd,
              std::u16string_view csFormat, const std::vector<OrbFormatArg>& valueParams) {
  const std::string csText = OrbToAnsi(OrbFormat(csFormat, valueParams));
  Sd2UpdateCmd cmd;
  obj.Clear(static_cast<uint32_t>(liFlags), CommandOf(usrCmd, cmd), csText.c_str());
}

void OrbSaveObjectAsXml(CkxDtb2Obj& obj, const std::optional<AppUpdateInfo>& usrCmd,
                        std::u16string_view csFormat, std::u16string_view csPath) {
  const std::string csText = OrbToAnsi(csFormat);
  const std::string csNativePath = KxText::Utf16ToUtf8(csPath);
  Sd2UpdateCmd cmd;
  obj.SaveAsXml(CommandOf(usrCmd, cmd), csText.c_str(), csNativePath.c_str());
}

}  // namespace Tarvex::Orb::DataDirectAcces
