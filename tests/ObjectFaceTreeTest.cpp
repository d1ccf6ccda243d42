// The object face's containment tree against the kernel's catalogue: every
// member path names a member or field the catalogue knows, with the same
// record, key and byte offset (an embedded record's containers counted from
// the record that holds it), so that the object face walks the layout the
// kernel stores.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "templates/Varnox.h"

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

}  // namespace
