// The places, the feed and the server without a kernel. The places of a
// heat from one table: the lanes as read and the rows expected, in result
// order, as "lane|place|time|state|status". The feed: a publish told which
// parts changed gives the events and the state a publish of the whole meet
// gives (what a stream gets from any point of the events on is the flood
// test's). The server, over a real socket on the loopback: one table of raw
// requests (a closed meet's too) and the status each must get; clients
// that vanish in the middle of their event stream; one that reads nothing
// while a flood of events passes.
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
#include "web/Results.h"
#include "web/WebServer.h"

namespace varnox::web {
namespace {

// Lane `iLane` with its splits and, unless in order, its status id and name.
LaneInput Lane(int32_t iLane, std::vector<Hundredths> splits, int32_t iStatusId = 0,
               std::string csStatus = "") {
  LaneInput lane;
  lane.iLane = iLane;
  lane.splits = std::move(splits);
  lane.iStatusId = iStatusId;
  lane.csStatus = std::move(csStatus);
  return lane;
}

struct PlacesCase {
  const char* csName;
  int32_t iLaps;
  std::vector<LaneInput> lanes;
  std::vector<std::string> expected;
};

const PlacesCase kPlaces[] = {
    {"ByFinalTime",
     1,
     {Lane(1, {6234}), Lane(2, {5999}), Lane(3, {6100})},
     {"2|1|59.99|finished|", "3|2|1:01.00|finished|", "1|3|1:02.34|finished|"}},
    {"TiesSharePlaceAndSkipTheNext",
     1,
     {Lane(1, {6000}), Lane(2, {6000}), Lane(3, {5900}), Lane(4, {6100})},
     {"3|1|59.00|finished|", "1|2|1:00.00|finished|", "2|2|1:00.00|finished|",
      "4|4|1:01.00|finished|"}},
    {"StatusesAfterTheRankedEvenWhenFaster",
     1,
     {Lane(1, {5800}, 1, "DSQ"), Lane(2, {6000}), Lane(3, {}, 2, "DNS"), Lane(4, {}, 7, "")},
     {"2|1|1:00.00|finished|", "1|0|58.00|status|DSQ", "3|0|NT|status|DNS",
      "4|0|NT|status|Status 7"}},
    {"HeatInProgressShowsLastSplit",
     3,
     {Lane(1, {3000, 6200, 0}), Lane(2, {2900, 0, 0}), Lane(3, {2950, 6100, 9300}),
      Lane(4, {3010, 6150}), Lane(5, {})},
     {"3|1|1:33.00|finished|", "4|0|1:01.50|swimming|", "1|0|1:02.00|swimming|",
      "2|0|29.00|swimming|", "5|0||waiting|"}},
};

std::string Describe(const ResultRow& row) {
  return std::to_string(row.iLane) + "|" + std::to_string(row.iPlace) + "|" + row.csTime + "|" +
         StateName(row.state) + "|" + row.csStatus;
}

class PlacesTest : public ::testing::TestWithParam<PlacesCase> {};

TEST_P(PlacesTest, RowsInResultOrder) {
  const PlacesCase& c = GetParam();
  std::vector<std::string> described;
  for (const ResultRow& row : RankHeat(c.lanes, c.iLaps)) {
    described.push_back(Describe(row));
    // A split column per lap, whatever the lane holds.
    EXPECT_EQ(row.splits.size(), static_cast<size_t>(c.iLaps)) << "lane " << row.iLane;
  }
  EXPECT_EQ(described, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Heats, PlacesTest, ::testing::ValuesIn(kPlaces),
                         [](const auto& test) { return std::string(test.param.csName); });

// Race `csRace` with heats H1 to H`iHeats`, lane 4 of each at `final`, its
// competitor named `csName` (markup by default).
RaceView Race(const std::string& csRace, int iHeats, Hundredths final,
              std::string csName = "<script>alert(1)</script>") {
  LaneInput lane = Lane(4, {final});
  lane.csName = std::move(csName);
  lane.bHasCompetitor = true;
  RaceView race{csRace, "Race " + csRace, 1, 50, "Freestyle", {}};
  for (int i = 1; i <= iHeats; ++i)
    race.heats.push_back(
        {csRace, "H" + std::to_string(i), race.csTitle, i, 2, 1, 50, RankHeat({lane}, 1)});
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
  for (Feed* pFeed : {&whole, &partial}) pFeed->Publish(before);
  whole.Publish(after);
  partial.Publish(after, &GetParam().named);
  const auto events = whole.TextAfter(0, std::chrono::milliseconds(0));
  ASSERT_TRUE(events && !events->csText.empty());
  EXPECT_EQ(partial.TextAfter(0, std::chrono::milliseconds(0))->csText, events->csText);
  EXPECT_EQ(partial.Snapshot().csData, whole.Snapshot().csData);
}

INSTANTIATE_TEST_SUITE_P(Feed, PartialPublishTest, ::testing::ValuesIn(kPartialCases),
                         [](const auto& test) { return std::string(test.param.csName); });

// A connection to the server; with `iReceiveBuffer`, one that takes in
// little at a time, as a slow client. A hung server fails the test instead
// of blocking it.
int Connect(int iPort, int iReceiveBuffer = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (iReceiveBuffer > 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &iReceiveBuffer, sizeof iReceiveBuffer);
  const timeval deadline{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &deadline, sizeof deadline);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(iPort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  close(fd);
  return -1;
}

std::string Get(const std::string& csPath) {
  return "GET " + csPath + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
}

// Reads from `fd` until `done` holds for what came or the server closes.
template <class Done>
std::string ReadUntil(int fd, Done done) {
  std::string csReply;
  char aBuffer[65536];
  ssize_t n = 0;
  while (!done(csReply) && (n = recv(fd, aBuffer, sizeof aBuffer, 0)) > 0)
    csReply.append(aBuffer, static_cast<size_t>(n));
  return csReply;
}

// Sends `csRequest` as it stands; the response, read until it is whole
// (its head and the body its Content-Length announces) or the server closes.
std::string Exchange(int iPort, const std::string& csRequest) {
  const int fd = Connect(iPort);
  if (fd < 0) return "";
  send(fd, csRequest.data(), csRequest.size(), MSG_NOSIGNAL);
  const std::string csReply = ReadUntil(fd, [](const std::string& csSoFar) {
    const size_t uiHeadEnd = csSoFar.find("\r\n\r\n");
    const size_t uiLength = csSoFar.find("Content-Length: ");
    if (uiHeadEnd == std::string::npos || uiLength > uiHeadEnd)
      return uiHeadEnd != std::string::npos;
    return csSoFar.size() >= uiHeadEnd + 4 + std::stoul(csSoFar.substr(uiLength + 16));
  });
  close(fd);
  return csReply;
}

int StatusOf(const std::string& csReply) {
  return csReply.size() > 12 ? std::stoi(csReply.substr(9, 3)) : 0;
}

struct Request {
  const char* csName;
  std::string csRequest;
  int iStatus;
  bool bClosedMeet = false;  // asked once the meet's files are closed
};

const Request kRequests[] = {
    {"Page", Get("/"), 200},
    {"HeatJson", Get("/api/heats/R1/H1"), 200},
    {"UnknownPath", Get("/nothing-here"), 404},
    {"UnknownHeat", Get("/api/heats/R1/H9"), 404},
    {"UnknownApi", Get("/api/competitors"), 404},
    {"PathNotUtf8", Get("/\x97pi/heats"), 404},
    {"RangeServedWhole", "GET /app.js HTTP/1.1\r\nRange: bytes=0-0\r\nConnection: close\r\n\r\n",
     200},
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
    {"ClosedSchedule", Get("/api/schedule"), 503, true},
    {"ClosedHeat", Get("/api/heats/R1/H1"), 503, true},
    {"ClosedEvents", Get("/events"), 503, true},
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
  static ServerOptions Options() { return {.iPort = 0, .uiThreads = 16, .iKeepAliveMs = 50}; }
  WebServer server;
  const int iPort;
  std::thread thread;
};

class ServerTest : public ::testing::Test {
 protected:
  ServerTest() { m_Feed.Publish({"Test meet", {Race("R1", 1, 6000)}}); }

  Feed m_Feed;
  Serving m_Serving{m_Feed};
  const int m_iPort = m_Serving.iPort;
};

class RequestTest : public ServerTest, public ::testing::WithParamInterface<Request> {};

TEST_P(RequestTest, AnsweredWithItsStatus) {
  const std::string csWhy = "the meet's files are closed";
  if (GetParam().bClosedMeet) m_Feed.Close(csWhy);
  const std::string csReply = Exchange(m_iPort, GetParam().csRequest);
  EXPECT_EQ(StatusOf(csReply), GetParam().iStatus) << csReply.substr(0, 300);
  // Nothing from the disk ever comes back.
  EXPECT_EQ(csReply.find("root:"), std::string::npos);
  EXPECT_EQ(csReply.find(csWhy) != std::string::npos, GetParam().bClosedMeet);
}

INSTANTIATE_TEST_SUITE_P(Server, RequestTest, ::testing::ValuesIn(kRequests),
                         [](const auto& test) { return std::string(test.param.csName); });

// A connection that asked for the event stream.
int OpenStream(int iPort, int iReceiveBuffer = 0) {
  const int fd = Connect(iPort, iReceiveBuffer);
  const std::string csRequest = Get("/events");
  if (fd >= 0) send(fd, csRequest.data(), csRequest.size(), MSG_NOSIGNAL);
  return fd;
}

// Streams whose clients vanish, some before reading anything, some after the
// snapshot, some reset: the server lets each go and serves on.
TEST_F(ServerTest, SurvivesClientsThatVanishMidStream) {
  std::vector<int> clients;
  for (int i = 0; i < 12; ++i) {
    const int fd = OpenStream(m_iPort);
    ASSERT_GE(fd, 0);
    char aBuffer[64];
    if (i % 3 != 0) {
      ASSERT_GT(recv(fd, aBuffer, sizeof aBuffer, 0), 0);  // the head is on its way
    }
    const linger reset{1, 0};  // close with a reset instead of a goodbye
    if (i % 3 == 2) setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    clients.push_back(fd);
  }
  for (int fd : clients) close(fd);
  for (Hundredths final = 6001; m_Serving.server.OpenStreams() > 0 && final < 8001; ++final) {
    // Each change is a write that finds a vanished client.
    m_Feed.Publish({"Test meet", {Race("R1", 1, final)}});
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

// What a stream read until event `csLast` had come whole, checked event by
// event: after a snapshot the ids run on by one, up to `uiLast`. The count
// of snapshots it got.
size_t ExpectEveryEventOnce(int fd, uint64_t uiLast) {
  const std::string csLast = "id: " + std::to_string(uiLast) + "\n";
  const std::string csReply = ReadUntil(fd, [&](const std::string& csSoFar) {
    return csSoFar.find(csLast) != std::string::npos &&
           Dechunked(csSoFar).find(csLast) != std::string::npos;
  });
  std::istringstream events(Dechunked(csReply));
  uint64_t uiPrevious = 0, uiId = 0;
  size_t uiSnapshots = 0;
  for (std::string csLine; std::getline(events, csLine);) {
    if (csLine.starts_with("id: ")) uiId = std::stoull(csLine.substr(4));
    if (!csLine.starts_with("event: ")) continue;
    if (csLine == "event: snapshot") {
      ++uiSnapshots;
    } else {
      EXPECT_EQ(uiId, uiPrevious + 1) << "after " << uiPrevious;
    }
    uiPrevious = uiId;
  }
  EXPECT_EQ(uiPrevious, uiLast);
  return uiSnapshots;
}

// Clients that read nothing while events of 20 KB pass, and page requests
// meanwhile, fill the connections: the publishing thread's write to an idle
// stream cannot finish at once and the stream's thread finishes it later.
// Once they read, each gets every event once and in order (after a new
// snapshot where it fell behind the events kept), in a well-framed response.
class FloodTest : public ::testing::TestWithParam<size_t> {};  // the events kept

TEST_P(FloodTest, SlowClientsGetEveryEventOnce) {
  constexpr size_t kStreams = 4;
  Feed feed(GetParam());
  const auto bigMeet = [](Hundredths final) {
    return MeetView{"Test meet", {Race("R1", 1, final, std::string(20000, 'n'))}};
  };
  feed.Publish(bigMeet(6000));
  Serving serving(feed);
  std::vector<int> streams;
  for (size_t i = 0; i < kStreams; ++i) streams.push_back(OpenStream(serving.iPort, 4096));
  for (const int fd : streams) ASSERT_GE(fd, 0);
  // The snapshots sent, the streams idle; then the flood, and pages asked.
  for (int i = 0; i < 20000 && serving.server.IdleStreamCount() < kStreams; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(serving.server.IdleStreamCount(), kStreams);
  std::vector<int> statuses;
  std::thread pages([&] {
    for (int i = 0; i < 100; ++i)
      statuses.push_back(StatusOf(Exchange(serving.iPort, Get(i % 2 ? "/" : "/api/heats/R1/H1"))));
  });
  for (Hundredths final = 6001; final <= 6200; ++final) feed.Publish(bigMeet(final));
  pages.join();
  EXPECT_EQ(statuses, std::vector<int>(100, 200));
  // Read at once, each on its own thread, so that none waits for another.
  const uint64_t uiLast = feed.Version();
  std::vector<size_t> snapshots(kStreams);
  std::vector<std::thread> readers;
  for (size_t i = 0; i < kStreams; ++i)
    readers.emplace_back([&, i] { snapshots[i] = ExpectEveryEventOnce(streams[i], uiLast); });
  for (std::thread& reader : readers) reader.join();
  for (size_t i = 0; i < kStreams; ++i) {
    EXPECT_EQ(snapshots[i] > 1, GetParam() < 200) << "stream " << i;
    close(streams[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Server, FloodTest, ::testing::Values(4096, 8),
                         [](const auto& test) { return "Kept" + std::to_string(test.param); });

}  // namespace
}  // namespace varnox::web
