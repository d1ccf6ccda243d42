// The persistence operations and the change event of a top-level container
// (IOrbUpdatableObject), forwarded to its native member object: update,
// clear and XML export, each with the application's update command packed
// into an Sd2UpdateCmd. Not guarded: native failures pass unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "access/OrbGuard.h"
#include "contracts/framework/OrbFileM.h"
#include "contracts/framework/OrbInterfaces.h"
#include "contracts/kernel/KxRecords.h"

namespace Tarvex::Orb::DataDirectAcces {

// The command word of `info`: UsrCmd1 in bit 4, UsrCmd2 in bit 5, the low
// 10 bits of UsrVal1 in bits 6-15 and of UsrVal2 in bits 16-25.
Sd2UpdateCmd OrbUpdateCmdOf(const AppUpdateInfo& info);

// `csFormat` with its "{n}" placeholders replaced, handed to the member's
// UpdateID as Windows-1252 text; the kernel's update id.
uint64_t OrbUpdateID(CkxDtb2Obj& obj, OrbCmd liFlags, const std::optional<AppUpdateInfo>& usrCmd,
                     std::u16string_view csFormat, const std::vector<OrbFormatArg>& valueParams);
// As OrbUpdateID, through the member's Clear.
void OrbClear(CkxDtb2Obj& obj, OrbCmd liFlags, const std::optional<AppUpdateInfo>& usrCmd,
              std::u16string_view csFormat, const std::vector<OrbFormatArg>& valueParams);
// The member as XML at `csPath` (UTF-8 for the native side); `csFormat`
// goes unformatted.
void OrbSaveObjectAsXml(CkxDtb2Obj& obj, const std::optional<AppUpdateInfo>& usrCmd,
                        std::u16string_view csFormat, std::u16string_view csPath);

// Whether the file wrapper `pFile` (null: none) released the native file
// whose members a wrapper or proxy walks.
inline bool OrbFileReleased(const OrbFileM* pFile) {
  return pFile != nullptr && pFile->IsNativeReleased();
}

// Implements IOrbUpdatableObject over a member object for an interface
// `Base` that derives it (IOrbObjMap, IOrbObjArray, Id2o<Record>).
template <class Base>
class OrbUpdatableImpl : public Base {
 public:
  // A map's Clear(key) stays visible beside the file-command Clear below.
  using Base::Clear;

  uint64_t UpdateID(OrbCmd liFlags, const std::optional<AppUpdateInfo>& usrCmd,
                    std::u16string_view csUpdCmdFormat,
                    const std::vector<OrbFormatArg>& valueParams) override {
    RefuseReleased(u".UpdateID");
    return OrbUpdateID(*m_pUpdatable, liFlags, usrCmd, csUpdCmdFormat, valueParams);
  }
  void Update(OrbCmd liFlags, const std::optional<AppUpdateInfo>& usrCmd,
              std::u16string_view csUpdCmdFormat,
              const std::vector<OrbFormatArg>& valueParams) override {
    UpdateID(liFlags, usrCmd, csUpdCmdFormat, valueParams);
  }
  void Clear(OrbCmd liFlags, const std::optional<AppUpdateInfo>& usrCmd,
             std::u16string_view csUpdCmdFormat,
             const std::vector<OrbFormatArg>& valueParams) override {
    RefuseReleased(u".Clear");
    OrbClear(*m_pUpdatable, liFlags, usrCmd, csUpdCmdFormat, valueParams);
  }
  void SaveObjectAsXml(const std::optional<AppUpdateInfo>& usrCmd,
                       std::u16string_view csUpdCmdFormat, std::u16string_view csPath) override {
    RefuseReleased(u".SaveObjectAsXml");
    OrbSaveObjectAsXml(*m_pUpdatable, usrCmd, csUpdCmdFormat, csPath);
  }

  ObjectChangedEvent& ObjectChanged() override { return m_ObjectChanged; }
  // The sender handlers see is this container, whoever reported the change.
  void OnObjectChanged(const void* /*pSender*/, const OrbObjectChangedEventArgs& args) override {
    m_ObjectChanged.Raise(this, args);
  }

 protected:
  // `pFile`, which may be null, is the file wrapper whose native object
  // holds the member; it outlives this container (the container keeps it).
  OrbUpdatableImpl(CkxDtb2Obj* pUpdatable, const OrbFileM* pFile)
      : m_pUpdatable(pUpdatable), m_pFile(pFile) {}

 public:
  // Whether the file wrapper released the native file this member lies in.
  bool FileReleased() const { return OrbFileReleased(m_pFile); }
  // That file wrapper, or null; what the objects made under this member
  // check before every walk.
  const OrbFileM* File() const { return m_pFile; }

 private:
  void RefuseReleased(OrbOpName csOperation) const {
    if (FileReleased()) OrbThrowKernel(u"IOrbUpdatableObject", csOperation);
  }

  CkxDtb2Obj* m_pUpdatable;
  const OrbFileM* m_pFile;
  ObjectChangedEvent m_ObjectChanged;
};

}  // namespace Tarvex::Orb::DataDirectAcces
