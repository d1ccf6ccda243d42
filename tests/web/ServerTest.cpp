// What the live-results server refuses, answered over a real socket on the
// loopback: one table of raw requests and the status each must get; then a
// closed meet, clients that vanish in the middle of their event stream and
// one that reads nothing while a flood of events passes. And the feed: a
// publish told which races changed gives the events and the state a publish
// of the whole meet gives.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "web/Feed.h"
#include "web/WebServer.h"

namespace varnox::web {
namespace {

// A meet of one race with one heat, whose competitor's name is markup.
MeetView SmallMeet(Hundredths final) {
  LaneInput lane;
  lane.iLane = 4;
  lane.bHasCompetitor = true;
  lane.csName = "<script>alert(1)</script>";
  lane.splits = {final};
  HeatView heat{"R1", "H1", "Final", 1, 2, 1, 50, RankHeat({lane}, 1)};
  return MeetView{"Test meet", {RaceView{"R1", "Final", 1, 50, "Freestyle", {heat}}}};
}

// Race `csRace` with heats H1 to H`iHeats`, lane 4 of each at `final`.
RaceView Race(const std::string& csRace, int iHeats, Hundredths final) {
  RaceView race{csRace, "Race " + csRace, 1, 50, "Freestyle", {}};
  for (int i = 1; i <= iHeats; ++i) {
    HeatView heat = SmallMeet(final).races[0].heats[0];
    heat.csRace = csRace;
    heat.csHeat = "H" + std::to_string(i);
    race.heats.push_back(heat);
  }
  return race;
}

struct PartialCase {
  const char* csName;
  void (*change)(MeetView&);
  MeetParts named;  // the parts the change is told to touch
};

const PartialCase kPartialCases[] = {
    {"SplitOfOneHeat",
     [](MeetView& m) { m.races[0].heats[1].rows[0].csTime = "1:00.01"; },
     {{}, {{"R1", "H2"}}}},
    {"HeatAdded", [](MeetView& m) { m.races[1] = Race("R2", 2, 6000); }, {{"R2"}, {}}},
    {"HeatRemoved", [](MeetView& m) { m.races[0].heats.pop_back(); }, {{"R1"}, {}}},
    {"TitleChanged", [](MeetView& m) { m.races[1].csTitle = "Final"; }, {{"R2"}, {}}},
    {"RaceAndHeat",
     [](MeetView& m) {
       m.races[0].heats[0].rows[0].csTime = "59.00";
       m.races[1].heats.clear();
     },
     {{"R2"}, {{"R1", "H1"}}}},
};

class PartialPublishTest : public ::testing::TestWithParam<PartialCase> {};

TEST_P(PartialPublishTest, GivesWhatAWholePublishGives) {
  const MeetView before{"Meet", {Race("R1", 2, 6000), Race("R2", 1, 7000)}};
  MeetView after = before;
  GetParam().change(after);
  Feed whole, partial;
  whole.Publish(before);
  partial.Publish(before);
  whole.Publish(after);
  partial.Publish(after, &GetParam().named);
  const auto events = whole.TextAfter(0, std::chrono::milliseconds(0));
  ASSERT_TRUE(events && !events->csText.empty());
  EXPECT_EQ(partial.TextAfter(0, std::chrono::milliseconds(0))->csText, events->csText);
  EXPECT_EQ(partial.Snapshot().csData, whole.Snapshot().csData);
  // From any id on, a stream gets the rest of the events and ends at the last.
  for (uint64_t uiAfter = 0; uiAfter < partial.Version(); ++uiAfter) {
    const auto rest = partial.TextAfter(uiAfter, std::chrono::milliseconds(0));
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->uiLast, partial.Version());
    EXPECT_TRUE(rest->csText.starts_with("id: " + std::to_string(uiAfter + 1) + "\n"));
    EXPECT_TRUE(events->csText.ends_with(rest->csText));
  }
}

INSTANTIATE_TEST_SUITE_P(Feed, PartialPublishTest, ::testing::ValuesIn(kPartialCases),
                         [](const auto& test) { return std::string(test.param.csName); });

// A connection to the server; with `iReceiveBuffer`, one that takes in
// little at a time, as a slow client.
int Connect(int iPort, int iReceiveBuffer = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (iReceiveBuffer > 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &iReceiveBuffer, sizeof iReceiveBuffer);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(iPort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Whether `csReply` holds a whole response: its head and the body its
// Content-Length announces.
bool Whole(const std::string& csReply) {
  const size_t uiHeadEnd = csReply.find("\r\n\r\n");
  if (uiHeadEnd == std::string::npos) return false;
  const size_t uiLength = csReply.find("Content-Length: ");
  if (uiLength == std::string::npos || uiLength > uiHeadEnd) return true;
  return csReply.size() >= uiHeadEnd + 4 + std::stoul(csReply.substr(uiLength + 16));
}

// Sends `csRequest` as it stands; the response, read until it is whole or
// the server closes.
std::string Exchange(int iPort, const std::string& csRequest) {
  const int fd = Connect(iPort);
  if (fd < 0) return "";
  send(fd, csRequest.data(), csRequest.size(), MSG_NOSIGNAL);
  std::string csReply;
  char aBuffer[4096];
  ssize_t n = 0;
  while (!Whole(csReply) && (n = recv(fd, aBuffer, sizeof aBuffer, 0)) > 0)
    csReply.append(aBuffer, static_cast<size_t>(n));
  close(fd);
  return csReply;
}

int StatusOf(const std::string& csReply) {
  return csReply.size() > 12 ? std::stoi(csReply.substr(9, 3)) : 0;
}

std::string Get(const std::string& csPath) {
  return "GET " + csPath + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
}

struct Refusal {
  const char* csName;
  std::string csRequest;
  int iStatus;
};

const Refusal kRequests[] = {
    {"Page", Get("/"), 200},
    {"HeatJson", Get("/api/heats/R1/H1"), 200},
    {"UnknownPath", Get("/nothing-here"), 404},
    {"UnknownHeat", Get("/api/heats/R1/H9"), 404},
    {"UnknownApi", Get("/api/competitors"), 404},
    {"TraversalPlain", Get("/../../etc/passwd"), 404},
    {"TraversalEncoded", Get("/%2e%2e/%2e%2e/etc/passwd"), 404},
    {"TraversalInAsset", Get("/app.js/../../../etc/passwd"), 404},
    {"TraversalInHeat", Get("/api/heats/R1/..%2F..%2Fetc%2Fpasswd"), 404},
    {"Post",
     "POST /api/schedule HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}",
     405},
    {"Delete", "DELETE / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 405},
    {"LongUri", Get("/" + std::string(10000, 'a')), 414},
    {"OversizedBody",
     "GET /api/schedule HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\nConnection: "
     "close\r\n\r\n" +
         std::string(2000, 'x'),
     413},
    {"LongHeader", "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(10000, 'b') + "\r\n\r\n",
     400},
    {"Garbage", "\x16\x03\x01 not http at all\r\n\r\n", 400},
    {"NoVersion", "GET /\r\n\r\n", 400},
};

// A server on a free port of the loopback, serving `feed` on its own thread
// while it exists.
struct Serving {
  explicit Serving(Feed& feed) : server(feed, Options()), iPort(server.Bind()) {
    std::signal(SIGPIPE, SIG_IGN);
    thread = std::thread([this] { server.Run(); });
  }
  ~Serving() {
    server.Stop();
    thread.join();
  }
  static ServerOptions Options() {
    ServerOptions options;
    options.iPort = 0;
    options.uiThreads = 16;
    options.iKeepAliveMs = 50;
    return options;
  }
  WebServer server;
  const int iPort;
  std::thread thread;
};

class ServerTest : public ::testing::Test {
 protected:
  ServerTest() { m_Feed.Publish(SmallMeet(6000)); }

  Feed m_Feed;
  Serving m_Serving{m_Feed};
  const int m_iPort = m_Serving.iPort;
};

class RequestTest : public ServerTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RequestTest, AnsweredWithItsStatus) {
  const std::string csReply = Exchange(m_iPort, GetParam().csRequest);
  EXPECT_EQ(StatusOf(csReply), GetParam().iStatus) << csReply.substr(0, 300);
  // Nothing from the disk ever comes back.
  EXPECT_EQ(csReply.find("root:"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Server, RequestTest, ::testing::ValuesIn(kRequests),
                         [](const auto& test) { return std::string(test.param.csName); });

TEST_F(ServerTest, ClosedMeetIsRefused) {
  m_Feed.Close("the meet's files are closed");
  for (const char* csPath : {"/api/schedule", "/api/heats/R1/H1", "/events"}) {
    const std::string csReply = Exchange(m_iPort, Get(csPath));
    EXPECT_EQ(StatusOf(csReply), 503) << csPath;
    EXPECT_NE(csReply.find("the meet's files are closed"), std::string::npos) << csPath;
  }
}

// Streams whose clients vanish, some before reading anything, some after the
// snapshot, some reset: the server lets each go and serves on.
TEST_F(ServerTest, SurvivesClientsThatVanishMidStream) {
  std::vector<int> clients;
  for (int i = 0; i < 12; ++i) {
    const int fd = Connect(m_iPort);
    ASSERT_GE(fd, 0);
    const std::string csRequest = Get("/events");
    send(fd, csRequest.data(), csRequest.size(), MSG_NOSIGNAL);
    if (i % 3 != 0) {
      char aBuffer[64];
      ASSERT_GT(recv(fd, aBuffer, sizeof aBuffer, 0), 0);  // the head is on its way
    }
    if (i % 3 == 2) {
      const linger reset{1, 0};  // close with a reset instead of a goodbye
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    clients.push_back(fd);
  }
  for (int fd : clients) close(fd);
  for (Hundredths final = 6001; m_Serving.server.OpenStreams() > 0 && final < 6001 + 2000;
       ++final) {
    m_Feed.Publish(SmallMeet(final));  // each change is a write that finds a vanished client
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(m_Serving.server.OpenStreams(), 0u);
  const std::string csReply = Exchange(m_iPort, Get("/api/heats/R1/H1"));
  EXPECT_EQ(StatusOf(csReply), 200);
  EXPECT_NE(csReply.find("<script>alert(1)</script>"), std::string::npos);
}

// The body of a chunked response, after its head, as far as it has come.
std::string Dechunked(const std::string& csReply) {
  std::string csBody;
  size_t uiAt = csReply.find("\r\n\r\n");
  while (uiAt != std::string::npos) {
    const size_t uiLine = uiAt + 4;
    const size_t uiData = csReply.find("\r\n", uiLine);
    if (uiData == std::string::npos) break;
    const size_t uiSize = std::stoul(csReply.substr(uiLine, uiData - uiLine), nullptr, 16);
    if (csReply.size() < uiData + 2 + uiSize + 2) break;
    csBody += csReply.substr(uiData + 2, uiSize);
    uiAt = uiData + uiSize;  // its "\r\n" ends the chunk, as the head's last one
  }
  return csBody;
}

struct FloodCase {
  const char* csName;
  size_t uiKept;  // the events the feed keeps: fewer than the flood makes the stream start anew
};

class FloodTest : public ::testing::TestWithParam<FloodCase> {};

// A client that reads nothing while events of 20 KB pass fills its
// connection: the publishing thread's write to the idle stream cannot
// finish at once and the stream's thread finishes it later. Once it reads,
// it gets every event once and in order (after a new snapshot where it fell
// behind what is kept), in a well-framed response.
TEST_P(FloodTest, SlowClientGetsEveryEventOnce) {
  Feed feed(GetParam().uiKept);
  const auto bigMeet = [](Hundredths final) {
    MeetView meet = SmallMeet(final);
    meet.races[0].heats[0].rows[0].csName = std::string(20000, 'n');
    return meet;
  };
  feed.Publish(bigMeet(6000));
  Serving serving(feed);
  const int fd = Connect(serving.iPort, 4096);
  ASSERT_GE(fd, 0);
  const timeval deadline{20, 0};  // a hung server fails the test instead of blocking it
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &deadline, sizeof deadline);
  const std::string csRequest = Get("/events");
  send(fd, csRequest.data(), csRequest.size(), MSG_NOSIGNAL);
  // The snapshot sent, the stream idles; then the flood.
  for (int i = 0; i < 20000 && serving.server.IdleStreamCount() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(serving.server.IdleStreamCount(), 1u);
  for (Hundredths final = 6001; final <= 6200; ++final) feed.Publish(bigMeet(final));

  std::string csReply;
  char aBuffer[65536];
  const std::string csLast = "id: " + std::to_string(feed.Version()) + "\n";
  ssize_t n = 0;
  const auto bComplete = [&] {  // the last event whole (decoded only once it has begun)
    return csReply.find(csLast) != std::string::npos &&
           Dechunked(csReply).find(csLast) != std::string::npos;
  };
  while (!bComplete() && (n = recv(fd, aBuffer, sizeof aBuffer, 0)) > 0)
    csReply.append(aBuffer, static_cast<size_t>(n));
  close(fd);

  // Event by event: after a snapshot the ids run on by one.
  std::istringstream events(Dechunked(csReply));
  std::optional<uint64_t> uiPrevious;
  uint64_t uiId = 0;
  size_t uiSnapshots = 0;
  for (std::string csLine; std::getline(events, csLine);) {
    if (csLine.starts_with("id: ")) uiId = std::stoull(csLine.substr(4));
    if (!csLine.starts_with("event: ")) continue;
    if (csLine == "event: snapshot") {
      ++uiSnapshots;
    } else {
      ASSERT_EQ(uiId, uiPrevious.value_or(0) + 1) << "after " << uiPrevious.value_or(0);
    }
    uiPrevious = uiId;
  }
  EXPECT_EQ(uiPrevious, feed.Version());
  EXPECT_EQ(uiSnapshots > 1, GetParam().uiKept < 200);
}

INSTANTIATE_TEST_SUITE_P(Server, FloodTest,
                         ::testing::Values(FloodCase{"AllKept", 4096}, FloodCase{"FewKept", 8}),
                         [](const auto& test) { return std::string(test.param.csName); });

}  // namespace
}  // namespace varnox::web
