// The LENEX 3 document model: plain structs, one per element the timing
// installation reads or writes. An attribute the format makes optional is a
// std::optional (absent in the file = no value); a required one is a plain
// member. Child lists keep the order of the file. Elements and attributes
// outside this model are skipped on reading and never written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lenex/LenexValues.h"

namespace Varnox::Lenex {

// The line an element began on in the file it was read from (0 when the
// model was built in memory), so that a refusal after reading can still
// name it. It is no part of the document's value: any two compare equal.
struct SourceLine {
  int line = 0;
  bool operator==(const SourceLine&) const { return true; }
};

// CONTACT: of the writing program (email required there), of a meet.
struct Contact {
  std::optional<std::string> name, street, zip, city, country, phone, email, internet;
  bool operator==(const Contact&) const = default;
};

// CONSTRUCTOR: the program that wrote the file.
struct Constructor {
  std::string name;  // optional in the format; written when not empty
  std::string registration;
  std::string version;
  Contact contact;  // email required
  bool operator==(const Constructor&) const = default;
};

// AGEDATE: the day ages are counted on (YEAR: by birth year).
struct AgeDate {
  AgeDateType type = AgeDateType::kYear;
  std::optional<Date> value;
  bool operator==(const AgeDate&) const = default;
};

// POOL: the lane range (lanes = laneMax - laneMin + 1).
struct Pool {
  std::optional<int32_t> laneMin, laneMax;
  std::optional<std::string> type;
  bool operator==(const Pool&) const = default;
};

// SWIMSTYLE. For relays, distance is per swimmer (4x100 -> 100).
struct SwimStyle {
  int32_t distance = 0;
  int32_t relayCount = 1;
  Stroke stroke = Stroke::kFree;
  std::optional<std::string> name;  // given with stroke UNKNOWN
  std::optional<std::string> code;  // at most 6 characters
  std::optional<Technique> technique;
  std::optional<int32_t> swimStyleId;
  bool operator==(const SwimStyle&) const = default;
};

// RANKING: places live here, never on RESULT; -1 = unplaced.
struct Ranking {
  int32_t place = 0;
  int32_t resultId = 0;
  std::optional<int32_t> order;
  bool operator==(const Ranking&) const = default;
};

// AGEGROUP. agemin/agemax -1 = open. Required id in an event; a record
// list's age group carries none.
struct AgeGroup {
  std::optional<int32_t> ageGroupId;
  int32_t ageMin = -1;
  int32_t ageMax = -1;
  std::optional<Gender> gender;
  std::optional<std::string> name;
  std::vector<Ranking> rankings;
  bool operator==(const AgeGroup&) const = default;
};

// HEAT: heatId unique in the meet, number unique in its event.
struct Heat {
  int32_t heatId = 0;
  int32_t number = 0;
  std::optional<Daytime> daytime;
  std::optional<int32_t> ageGroupId;
  std::optional<HeatFinal> final;
  std::optional<int32_t> order;
  std::optional<HeatStatus> status;
  bool operator==(const Heat&) const = default;
};

// EVENT: one per round; eventId unique in the meet.
struct Event {
  int32_t eventId = 0;
  int32_t number = 0;
  SwimStyle swimStyle;
  std::optional<Gender> gender;  // A, M, F or X; absent = A
  std::optional<Round> round;    // absent = TIM
  std::optional<Daytime> daytime;
  std::optional<int32_t> order;
  std::optional<int32_t> prevEventId;  // -1 = none
  std::optional<Timing> timing;
  std::vector<AgeGroup> ageGroups;
  std::vector<Heat> heats;
  bool operator==(const Event&) const = default;
};

// SESSION: number unique in the meet.
struct Session {
  int32_t number = 0;
  Date date;
  std::optional<Daytime> daytime;
  std::optional<std::string> name;
  std::optional<Course> course;
  std::optional<Timing> timing;
  std::optional<Pool> pool;
  std::vector<Event> events;
  bool operator==(const Session&) const = default;
};

// MEETINFO: where a time was swum (city, nation and date required in a
// record).
struct MeetInfo {
  std::optional<std::string> name, city, nation;
  std::optional<Date> date;
  std::optional<Daytime> daytime;
  std::optional<Course> course;
  std::optional<Timing> timing;
  bool operator==(const MeetInfo&) const = default;
};

// SPLIT: a running total from the start at a distance; distances ascend.
struct Split {
  int32_t distance = 0;
  SwimTime swimTime;
  SourceLine source;
  bool operator==(const Split&) const = default;
};

struct Athlete;

// RELAYPOSITION: leg 1..n, -1 = reserve. In a meet it names an athlete of
// the meet by id; in a record it holds the athlete itself.
struct RelayPosition {
  int32_t number = 0;
  std::optional<int32_t> athleteId;
  std::optional<ReactionTime> reactionTime;
  std::optional<ResultStatus> status;  // DSQ or DNF
  std::vector<Athlete> athlete;        // at most one, in records only
  bool operator==(const RelayPosition&) const;
};

// ENTRY: a start list entry when heatId and lane are set. (eventId, heatId,
// lane) is unique in the meet.
struct Entry {
  int32_t eventId = 0;
  std::optional<SwimTime> entryTime;
  std::optional<int32_t> heatId, lane, ageGroupId;
  std::optional<Course> entryCourse;
  std::optional<EntryStatus> status;
  std::optional<MeetInfo> meetInfo;
  std::vector<RelayPosition> relayPositions;  // relays only
  SourceLine source;
  bool operator==(const Entry&) const = default;
};

// RESULT: resultId unique in the meet.
struct Result {
  int32_t resultId = 0;
  SwimTime swimTime;
  std::optional<int32_t> eventId, heatId, lane;
  std::optional<ResultStatus> status;
  std::optional<int32_t> points;
  std::optional<ReactionTime> reactionTime;
  std::optional<std::string> comment;
  std::vector<Split> splits;
  std::vector<RelayPosition> relayPositions;  // relays only
  SourceLine source;
  bool operator==(const Result&) const = default;
};

// ATHLETE. In a meet the id is required and the entries and results hang
// here; in a record the athlete stands alone (no id needed). A missing
// birth date is tolerated on reading.
struct Athlete {
  std::optional<int32_t> athleteId;
  std::string lastName;
  std::string firstName;
  Gender gender = Gender::kMale;  // M or F
  std::optional<Date> birthDate;
  std::optional<std::string> nation, license, namePrefix;
  std::vector<Entry> entries;
  std::vector<Result> results;
  bool operator==(const Athlete&) const = default;
};

// RELAY of a meet: ages -1 = no limit.
struct Relay {
  Gender gender = Gender::kMixed;
  int32_t ageMin = -1, ageMax = -1, ageTotalMin = -1, ageTotalMax = -1;
  std::optional<int32_t> number;
  std::optional<std::string> name;
  std::vector<Entry> entries;
  std::vector<Result> results;
  bool operator==(const Relay&) const = default;
};

// CLUB. UNATTACHED clubs may leave the name empty (then it is not written).
struct Club {
  std::string name;
  std::optional<std::string> shortName, code, nation, region;
  std::optional<ClubType> type;
  std::optional<int32_t> number;
  std::vector<Athlete> athletes;
  std::vector<Relay> relays;
  bool operator==(const Club&) const = default;
};

// MEET: course given here or on every session.
struct Meet {
  std::string name;
  std::string city;
  std::string nation;
  std::optional<Course> course;
  std::optional<Timing> timing;
  std::optional<AgeDate> ageDate;
  std::optional<Pool> pool;
  std::optional<Contact> contact;
  std::vector<Session> sessions;
  std::vector<Club> clubs;
  SourceLine source;
  bool operator==(const Meet&) const = default;
};

// The swimmer of a record: an athlete (with an optional club) or a relay
// (a club and the legs with their athletes); neither = a target time.
struct RecordRelay {
  std::optional<Club> club;  // name and codes only
  std::vector<RelayPosition> relayPositions;
  bool operator==(const RecordRelay&) const = default;
};

struct Record {
  SwimTime swimTime;
  SwimStyle swimStyle;
  std::optional<Athlete> athlete;
  std::optional<Club> athleteClub;  // the CLUB inside ATHLETE
  std::optional<RecordRelay> relay;
  std::optional<MeetInfo> meetInfo;
  std::vector<Split> splits;
  std::optional<std::string> comment;
  std::optional<RecordStatus> status;
  bool operator==(const Record&) const = default;
};

// RECORDLIST: one per type x gender x course x age group.
struct RecordList {
  std::string name;
  Course course = Course::kLCM;
  Gender gender = Gender::kMale;  // M, F or X
  std::optional<std::string> type, nation, region;
  std::optional<Date> updated;
  std::optional<AgeGroup> ageGroup;  // absent = open
  std::vector<Record> records;
  bool operator==(const RecordList&) const = default;
};

// LENEX: the document.
struct Document {
  std::string version = "3.0";
  std::optional<std::string> revision;
  Constructor constructor;
  std::vector<Meet> meets;
  std::vector<RecordList> recordLists;
  bool operator==(const Document&) const = default;
};

inline bool RelayPosition::operator==(const RelayPosition& other) const {
  return number == other.number && athleteId == other.athleteId &&
         reactionTime == other.reactionTime && status == other.status &&
         athlete == other.athlete;
}

}  // namespace Varnox::Lenex
