// The second stage of reading: the element tree of a .lef mapped onto the
// document model, every attribute through its form (LenexValues.h), then the
// references between ids checked meet by meet.
#include <algorithm>
#include <utility>

#include "lenex/Lenex.h"
#include "lenex/LenexIdMap.h"
#include "lenex/LenexTree.h"

namespace Varnox::Lenex {

namespace {

using Detail::IdSet;
using Detail::kNoName;
using Detail::kNoNode;
using Detail::LiteralName;
using Detail::Node;
using Detail::Tree;

// How one attribute's text becomes a value, and what the text should have
// looked like.
template <typename T>
struct Form {
  std::optional<T> (*parse)(std::string_view);
  std::string (*expected)();
};

const Form<std::string> kText{
    [](std::string_view text) { return std::optional<std::string>(text); },
    [] { return std::string("text"); }};
const Form<int32_t> kNumber{ParseNumber, [] { return std::string("a 32-bit integer"); }};
const Form<SwimTime> kSwimTime{ParseSwimTime, [] { return std::string("HH:MM:SS.hh or NT"); }};
const Form<ReactionTime> kReactionTime{
    ParseReactionTime, [] { return std::string("signed hundredths (+71) or seconds (+0.71)"); }};
const Form<Date> kDate{ParseDate, [] { return std::string("a date YYYY-MM-DD"); }};
const Form<Daytime> kDaytime{ParseDaytime, [] { return std::string("a time of day HH:MM"); }};

template <typename E>
const Form<E> kCode{Codes<E>::Parse, Codes<E>::Expected};

// Genders by place: athletes M/F, events A/M/F/X, record lists M/F/X.
const Form<Gender> kAthleteGender{
    [](std::string_view text) {
      const auto gender = Codes<Gender>::Parse(text);
      return gender == Gender::kMale || gender == Gender::kFemale ? gender : std::nullopt;
    },
    [] { return std::string("one of M, F"); }};
const Form<Gender> kListGender{[](std::string_view text) {
                                 const auto gender = Codes<Gender>::Parse(text);
                                 return gender == Gender::kAll ? std::nullopt : gender;
                               },
                               [] { return std::string("one of M, F, X"); }};

// One element of the tree, with the reading of its attributes and children.
class Element {
 public:
  Element(const Tree& tree, uint32_t uiIndex) : m_Tree(tree), m_Node(tree.nodes[uiIndex]) {}

  std::string Name() const { return std::string(m_Tree.Name(m_Node.name)); }
  int Line() const { return m_Node.line; }

  [[noreturn]] void Refuse(const std::string& csAttribute, const std::string& csProblem,
                           const std::string& csExpected) const {
    throw LenexError(Name(), csAttribute, Line(), csProblem, csExpected);
  }

  std::optional<std::string_view> Find(LiteralName attribute) const {
    const uint32_t uiName = m_Tree.IdOf(attribute);
    if (uiName == kNoName) return std::nullopt;
    const Detail::Attribute* pAttribute = m_Tree.attributes.data() + m_Node.firstAttribute;
    for (const Detail::Attribute* pEnd = pAttribute + m_Node.attributeCount; pAttribute != pEnd;
         ++pAttribute) {
      if (pAttribute->name == uiName) return m_Tree.Value(*pAttribute);
    }
    return std::nullopt;
  }

  template <typename T>
  std::optional<T> Optional(LiteralName attribute, const Form<T>& form) const {
    const std::optional<std::string_view> text = Find(attribute);
    if (!text) return std::nullopt;
    std::optional<T> value = form.parse(*text);
    if (!value)
      Refuse(attribute.text, "\"" + std::string(*text) + "\" is not valid", form.expected());
    return value;
  }

  template <typename T>
  T Required(LiteralName attribute, const Form<T>& form) const {
    std::optional<T> value = Optional(attribute, form);
    if (!value) Refuse(attribute.text, "the required attribute is missing", form.expected());
    return std::move(*value);
  }

  std::optional<Element> Child(LiteralName name) const {
    const uint32_t uiName = m_Tree.IdOf(name);
    if (uiName == kNoName) return std::nullopt;
    for (uint32_t i = m_Node.firstChild; i != kNoNode; i = m_Tree.nodes[i].nextSibling) {
      if (m_Tree.nodes[i].name == uiName) return Element(m_Tree, i);
    }
    return std::nullopt;
  }

