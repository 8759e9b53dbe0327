#pragma once
// The interactive connects: one queue of requests and one thread that runs them, one after
// the other, so that whoever asks (a window, a saved connection set) never waits for a
// recorder. The status window's Cancel belongs to the connect in progress: the cancel event is
// cleared as each connect starts and set by cancel().
//
// Locking: `lock_` is a leaf except for the cancel event's own mutex (cleared under it, so that
// a stop that sets the event after marking the queue stopped always wins). The attempt and the
// finished call run without it.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/Event.h"
#include "platform/Shared.h"

namespace fsv::client {

class Connector {
  public:
    // `attempt` runs one connect on the connector's thread and returns when it has ended (its
    // waits watch `cancel`); `finished`, if given, follows each attempt once pending() no
    // longer counts it.
    Connector(platform::Event& cancel, std::function<void(const ConnectRequest&)> attempt,
              std::function<void()> finished = {});
    ~Connector();
    Connector(const Connector&) = delete;
    Connector& operator=(const Connector&) = delete;

    // Queues the request behind those waiting; the thread starts with the first request.
    // False once stopped.
    bool enqueue(const ConnectRequest& request);
    // Ends the wait of the connect in progress (the requests queued behind it still run).
    void cancel();
    // Requests queued or running.
    int pending() const;
    // Returns once nothing is queued or running and the last end was told, or the connector
    // was stopped.
    void waitIdle();
    // The request the thread took last (before any: kind 0xFFFF, the default port, no ID).
    ConnectRequest last() const;
    // Drops the requests still queued, cancels the one in progress and joins the thread.
    // Safe to call more than once.
    void stop();

  private:
    void run();

    platform::Event& cancel_;
    std::function<void(const ConnectRequest&)> attempt_;
    std::function<void()> finished_;

    mutable std::mutex lock_;
    std::condition_variable wake_;  // a request came, or stop
    std::condition_variable idle_;  // pending_ fell to nothing, or stop
    std::deque<ConnectRequest> queue_;
    int pending_ = 0;    // queued + running
    bool busy_ = false;  // a request taken and not yet told finished
    bool stopped_ = false;
    ConnectRequest last_;
    std::thread thread_;
};

}  // namespace fsv::client
