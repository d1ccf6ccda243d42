// Log records sent to the kernel's logging through the task's "CkxTask"
// interface (its SendLog slot).
//
// A record is a header (OrbLogIndex) and a data area. The data area starts
// inside the record (1000 bytes) and moves to the heap when an append would
// reach its limit, so that short messages cost no allocation. Records are
// built on the caller's stack by the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "NetInterface/CkxOrbNetInterface/KxFormat.h"
#include "contracts/kernel/KxRecords.h"

// A record under construction: header plus growing data area. Not copyable:
// the write position may point into the record itself.
class OrbLogBase {
 public:
  static constexpr size_t kInlineSize = 1000;
  // Text lengths above this are written as 65535 followed by a 32-bit length.
  static constexpr size_t kMaxShortLength = 65534;
  static constexpr uint16_t kLongLengthMark = 65535;

  // Takes the counter (CLOCK_MONOTONIC, ns) and the calling thread's id now.
  explicit OrbLogBase(OrbLogEvtType eType);
  ~OrbLogBase();
  OrbLogBase(const OrbLogBase&) = delete;
  OrbLogBase& operator=(const OrbLogBase&) = delete;

  // Appends raw bytes, moving the data area to the heap when needed. After
  // an allocation failure every later append is dropped.
  void AppendBytes(const void* pBytes, size_t uiCount);
  void AppendU16(uint16_t usValue) { AppendBytes(&usValue, sizeof usValue); }
  void AppendU32(uint32_t uiValue) { AppendBytes(&uiValue, sizeof uiValue); }
  // Appends a text as 16-bit length and bytes (see kMaxShortLength).
  void AppendText(std::string_view svText);

  // Sets the header's data length (capped at 65535) and passes header, data
  // and the full written length to the kernel, when the task interface
  // has the SendLog slot. Never throws.
  void Send();

  const OrbLogIndex& Header() const { return m_Header; }
  const uint8_t* Data() const { return m_pStart; }
  size_t Length() const { return static_cast<size_t>(m_pPos - m_pStart); }
  // Bytes the data area holds (the inline area, or the last heap block).
  size_t Capacity() const { return static_cast<size_t>(m_pLimit - m_pStart) + 1; }
  bool IsOnHeap() const { return m_pStart != m_aInline; }

 private:
  // Moves the data area to a heap block large enough for `uiCount` more
  // bytes; false when the allocation fails.
  bool Grow(size_t uiCount);

  OrbLogIndex m_Header;
  uint8_t* m_pStart;
  uint8_t* m_pPos;
  uint8_t* m_pLimit;  // an append must end before this byte
  bool m_bFailed = false;
  uint8_t m_aInline[kInlineSize];
};

// A text passed to OrbLogMessF as it stands, not as a format.
struct OrbLogText {
  std::string_view m_svText;
};

// A log message: 32-bit index, then the text. Constructing one sends it.
class OrbLogMessF : public OrbLogBase {
 public:
  static constexpr const char* kBadFormatSuffix = " *** BAD FORMAT ***";

  // Formats the text with KxFormat; a bad format (or a missing or mismatched
  // argument) gives the format itself followed by " *** BAD FORMAT ***".
  template <class... A>
  OrbLogMessF(OrbLogEvtType eType, uint32_t uiIndex, const char* csFormat, const A&... args)
      : OrbLogBase(eType) {
    std::string strText;
    if (!KxFormat(strText, csFormat, args...)) {
      strText = csFormat != nullptr ? csFormat : "";
      strText += kBadFormatSuffix;
    }
    Build(uiIndex, strText);
  }

  // Writes `text` unchanged.
  OrbLogMessF(OrbLogEvtType eType, uint32_t uiIndex, OrbLogText text) : OrbLogBase(eType) {
    Build(uiIndex, text.m_svText);
  }

 private:
  void Build(uint32_t uiIndex, std::string_view svText);
};
