// The containment tree of the Varnox files as the object face sees it: one
// entry per member path (FT_RACES_ScheduleEntries_Heats_LaneResults), with
// its parent, its level in an index path, its shape and the object-face
// classes that serve it. The generated VarnoxObjectFace.h holds the tree of
// the schema as kVarnoxPaths, parents before their children.
#pragma once

#include <cstdint>

// How the object face reaches and offers a member path.
enum class VarnoxPathShape : uint8_t {
  kTopMap,     // top-level keyed map: D2o wrapper, D2m proxy per element
  kTopArray,   // top-level dynamic array: D2o wrapper, D2m proxy per element
  kTopSingle,  // top-level single record: the D2o wrapper carries the record's
               // properties itself (Id2o interface); no proxy, no level
  kMap,        // keyed map inside a record: D2i wrapper, D2m proxy
  kArray,      // dynamic array of records inside a record: D2i wrapper, D2m proxy
  kValues,     // fixed array of 32-bit values inside a record: D2i wrapper only
  kEmbedded,   // record laid out inside its parent's record: D2m proxy only, no level
};

// How the elements of a map are addressed on the object face.
enum class VarnoxPathKey : uint8_t { kNone, kUInt64, kString };

struct VarnoxPathInfo {
  const char* name;         // FT_RACES_ScheduleEntries_Heats
  const char* member;       // Heats: the top-level member or the record field
  int32_t parent;           // index in the tree of the parent path; -1 at the top
  int32_t depth;            // level of its elements in an index path (GetDeep);
                            // a top-level single has none (-1), an embedded
                            // record its parent's
  VarnoxPathShape shape;
  VarnoxPathKey key;
  uint32_t offset;          // byte offset inside the record the walk reached one
                            // level up (an embedded record's containers count
                            // from that record); 0 at the top
  const char* record;       // element or embedded record; null for values
  const char* value;        // "int32" or "uint32" for values, else null
  const char* memberClass;  // the native member object every walk starts from
  const char* wrapper;      // D2oVarnox_<path> or D2iVarnox_<path>; null for an embedded record
  const char* proxy;        // D2mVarnox_<path>; null for a top-level single and values
  const char* interface;    // Id2s<Record>, Id2o<Record> for a top-level single; null for values
  const char* viewModel;    // Mvvm<Record>; null for values
  const char* dataContext;  // The<Member>MvvmDC of the file wrapper; null below the top
};

// The object-face classes named after a record.
struct VarnoxRecordFace {
  const char* record;           // CkxPoolConfig
  const char* interface;        // Id2sCkxPoolConfig
  const char* objectInterface;  // Id2oCkxPoolConfig where the record is a top-level single, else null
  const char* viewModel;        // MvvmCkxPoolConfig
};
