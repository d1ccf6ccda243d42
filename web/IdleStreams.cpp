#include "web/IdleStreams.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "web/PathTrace.h"

namespace varnox::web {

namespace {

// `csText` as one chunk of a chunked response, as the server's own writes
// frame it, so the two kinds of write can follow each other.
std::string Chunk(const std::string& csText) {
  char aSize[20];
  std::snprintf(aSize, sizeof aSize, "%zx\r\n", csText.size());
  return aSize + csText + "\r\n";
}

}  // namespace

struct IdleStreams::Parked {
  int fd = -1;
  Return back;
  bool bHandedBack = false;
  std::condition_variable handedBack;
};

IdleStreams::IdleStreams(Feed& feed) : m_Feed(feed) {
  m_Feed.OnChanged([this] { Push(); });
}

IdleStreams::~IdleStreams() { m_Feed.OnChanged(nullptr); }

IdleStreams::Return IdleStreams::Park(int fd, uint64_t uiAt, std::chrono::milliseconds timeout) {
  Parked parked;
  parked.fd = fd;
  parked.back.uiAt = uiAt;
  std::unique_lock lock(m_Mutex);
  // Checked under the lock a push takes: an event published before the
  // stream is parked is seen here, one published after is pushed to it.
  if (m_Feed.Version() != uiAt || m_Feed.Stopped() || m_Feed.Closed()) return parked.back;
  m_Parked.push_back(&parked);
  if (!parked.handedBack.wait_for(lock, timeout, [&] { return parked.bHandedBack; })) {
    std::erase(m_Parked, &parked);
    parked.back.bIdle = parked.back.uiAt == uiAt;
  }
  return std::move(parked.back);
}

size_t IdleStreams::Count() {
  std::lock_guard lock(m_Mutex);
  return m_Parked.size();
}

void IdleStreams::Push() {
  std::lock_guard lock(m_Mutex);
  const bool bEnded = m_Feed.Stopped() || m_Feed.Closed();
  // The parked streams mostly stand at the same id: the chunk is made once.
  std::optional<uint64_t> uiChunkAfter;
  std::optional<FeedText> chunk;  // none: the events after that id are no longer kept
  bool bWriting = false;          // a write to a parked socket has begun
  std::erase_if(m_Parked, [&](Parked* pParked) {
    Return& back = pParked->back;
    if (!bEnded && uiChunkAfter != back.uiAt) {
      chunk = m_Feed.TextAfter(back.uiAt, std::chrono::milliseconds(0));
      if (chunk && !chunk->csText.empty()) chunk->csText = Chunk(chunk->csText);
      uiChunkAfter = back.uiAt;
    }
    bool bHandBack = bEnded || !chunk;  // fell behind what is kept: the stream starts anew
    if (!bHandBack && !chunk->csText.empty()) {
      if (!bWriting) trace::Mark(trace::Stage::Sending);
      bWriting = true;
      const ssize_t n = send(pParked->fd, chunk->csText.data(), chunk->csText.size(),
                             MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        back.bFailed = true;
        bHandBack = true;
      } else {
        back.uiAt = chunk->uiLast;
        const size_t uiSent = static_cast<size_t>(std::max<ssize_t>(n, 0));
        if (uiSent < chunk->csText.size()) {
          // The socket is full: the stream's thread waits for room, not this one.
          back.csUnsent = chunk->csText.substr(uiSent);
          bHandBack = true;
        }
      }
    }
    if (bHandBack) {
      pParked->bHandedBack = true;
      pParked->handedBack.notify_one();
    }
    return bHandBack;
  });
  trace::Mark(trace::Stage::Sent);
}

bool WriteAll(int fd, const std::string& csBytes, std::chrono::milliseconds timeout) {
  size_t uiSent = 0;
  while (uiSent < csBytes.size()) {
    pollfd room{fd, POLLOUT, 0};
    const int iReady = poll(&room, 1, static_cast<int>(timeout.count()));
    if (iReady == 0 || (iReady < 0 && errno != EINTR)) return false;
    const ssize_t n =
        send(fd, csBytes.data() + uiSent, csBytes.size() - uiSent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    if (n > 0) uiSent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace varnox::web