  Element RequiredChild(LiteralName name) const {
    std::optional<Element> child = Child(name);
    if (!child)
      Refuse("", std::string("the required child ") + name.text + " is missing", name.text);
    return *child;
  }

  // The items of the list elements named csList: <SESSIONS><SESSION/>...
  // </SESSIONS>, walked in file order without copying.
  class Items {
   public:
    class Iterator {
     public:
      Iterator(const Items& items, uint32_t uiList) : m_Items(items), m_uiList(uiList) {
        m_uiItem = m_uiList == kNoNode ? kNoNode : FirstItemFrom(NodeAt(m_uiList).firstChild);
        SettleOnItem();
      }
      Element operator*() const { return Element(m_Items.m_Tree, m_uiItem); }
      Iterator& operator++() {
        m_uiItem = FirstItemFrom(NodeAt(m_uiItem).nextSibling);
        SettleOnItem();
        return *this;
      }
      bool operator!=(const Iterator& other) const { return m_uiItem != other.m_uiItem; }

     private:
      const Node& NodeAt(uint32_t i) const { return m_Items.m_Tree.nodes[i]; }
      uint32_t FirstNamed(uint32_t i, uint32_t uiName) const {
        while (i != kNoNode && NodeAt(i).name != uiName) i = NodeAt(i).nextSibling;
        return i;
      }
      uint32_t FirstItemFrom(uint32_t i) const { return FirstNamed(i, m_Items.m_uiItem); }
      // Past the end of one list, on to the first item of the next.
      void SettleOnItem() {
        while (m_uiItem == kNoNode && m_uiList != kNoNode) {
          m_uiList = FirstNamed(NodeAt(m_uiList).nextSibling, m_Items.m_uiList);
          if (m_uiList != kNoNode) m_uiItem = FirstItemFrom(NodeAt(m_uiList).firstChild);
        }
      }
      const Items& m_Items;
      uint32_t m_uiList;
      uint32_t m_uiItem = kNoNode;
    };

    // A name the document never uses matches no element (kNoName).
    Items(const Tree& tree, const Node& parent, LiteralName list, LiteralName item)
        : m_Tree(tree), m_Parent(parent), m_uiList(tree.IdOf(list)), m_uiItem(tree.IdOf(item)) {}
    Iterator begin() const {
      uint32_t i = m_uiList == kNoName || m_uiItem == kNoName ? kNoNode : m_Parent.firstChild;
      while (i != kNoNode && m_Tree.nodes[i].name != m_uiList) i = m_Tree.nodes[i].nextSibling;
      return Iterator(*this, i);
    }
    Iterator end() const { return Iterator(*this, kNoNode); }
    size_t Count() const {
      size_t uiCount = 0;
      for (Iterator it = begin(); it != end(); ++it) ++uiCount;
      return uiCount;
    }

   private:
    const Tree& m_Tree;
    const Node& m_Parent;
    uint32_t m_uiList;
    uint32_t m_uiItem;
  };

  Items ItemsOf(LiteralName list, LiteralName item) const {
    return Items(m_Tree, m_Node, list, item);
  }

 private:
  const Tree& m_Tree;
  const Node& m_Node;
};

// Where an id was defined or used, for the checks after a meet is read.
struct Use {
  const char* element;
  const char* attribute;
  int line;
  int32_t id;
};

[[noreturn]] void RefuseUse(const Use& use, const std::string& csProblem,
                            const std::string& csExpected) {
  throw LenexError(use.element, use.attribute, use.line, csProblem, csExpected);
}

// Refuses a second element with an id already taken in its scope.
void Claim(IdSet& taken, const Element& element, const char* csAttribute, int32_t iId,
           const char* csScope) {
  if (!taken.Insert(iId))
    element.Refuse(csAttribute, std::to_string(iId) + " is used twice",
                   std::string("an id unique in the ") + csScope);
}

// Reads one document; the meet-wide id tables live here while a meet is read.
class DocumentReader {
 public:
  DocumentReader(const Tree& tree, MeetReceiver* pReceiver)
      : m_Tree(tree), m_pReceiver(pReceiver) {}

