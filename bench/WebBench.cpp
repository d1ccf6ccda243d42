// Requests per second for one heat's results (/api/heats/R1/H1) from the
// live-results server on the loopback, beside cpp-httplib serving a
// constant body of the same size: the cost of the server's routing and
// feed lookup over the bare library. One client on a kept-alive
// connection; the heat is an 8-lane, 4-lap heat with every split set.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

#include "web/Feed.h"
#include "web/WebServer.h"

namespace {

using namespace varnox::web;

MeetView EightLaneHeat() {
  std::vector<LaneInput> lanes;
  for (int32_t iLane = 1; iLane <= 8; ++iLane) {
    LaneInput lane;
    lane.iLane = iLane;
    lane.bHasCompetitor = true;
    lane.csName = "Swimmer " + std::to_string(iLane);
    lane.csNation = "SUI";
    lane.csClub = "SC Basel";
    for (int iLap = 1; iLap <= 4; ++iLap)
      lane.splits.push_back(static_cast<Hundredths>(iLap * 3000 + iLane * 13));
    lanes.push_back(lane);
  }
  HeatView heat{"R1", "H1", "Women 200 m Freestyle Final", 1, 2, 4, 50, RankHeat(lanes, 4)};
  return MeetView{"Bench meet", {RaceView{"R1", heat.csTitle, 1, 200, "Freestyle", {heat}}}};
}

void Requests(benchmark::State& state, int iPort, const std::string& csPath) {
  httplib::Client client("127.0.0.1", iPort);
  client.set_keep_alive(true);
  size_t uiBytes = 0;
  for (auto _ : state) {
    const auto result = client.Get(csPath);
    if (!result || result->status != 200) {
      state.SkipWithError("request failed");
      return;
    }
    uiBytes = result->body.size();
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["body_bytes"] = static_cast<double>(uiBytes);
}

void BM_WebHeatJson(benchmark::State& state) {
  Feed feed;
  feed.Publish(EightLaneHeat());
  ServerOptions options;
  options.iPort = 0;
  options.uiThreads = 8;
  WebServer server(feed, options);
  const int iPort = server.Bind();
  std::thread thread([&] { server.Run(); });
  Requests(state, iPort, "/api/heats/R1/H1");
  server.Stop();
  thread.join();
}
BENCHMARK(BM_WebHeatJson)->UseRealTime();

// Baseline: the bare library answering the same bytes from a constant.
void BM_HttplibConstantBody(benchmark::State& state) {
  Feed feed;
  feed.Publish(EightLaneHeat());
  const std::string csBody = *feed.HeatJson("R1", "H1");
  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(8); };
  server.set_tcp_nodelay(true);  // as the live-results server
  server.Get("/constant", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(csBody, "application/json; charset=utf-8");
  });
  const int iPort = server.bind_to_any_port("127.0.0.1");
  std::thread thread([&] { server.listen_after_bind(); });
  Requests(state, iPort, "/constant");
  server.stop();
  thread.join();
}
BENCHMARK(BM_HttplibConstantBody)->UseRealTime();

}  // namespace
