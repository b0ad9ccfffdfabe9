// The main queue inside a plain poll() loop: the loop waits on the queue's descriptor beside its
// own, for no longer than the queue's next timer, then runs what is due on its own thread.
//
//     std::vector<pollfd> mine = {{socketFd, POLLIN, 0}};
//     while (running) {
//       hcf::dispatch::pollAndRunDue(mine);   // the kit's callbacks run here
//       if (mine[0].revents & POLLIN) readSocket();
//     }
#pragma once

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <span>
#include <vector>

#include "hcf/platform/dispatch/queues.h"

HCF_NAMESPACE_BEGIN
namespace dispatch {

/// How long, in milliseconds, a poll() that watches `queue.wakeDescriptor()` may wait before the
/// queue's next timer is due: 0 when work is due now, −1 while no timer is set (the descriptor
/// alone will wake the loop), else the time left on the queue's clock, rounded up.
inline int pollTimeout(const MainQueue& queue) {
  const auto due = queue.nextDeadline();
  if (!due) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - queue.now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, INT_MAX));
}

/// One turn of a poll() loop: waits until the queue has work or one of `others` is ready (at
/// most `maxWaitMs` when not −1), then runs what the queue has due on the calling thread, which
/// becomes the thread that drives it. `others`' `revents` are filled in as poll() left them.
/// Returns poll()'s answer (−1 with errno on failure, EINTR included).
inline int pollAndRunDue(std::span<pollfd> others = {}, int maxWaitMs = -1,
                         MainQueue& queue = mainQueue()) {
  std::vector<pollfd> fds;
  fds.reserve(others.size() + 1);
  fds.push_back({queue.wakeDescriptor(), POLLIN, 0});
  fds.insert(fds.end(), others.begin(), others.end());
  int timeout = pollTimeout(queue);
  if (maxWaitMs >= 0) timeout = timeout < 0 ? maxWaitMs : std::min(timeout, maxWaitMs);
  const int ready = ::poll(fds.data(), fds.size(), timeout);
  for (std::size_t i = 0; i < others.size(); ++i) others[i].revents = fds[i + 1].revents;
  if (ready >= 0) queue.runDue();
  return ready;
}

}  // namespace dispatch
HCF_NAMESPACE_END
