// varnox serve DIR [--listen ADDR:PORT]: the meet in DIR as a live web page
// (web/): the schedule and each heat's results, pushed to the browser the
// moment the timing process publishes a change. Read only. Port 0 picks a
// free port; the address served is printed first ("Serving DIR at URL").
// Ends on SIGINT or SIGTERM.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "web/Feed.h"
#include "web/LiveMeet.h"
#include "web/WebServer.h"

namespace {

// Written to by the stop signals' handler, read by the thread that stops
// the server.
int g_aStopPipe[2] = {-1, -1};

// "ADDR:PORT" into the options; false when it is not one.
bool ParseListen(const std::string& csListen, varnox::web::ServerOptions& options) {
  const size_t uiColon = csListen.rfind(':');
  if (uiColon == std::string::npos || uiColon == 0) return false;
  const std::string csPort = csListen.substr(uiColon + 1);
  char* pEnd = nullptr;
  const long liPort = std::strtol(csPort.c_str(), &pEnd, 10);
  if (csPort.empty() || *pEnd != '\0' || liPort < 0 || liPort > 65535) return false;
  options.csHost = csListen.substr(0, uiColon);
  options.iPort = static_cast<int>(liPort);
  return true;
}

}  // namespace

int ServeCommand(int argc, char** argv) {
  varnox::web::ServerOptions options;
  if (argc == 5 && std::strcmp(argv[3], "--listen") == 0) {
    if (!ParseListen(argv[4], options)) {
      std::fprintf(stderr, "varnox: serve: --listen wants ADDR:PORT (port 0 to 65535), not %s\n",
                   argv[4]);
      return 2;
    }
  } else if (argc != 3) {
    std::fprintf(stderr, "usage: varnox serve DIR [--listen ADDR:PORT]\n");
    return 2;
  }
  const std::string csDir = argv[2];

  // SIGINT and SIGTERM end the server: whichever thread they reach, the
  // handler only writes to a pipe, which a thread of ours waits on.
  if (pipe(g_aStopPipe) != 0) {
    std::perror("varnox: serve: pipe");
    return 1;
  }
  struct sigaction onStop {};
  onStop.sa_handler = [](int) {
    const char cStop = 1;
    [[maybe_unused]] const ssize_t n = write(g_aStopPipe[1], &cStop, 1);
  };
  sigaction(SIGINT, &onStop, nullptr);
  sigaction(SIGTERM, &onStop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  varnox::web::Feed feed;
  std::unique_ptr<varnox::web::LiveMeet> pMeet;
  try {
    pMeet = std::make_unique<varnox::web::LiveMeet>(csDir, feed);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "varnox: serve %s: %s\n", csDir.c_str(), e.what());
    return 1;
  }
  varnox::web::WebServer server(feed, options);
  const int iPort = server.Bind();
  if (iPort < 0) {
    std::fprintf(stderr, "varnox: serve: cannot listen on %s:%d\n", options.csHost.c_str(),
                 options.iPort);
    return 1;
  }
  std::printf("Serving %s at http://%s:%d/\n", csDir.c_str(), options.csHost.c_str(), iPort);
  std::fflush(stdout);

  std::thread stopper([&] {
    char cStop = 0;
    while (read(g_aStopPipe[0], &cStop, 1) < 0 && errno == EINTR) {
    }
    server.Stop();
  });
  const bool bServed = server.Run();
  if (!bServed) {
    std::fprintf(stderr, "varnox: serve: listening failed\n");
    const char cStop = 1;
    [[maybe_unused]] const ssize_t n = write(g_aStopPipe[1], &cStop, 1);  // releases the stopper
  }
  stopper.join();
  pMeet->Close();
  return bServed ? 0 : 1;
}
