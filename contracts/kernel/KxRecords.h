// Records that cross between the library and the record kernel.
//
// Every structure here is read or written by both sides, so each layout is
// pinned with static_assert. Offsets are bytes from the start of the record.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Attach information: handed to CkxDtb2ObjCallback::OnAttach when the kernel
// attaches storage to a bound object.
//
//   OFFSET  SIZE  DESCRIPTION
//        0     8  kernel's (the reference kernel stores the class id here)
//        8     8  address of the container header in storage
//       16     8  address of the word that holds the storage base address
//       24     8  address of the last-valid-handle word
struct KxAttachInfo {
  uint64_t kernelWord;
  void* pContainerHeader;
  uint8_t* const* ppStorageBase;
  const uint32_t* pLastValidHandle;
};
static_assert(sizeof(KxAttachInfo) == 32);
static_assert(offsetof(KxAttachInfo, pContainerHeader) == 8);
static_assert(offsetof(KxAttachInfo, ppStorageBase) == 16);
static_assert(offsetof(KxAttachInfo, pLastValidHandle) == 24);

// ---------------------------------------------------------------------------
// Update record. The library builds it for UpdateID, Clear and SaveAsXml (the
// "update text record"); the kernel builds the same layout, with the object
// number filled in, when it reports an update to OnUpdate (the "update
// information").
//
//   OFFSET  SIZE  DESCRIPTION
//        0     4  flags word: bits 5 and 9 set, high byte 1 (0x01000220)
//        4     4  record kind: 3
//        8     8  update id, written by the kernel
//       16     2  kernel's
//       18     2  object number of the updated object (update information)
//       20     4  kernel's
//       24     4  32-bit word: 0 when built by the library
//       28     8  kernel's
//       36     2  text length in bytes; 65535 when formatting failed
//       38   506  ANSI text with its terminator
struct KxUpdateRecord {
  static constexpr uint32_t kFlagsWord = 0x01000220;
  static constexpr uint32_t kKind = 3;
  static constexpr size_t kTextCapacity = 506;
  static constexpr uint16_t kFormatFailed = 65535;

  uint32_t flags;
  uint32_t kind;
  uint64_t updateId;
  uint16_t kernelHalf16;
  uint16_t objectNumber;
  uint32_t kernelWord20;
  uint32_t word24;
  uint8_t kernelBytes28[8];
  uint16_t textLength;
  char text[kTextCapacity];
};
static_assert(sizeof(KxUpdateRecord) == 544);
static_assert(offsetof(KxUpdateRecord, updateId) == 8);
static_assert(offsetof(KxUpdateRecord, objectNumber) == 18);
static_assert(offsetof(KxUpdateRecord, word24) == 24);
static_assert(offsetof(KxUpdateRecord, textLength) == 36);
static_assert(offsetof(KxUpdateRecord, text) == 38);

// ---------------------------------------------------------------------------
// Application command attached to an update (may be absent: passed as null).
//   bit 4       user command 1
//   bit 5       user command 2
//   bits 6..15  user value 1 (10 bits)
//   bits 16..25 user value 2 (10 bits)
//   other bits  0
struct Sd2UpdateCmd {
  uint32_t bits = 0;

  static Sd2UpdateCmd Make(bool bCmd1, bool bCmd2, uint32_t uiVal1, uint32_t uiVal2) {
    Sd2UpdateCmd cmd;
    cmd.bits = (bCmd1 ? 1u << 4 : 0u) | (bCmd2 ? 1u << 5 : 0u) | ((uiVal1 & 0x3FFu) << 6) |
               ((uiVal2 & 0x3FFu) << 16);
    return cmd;
  }
  bool UsrCmd1() const { return (bits >> 4) & 1u; }
  bool UsrCmd2() const { return (bits >> 5) & 1u; }
  uint32_t UsrVal1() const { return (bits >> 6) & 0x3FFu; }
  uint32_t UsrVal2() const { return (bits >> 16) & 0x3FFu; }
};
static_assert(sizeof(Sd2UpdateCmd) == 4);

// ---------------------------------------------------------------------------
// Log record header (OrbLogIndex), passed with the record data to the task
// interface's log operation.
//
//   OFFSET  SIZE  DESCRIPTION
//        0     8  reserved, 0
//        8     8  high-resolution counter at creation (CLOCK_MONOTONIC ns)
//       16     4  id of the creating thread
//       20     2  log event type (OrbLogEvtType)
//       22     2  data length in bytes, capped at 65535
struct OrbLogIndex {
  uint64_t reserved;
  int64_t perfCounter;
  uint32_t threadId;
  uint16_t eventType;
  uint16_t dataLength;
};
static_assert(sizeof(OrbLogIndex) == 24);
static_assert(offsetof(OrbLogIndex, threadId) == 16);
static_assert(offsetof(OrbLogIndex, eventType) == 20);
static_assert(offsetof(OrbLogIndex, dataLength) == 22);

// Log event types used by the library; the others belong to the framework.
enum OrbLogEvtType : uint16_t {
  OrbLogEvtArrayDiag = 103,  // array diagnostics
  OrbLogEvtFileMess = 104,   // file messages
};

// ---------------------------------------------------------------------------
// A string the kernel hands back (a file path, a map key). The caller owns
// the storage; the kernel calls Assign once with the text and its length.
struct KxStringOut {
  void* context;
  void (*assign)(KxStringOut* self, const char* text, size_t length);

  void Assign(const char* text, size_t length) { assign(this, text, length); }
};

// ---------------------------------------------------------------------------
// What the kernel hands to CkxDtb2ObjCallback::OnNotify: events that carry
// no update record.
struct KxNotifyInfo {
  static constexpr uint32_t kUpdatesMissed = 1;  // `count` updates could not be delivered

  uint32_t kind;
  uint32_t reserved;
  uint64_t count;
};
static_assert(sizeof(KxNotifyInfo) == 16);
