// Writing a document as a .lef with libxml2's text writer. Every value goes
// through its form (LenexValues.h); text is checked to be XML-safe UTF-8 so
// that what is written can always be read back.
#include <libxml/encoding.h>
#include <libxml/xmlwriter.h>

#include <memory>

#include "lenex/Lenex.h"

namespace Varnox::Lenex {

namespace {

// The text writer with the open elements, for the refusals of the model.
class LefWriter {
 public:
  LefWriter() : m_pBuffer(xmlBufferCreate()) {
    if (m_pBuffer != nullptr) m_pWriter = xmlNewTextWriterMemory(m_pBuffer, 0);
    if (m_pWriter == nullptr) Refuse("", "the XML writer cannot be started", "");
    xmlTextWriterSetIndent(m_pWriter, 1);
    xmlTextWriterSetIndentString(m_pWriter, BAD_CAST "  ");
    Check(xmlTextWriterStartDocument(m_pWriter, "1.0", "UTF-8", nullptr));
  }
  ~LefWriter() {
    if (m_pWriter != nullptr) xmlFreeTextWriter(m_pWriter);
    if (m_pBuffer != nullptr) xmlBufferFree(m_pBuffer);
  }
  LefWriter(const LefWriter&) = delete;
  LefWriter& operator=(const LefWriter&) = delete;

  std::string Finish() {
    Check(xmlTextWriterEndDocument(m_pWriter));
    xmlFreeTextWriter(m_pWriter);  // flushes into the buffer
    m_pWriter = nullptr;
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(m_pBuffer)),
                       static_cast<size_t>(xmlBufferLength(m_pBuffer)));
  }

  void Open(const char* csName) {
    m_Open.push_back(csName);
    Check(xmlTextWriterStartElement(m_pWriter, BAD_CAST csName));
  }
  void Close() {
    m_Open.pop_back();
    Check(xmlTextWriterEndElement(m_pWriter));
  }

  [[noreturn]] void Refuse(const char* csAttribute, const std::string& csProblem,
                           const std::string& csExpected) const {
    throw LenexError(m_Open.empty() ? "" : m_Open.back(), csAttribute, 0, csProblem, csExpected);
  }

  // --- attributes: one per value kind, each with its optional form ----------

  void Text(const char* csName, const std::string& csValue) {
    CheckText(csName, csValue);
    Check(xmlTextWriterWriteAttribute(m_pWriter, BAD_CAST csName, BAD_CAST csValue.c_str()));
  }
  void Number(const char* csName, int32_t iValue) { Raw(csName, std::to_string(iValue)); }
  void Time(const char* csName, const SwimTime& time) {
    if (time.hundredths && (*time.hundredths < 0 || *time.hundredths > kMaxSwimHundredths))
      Refuse(csName, std::to_string(*time.hundredths) + " hundredths cannot be written",
             "a time from 00:00:00.00 to 99:59:59.99");
    Raw(csName, FormatSwimTime(time));
  }
  void Reaction(const char* csName, const ReactionTime& time) {
    Raw(csName, FormatReactionTime(time));
  }
  void Day(const char* csName, const Date& date) {
    if (!IsValidDate(date)) Refuse(csName, "an impossible date", "a real day, years 1000 to 9999");
    Raw(csName, FormatDate(date));
  }
  void Clock(const char* csName, const Daytime& time) {
    if (time.hour > 23 || time.minute > 59)
      Refuse(csName, "an impossible time of day", "00:00 to 23:59");
    Raw(csName, FormatDaytime(time));
  }
  template <typename E>
  void Code(const char* csName, E value) {
    Raw(csName, std::string(Codes<E>::Code(value)));
  }

  // The optional form of each: nothing written for no value.
  template <typename T, typename Write>
  void Maybe(const char* csName, const std::optional<T>& value, Write write) {
    if (value) (this->*write)(csName, *value);
  }
  void Text(const char* csName, const std::optional<std::string>& value) {
    if (value) Text(csName, *value);
  }
  void Number(const char* csName, const std::optional<int32_t>& value) {
    if (value) Number(csName, *value);
  }
  template <typename E>
  void Code(const char* csName, const std::optional<E>& value) {
    if (value) Code(csName, *value);
  }

 private:
  void Raw(const char* csName, const std::string& csValue) {
    Check(xmlTextWriterWriteAttribute(m_pWriter, BAD_CAST csName, BAD_CAST csValue.c_str()));
  }