  Document Read() {
    const Element root(m_Tree, 0);
    if (root.Name() != "LENEX")
      root.Refuse("", "the document is no LENEX document (root element " + root.Name() + ")",
                  "root element LENEX");
    Document document;
    document.version = root.Required("version", kText);
    if (document.version.empty() || document.version[0] != '3')
      root.Refuse("version", "version \"" + document.version + "\" is not read", "3.0 or 3.1");
    document.revision = root.Optional("revision", kText);
    document.constructor = ReadConstructor(root.RequiredChild("CONSTRUCTOR"));
    for (const Element meet : root.ItemsOf("MEETS", "MEET"))
      document.meets.push_back(ReadMeet(meet));
    for (const Element list : root.ItemsOf("RECORDLISTS", "RECORDLIST"))
      document.recordLists.push_back(ReadRecordList(list));
    return document;
  }

 private:
  // The items, each read by `read`, in a vector sized once: the model's
  // elements are large, and growing by doubling would move them repeatedly.
  template <class Read>
  static auto ReadEach(const Element::Items& items, Read&& read) {
    std::vector<std::decay_t<decltype(read(*items.begin()))>> values;
    values.reserve(items.Count());
    for (const Element element : items) values.push_back(read(element));
    return values;
  }

  // --- shared elements ------------------------------------------------------

  static Contact ReadContact(const Element& element) {
    Contact contact;
    contact.name = element.Optional("name", kText);
    contact.street = element.Optional("street", kText);
    contact.zip = element.Optional("zip", kText);
    contact.city = element.Optional("city", kText);
    contact.country = element.Optional("country", kText);
    contact.phone = element.Optional("phone", kText);
    contact.email = element.Optional("email", kText);
    contact.internet = element.Optional("internet", kText);
    return contact;
  }

  static Constructor ReadConstructor(const Element& element) {
    Constructor constructor;
    constructor.name = element.Optional("name", kText).value_or("");
    constructor.registration = element.Required("registration", kText);
    constructor.version = element.Required("version", kText);
    const Element contact = element.RequiredChild("CONTACT");
    constructor.contact = ReadContact(contact);
    contact.Required("email", kText);
    return constructor;
  }

  static Pool ReadPool(const Element& element) {
    Pool pool;
    pool.laneMin = element.Optional("lanemin", kNumber);
    pool.laneMax = element.Optional("lanemax", kNumber);
    pool.type = element.Optional("type", kText);
    if (pool.laneMin && *pool.laneMin < 0)
      element.Refuse("lanemin", "a negative lane", "0 or more");
    if (pool.laneMin && pool.laneMax && *pool.laneMax < *pool.laneMin)
      element.Refuse("lanemax", "lanemax is below lanemin", "lanemax >= lanemin");
    return pool;
  }

  static SwimStyle ReadSwimStyle(const Element& element) {
    SwimStyle style;
    style.distance = element.Required("distance", kNumber);
    style.relayCount = element.Required("relaycount", kNumber);
    style.stroke = element.Required("stroke", kCode<Stroke>);
    style.name = element.Optional("name", kText);
    style.code = element.Optional("code", kText);
    style.technique = element.Optional("technique", kCode<Technique>);
    style.swimStyleId = element.Optional("swimstyleid", kNumber);
    if (style.distance <= 0)
      element.Refuse("distance", "a distance of 0 or less", "a distance > 0");
    if (style.relayCount < 1)
      element.Refuse("relaycount", "a relay count below 1", "1 (individual) or more");
    return style;
  }

  static MeetInfo ReadMeetInfo(const Element& element, bool bInRecord) {
    MeetInfo info;
    info.name = element.Optional("name", kText);
    info.city = bInRecord ? element.Required("city", kText) : element.Optional("city", kText);
    info.nation = bInRecord ? element.Required("nation", kText) : element.Optional("nation", kText);
    info.date = bInRecord ? element.Required("date", kDate) : element.Optional("date", kDate);
    info.daytime = element.Optional("daytime", kDaytime);
    info.course = element.Optional("course", kCode<Course>);
    info.timing = element.Optional("timing", kCode<Timing>);
    return info;
  }

  static std::vector<Split> ReadSplits(const Element& parent) {
    std::vector<Split> splits;
    const Element::Items items = parent.ItemsOf("SPLITS", "SPLIT");
    splits.reserve(items.Count());
    for (const Element element : items) {
      Split split{element.Required("distance", kNumber),
                  element.Required("swimtime", kSwimTime),
                  {element.Line()}};
      if (split.distance <= 0)
        element.Refuse("distance", "a split distance of 0 or less", "a distance > 0");
      if (!splits.empty() && split.distance <= splits.back().distance)
        element.Refuse("distance", "split distances do not ascend",
                       "a distance above " + std::to_string(splits.back().distance));
      splits.push_back(split);
    }
    return splits;
  }

