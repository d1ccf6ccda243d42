#include "web/WebServer.h"

#include <httplib.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <optional>

#include <nlohmann/json.hpp>

namespace varnox::web {

namespace {

constexpr const char* kJson = "application/json; charset=utf-8";
// Requests carry no body: anything bigger is refused.
constexpr size_t kMostBody = 1024;
// How long a write waits for a client to make room.
constexpr std::chrono::seconds kWriteTimeout(5);

// {"error": why}. The reason may repeat a request's path, which can hold any
// bytes: what is not UTF-8 is sent as replacement characters (a dump that
// threw here would end the server).
std::string ErrorJson(const std::string& csWhy) {
  return nlohmann::json{{"error", csWhy}}.dump(-1, ' ', false,
                                               nlohmann::json::error_handler_t::replace);
}

void Refuse(httplib::Response& res, int iStatus, const std::string& csWhy) {
  res.status = iStatus;
  res.set_content(ErrorJson(csWhy), kJson);
}

// Answers a request for the meet's data, or refuses it once the meet's file
// is closed.
template <class Answer>
void WithMeet(const Feed& feed, httplib::Response& res, Answer answer) {
  if (const auto csClosed = feed.Closed()) {
    Refuse(res, 503, *csClosed);
    return;
  }
  answer();
}

bool Send(httplib::DataSink& sink, const std::string& csText) {
  return sink.write(csText.data(), csText.size());
}

// The numeric address and port of a socket's end (getsockname or getpeername).
template <class GetName>
std::pair<std::string, int> EndOf(int fd, GetName getName) {
  sockaddr_storage address{};
  socklen_t uiLength = sizeof address;
  if (getName(fd, reinterpret_cast<sockaddr*>(&address), &uiLength) != 0) return {"", -1};
  char aHost[NI_MAXHOST], aPort[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&address), uiLength, aHost, sizeof aHost, aPort,
                  sizeof aPort, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return {"", -1};
  return {aHost, std::atoi(aPort)};
}

// The socket of the connection `req` came on, or -1. cpp-httplib does not
// hand it to a content provider, so it is found among the process's open
// files by the two ends the request names: while the request's thread
// serves it, the connection stays open and its socket is that one.
int ConnectionOf(const httplib::Request& req) {
  const std::pair<std::string, int> local{req.local_addr, req.local_port};
  const std::pair<std::string, int> remote{req.remote_addr, req.remote_port};
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    const int fd = std::atoi(entry.path().filename().c_str());
    if (EndOf(fd, getsockname) == local && EndOf(fd, getpeername) == remote) return fd;
  }
  return -1;
}

// The HTTP library's server with its handling of one request over any
// stream made public, for ServeBytes.
class StreamServer : public httplib::Server {
 public:
  using httplib::Server::process_request;
};

// A connection made of bytes: reads them in order, keeps what is written.
class BytesStream : public httplib::Stream {
 public:
  BytesStream(std::string_view csIn, size_t uiMostWrites)
      : m_csIn(csIn), m_uiWritesLeft(uiMostWrites) {}

  bool is_readable() const override { return !m_csIn.empty(); }
  bool is_writable() const override { return m_uiWritesLeft > 0; }
  ssize_t read(char* p, size_t uiSize) override {
    const size_t uiRead = m_csIn.copy(p, uiSize);
    m_csIn.remove_prefix(uiRead);
    return static_cast<ssize_t>(uiRead);
  }
  ssize_t write(const char* p, size_t uiSize) override {
    if (m_uiWritesLeft == 0) return -1;
    --m_uiWritesLeft;
    m_csOut.append(p, uiSize);
    return static_cast<ssize_t>(uiSize);
  }
  void get_remote_ip_and_port(std::string& csIp, int& iPort) const override {
    csIp = "0.0.0.0";
    iPort = 0;
  }
  void get_local_ip_and_port(std::string& csIp, int& iPort) const override {
    get_remote_ip_and_port(csIp, iPort);
  }
  socket_t socket() const override { return INVALID_SOCKET; }

  bool Done() const { return m_csIn.empty() || m_uiWritesLeft == 0; }
  std::string& Out() { return m_csOut; }

 private:
  std::string_view m_csIn;
  size_t m_uiWritesLeft;
  std::string m_csOut;
};

}  // namespace

WebServer::WebServer(Feed& feed, ServerOptions options)
    : m_Feed(feed),
      m_Options(std::move(options)),
      m_Idle(feed),
      m_pServer(std::make_unique<StreamServer>()) {
  const size_t uiThreads = m_Options.uiThreads;
  m_pServer->new_task_queue = [uiThreads] { return new httplib::ThreadPool(uiThreads); };
  m_pServer->set_payload_max_length(kMostBody);
  m_pServer->set_read_timeout(std::chrono::seconds(1));
  m_pServer->set_write_timeout(kWriteTimeout);
  m_pServer->set_tcp_nodelay(true);
  Route();
}

WebServer::~WebServer() { Stop(); }

int WebServer::Bind() {
  if (m_Options.iPort == 0) return m_pServer->bind_to_any_port(m_Options.csHost);
  return m_pServer->bind_to_port(m_Options.csHost, m_Options.iPort) ? m_Options.iPort : -1;
}

bool WebServer::Run() { return m_pServer->listen_after_bind(); }

