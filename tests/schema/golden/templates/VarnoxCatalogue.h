// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The template catalogue of the "Small" family: every record with its
// fields, every member class by class id, every file type with its members.
// It includes only the kernel contract, so a kernel can use it without the
// library.
#pragma once

#include "contracts/kernel/KxCatalogue.h"

namespace KxVarnoxCatalogue {

inline constexpr KxRecordField kCkxSwimmerFields[] = {
    {"Name", KxFieldKind::kStrDU, KxKeyKind::kNone, 0, 24, 1, nullptr},
    {"Born", KxFieldKind::kInt32, KxKeyKind::kNone, 24, 4, 1, nullptr},
    {"Ready", KxFieldKind::kBool, KxKeyKind::kNone, 28, 1, 1, nullptr},
};
inline constexpr KxRecordType kCkxSwimmer = {"CkxSwimmer", 32, kCkxSwimmerFields, 3};

inline constexpr KxRecordField kCkxNoteFields[] = {
    {"str", KxFieldKind::kStrSU, KxKeyKind::kNone, 0, 132, 64, nullptr},
};
inline constexpr KxRecordType kCkxNote = {"CkxNote", 132, kCkxNoteFields, 1};

inline constexpr KxRecordField kCkxPoolFields[] = {
    {"Lanes", KxFieldKind::kInt32, KxKeyKind::kNone, 0, 4, 1, nullptr},
    {"Starts", KxFieldKind::kMap, KxKeyKind::kNumber, 8, 88, 1, &kCkxNote},
};
inline constexpr KxRecordType kCkxPool = {"CkxPool", 96, kCkxPoolFields, 2};

inline constexpr KxRecordField kCkxLapFields[] = {
    {"Time", KxFieldKind::kKxTime, KxKeyKind::kNone, 0, 8, 1, nullptr},
    {"Splits", KxFieldKind::kFixedUInt32, KxKeyKind::kNone, 8, 16, 4, nullptr},
};
inline constexpr KxRecordType kCkxLap = {"CkxLap", 24, kCkxLapFields, 2};

inline constexpr KxRecordField kCkxRaceFields[] = {
    {"Start", KxFieldKind::kDateTime, KxKeyKind::kNone, 0, 8, 1, nullptr},
    {"Title", KxFieldKind::kStrD, KxKeyKind::kNone, 8, 24, 1, nullptr},
    {"Laps", KxFieldKind::kArray, KxKeyKind::kNone, 32, 24, 1, &kCkxLap},
    {"Pool", KxFieldKind::kRecord, KxKeyKind::kNone, 56, 96, 1, &kCkxPool},
    {"Seq", KxFieldKind::kUInt32, KxKeyKind::kNone, 152, 4, 1, nullptr},
    {"Heats", KxFieldKind::kMap, KxKeyKind::kText, 160, 88, 1, &kCkxSwimmer},
    {"Ids", KxFieldKind::kFixedInt32, KxKeyKind::kNone, 248, 8, 2, nullptr},
};
inline constexpr KxRecordType kCkxRace = {"CkxRace", 256, kCkxRaceFields, 7};

// Member classes, one per class id.
inline constexpr KxMemberClass kClasses[] = {
    {4097, KxMemberKind::kMap, KxKeyKind::kNumber, &kCkxSwimmer},
    {4098, KxMemberKind::kSingle, KxKeyKind::kNone, &kCkxPool},
    {4099, KxMemberKind::kMap, KxKeyKind::kText, &kCkxRace},
    {4100, KxMemberKind::kArray, KxKeyKind::kNone, &kCkxNote},
};

inline constexpr KxFileMember kFT_CLUBMembers[] = {
    {"Swimmers", &kClasses[0]},
    {"Pool", &kClasses[1]},
};

inline constexpr KxFileMember kFT_MEETMembers[] = {
    {"Races", &kClasses[2]},
    {"Notes", &kClasses[3]},
    {"Pool", &kClasses[1]},
};

inline constexpr KxFileType kFiles[] = {
    {"Small", "FT_CLUB", kFT_CLUBMembers, 2},
    {"Small", "FT_MEET", kFT_MEETMembers, 3},
};

inline constexpr KxCatalogue kCatalogue = {kFiles, 2, kClasses, 4};

}  // namespace KxVarnoxCatalogue

inline const KxCatalogue& VarnoxCatalogue() { return KxVarnoxCatalogue::kCatalogue; }
