// The object face's containment tree against the kernel's catalogue: every
// member path names a member or field the catalogue knows, with the same
// record, key and byte offset (an embedded record's containers counted from
// the record that holds it), so that the object face walks the layout the
// kernel stores; and the schema fingerprint of that layout.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "contracts/kernel/KxSchemaFingerprint.h"
#include "templates/Varnox.h"
#include "templates/VarnoxCatalogue.h"

namespace {

KxKeyKind KernelKey(VarnoxPathKey key) {
  return key == VarnoxPathKey::kUInt64   ? KxKeyKind::kNumber
         : key == VarnoxPathKey::kString ? KxKeyKind::kText
                                         : KxKeyKind::kNone;
}

// Walks the tree beside the catalogue: a top-level path is its file's member
// of that name, a nested one the field of that name in its parent's record.
TEST(ObjectFaceTree, EveryPathAgreesWithTheCatalogue) {
  const KxCatalogue& catalogue = VarnoxCatalogue();
  std::vector<const KxRecordType*> records;  // the record each path reached
  for (const VarnoxPathInfo& path : kVarnoxPaths) {
    SCOPED_TRACE(path.name);
    const KxRecordType* pRecord = nullptr;
    if (path.parent < 0) {
      const KxFileMember* pMember = nullptr;
      for (uint32_t f = 0; f < catalogue.fileCount; ++f) {
        const KxFileType& file = catalogue.files[f];
        for (uint32_t m = 0; m < file.memberCount; ++m) {
          if (path.name == std::string(file.name) + "_" + file.members[m].name)
            pMember = &file.members[m];
        }
      }
      ASSERT_NE(pMember, nullptr);
      EXPECT_STREQ(pMember->name, path.member);
      EXPECT_EQ(pMember->memberClass->key, KernelKey(path.key));
      pRecord = pMember->memberClass->element;
    } else {
      const VarnoxPathInfo& parent = kVarnoxPaths[path.parent];
      const KxRecordType* pHolder = records.at(static_cast<size_t>(path.parent));
      ASSERT_NE(pHolder, nullptr);
      const KxRecordField* pField = nullptr;
      for (uint32_t i = 0; i < pHolder->fieldCount; ++i) {
        if (std::string(path.member) == pHolder->fields[i].name) pField = &pHolder->fields[i];
      }
      ASSERT_NE(pField, nullptr);
      const uint32_t uiBase = parent.shape == VarnoxPathShape::kEmbedded ? parent.offset : 0;
      EXPECT_EQ(path.offset, uiBase + pField->offset);
      EXPECT_EQ(pField->key, KernelKey(path.key));
      pRecord = pField->element;
      if (pRecord == nullptr) {
        EXPECT_TRUE(pField->kind == KxFieldKind::kFixedInt32 ||
                    pField->kind == KxFieldKind::kFixedUInt32);
      }
    }
    EXPECT_STREQ(pRecord != nullptr ? pRecord->name : nullptr, path.record);
    records.push_back(pRecord);
  }
  EXPECT_EQ(records.size(), std::size(kVarnoxPaths));
}

// The schema fingerprint changes with everything that decides a file's
// layout, and only with that: each case changes one thing of the pool
// configuration member of FT_GLOBALS in a copy of the catalogue's file type.
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
