// The object face's containment tree against the kernel's catalogue: every
// member path names a member or field the catalogue knows, with the same
// record, key and byte offset (an embedded record's containers counted from
// the record that holds it), so that the object face walks the layout the
// kernel stores.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "templates/Varnox.h"

// A path shows as its name in test output.
void PrintTo(const VarnoxPathInfo& path, std::ostream* pOut) { *pOut << path.name; }

namespace {

// A record of the catalogue by name: a member's element record or one held
// by a field of such a record, however deep.
const KxRecordType* RecordNamed(std::string_view csName) {
  const KxCatalogue& catalogue = VarnoxCatalogue();
  std::vector<const KxRecordType*> pending;
  for (uint32_t i = 0; i < catalogue.classCount; ++i)
    pending.push_back(catalogue.classes[i].element);
  while (!pending.empty()) {
    const KxRecordType* pRecord = pending.back();
    pending.pop_back();
    if (csName == pRecord->name) return pRecord;
    for (uint32_t f = 0; f < pRecord->fieldCount; ++f) {
      if (pRecord->fields[f].element != nullptr) pending.push_back(pRecord->fields[f].element);
    }
  }
  return nullptr;
}

const KxRecordField* FieldNamed(const KxRecordType& record, std::string_view csName) {
  for (uint32_t i = 0; i < record.fieldCount; ++i) {
    if (csName == record.fields[i].name) return &record.fields[i];
  }
  return nullptr;
}

const KxFileMember* TopMemberNamed(std::string_view csPath) {
  const KxCatalogue& catalogue = VarnoxCatalogue();
  for (uint32_t i = 0; i < catalogue.fileCount; ++i) {
    const KxFileType& file = catalogue.files[i];
    for (uint32_t m = 0; m < file.memberCount; ++m) {
      if (csPath == std::string(file.name) + "_" + file.members[m].name) return &file.members[m];
    }
  }
  return nullptr;
}

KxKeyKind KernelKey(VarnoxPathKey key) {
  switch (key) {
    case VarnoxPathKey::kUInt64:
      return KxKeyKind::kNumber;
    case VarnoxPathKey::kString:
      return KxKeyKind::kText;
    case VarnoxPathKey::kNone:
      break;
  }
  return KxKeyKind::kNone;
}

class ObjectFaceTree : public ::testing::TestWithParam<VarnoxPathInfo> {};

TEST_P(ObjectFaceTree, PathAgreesWithTheCatalogue) {
  const VarnoxPathInfo& path = GetParam();
  if (path.parent < 0) {
    const KxFileMember* pMember = TopMemberNamed(path.name);
    ASSERT_NE(pMember, nullptr);
    EXPECT_STREQ(pMember->name, path.member);
    EXPECT_STREQ(pMember->memberClass->element->name, path.record);
    EXPECT_EQ(pMember->memberClass->key, KernelKey(path.key));
    return;
  }
  const VarnoxPathInfo& parent = kVarnoxPaths[path.parent];
  EXPECT_EQ(std::string(path.name), std::string(parent.name) + "_" + path.member);
  const KxRecordType* pHolder = RecordNamed(parent.record);
  ASSERT_NE(pHolder, nullptr) << parent.record;
  const KxRecordField* pField = FieldNamed(*pHolder, path.member);
  ASSERT_NE(pField, nullptr);
  const uint32_t uiBase = parent.shape == VarnoxPathShape::kEmbedded ? parent.offset : 0;
  EXPECT_EQ(path.offset, uiBase + pField->offset);
  EXPECT_EQ(pField->key, KernelKey(path.key));
  if (path.record != nullptr) {
    ASSERT_NE(pField->element, nullptr);
    EXPECT_STREQ(pField->element->name, path.record);
  } else {
    EXPECT_EQ(pField->element, nullptr);
    EXPECT_TRUE(pField->kind == KxFieldKind::kFixedInt32 ||
                pField->kind == KxFieldKind::kFixedUInt32);
  }
}

INSTANTIATE_TEST_SUITE_P(Varnox, ObjectFaceTree, ::testing::ValuesIn(kVarnoxPaths),
                         [](const ::testing::TestParamInfo<VarnoxPathInfo>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