  static AgeGroup ReadAgeGroup(const Element& element, bool bInEvent) {
    AgeGroup group;
    group.ageGroupId = bInEvent ? element.Required("agegroupid", kNumber)
                                : element.Optional("agegroupid", kNumber);
    group.ageMin = element.Required("agemin", kNumber);
    group.ageMax = element.Required("agemax", kNumber);
    group.gender = element.Optional("gender", kCode<Gender>);
    group.name = element.Optional("name", kText);
    return group;
  }

  // An athlete of a meet (id, entries, results) or of a record.
  Athlete ReadAthlete(const Element& element, bool bInMeet) {
    Athlete athlete;
    athlete.athleteId =
        bInMeet ? element.Required("athleteid", kNumber) : element.Optional("athleteid", kNumber);
    athlete.lastName = element.Required("lastname", kText);
    athlete.firstName = element.Required("firstname", kText);
    athlete.gender = element.Required("gender", kAthleteGender);
    athlete.birthDate = element.Optional("birthdate", kDate);
    athlete.nation = element.Optional("nation", kText);
    athlete.license = element.Optional("license", kText);
    athlete.namePrefix = element.Optional("nameprefix", kText);
    if (!bInMeet) return athlete;
    Claim(m_AthleteIds, element, "athleteid", *athlete.athleteId, "meet");
    athlete.entries = ReadEach(element.ItemsOf("ENTRIES", "ENTRY"),
                               [&](const Element& entry) { return ReadEntry(entry); });
    athlete.results = ReadEach(element.ItemsOf("RESULTS", "RESULT"),
                               [&](const Element& result) { return ReadResult(result); });
    return athlete;
  }

  std::vector<RelayPosition> ReadRelayPositions(const Element& parent, bool bInMeet) {
    std::vector<RelayPosition> positions;
    for (const Element element : parent.ItemsOf("RELAYPOSITIONS", "RELAYPOSITION")) {
      RelayPosition position;
      position.number = element.Required("number", kNumber);
      position.athleteId = element.Optional("athleteid", kNumber);
      position.reactionTime = element.Optional("reactiontime", kReactionTime);
      position.status = element.Optional("status", kCode<ResultStatus>);
      if (bInMeet && position.athleteId)
        m_AthleteUses.push_back(
            {"RELAYPOSITION", "athleteid", element.Line(), *position.athleteId});
      if (!bInMeet) {
        if (const auto athlete = element.Child("ATHLETE"))
          position.athlete.push_back(ReadAthlete(*athlete, false));
      }
      positions.push_back(std::move(position));
    }
    return positions;
  }

  static Club ReadClubFields(const Element& element) {
    Club club;
    club.type = element.Optional("type", kCode<ClubType>);
    club.name = club.type == ClubType::kUnattached ? element.Optional("name", kText).value_or("")
                                                   : element.Required("name", kText);
    club.shortName = element.Optional("shortname", kText);
    club.code = element.Optional("code", kText);
    club.nation = element.Optional("nation", kText);
    club.region = element.Optional("region", kText);
    club.number = element.Optional("number", kNumber);
    return club;
  }

  // --- the meet -------------------------------------------------------------

