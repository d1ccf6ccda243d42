// Fuzz target: the live-results server on any bytes, as the requests of one
// connection. Every answer must be an HTTP response the server means to
// give: no server error while the meet is open (a 500 is a handler that
// threw), and a refused GET with its JSON reason.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "web/Feed.h"
#include "web/WebServer.h"

namespace {

using namespace varnox::web;

[[noreturn]] void Fail(const char* csWhat, std::string_view csRequest, std::string_view csAnswer) {
  std::fprintf(stderr, "HttpRequestFuzz: %s\n--- request\n%.*s\n--- answer\n%.*s\n", csWhat,
               static_cast<int>(csRequest.size()), csRequest.data(),
               static_cast<int>(csAnswer.size()), csAnswer.data());
  std::abort();
}

// A meet of two races, one heat each, lane 4 finished.
MeetView SmallMeet() {
  LaneInput lane;
  lane.iLane = 4;
  lane.csName = "Anna <b>";
  lane.bHasCompetitor = true;
  lane.splits = {3012, 6120};
  MeetView meet{"Fuzz meet", {}};
  for (const char* csRace : {"R1", "R 2"}) {
    RaceView race{csRace, std::string("Race ") + csRace, 1, 100, "Freestyle", {}, 0};
    race.heats.push_back({csRace, "H1", race.csTitle, 1, 2, 2, 50, RankHeat({lane}, 2)});
    meet.races.push_back(race);
  }
  return meet;
}

WebServer& Server() {
  static Feed s_Feed;
  static WebServer* s_pServer = [] {
    s_Feed.Publish(SmallMeet());
    ServerOptions options;
    options.iKeepAliveMs = 1;  // an idle event stream writes a comment at once
    return new WebServer(s_Feed, options);
  }();
  return *s_pServer;
}

// Checks what the server wrote back: HTTP responses, no server error among
// them (a status line is the only place a CR LF can precede "HTTP/1.1 ":
// bodies are JSON or the page's files, and no header repeats the request),
// and the first, when it refuses a GET, with its JSON reason.
void CheckAnswers(std::string_view csRequest, std::string_view csAnswer) {
  if (csAnswer.empty()) return;  // the bytes never made a request line
  if (csAnswer.substr(0, 9) != "HTTP/1.1 ")
    Fail("an answer that is no HTTP response", csRequest, csAnswer);
  for (size_t uiAt = 0; (uiAt = csAnswer.find("HTTP/1.1 5", uiAt)) != std::string_view::npos;
       ++uiAt) {
    if (uiAt == 0 || csAnswer.substr(uiAt - 2, 2) == "\r\n")
      Fail("a server error while the meet is open", csRequest, csAnswer);
  }
  const size_t uiHeaderEnd = csAnswer.find("\r\n\r\n");
  if (uiHeaderEnd == std::string_view::npos)
    Fail("a response without the end of its header", csRequest, csAnswer);
  const bool bError = csAnswer[9] == '4';
  if (bError && csRequest.substr(0, 4) == "GET " &&
      csAnswer.substr(uiHeaderEnd + 4, 10) != "{\"error\":\"")
    Fail("a refusal without its reason", csRequest, csAnswer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uiSize) {
  const std::string_view request(reinterpret_cast<const char*>(pData), uiSize);
  const std::string csAnswer = Server().ServeBytes(request);
  CheckAnswers(request, csAnswer);
  return 0;
}
