// The event streams waiting for their next event, written to from the
// thread that publishes it: the event leaves the server at once, without
// waking each stream's own thread and waiting for it to be scheduled. A
// stream's thread parks its connection here when it has sent everything
// and takes it back to write a keep-alive, to start anew, or to finish a
// write the publishing thread could not finish without waiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "web/Feed.h"

namespace varnox::web {

class IdleStreams {
 public:
  // Follows `feed`: its changes are pushed to the parked streams.
  explicit IdleStreams(Feed& feed);
  ~IdleStreams();
  IdleStreams(const IdleStreams&) = delete;
  IdleStreams& operator=(const IdleStreams&) = delete;

  // How a parked stream comes back to its thread.
  struct Return {
    uint64_t uiAt = 0;     // the id of the last event sent on the connection
    std::string csUnsent;  // the rest of a write left unfinished: sent next, as it is
    bool bFailed = false;  // the connection failed: the stream ends
    bool bIdle = false;    // the wait ran out with nothing sent
  };

  // Parks the stream on socket `fd`, which has sent every event up to
  // `uiAt` as chunks of a chunked response, for at most `timeout`: the
  // events published meanwhile are written to `fd` as chunks from the
  // publishing thread. Returns at once when the feed has moved past `uiAt`,
  // stopped or closed; the caller then sends what is due itself.
  Return Park(int fd, uint64_t uiAt, std::chrono::milliseconds timeout);
  // The streams parked now.
  size_t Count();

 private:
  struct Parked;
  // Writes the new events to every parked stream; hands back the streams
  // it cannot write to and all of them when the feed stopped or closed.
  void Push();

  Feed& m_Feed;
  std::mutex m_Mutex;
  std::vector<Parked*> m_Parked;
};

// Writes all of `csBytes` to socket `fd`, waiting up to `timeout` for room
// each time the socket is full; false when the connection fails or stalls.
bool WriteAll(int fd, const std::string& csBytes, std::chrono::milliseconds timeout);

}  // namespace varnox::web