  // UTF-8 holding only characters XML 1.0 allows (tab, line breaks and
  // nothing else below a space).
  void CheckText(const char* csName, const std::string& csValue) const {
    for (const char c : csValue) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 && u != '\t' && u != '\n' && u != '\r')
        Refuse(csName, "a control character in the text", "text without control characters");
    }
    if (xmlCheckUTF8(BAD_CAST csValue.c_str()) == 0 || csValue.find('\0') != std::string::npos)
      Refuse(csName, "the text is not UTF-8", "UTF-8 text");
  }

  void Check(int iResult) const {
    if (iResult < 0) Refuse("", "libxml2's writer failed", "");
  }

  xmlBufferPtr m_pBuffer = nullptr;
  xmlTextWriterPtr m_pWriter = nullptr;
  std::vector<const char*> m_Open;
};

// Writes the elements of the model, parents before children.
class DocumentWriter {
 public:
  std::string Write(const Document& document) {
    w.Open("LENEX");
    w.Text("version", document.version);
    w.Text("revision", document.revision);
    WriteConstructor(document.constructor);
    if (!document.meets.empty()) {
      w.Open("MEETS");
      for (const Meet& meet : document.meets) WriteMeet(meet);
      w.Close();
    }
    if (!document.recordLists.empty()) {
      w.Open("RECORDLISTS");
      for (const RecordList& list : document.recordLists) WriteRecordList(list);
      w.Close();
    }
    w.Close();
    return w.Finish();
  }

 private:
  // Opens csList unless items is empty (or always, for a list the format
  // requires), writes each item with write, closes.
  template <typename T, typename F>
  void List(const char* csList, const std::vector<T>& items, F write, bool bRequired = false) {
    if (items.empty() && !bRequired) return;
    w.Open(csList);
    for (const T& item : items) write(item);
    w.Close();
  }

  void WriteContact(const Contact& contact) {
    w.Open("CONTACT");
    w.Text("name", contact.name);
    w.Text("street", contact.street);
    w.Text("zip", contact.zip);
    w.Text("city", contact.city);
    w.Text("country", contact.country);
    w.Text("phone", contact.phone);
    w.Text("email", contact.email);
    w.Text("internet", contact.internet);
    w.Close();
  }

  void WriteConstructor(const Constructor& constructor) {
    w.Open("CONSTRUCTOR");
    if (!constructor.name.empty()) w.Text("name", constructor.name);
    w.Text("registration", constructor.registration);
    w.Text("version", constructor.version);
    if (!constructor.contact.email) w.Refuse("email", "the writer's contact has no email", "email");
    WriteContact(constructor.contact);
    w.Close();
  }

  void WritePool(const Pool& pool) {
    w.Open("POOL");
    w.Number("lanemin", pool.laneMin);
    w.Number("lanemax", pool.laneMax);
    w.Text("type", pool.type);
    w.Close();
  }

  void WriteSwimStyle(const SwimStyle& style) {
    w.Open("SWIMSTYLE");
    w.Number("distance", style.distance);
    w.Number("relaycount", style.relayCount);
    w.Code("stroke", style.stroke);
    w.Text("name", style.name);
    w.Text("code", style.code);
    w.Code("technique", style.technique);
    w.Number("swimstyleid", style.swimStyleId);
    w.Close();
  }

  void WriteMeetInfo(const MeetInfo& info) {
    w.Open("MEETINFO");
    w.Text("name", info.name);
    w.Text("city", info.city);
    w.Text("nation", info.nation);
    w.Maybe("date", info.date, &LefWriter::Day);
    w.Maybe("daytime", info.daytime, &LefWriter::Clock);
    w.Code("course", info.course);
    w.Code("timing", info.timing);
    w.Close();
  }

  void WriteSplits(const std::vector<Split>& splits) {
    List("SPLITS", splits, [&](const Split& split) {
      w.Open("SPLIT");
      w.Number("distance", split.distance);
      w.Time("swimtime", split.swimTime);
      w.Close();
    });
  }

  void WriteAgeGroup(const AgeGroup& group) {
    w.Open("AGEGROUP");
    w.Number("agegroupid", group.ageGroupId);
    w.Number("agemin", group.ageMin);
    w.Number("agemax", group.ageMax);
    w.Code("gender", group.gender);
    w.Text("name", group.name);
    List("RANKINGS", group.rankings, [&](const Ranking& ranking) {
      w.Open("RANKING");
      w.Number("place", ranking.place);
      w.Number("resultid", ranking.resultId);
      w.Number("order", ranking.order);
      w.Close();
    });
    w.Close();
  }

