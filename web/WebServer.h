// The live-results web server: the page, the JSON API and the event stream
// of one meet, over a Feed. Serves GET only, and nothing from the disk: the
// page's files are built into the binary.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "web/Feed.h"
#include "web/IdleStreams.h"

namespace httplib {
class Server;
}

namespace varnox::web {

// A file of the page, embedded at build time (WebAssets.cpp).
struct WebAsset {
  std::string_view csPath;  // "/", "/app.css", "/app.js"
  std::string_view csType;  // its content type
  std::string_view body;
};
// The page's files; the generated WebAssets.cpp defines them.
const WebAsset* FindWebAsset(std::string_view csPath);

struct ServerOptions {
  std::string csHost = "127.0.0.1";
  int iPort = 8080;  // 0: any free port
  // Each event stream holds a thread while it is open, so the pool is sized
  // for the streams plus the plain requests.
  size_t uiThreads = 320;
  size_t uiMaxStreams = 256;
  // A stream with nothing to send writes a comment this often, which also
  // finds the clients that went away.
  int iKeepAliveMs = 10000;
};

class WebServer {
 public:
  WebServer(Feed& feed, ServerOptions options);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds the address; the port bound (the free one chosen for port 0), or
  // -1 when the address cannot be bound.
  int Bind();
  // Serves until Stop; false when it could not listen.
  bool Run();
  // Ends every stream and stops serving; Run returns.
  void Stop();
  // Serves `csBytes` as the requests of one connection, the way the bytes
  // would arrive on a socket, and returns what the server writes back. An
  // event stream never ends by itself: the connection takes at most
  // uiMostWrites writes and then reads as closed by the client. For the
  // fuzz target, which feeds the server any bytes without a socket.
  std::string ServeBytes(std::string_view csBytes, size_t uiMostWrites = 16);
  // The event streams open now.
  size_t OpenStreams() const { return m_uiStreams.load(); }
  // The event streams with nothing left to send, whose next events are
  // written by the thread that publishes them.
  size_t IdleStreamCount() { return m_Idle.Count(); }

 private:
  void Route();

  Feed& m_Feed;
  const ServerOptions m_Options;
  IdleStreams m_Idle;  // the streams with nothing left to send
  std::unique_ptr<httplib::Server> m_pServer;
  std::atomic<size_t> m_uiStreams{0};
};

}  // namespace varnox::web
