// Fingerprints of a schema: 64-bit hashes of a template catalogue over
// everything that decides how records are laid out and what a file holds.
//
// A library and a kernel built from the same schema compute the same
// fingerprints; one built from another schema (a field moved, a record
// grown, a member added, a class id changed) almost surely does not. The
// library hands the schema's fingerprint to the kernel at start-up (the
// connection's AcceptSchema); the kernel stores the fingerprint of a file's
// type in every saved file and compares it when it opens one. So neither
// side misreads records laid out by the other, and a file stays readable
// across schema changes that leave its own type untouched.
//
// Hashed, in order: per file type its family, name and members (each member's
// class); per member class its class id, container kind, key kind and
// element record; per record its size and fields; per field its kind, key
// kind, offset, width, count and element record. Names of members, records
// and fields are left out: renaming changes no byte of a file.
#pragma once

#include <cstdint>

#include "contracts/kernel/KxCatalogue.h"

namespace KxSchemaHash {

// FNV-1a, 64-bit, fed one value at a time.
struct Fnv {
  uint64_t value = 0xcbf29ce484222325ull;

  constexpr void Byte(uint8_t b) {
    value ^= b;
    value *= 0x100000001b3ull;
  }
  constexpr void Word(uint64_t w) {
    for (int i = 0; i < 8; ++i) Byte(static_cast<uint8_t>(w >> (8 * i)));
  }
  // A text with its terminator, so that "ab" + "c" differs from "a" + "bc".
  constexpr void Text(const char* cs) {
    for (; cs != nullptr && *cs != '\0'; ++cs) Byte(static_cast<uint8_t>(*cs));
    Byte(0);
  }
};

// A field has an element record exactly when it is a container or a record
// in place. That is asked of the kind, not of the pointer: GCC's undefined-
// behaviour sanitizer makes a pointer's comparison with null non-constant.
constexpr bool HasElement(KxFieldKind kind) {
  return kind == KxFieldKind::kMap || kind == KxFieldKind::kArray || kind == KxFieldKind::kRecord;
}

// Every member class has an element record.
constexpr void Record(Fnv& h, const KxRecordType* pRecord) {
  h.Word(pRecord->size);
  h.Word(pRecord->fieldCount);
  for (uint32_t i = 0; i < pRecord->fieldCount; ++i) {
    const KxRecordField& field = pRecord->fields[i];
    h.Word(static_cast<uint64_t>(field.kind));
    h.Word(static_cast<uint64_t>(field.key));
    h.Word(field.offset);
    h.Word(field.width);
    h.Word(field.count);
    if (HasElement(field.kind)) {
      Record(h, field.element);
    } else {
      h.Word(0);
    }
  }
}

constexpr void MemberClass(Fnv& h, const KxMemberClass& memberClass) {
  h.Word(memberClass.classId);
  h.Word(static_cast<uint64_t>(memberClass.kind));
  h.Word(static_cast<uint64_t>(memberClass.key));
  Record(h, memberClass.element);
}

constexpr void FileType(Fnv& h, const KxFileType& file) {
  h.Text(file.family);
  h.Text(file.name);
  h.Word(file.memberCount);
  for (uint32_t m = 0; m < file.memberCount; ++m) MemberClass(h, *file.members[m].memberClass);
}

}  // namespace KxSchemaHash

// The fingerprint of one file type: what decides the layout of its saved
// and live files. A kernel stores it in every saved file.
constexpr uint64_t KxFileTypeFingerprint(const KxFileType& file) {
  KxSchemaHash::Fnv h;
  KxSchemaHash::FileType(h, file);
  return h.value;
}

// The fingerprint of the whole schema: every file type and member class of
// `catalogue`. A library and a kernel compare it at start-up.
constexpr uint64_t KxSchemaFingerprint(const KxCatalogue& catalogue) {
  KxSchemaHash::Fnv h;
  h.Word(catalogue.fileCount);
  for (uint32_t i = 0; i < catalogue.fileCount; ++i) KxSchemaHash::FileType(h, catalogue.files[i]);
  h.Word(catalogue.classCount);
  for (uint32_t i = 0; i < catalogue.classCount; ++i) {
    KxSchemaHash::MemberClass(h, catalogue.classes[i]);
  }
  return h.value;
}
