// The schema fingerprint changes with everything that decides a file's
// layout, and only with that: each case changes one thing of the pool
// configuration member of FT_GLOBALS in a copy of the catalogue's file type.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "contracts/kernel/KxSchemaFingerprint.h"
#include "templates/VarnoxCatalogue.h"

namespace {

constexpr size_t kGlobals = 2;
constexpr size_t kPoolConfig = 0;

// A copy of a file type whose first member's class and record can be
// changed.
struct FileCopy {
  std::vector<KxRecordField> fields;
  KxRecordType record;
  KxMemberClass memberClass;
  std::vector<KxFileMember> members;
  KxFileType file;

  explicit FileCopy(const KxFileType& source)
      : members(source.members, source.members + source.memberCount), file(source) {
    memberClass = *members[kPoolConfig].memberClass;
    record = *memberClass.element;
    fields.assign(record.fields, record.fields + record.fieldCount);
  }

  uint64_t Fingerprint() {
    record.fields = fields.data();
    memberClass.element = &record;
    members[kPoolConfig].memberClass = &memberClass;
    file.members = members.data();
    return KxFileTypeFingerprint(file);
  }
};

// Field 2 of the pool configuration is its map of lanes.
const std::pair<std::function<void(FileCopy&)>, bool> kChanges[] = {
    {[](FileCopy& c) { c.fields[1].offset += 4; }, true},
    {[](FileCopy& c) { c.fields[1].kind = KxFieldKind::kUInt32; }, true},
    {[](FileCopy& c) { c.fields[1].width = 8; }, true},
    {[](FileCopy& c) { c.fields[1].count = 2; }, true},
    {[](FileCopy& c) {
       c.fields.push_back(c.fields.back());
       c.record.fieldCount += 1;
     },
     true},
    {[](FileCopy& c) { c.fields[2].key = KxKeyKind::kText; }, true},
    {[](FileCopy& c) { c.fields[2].element = &KxVarnoxCatalogue::kCkxOneContact; }, true},
    {[](FileCopy& c) { c.record.size += 8; }, true},
    {[](FileCopy& c) { c.memberClass.classId += 1; }, true},
    {[](FileCopy& c) { c.memberClass.kind = KxMemberKind::kArray; }, true},
    {[](FileCopy& c) { c.file.memberCount -= 1; }, true},
    {[](FileCopy& c) { c.file.name = "FT_GLOBALS2"; }, true},
    {[](FileCopy& c) { c.fields[1].name = "Length"; }, false},
    {[](FileCopy& c) { c.record.name = "CkxPool"; }, false},
    {[](FileCopy& c) { c.members[kPoolConfig].name = "Pool"; }, false},
};

TEST(SchemaFingerprint, FollowsTheLayoutOnly) {
  const KxFileType& globals = KxVarnoxCatalogue::kCatalogue.files[kGlobals];
  ASSERT_STREQ(globals.name, "FT_GLOBALS");
  const uint64_t uiOriginal = KxFileTypeFingerprint(globals);
  for (size_t i = 0; i < std::size(kChanges); ++i) {
    SCOPED_TRACE(i);
    const auto& [apply, bChangesLayout] = kChanges[i];
    FileCopy copy(globals);
    ASSERT_EQ(copy.Fingerprint(), uiOriginal);
    apply(copy);
    EXPECT_EQ(copy.Fingerprint() != uiOriginal, bChangesLayout);
  }
}

// Both sides of the handshake compute it at compile time.
static_assert(KxSchemaFingerprint(KxVarnoxCatalogue::kCatalogue) != 0);

}  // namespace
