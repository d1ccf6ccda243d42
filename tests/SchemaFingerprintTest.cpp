// The schema fingerprint changes with everything that decides a file's
// layout, and only with that: each case changes one thing of the pool
// configuration member of FT_GLOBALS in a copy of the catalogue's file type.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
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

struct Change {
  const char* csName;
  std::function<void(FileCopy&)> apply;
  bool bChangesLayout;
};

void PrintTo(const Change& change, std::ostream* pOut) { *pOut << change.csName; }

class SchemaFingerprint : public ::testing::TestWithParam<Change> {};

TEST_P(SchemaFingerprint, FollowsTheLayoutOnly) {
  const KxFileType& globals = KxVarnoxCatalogue::kCatalogue.files[kGlobals];
  ASSERT_STREQ(globals.name, "FT_GLOBALS");
  FileCopy copy(globals);
  ASSERT_EQ(copy.Fingerprint(), KxFileTypeFingerprint(globals));

  GetParam().apply(copy);
  if (GetParam().bChangesLayout) {
    EXPECT_NE(copy.Fingerprint(), KxFileTypeFingerprint(globals));
  } else {
    EXPECT_EQ(copy.Fingerprint(), KxFileTypeFingerprint(globals));
  }
}

// Field 2 of the pool configuration is its map of lanes.
INSTANTIATE_TEST_SUITE_P(
    Changes, SchemaFingerprint,
    ::testing::Values(
        Change{"FieldOffset", [](FileCopy& c) { c.fields[1].offset += 4; }, true},
        Change{"FieldKind", [](FileCopy& c) { c.fields[1].kind = KxFieldKind::kUInt32; }, true},
        Change{"FieldWidth", [](FileCopy& c) { c.fields[1].width = 8; }, true},
        Change{"FieldCount", [](FileCopy& c) { c.fields[1].count = 2; }, true},
        Change{"FieldAdded",
               [](FileCopy& c) {
                 c.fields.push_back(c.fields.back());
                 c.record.fieldCount += 1;
               },
               true},
        Change{"MapKey", [](FileCopy& c) { c.fields[2].key = KxKeyKind::kText; }, true},
        Change{"NestedRecord",
               [](FileCopy& c) { c.fields[2].element = &KxVarnoxCatalogue::kCkxOneContact; }, true},
        Change{"RecordSize", [](FileCopy& c) { c.record.size += 8; }, true},
        Change{"ClassId", [](FileCopy& c) { c.memberClass.classId += 1; }, true},
        Change{"MemberKind", [](FileCopy& c) { c.memberClass.kind = KxMemberKind::kArray; }, true},
        Change{"MemberDropped", [](FileCopy& c) { c.file.memberCount -= 1; }, true},
        Change{"FileTypeName", [](FileCopy& c) { c.file.name = "FT_GLOBALS2"; }, true},
        Change{"FieldRenamed", [](FileCopy& c) { c.fields[1].name = "Length"; }, false},
        Change{"RecordRenamed", [](FileCopy& c) { c.record.name = "CkxPool"; }, false},
        Change{"MemberRenamed", [](FileCopy& c) { c.members[kPoolConfig].name = "Pool"; }, false}),
    [](const auto& param) { return std::string(param.param.csName); });

// Both sides of the handshake compute it at compile time.
static_assert(KxSchemaFingerprint(KxVarnoxCatalogue::kCatalogue) != 0);

}  // namespace
