#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {
constexpr uint32_t kUpdateIdVersion = 4;
constexpr uint32_t kClearVersion = 6;
constexpr uint32_t kSaveAsXmlVersion = 11;
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
  if (m_Obj.Has()) m_Obj.ops().Bind(m_Obj.p, this);
}

CkxDtb2Obj::~CkxDtb2Obj() { m_Obj.Release(); }

uint64_t CkxDtb2Obj::UpdateIDArgs(uint32_t uiFlags, const Sd2UpdateCmd* pCmd, const char* csFormat,
                                  std::span<const KxArg> args) {
  KxUpdateRecord record;
  KxBuildUpdateRecord(record, csFormat, args);
  if (!m_Obj.Has(kUpdateIdVersion)) return 0;
  m_Obj.ops().UpdateID(m_Obj.p, uiFlags, pCmd, &record);
  return record.updateId;
}

void CkxDtb2Obj::ClearArgs(uint32_t uiFlags, const Sd2UpdateCmd* pCmd, const char* csFormat,
                           std::span<const KxArg> args) {
  KxUpdateRecord record;
  KxBuildUpdateRecord(record, csFormat, args);
  if (m_Obj.Has(kClearVersion)) m_Obj.ops().Clear(m_Obj.p, uiFlags, pCmd, &record);
}

void CkxDtb2Obj::SaveAsXml(const Sd2UpdateCmd* pCmd, const char* csFormat, const char* csPath) {
  const KxArg aArgs[] = {KxArg(csPath)};
  KxUpdateRecord record;
  KxBuildUpdateRecord(record, csFormat, aArgs);
  if (m_Obj.Has(kSaveAsXmlVersion)) m_Obj.ops().SaveAsXml(m_Obj.p, pCmd, &record, csPath);
}

uint64_t CkxDtb2Obj::BindAsMember(uint32_t uiClassId) {
  if (!m_Obj.Has()) return 0;
  return m_Obj.ops().BindMember(m_Obj.p, this, uiClassId);
}

CkxD2ObjDim::CkxD2ObjDim() {
  m_Obj.Request(KxNames::kDtb2, KxNames::kObj, 1, CkxDtb2Obj::kOffered);
}

CkxD2ObjDim::~CkxD2ObjDim() { m_Obj.Release(); }

uint64_t CkxD2ObjDim::ObjectId() {
  if (!m_Obj.Has()) return 0;
  return m_Obj.ops().Bind(m_Obj.p, this);
}