  void WriteMeet(const Meet& meet) {
    w.Open("MEET");
    w.Text("name", meet.name);
    w.Text("city", meet.city);
    w.Text("nation", meet.nation);
    w.Code("course", meet.course);
    w.Code("timing", meet.timing);
    if (meet.ageDate) {
      w.Open("AGEDATE");
      w.Code("type", meet.ageDate->type);
      w.Maybe("value", meet.ageDate->value, &LefWriter::Day);
      w.Close();
    }
    if (meet.pool) WritePool(*meet.pool);
    if (meet.contact) WriteContact(*meet.contact);
    List("SESSIONS", meet.sessions, [&](const Session& session) { WriteSession(session); }, true);
    List("CLUBS", meet.clubs, [&](const Club& club) { WriteClub(club); });
    w.Close();
  }

  void WriteSession(const Session& session) {
    w.Open("SESSION");
    w.Number("number", session.number);
    w.Day("date", session.date);
    w.Maybe("daytime", session.daytime, &LefWriter::Clock);
    w.Text("name", session.name);
    w.Code("course", session.course);
    w.Code("timing", session.timing);
    if (session.pool) WritePool(*session.pool);
    List("EVENTS", session.events, [&](const Event& event) { WriteEvent(event); }, true);
    w.Close();
  }

  void WriteEvent(const Event& event) {
    w.Open("EVENT");
    w.Number("eventid", event.eventId);
    w.Number("number", event.number);
    w.Code("gender", event.gender);
    w.Code("round", event.round);
    w.Maybe("daytime", event.daytime, &LefWriter::Clock);
    w.Number("order", event.order);
    w.Number("preveventid", event.prevEventId);
    w.Code("timing", event.timing);
    WriteSwimStyle(event.swimStyle);
    List("AGEGROUPS", event.ageGroups, [&](const AgeGroup& group) {
      if (!group.ageGroupId) w.Refuse("agegroupid", "an event's age group has no id", "an id");
      WriteAgeGroup(group);
    });
    List("HEATS", event.heats, [&](const Heat& heat) {
      w.Open("HEAT");
      w.Number("heatid", heat.heatId);
      w.Number("number", heat.number);
      w.Maybe("daytime", heat.daytime, &LefWriter::Clock);
      w.Number("agegroupid", heat.ageGroupId);
      w.Code("final", heat.final);
      w.Number("order", heat.order);
      w.Code("status", heat.status);
      w.Close();
    });
    w.Close();
  }

  void WriteClubFields(const Club& club) {
    if (!club.name.empty() || club.type != ClubType::kUnattached) w.Text("name", club.name);
    w.Text("shortname", club.shortName);
    w.Text("code", club.code);
    w.Text("nation", club.nation);
    w.Text("region", club.region);
    w.Code("type", club.type);
    w.Number("number", club.number);
  }

  void WriteClub(const Club& club) {
    w.Open("CLUB");
    WriteClubFields(club);
    List("ATHLETES", club.athletes, [&](const Athlete& athlete) {
      if (!athlete.athleteId) {
        w.Open("ATHLETE");
        w.Refuse("athleteid", "an athlete of a meet has no id", "an id");
      }
      WriteAthlete(athlete, nullptr);
    });
    List("RELAYS", club.relays, [&](const Relay& relay) {
      w.Open("RELAY");
      w.Code("gender", relay.gender);
      w.Number("agemin", relay.ageMin);
      w.Number("agemax", relay.ageMax);
      w.Number("agetotalmin", relay.ageTotalMin);
      w.Number("agetotalmax", relay.ageTotalMax);
      w.Number("number", relay.number);
      w.Text("name", relay.name);
      WriteEntries(relay.entries);
      WriteResults(relay.results);
      w.Close();
    });
    w.Close();
  }

