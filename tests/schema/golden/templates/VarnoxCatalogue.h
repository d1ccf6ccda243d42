// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The template catalogue of the "Small" family: every record with its
// fields, every member class by class id, every file type with its members.
// It includes only the kernel contract, so a kernel can use it without the
// library.
#pragma once

#include "contracts/kernel/KxCatalogue.h"

namespace KxVarnoxCatalogue {

inline constexpr KxRecordField kCkxNoteFields[] = {
    {"str", KxFieldKind::kStrSU, KxKeyKind::kNone, 0, 132, 64, nullptr},
};
inline constexpr KxRecordType kCkxNote = {"CkxNote", 132, kCkxNoteFields, 1};

inline constexpr KxRecordField kCkxPoolFields[] = {
    {"Lanes", KxFieldKind::kInt32, KxKeyKind::kNone, 0, 4, 1, nullptr},
    {"Starts", KxFieldKind::kMap, KxKeyKind::kNumber, 8, 88, 1, &kCkxNote},
};
inline constexpr KxRecordType kCkxPool = {"CkxPool", 96, kCkxPoolFields, 2};

inline constexpr KxRecordField kCkxRaceFields[] = {
    {"Start", KxFieldKind::kDateTime, KxKeyKind::kNone, 0, 8, 1, nullptr},
    {"Title", KxFieldKind::kStrD, KxKeyKind::kNone, 8, 24, 1, nullptr},
    {"Laps", KxFieldKind::kArray, KxKeyKind::kNone, 32, 24, 1, &kCkxNote},
    {"Pool", KxFieldKind::kRecord, KxKeyKind::kNone, 56, 96, 1, &kCkxPool},
    {"Seq", KxFieldKind::kUInt32, KxKeyKind::kNone, 152, 4, 1, nullptr},
    {"Ids", KxFieldKind::kFixedInt32, KxKeyKind::kNone, 156, 8, 2, nullptr},
    {"Name", KxFieldKind::kStrDU, KxKeyKind::kNone, 168, 24, 1, nullptr},
    {"Born", KxFieldKind::kInt32, KxKeyKind::kNone, 192, 4, 1, nullptr},
    {"Ready", KxFieldKind::kBool, KxKeyKind::kNone, 196, 1, 1, nullptr},
    {"Time", KxFieldKind::kKxTime, KxKeyKind::kNone, 200, 8, 1, nullptr},
    {"Splits", KxFieldKind::kFixedUInt32, KxKeyKind::kNone, 208, 8, 2, nullptr},
};
inline constexpr KxRecordType kCkxRace = {"CkxRace", 216, kCkxRaceFields, 11};

// Member classes, one per class id.
inline constexpr KxMemberClass kClasses[] = {
    {4098, KxMemberKind::kSingle, KxKeyKind::kNone, &kCkxPool},
    {4099, KxMemberKind::kMap, KxKeyKind::kText, &kCkxRace},
    {4100, KxMemberKind::kArray, KxKeyKind::kNone, &kCkxNote},
};

inline constexpr KxFileMember kFT_CLUBMembers[] = {
    {"Pool", &kClasses[0]},
};

inline constexpr KxFileMember kFT_MEETMembers[] = {
    {"Races", &kClasses[1]},
    {"Notes", &kClasses[2]},
    {"Pool", &kClasses[0]},
};

inline constexpr KxFileType kFiles[] = {
    {"Small", "FT_CLUB", kFT_CLUBMembers, 1},
    {"Small", "FT_MEET", kFT_MEETMembers, 3},
};

inline constexpr KxCatalogue kCatalogue = {kFiles, 2, kClasses, 3};

}  // namespace KxVarnoxCatalogue

inline const KxCatalogue& VarnoxCatalogue() { return KxVarnoxCatalogue::kCatalogue; }
