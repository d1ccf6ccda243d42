#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {
using Ops = IkxDtb2ObjOps;
}  // namespace

void KxBuildUpdateRecord(KxUpdateRecord& record, const char* csFormat,
                         std::span<const KxArg> args) {
  std::memset(&record, 0, sizeof record);
  record.flags = KxUpdateRecord::kFlagsWord;
  record.kind = KxUpdateRecord::kKind;

  // Application texts arrive without arguments: they are taken literally, so
  // a '%' in them never makes the formatting look for an argument.
  std::string csText = csFormat != nullptr ? csFormat : "";
  bool bFormatted = true;
  if (!args.empty()) bFormatted = KxFormatArgs(csText, csFormat, args);
  if (!bFormatted) csText = csFormat != nullptr ? csFormat : "";

  const size_t uiLength = std::min(csText.size(), KxUpdateRecord::kTextCapacity - 1);
  std::memcpy(record.text, csText.data(), uiLength);
  record.text[uiLength] = '\0';
  record.textLength = bFormatted ? static_cast<uint16_t>(uiLength) : KxUpdateRecord::kFormatFailed;
}

CkxDtb2Obj::CkxDtb2Obj() {
  m_Obj.Request(KxNames::kDtb2, KxNames::kObj, 1, kOffered);
  m_Obj.Call<&Ops::Bind>(0, this);
}

CkxDtb2Obj::~CkxDtb2Obj() { m_Obj.Release(); }

uint64_t CkxDtb2Obj::UpdateIDArgs(uint32_t uiFlags, const Sd2UpdateCmd* pCmd, const char* csFormat,
                                  std::span<const KxArg> args) {
  KxUpdateRecord record;
  KxBuildUpdateRecord(record, csFormat, args);
  if (!m_Obj.Call<&Ops::UpdateID>(uiFlags, pCmd, &record)) return 0;
  return record.updateId;
}

void CkxDtb2Obj::ClearArgs(uint32_t uiFlags, const Sd2UpdateCmd* pCmd, const char* csFormat,
                           std::span<const KxArg> args) {
  KxUpdateRecord record;
  KxBuildUpdateRecord(record, csFormat, args);
  m_Obj.Call<&Ops::Clear>(uiFlags, pCmd, &record);
}

void CkxDtb2Obj::SaveAsXml(const Sd2UpdateCmd* pCmd, const char* csFormat, const char* csPath) {
  const KxArg aArgs[] = {KxArg(csPath)};
  KxUpdateRecord record;
  KxBuildUpdateRecord(record, csFormat, aArgs);
  m_Obj.Call<&Ops::SaveAsXml>(pCmd, &record, csPath);
}

uint64_t CkxDtb2Obj::BindAsMember(uint32_t uiClassId) {
  return m_Obj.Call<&Ops::BindMember>(0, this, uiClassId);
}

CkxD2ObjDim::CkxD2ObjDim() {
  m_Obj.Request(KxNames::kDtb2, KxNames::kObj, 1, CkxDtb2Obj::kOffered);
}

CkxD2ObjDim::~CkxD2ObjDim() { m_Obj.Release(); }

uint64_t CkxD2ObjDim::ObjectId() { return m_Obj.Call<&Ops::Bind>(0, this); }
