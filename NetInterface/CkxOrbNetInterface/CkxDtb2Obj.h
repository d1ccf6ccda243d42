// Persistent objects: the native base of every container a file registers
// with the kernel, and the dimension (index) object.
#pragma once

#include <cstdint>
#include <span>

#include "NetInterface/CkxOrbNetInterface/KxFormat.h"
#include "NetInterface/CkxOrbNetInterface/KxItf.h"

// Base of every registered container (the members of a file template).
// The kernel fills the two storage pointers through OnAttach of
// the derived member class.
//
// Every operation is a slot of the object interface (IkxDtb2ObjOps, where
// its minimum version and failures are declared) and falls back (0 or
// nothing done) below the slot's minimum; none throws.
class CkxDtb2Obj : public CkxDtb2ObjCallback {
 public:
  // Offered version of the "CkxDtb2Obj" interface.
  static constexpr uint32_t kOffered = IkxDtb2ObjOps::kVersion;

  // Requests the object interface and, when granted, binds this object
  // (slot 3) so that the kernel can call it back.
  CkxDtb2Obj();
  // Releases the interface.
  ~CkxDtb2Obj() override;
  CkxDtb2Obj(const CkxDtb2Obj&) = delete;
  CkxDtb2Obj& operator=(const CkxDtb2Obj&) = delete;

  // Asks the kernel for a new update id and notifies every user of the
  // object. The text is formatted printf-style from the arguments (copied
  // as it stands when there are none) into the update record. Returns the
  // update id, or 0 below the slot's version.
  template <class... A>
  uint64_t UpdateID(uint32_t uiFlags, const Sd2UpdateCmd* pCmd, const char* csFormat,
                    const A&... args) {
    if constexpr (sizeof...(A) == 0) {
      return UpdateIDArgs(uiFlags, pCmd, csFormat, {});
    } else {
      const KxArg aArgs[] = {KxArg(args)...};
      return UpdateIDArgs(uiFlags, pCmd, csFormat, aArgs);
    }
  }
  uint64_t UpdateIDArgs(uint32_t uiFlags, const Sd2UpdateCmd* pCmd, const char* csFormat,
                        std::span<const KxArg> args);

  // Clears the object's content, with the same update record.
  template <class... A>
  void Clear(uint32_t uiFlags, const Sd2UpdateCmd* pCmd, const char* csFormat, const A&... args) {
    if constexpr (sizeof...(A) == 0) {
      ClearArgs(uiFlags, pCmd, csFormat, {});
    } else {
      const KxArg aArgs[] = {KxArg(args)...};
      ClearArgs(uiFlags, pCmd, csFormat, aArgs);
    }
  }
  void ClearArgs(uint32_t uiFlags, const Sd2UpdateCmd* pCmd, const char* csFormat,
                 std::span<const KxArg> args);

  // Exports the object to XML at `csPath`. The record's text
  // is `csFormat` formatted with the path as its argument.
  void SaveAsXml(const Sd2UpdateCmd* pCmd, const char* csFormat, const char* csPath);

  // The object's kernel handle when registered under `uiClassId` (slot 4),
  // or 0 without a usable interface.
  uint64_t BindAsMember(uint32_t uiClassId);

  // The address of the `uiBytes` bytes at byte `uiOffset` of this object's
  // storage, or null when they do not all lie above handle 0 and below the
  // last valid handle, or no storage is attached. Every offset the library
  // follows from storage (nodes, elements, texts) goes through here: a bad
  // offset then fails cleanly instead of touching unmapped pages.
  uint8_t* StorageAt(uint64_t uiOffset, uint64_t uiBytes) const {
    uint8_t* const* ppBase = m_ppStorageBase;
    const uint32_t* pLastValid = m_pLastValidHandle;
    if (ppBase == nullptr || pLastValid == nullptr || *ppBase == nullptr || uiOffset < 4) {
      return nullptr;
    }
    const uint64_t uiEnd = 4 * uint64_t{__atomic_load_n(pLastValid, __ATOMIC_ACQUIRE)};
    if (uiOffset > uiEnd || uiBytes > uiEnd - uiOffset) return nullptr;
    return *ppBase + uiOffset;
  }

  // Where the kernel keeps the address of this object's storage.
  uint8_t* const* m_ppStorageBase = nullptr;
  // The first invalid handle of this object's storage.
  const uint32_t* m_pLastValidHandle = nullptr;
  KxItf<IkxDtb2Obj> m_Obj;
};

// Builds the update record that UpdateID, Clear and SaveAsXml hand to the
// kernel. The text is truncated to fit, never overflowing; a format that
// cannot be applied to its arguments is copied as it stands and the length
// is set to KxUpdateRecord::kFormatFailed.
void KxBuildUpdateRecord(KxUpdateRecord& record, const char* csFormat, std::span<const KxArg> args);

// A kernel-bound index (dimension) object, owned by the framework's
// multi-dimension index object. The file base only asks it for its id.
class CkxD2ObjDim : public CkxDtb2ObjCallback {
 public:
  // Requests the object interface ("CkxDtb2Obj", offered 11).
  CkxD2ObjDim();
  ~CkxD2ObjDim() override;
  CkxD2ObjDim(const CkxD2ObjDim&) = delete;
  CkxD2ObjDim& operator=(const CkxD2ObjDim&) = delete;

  // The object's kernel id (slot 3 with this object), or 0 without the interface.
  uint64_t ObjectId();

  KxItf<IkxDtb2Obj> m_Obj;
};