  Meet ReadMeet(const Element& element) {
    m_Events.Clear();
    m_Heats.Clear();
    m_AthleteIds.Clear();
    m_ResultIds.Clear();
    m_AthleteUses.clear();
    m_RankingUses.clear();
    m_StartSlots.Clear();
    // The first meet's tables sized at once for all such elements of the
    // document (usually its one meet's); only once, so that many meets
    // cost no more than the document's size.
    if (std::exchange(m_bFirstMeet, false)) {
      m_Heats.Reserve(m_Tree.CountOf("HEAT"));
      m_AthleteIds.Reserve(m_Tree.CountOf("ATHLETE"));
      m_ResultIds.Reserve(m_Tree.CountOf("RESULT"));
    }
    m_PrevEventUses.clear();

    Meet meet;
    meet.source.line = element.Line();
    meet.name = element.Required("name", kText);
    meet.city = element.Required("city", kText);
    meet.nation = element.Required("nation", kText);
    meet.course = element.Optional("course", kCode<Course>);
    meet.timing = element.Optional("timing", kCode<Timing>);
    if (const auto ageDate = element.Child("AGEDATE")) {
      meet.ageDate =
          AgeDate{ageDate->Required("type", kCode<AgeDateType>), ageDate->Optional("value", kDate)};
    }
    if (const auto pool = element.Child("POOL")) meet.pool = ReadPool(*pool);
    if (const auto contact = element.Child("CONTACT")) meet.contact = ReadContact(*contact);
    element.RequiredChild("SESSIONS");

    IdSet sessionNumbers;
    for (const Element session : element.ItemsOf("SESSIONS", "SESSION")) {
      meet.sessions.push_back(ReadSession(session, meet));
      Claim(sessionNumbers, session, "number", meet.sessions.back().number, "meet");
    }
    if (m_pReceiver) m_pReceiver->OnSessions(meet);
    // Clubs after the sessions: entries and results name their events and heats.
    for (const Element club : element.ItemsOf("CLUBS", "CLUB"))
      meet.clubs.push_back(ReadClub(club));
    CheckReferences();
    return meet;
  }

  Session ReadSession(const Element& element, const Meet& meet) {
    Session session;
    session.number = element.Required("number", kNumber);
    session.date = element.Required("date", kDate);
    session.daytime = element.Optional("daytime", kDaytime);
    session.name = element.Optional("name", kText);
    session.course = element.Optional("course", kCode<Course>);
    session.timing = element.Optional("timing", kCode<Timing>);
    if (!session.course && !meet.course)
      element.Refuse("course", "no course on the session nor on the meet",
                     Codes<Course>::Expected());
    if (const auto pool = element.Child("POOL")) session.pool = ReadPool(*pool);
    element.RequiredChild("EVENTS");
    const std::optional<Pool>& pool = session.pool ? session.pool : meet.pool;
    session.events = ReadEach(element.ItemsOf("EVENTS", "EVENT"),
                              [&](const Element& event) { return ReadEvent(event, pool); });
    return session;
  }

  Event ReadEvent(const Element& element, const std::optional<Pool>& pool) {
    Event event;
    event.eventId = element.Required("eventid", kNumber);
    event.number = element.Required("number", kNumber);
    event.swimStyle = ReadSwimStyle(element.RequiredChild("SWIMSTYLE"));
    event.gender = element.Optional("gender", kCode<Gender>);
    event.round = element.Optional("round", kCode<Round>);
    event.daytime = element.Optional("daytime", kDaytime);
    event.order = element.Optional("order", kNumber);
    event.prevEventId = element.Optional("preveventid", kNumber);
    event.timing = element.Optional("timing", kCode<Timing>);
    const auto [pIds, bNewEvent] = m_Events.TryEmplace(event.eventId);
    if (!bNewEvent)
      element.Refuse("eventid", std::to_string(event.eventId) + " is used twice",
                     "an id unique in the meet");
    EventIds& ids = *pIds;
    ids.pool = pool;
    if (event.prevEventId && *event.prevEventId != -1)
      m_PrevEventUses.push_back({"EVENT", "preveventid", element.Line(), *event.prevEventId});

    for (const Element groupElement : element.ItemsOf("AGEGROUPS", "AGEGROUP")) {
      AgeGroup group = ReadAgeGroup(groupElement, true);
      Claim(ids.ageGroups, groupElement, "agegroupid", *group.ageGroupId, "event");
      const Element::Items rankings = groupElement.ItemsOf("RANKINGS", "RANKING");
      group.rankings.reserve(rankings.Count());
      for (const Element ranking : rankings) {
        group.rankings.push_back({ranking.Required("place", kNumber),
                                  ranking.Required("resultid", kNumber),
                                  ranking.Optional("order", kNumber)});
        m_RankingUses.push_back(
            {"RANKING", "resultid", ranking.Line(), group.rankings.back().resultId});
      }
      event.ageGroups.push_back(std::move(group));
    }
    IdSet heatNumbers;
    const Element::Items heats = element.ItemsOf("HEATS", "HEAT");
    event.heats.reserve(heats.Count());
    for (const Element heatElement : heats) {
      Heat heat;
      heat.heatId = heatElement.Required("heatid", kNumber);
      heat.number = heatElement.Required("number", kNumber);
      heat.daytime = heatElement.Optional("daytime", kDaytime);
      heat.ageGroupId = heatElement.Optional("agegroupid", kNumber);
      heat.final = heatElement.Optional("final", kCode<HeatFinal>);
      heat.order = heatElement.Optional("order", kNumber);
      heat.status = heatElement.Optional("status", kCode<HeatStatus>);
      const auto [pHeat, bNewHeat] = m_Heats.TryEmplace(heat.heatId);
      if (!bNewHeat)
        heatElement.Refuse("heatid", std::to_string(heat.heatId) + " is used twice",
                           "an id unique in the meet");
      pHeat->eventId = event.eventId;
      Claim(heatNumbers, heatElement, "number", heat.number, "event");
      if (heat.ageGroupId && !ids.ageGroups.Contains(*heat.ageGroupId))
        heatElement.Refuse("agegroupid",
                           "age group " + std::to_string(*heat.ageGroupId) + " is not in event " +
                               std::to_string(event.eventId),
                           "an agegroupid of the event's AGEGROUP");
      event.heats.push_back(heat);
    }
    return event;
  }

