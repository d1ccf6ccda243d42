// The one start list the LENEX tests build their documents from, and the
// text edits they make to it.
#pragma once

#include <map>
#include <stdexcept>
#include <string>

namespace Varnox::Lenex::Testing {

// One 100 m freestyle heat of girls 12-14 in a six-lane 25 m pool, Anna in
// lane 3. {EVENTS}, {ATHLETES}, {RELAYS}, {LISTS} take a case's additions;
// {POOL} and {LANE} may be replaced.
inline const std::string kStartListTemplate = R"(<?xml version="1.0" encoding="UTF-8"?>
<LENEX version="3.0">
  <CONSTRUCTOR name="Meet manager" registration="Club" version="1"><CONTACT email="m@example.org"/></CONSTRUCTOR>
  <MEETS>
    <MEET name="Spring Open" city="Basel" nation="SUI" course="SCM">
      <POOL lanemin="1" lanemax="{POOL}"/>
      <SESSIONS>
        <SESSION number="1" date="2026-03-14" daytime="09:00">
          <EVENTS>
            <EVENT eventid="10" number="1" gender="F" round="PRE" daytime="09:30">
              <SWIMSTYLE distance="100" relaycount="1" stroke="FREE"/>
              <AGEGROUPS><AGEGROUP agegroupid="1" agemin="12" agemax="14"/></AGEGROUPS>
              <HEATS><HEAT heatid="100" number="1" final="A"/></HEATS>
            </EVENT>{EVENTS}
          </EVENTS>
        </SESSION>
      </SESSIONS>
      <CLUBS>
        <CLUB name="SC Basel">
          <ATHLETES>
            <ATHLETE athleteid="7" lastname="Keller" firstname="Anna" gender="F" birthdate="2012-05-03" nation="SUI">
              <ENTRIES><ENTRY eventid="10" heatid="100" lane="{LANE}" entrytime="00:01:05.20" agegroupid="1"/></ENTRIES>
            </ATHLETE>{ATHLETES}
          </ATHLETES>{RELAYS}
        </CLUB>
      </CLUBS>
    </MEET>
  </MEETS>{LISTS}
</LENEX>
)";

// The text with the first `csFrom` replaced by `csTo`.
inline std::string Replaced(std::string csText, const std::string& csFrom, const std::string& csTo) {
  const size_t uiAt = csText.find(csFrom);
  if (uiAt == std::string::npos) throw std::invalid_argument("not in the document: " + csFrom);
  return csText.replace(uiAt, csFrom.size(), csTo);
}

// The start list with its placeholders filled (unnamed ones empty, the pool
// six lanes, Anna in lane 3); POOL "-" leaves out the POOL element.
inline std::string StartList(std::map<std::string, std::string> fills = {}) {
  fills.try_emplace("POOL", "6");
  fills.try_emplace("LANE", "3");
  std::string text = kStartListTemplate;
  if (fills["POOL"] == "-") {
    text = Replaced(text, R"(<POOL lanemin="1" lanemax="{POOL}"/>)", "{POOL}");
    fills["POOL"] = "";
  }
  for (const char* csName : {"EVENTS", "ATHLETES", "RELAYS", "LISTS", "POOL", "LANE"})
    text = Replaced(text, std::string("{") + csName + "}", fills[csName]);
  return text;
}

// A second athlete, Mia, entered in lane 4 of Anna's heat.
inline const std::string kSecondSwimmer = R"(<ATHLETE athleteid="8" lastname="Roth" firstname="Mia" gender="F" birthdate="2012-01-01">
  <ENTRIES><ENTRY eventid="10" heatid="100" lane="4" agegroupid="1"/></ENTRIES></ATHLETE>)";

}  // namespace Varnox::Lenex::Testing