void WebServer::Stop() {
  m_Feed.Stop();
  m_pServer->stop();
}

std::string WebServer::ServeBytes(std::string_view csBytes, size_t uiMostWrites) {
  BytesStream stream(csBytes, uiMostWrites);
  auto& server = static_cast<StreamServer&>(*m_pServer);
  // Request after request, as a kept-alive connection is served, until the
  // bytes run out or the server closes the connection.
  bool bClosed = false;
  while (!bClosed && !stream.Done()) {
    if (!server.process_request(stream, false, bClosed, nullptr)) break;
  }
  return std::move(stream.Out());
}

void WebServer::Route() {
  httplib::Server& server = *m_pServer;
  // Read only: every method but GET (and HEAD) is refused before routing,
  // and so is a request announcing a body beyond what a GET may carry.
  server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      Refuse(res, 405, "read only: " + req.method + " is not served");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.get_header_value<uint64_t>("Content-Length") > kMostBody) {
      Refuse(res, 413, "the request's body is too large");
      return httplib::Server::HandlerResponse::Handled;
    }
    // Ranges are not served: every answer is whole. The library would cut
    // any handler's answer to the range asked, a refusal's reason too (a
    // 404 with a part of its JSON); the files and texts are small, and the
    // JSON changes between two requests for its parts anyway. The request
    // is the library's own object, handed over as const.
    const_cast<httplib::Request&>(req).ranges.clear();
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) return;
    Refuse(res, res.status, res.status == 404 ? "no such page: " + req.path : "bad request");
  });

  server.Get("/api/schedule", [this](const httplib::Request&, httplib::Response& res) {
    WithMeet(m_Feed, res, [&] { res.set_content(m_Feed.ScheduleJson(), kJson); });
  });
  server.Get("/api/heats/([^/]+)/([^/]+)",
             [this](const httplib::Request& req, httplib::Response& res) {
               WithMeet(m_Feed, res, [&] {
                 const std::string csRace = req.matches[1], csHeat = req.matches[2];
                 if (const auto csHeatJson = m_Feed.HeatJson(csRace, csHeat)) {
                   res.set_content(*csHeatJson, kJson);
                 } else {
                   Refuse(res, 404, "no heat " + csHeat + " in race " + csRace);
                 }
               });
             });
  server.Get("/api/snapshot", [this](const httplib::Request&, httplib::Response& res) {
    WithMeet(m_Feed, res, [&] { res.set_content(m_Feed.Snapshot().csData, kJson); });
  });
  server.Get("/events", [this](const httplib::Request& req, httplib::Response& res) {
    WithMeet(m_Feed, res, [&] {
      if (++m_uiStreams > m_Options.uiMaxStreams) {
        --m_uiStreams;
        Refuse(res, 503, "too many event streams");
        return;
      }
      res.set_header("Cache-Control", "no-cache");
      // The position of this stream: none until its snapshot is sent.
      auto pAt = std::make_shared<std::optional<uint64_t>>();
      const int fd = ConnectionOf(req);
      const auto keepAlive = std::chrono::milliseconds(m_Options.iKeepAliveMs);
      res.set_chunked_content_provider(
          "text/event-stream",
          [this, pAt, fd, keepAlive](size_t, httplib::DataSink& sink) {
            if (m_Feed.Stopped()) return false;
            if (const auto csClosed = m_Feed.Closed()) {
              Send(sink, EventText(FeedEvent{0, "closed", ErrorJson(*csClosed)}));
              return false;
            }
            if (!*pAt) {
              const FeedEvent snapshot = m_Feed.Snapshot();
              *pAt = snapshot.uiId;
              return Send(sink, "retry: 1000\n" + EventText(snapshot));
            }
            // What is due is sent by this thread; then the stream idles,
            // parked where the publishing thread writes the next events
            // itself (its own wait on the feed when the socket is unknown).
            std::optional<FeedText> text = m_Feed.TextAfter(**pAt, std::chrono::milliseconds(0));
            if (text && text->csText.empty()) {
              if (fd < 0) {
                text = m_Feed.TextAfter(**pAt, keepAlive);
              } else {
                IdleStreams::Return back = m_Idle.Park(fd, **pAt, keepAlive);
                *pAt = back.uiAt;
                if (back.bFailed) return false;
                if (!back.csUnsent.empty()) return WriteAll(fd, back.csUnsent, kWriteTimeout);
                return !back.bIdle || Send(sink, ": keep-alive\n\n");
              }
            }
            if (!text) {
              pAt->reset();  // fell behind what is kept: start anew from a snapshot
              return !m_Feed.Stopped();
            }
            if (text->csText.empty()) return Send(sink, ": keep-alive\n\n");
            *pAt = text->uiLast;
            return Send(sink, text->csText);
          },
          [this](bool) { --m_uiStreams; });
    });
  });
  // The page's own files, and nothing else: no path reaches the disk.
  server.Get(R"(/[^/]*)", [](const httplib::Request& req, httplib::Response& res) {
    const WebAsset* pAsset = FindWebAsset(req.path);
    if (pAsset == nullptr) {
      Refuse(res, 404, "no such page: " + req.path);
      return;
    }
    res.set_header("Cache-Control", "no-cache");
    res.set_content(std::string(pAsset->body), std::string(pAsset->csType));
  });
}

}  // namespace varnox::web