  Club ReadClub(const Element& element) {
    Club club = ReadClubFields(element);
    const Element::Items athletes = element.ItemsOf("ATHLETES", "ATHLETE");
    if (m_pReceiver) {
      for (const Element athlete : athletes)
        m_pReceiver->OnAthlete(club, ReadAthlete(athlete, true));
    } else {
      club.athletes =
          ReadEach(athletes, [&](const Element& athlete) { return ReadAthlete(athlete, true); });
    }
    for (const Element relayElement : element.ItemsOf("RELAYS", "RELAY")) {
      Relay relay;
      relay.gender = relayElement.Required("gender", kCode<Gender>);
      relay.ageMin = relayElement.Required("agemin", kNumber);
      relay.ageMax = relayElement.Required("agemax", kNumber);
      relay.ageTotalMin = relayElement.Required("agetotalmin", kNumber);
      relay.ageTotalMax = relayElement.Required("agetotalmax", kNumber);
      relay.number = relayElement.Optional("number", kNumber);
      relay.name = relayElement.Optional("name", kText);
      relay.entries = ReadEach(relayElement.ItemsOf("ENTRIES", "ENTRY"),
                               [&](const Element& entry) { return ReadEntry(entry); });
      relay.results = ReadEach(relayElement.ItemsOf("RESULTS", "RESULT"),
                               [&](const Element& result) { return ReadResult(result); });
      club.relays.push_back(std::move(relay));
    }
    if (m_pReceiver) m_pReceiver->OnRelays(club);
    return club;
  }

  // The event an entry or result names, its heat and age group and its lane
  // within the pool.
  void CheckPlace(const Element& element, int32_t iEventId, const std::optional<int32_t>& heatId,
                  const std::optional<int32_t>& lane,
                  const std::optional<int32_t>& ageGroupId) const {
    const EventIds* pEvent = m_Events.Find(iEventId);
    if (pEvent == nullptr)
      element.Refuse("eventid", "event " + std::to_string(iEventId) + " does not exist",
                     "the eventid of an EVENT of the meet");
    if (heatId) {
      const HeatIds* pHeat = m_Heats.Find(*heatId);
      if (pHeat == nullptr)
        element.Refuse("heatid", "heat " + std::to_string(*heatId) + " does not exist",
                       "the heatid of a HEAT of the meet");
      if (pHeat->eventId != iEventId)
        element.Refuse("heatid",
                       "heat " + std::to_string(*heatId) + " belongs to event " +
                           std::to_string(pHeat->eventId),
                       "a heat of event " + std::to_string(iEventId));
    }
    if (ageGroupId && !pEvent->ageGroups.Contains(*ageGroupId))
      element.Refuse("agegroupid",
                     "age group " + std::to_string(*ageGroupId) + " is not in event " +
                         std::to_string(iEventId),
                     "an agegroupid of the event's AGEGROUP");
    if (lane) {
      const std::optional<Pool>& pool = pEvent->pool;
      const int32_t iMin = pool && pool->laneMin ? *pool->laneMin : 0;
      const std::optional<int32_t> iMax = pool ? pool->laneMax : std::nullopt;
      if (*lane < iMin || (iMax && *lane > *iMax))
        element.Refuse("lane", "lane " + std::to_string(*lane) + " is outside the pool",
                       iMax ? "a lane from " + std::to_string(iMin) + " to " + std::to_string(*iMax)
                            : "a lane of " + std::to_string(iMin) + " or more");
    }
  }

