// The template catalogue: the record model as data, for a kernel that knows
// nothing of swimming. For every class id a kernel can tell what container a
// member is, how large its element records are, and where inside a record
// the embedded containers, dynamic strings and nested records lie, so that
// it can initialise, free, copy, save, check and export records.
//
// The catalogue of the Varnox files is generated from the schema (see
// schema/) into VarnoxCatalogue.h; these are its types.
#pragma once

#include <cstdint>

// What a field holds, and so how a kernel treats its bytes.
enum class KxFieldKind : uint8_t {
  kInt32,        // 4 bytes
  kUInt32,       // 4 bytes
  kBool,         // 1 byte, 0 or 1
  kStrDU,        // 24-byte dynamic UTF-16 string (KxDynString)
  kStrD,         // 24-byte dynamic ANSI string (KxDynString)
  kStrSU,        // fixed UTF-16 string: 16-bit length, then characters
  kDateTime,     // 8-byte date-time word
  kKxTime,       // 8-byte packed race time
  kMap,          // 88-byte embedded map (KxEmbeddedMap) of `element`
  kArray,        // 24-byte embedded dynamic array (KxArrayHeader) of `element`
  kFixedInt32,   // `count` signed 32-bit values in place
  kFixedUInt32,  // `count` unsigned 32-bit values in place
  kRecord,       // an `element` record laid out in place
};

// How the elements of a map are keyed.
enum class KxKeyKind : uint8_t { kNone, kNumber, kText };

struct KxRecordType;

// One field of a record.
//
// Invariants: offset + width <= the record's size; `element` is set exactly
// for kMap, kArray and kRecord; `key` is kNone except for kMap; `count` is
// the number of values of a fixed array or characters of a kStrSU, else 1.
struct KxRecordField {
  const char* name;
  KxFieldKind kind;
  KxKeyKind key;
  uint32_t offset;
  uint32_t width;
  uint32_t count;
  const KxRecordType* element;
};

// A record: its name, size and fields in order.
struct KxRecordType {
  const char* name;
  uint32_t size;
  const KxRecordField* fields;
  uint32_t fieldCount;
};

// The container a file member registers with the kernel.
enum class KxMemberKind : uint8_t {
  kMap,     // top-level keyed map (KxContainerHeader, nodes)
  kArray,   // top-level dynamic array (KxArrayHeader)
  kSingle,  // one record
};

// A member class as the kernel knows it by class id.
struct KxMemberClass {
  uint32_t classId;
  KxMemberKind kind;
  KxKeyKind key;
  const KxRecordType* element;
};

// One member of a file type, in registration order.
struct KxFileMember {
  const char* name;
  const KxMemberClass* memberClass;
};

// A file type of a template family ("Varnox", "FT_GLOBALS").
struct KxFileType {
  const char* family;
  const char* name;
  const KxFileMember* members;
  uint32_t memberCount;
};

// The whole catalogue of one template family.
struct KxCatalogue {
  const KxFileType* files;
  uint32_t fileCount;
  const KxMemberClass* classes;
  uint32_t classCount;
};

// A record type's id in storage: FNV-1a over its name, then its size, so
// that adding or reordering records in the schema changes no stored id and
// a record that changes size gets a new one. Never 0.
constexpr uint32_t KxRecordTypeId(const KxRecordType& type) {
  uint32_t uiHash = 2166136261u;
  auto mix = [&uiHash](uint8_t c) {
    uiHash ^= c;
    uiHash *= 16777619u;
  };
  for (const char* p = type.name; *p != '\0'; ++p) mix(static_cast<uint8_t>(*p));
  for (int iShift = 0; iShift < 32; iShift += 8) mix(static_cast<uint8_t>(type.size >> iShift));
  return uiHash != 0 ? uiHash : 1;
}