  // An athlete of a meet, or of a record with its club nested inside.
  void WriteAthlete(const Athlete& athlete, const Club* pClub) {
    w.Open("ATHLETE");
    w.Number("athleteid", athlete.athleteId);
    w.Text("lastname", athlete.lastName);
    w.Text("firstname", athlete.firstName);
    if (athlete.gender != Gender::kMale && athlete.gender != Gender::kFemale)
      w.Refuse("gender", "an athlete's gender must be M or F", "one of M, F");
    w.Code("gender", athlete.gender);
    w.Maybe("birthdate", athlete.birthDate, &LefWriter::Day);
    w.Text("nation", athlete.nation);
    w.Text("license", athlete.license);
    w.Text("nameprefix", athlete.namePrefix);
    if (pClub != nullptr) {
      w.Open("CLUB");
      WriteClubFields(*pClub);
      w.Close();
    }
    WriteEntries(athlete.entries);
    WriteResults(athlete.results);
    w.Close();
  }

  void WriteRelayPositions(const std::vector<RelayPosition>& positions) {
    List("RELAYPOSITIONS", positions, [&](const RelayPosition& position) {
      w.Open("RELAYPOSITION");
      w.Number("number", position.number);
      w.Number("athleteid", position.athleteId);
      w.Maybe("reactiontime", position.reactionTime, &LefWriter::Reaction);
      w.Code("status", position.status);
      for (const Athlete& athlete : position.athlete) WriteAthlete(athlete, nullptr);
      w.Close();
    });
  }

  void WriteEntries(const std::vector<Entry>& entries) {
    List("ENTRIES", entries, [&](const Entry& entry) {
      w.Open("ENTRY");
      w.Number("eventid", entry.eventId);
      w.Maybe("entrytime", entry.entryTime, &LefWriter::Time);
      w.Number("heatid", entry.heatId);
      w.Number("lane", entry.lane);
      w.Number("agegroupid", entry.ageGroupId);
      w.Code("entrycourse", entry.entryCourse);
      w.Code("status", entry.status);
      if (entry.meetInfo) WriteMeetInfo(*entry.meetInfo);
      WriteRelayPositions(entry.relayPositions);
      w.Close();
    });
  }

  void WriteResults(const std::vector<Result>& results) {
    List("RESULTS", results, [&](const Result& result) {
      w.Open("RESULT");
      w.Number("resultid", result.resultId);
      w.Number("eventid", result.eventId);
      w.Number("heatid", result.heatId);
      w.Number("lane", result.lane);
      w.Time("swimtime", result.swimTime);
      w.Code("status", result.status);
      w.Number("points", result.points);
      w.Maybe("reactiontime", result.reactionTime, &LefWriter::Reaction);
      w.Text("comment", result.comment);
      WriteSplits(result.splits);
      WriteRelayPositions(result.relayPositions);
      w.Close();
    });
  }

  void WriteRecordList(const RecordList& list) {
    w.Open("RECORDLIST");
    w.Text("name", list.name);
    w.Code("course", list.course);
    if (list.gender == Gender::kAll)
      w.Refuse("gender", "a record list's gender must be M, F or X", "one of M, F, X");
    w.Code("gender", list.gender);
    w.Text("type", list.type);
    w.Text("nation", list.nation);
    w.Text("region", list.region);
    w.Maybe("updated", list.updated, &LefWriter::Day);
    if (list.ageGroup) WriteAgeGroup(*list.ageGroup);
    List("RECORDS", list.records, [&](const Record& record) { WriteRecord(record); }, true);
    w.Close();
  }

  void WriteRecord(const Record& record) {
    w.Open("RECORD");
    w.Time("swimtime", record.swimTime);
    w.Text("comment", record.comment);
    w.Code("status", record.status);
    WriteSwimStyle(record.swimStyle);
    if (record.athlete)
      WriteAthlete(*record.athlete, record.athleteClub ? &*record.athleteClub : nullptr);
    if (record.relay) {
      w.Open("RELAY");
      if (record.relay->club) {
        w.Open("CLUB");
        WriteClubFields(*record.relay->club);
        w.Close();
      }
      WriteRelayPositions(record.relay->relayPositions);
      w.Close();
    }
    if (record.meetInfo) {
      if (!record.meetInfo->city || !record.meetInfo->nation || !record.meetInfo->date)
        w.Refuse("", "a record's MEETINFO lacks city, nation or date", "city, nation and date");
      WriteMeetInfo(*record.meetInfo);
    }
    WriteSplits(record.splits);
    w.Close();
  }

  LefWriter w;
};

}  // namespace

std::string WriteLef(const Document& document) { return DocumentWriter().Write(document); }

}  // namespace Varnox::Lenex
