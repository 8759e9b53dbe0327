#pragma once
// The transport to recorders: one ConnectionManager per process turns connect requests into
// live connections on its connect worker, owns every connection, and removes dead ones on its
// housekeeping thread. A connection is never handed out; its owner addresses it by the owner
// pointer it gave at connect time and hears from it through its event callback.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace fsv::net {

// Every time the transport waits for, shortened by tests.
struct TransportTiming {
    std::chrono::milliseconds verdict{30000};        // accepted or refused after TCP connect
    std::chrono::milliseconds keepAlive{30000};      // send silence before the 0x07 byte
    std::chrono::milliseconds disconnectWait{5000};  // close acknowledgement
    std::chrono::milliseconds cancelWait{30000};     // connect worker after a cancel
    uint32_t maxDelivery = 100'000'000;              // largest piece of a payload delivered
};

enum ConnectResult : int { kConnectAccepted = 0, kConnectFailed = 1, kConnectRefused = 2 };

enum TransportEvent : int {
    kEventMessage = 2,  // one message (or piece of one); data valid only during the call
    kEventGone = 3,     // the connection is gone; data null, length 0
};

// Called on transport threads.
using EventCallback =
    std::function<void(void* owner, int event, const uint8_t* data, uint32_t length)>;

class Connection;
struct PendingConnect;

class ConnectionManager {
  public:
    explicit ConnectionManager(TransportTiming timing = {});
    ~ConnectionManager();
    ConnectionManager(const ConnectionManager&) = delete;
    ConnectionManager& operator=(const ConnectionManager&) = delete;

    // Blocks until the recorder accepted (0), refused (2) or the attempt failed (1). The
    // callback is kept only when the connection is accepted; a refused or failed connection
    // never calls back. `cancel`, when set, abandons the attempt.
    int connect(void* owner, const std::string& host, uint16_t port, EventCallback callback,
                platform::Event* cancel = nullptr);

    // Sends one data frame carrying `data` (not copied; valid until the call returns).
    // 1 when the whole frame went out, 0 otherwise.
    int send(void* owner, const uint8_t* data, uint32_t length);

    // Sends a close request, waits a short while for the acknowledgement (unless told not to:
    // a recorder gone silent sends none) and removes the connection (which reports event 3).
    // 1 when the owner had a connection, else 0.
    int disconnect(void* owner, bool waitForAck = true);

    const TransportTiming& timing() const { return timing_; }

  private:
    friend class Connection;
    void postRemoval(uint64_t id);
    void connectWorker();
    void housekeeping();
    int runRequest(PendingConnect& request);
    std::shared_ptr<Connection> take(uint64_t id, void* owner);  // out of the list
    void destroyConnection(const std::shared_ptr<Connection>& c);

    const TransportTiming timing_;
    platform::Event stop_{platform::Event::Reset::Manual};

    std::mutex listLock_;
    std::vector<std::shared_ptr<Connection>> connections_;
    std::multiset<void*> destroying_;  // owners whose connection is being torn down
    std::condition_variable destroyed_;
    uint64_t nextId_ = 1;

    std::mutex requestLock_;
    std::deque<std::shared_ptr<PendingConnect>> requests_;
    std::shared_ptr<PendingConnect> current_;  // the one the worker is connecting
    platform::Event requestQueued_{platform::Event::Reset::Auto};

    std::mutex removalLock_;
    std::deque<uint64_t> removals_;
    platform::Event removalQueued_{platform::Event::Reset::Auto};

    std::thread housekeeping_;
    std::thread worker_;
};

}  // namespace fsv::net