  Entry ReadEntry(const Element& element) {
    Entry entry;
    entry.source.line = element.Line();
    entry.eventId = element.Required("eventid", kNumber);
    entry.entryTime = element.Optional("entrytime", kSwimTime);
    entry.heatId = element.Optional("heatid", kNumber);
    entry.lane = element.Optional("lane", kNumber);
    entry.ageGroupId = element.Optional("agegroupid", kNumber);
    entry.entryCourse = element.Optional("entrycourse", kCode<Course>);
    entry.status = element.Optional("status", kCode<EntryStatus>);
    if (const auto info = element.Child("MEETINFO")) entry.meetInfo = ReadMeetInfo(*info, false);
    entry.relayPositions = ReadRelayPositions(element, true);
    CheckPlace(element, entry.eventId, entry.heatId, entry.lane, entry.ageGroupId);
    if (entry.heatId && entry.lane && !ClaimStartSlot(*entry.heatId, *entry.lane))
      element.Refuse("lane",
                     "lane " + std::to_string(*entry.lane) + " of heat " +
                         std::to_string(*entry.heatId) + " is entered twice",
                     "one entry per event, heat and lane");
    return entry;
  }

  Result ReadResult(const Element& element) {
    Result result;
    result.source.line = element.Line();
    result.resultId = element.Required("resultid", kNumber);
    result.swimTime = element.Required("swimtime", kSwimTime);
    result.eventId = element.Optional("eventid", kNumber);
    result.heatId = element.Optional("heatid", kNumber);
    result.lane = element.Optional("lane", kNumber);
    result.status = element.Optional("status", kCode<ResultStatus>);
    result.points = element.Optional("points", kNumber);
    result.reactionTime = element.Optional("reactiontime", kReactionTime);
    result.comment = element.Optional("comment", kText);
    result.splits = ReadSplits(element);
    result.relayPositions = ReadRelayPositions(element, true);
    Claim(m_ResultIds, element, "resultid", result.resultId, "meet");
    if (result.eventId) {
      CheckPlace(element, *result.eventId, result.heatId, result.lane, std::nullopt);
    } else if (result.heatId) {
      if (!m_Heats.Contains(*result.heatId))
        element.Refuse("heatid", "heat " + std::to_string(*result.heatId) + " does not exist",
                       "the heatid of a HEAT of the meet");
    }
    return result;
  }

  // The references that may point forward in the file: rankings to results,
  // relay legs to athletes, later rounds to earlier ones.
  void CheckReferences() {
    for (const Use& use : m_RankingUses) {
      if (!m_ResultIds.Contains(use.id))
        RefuseUse(use, "result " + std::to_string(use.id) + " does not exist",
                  "the resultid of a RESULT of the meet");
    }
    for (const Use& use : m_AthleteUses) {
      if (!m_AthleteIds.Contains(use.id))
        RefuseUse(use, "athlete " + std::to_string(use.id) + " does not exist",
                  "the athleteid of an ATHLETE of the meet");
    }
    for (const Use& use : m_PrevEventUses) {
      if (!m_Events.Contains(use.id))
        RefuseUse(use, "event " + std::to_string(use.id) + " does not exist",
                  "the eventid of an EVENT of the meet, or -1");
    }
  }

  // --- record lists ---------------------------------------------------------

  RecordList ReadRecordList(const Element& element) {
    RecordList list;
    list.name = element.Required("name", kText);
    list.course = element.Required("course", kCode<Course>);
    list.gender = element.Required("gender", kListGender);
    list.type = element.Optional("type", kText);
    list.nation = element.Optional("nation", kText);
    list.region = element.Optional("region", kText);
    list.updated = element.Optional("updated", kDate);
    if (const auto group = element.Child("AGEGROUP")) list.ageGroup = ReadAgeGroup(*group, false);
    element.RequiredChild("RECORDS");
    for (const Element recordElement : element.ItemsOf("RECORDS", "RECORD")) {
      Record record;
      record.swimTime = recordElement.Required("swimtime", kSwimTime);
      record.swimStyle = ReadSwimStyle(recordElement.RequiredChild("SWIMSTYLE"));
      record.comment = recordElement.Optional("comment", kText);
      record.status = recordElement.Optional("status", kCode<RecordStatus>);
      if (const auto athlete = recordElement.Child("ATHLETE")) {
        record.athlete = ReadAthlete(*athlete, false);
        if (const auto club = athlete->Child("CLUB")) record.athleteClub = ReadClubFields(*club);
      }
      if (const auto relay = recordElement.Child("RELAY")) {
        RecordRelay recordRelay;
        if (const auto club = relay->Child("CLUB")) recordRelay.club = ReadClubFields(*club);
        recordRelay.relayPositions = ReadRelayPositions(*relay, false);
        record.relay = std::move(recordRelay);
      }
      if (const auto info = recordElement.Child("MEETINFO"))
        record.meetInfo = ReadMeetInfo(*info, true);
      record.splits = ReadSplits(recordElement);
      list.records.push_back(std::move(record));
    }
    return list;
  }

  // A heat's lane as one number. A heat id is unique in the meet and names
  // one event (CheckPlace refuses a heat of another event first), so the
  // heat and the lane tell the start slot.
  static uint64_t StartSlot(int32_t iHeatId, int32_t iLane) {
    return Detail::PairId(iHeatId, iLane);
  }

  // Whether lane `iLane` of heat `iHeatId` (a heat of the meet: CheckPlace
  // passed it) was free, and claims it. Lanes 0 to 63 are marked in the
  // heat's own record, which CheckPlace has just read: their start slots
  // then cost no lookup of their own.
  bool ClaimStartSlot(int32_t iHeatId, int32_t iLane) {
    if (iLane < 0 || iLane >= 64) return m_StartSlots.Insert(StartSlot(iHeatId, iLane));
    uint64_t& uiLanes = m_Heats.Find(iHeatId)->entriesByLane;
    const uint64_t uiBit = uint64_t{1} << iLane;
    return (std::exchange(uiLanes, uiLanes | uiBit) & uiBit) == 0;
  }

  // A heat of the meet: its event and the lanes below 64 entered in it.
  struct HeatIds {
    int32_t eventId = 0;
    uint64_t entriesByLane = 0;  // bit n: lane n is entered
  };

  // The ids of one event: its age groups and the pool its lanes lie in.
  struct EventIds {
    IdSet ageGroups;
    std::optional<Pool> pool;
  };

  const Tree& m_Tree;
  MeetReceiver* m_pReceiver;  // null: the athletes stay in their clubs
  Detail::IdMap<EventIds> m_Events;
  Detail::IdMap<HeatIds> m_Heats;  // by heat id
  IdSet m_AthleteIds;
  IdSet m_ResultIds;
  IdSet m_StartSlots;  // StartSlot(heat, lane) of lanes from 64 on
  bool m_bFirstMeet = true;
  std::vector<Use> m_AthleteUses;
  std::vector<Use> m_RankingUses;
  std::vector<Use> m_PrevEventUses;
};

}  // namespace

LenexError::LenexError(std::string csElement, std::string csAttribute, int iLine,
                       std::string csProblem, std::string csExpected)
    : std::runtime_error([&] {
        std::string csMessage = "LENEX";
        if (iLine > 0) csMessage += " line " + std::to_string(iLine);
        if (!csElement.empty()) csMessage += ", " + csElement;
        if (!csAttribute.empty()) csMessage += " attribute " + csAttribute;
        csMessage += ": " + csProblem;
        if (!csExpected.empty()) csMessage += " (expected " + csExpected + ")";
        return csMessage;
      }()),
      m_csElement(std::move(csElement)),
      m_csAttribute(std::move(csAttribute)),
      m_iLine(iLine),
      m_csExpected(std::move(csExpected)) {}

Document ReadLef(std::string_view bytes, const LenexLimits& limits) {
  const Tree tree = Detail::ParseTree(bytes, limits);
  return DocumentReader(tree, nullptr).Read();
}

Document ReadLef(std::string_view bytes, const LenexLimits& limits, MeetReceiver& receiver) {
  const Tree tree = Detail::ParseTree(bytes, limits);
  return DocumentReader(tree, &receiver).Read();
}

}  // namespace Varnox::Lenex
