#pragma once
// One TCP link to a recorder, used only inside the transport. It has a receive thread and a
// send thread; exactly one frame is in flight at a time, handed from the caller to the send
// thread through the send-busy flag and the send-request/send-done events.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "net/Messages.h"
#include "net/Transport.h"
#include "platform/Event.h"

namespace fsv::net {

class Connection {
  public:
    Connection(ConnectionManager& manager, uint64_t id, int fd, void* owner);
    ~Connection();

    // Starts both threads and waits for the recorder's verdict: 0 accepted (the callback is
    // kept), 2 refused, 1 for anything else.
    int start(EventCallback callback);
    // One data frame; blocks until it went out. 1 or 0.
    int sendFrame(const uint8_t* data, uint32_t length);
    // A control frame; fails at once while another frame is in flight.
    bool sendControl(uint8_t type);
    // Marks the connection closed and asks the manager, once, to remove it.
    void close();
    // Shuts the socket, ends both threads and reports event 3 to an accepted owner. Runs once.
    void destroy();

    uint64_t id() const { return id_; }
    void* owner() const { return owner_; }
    bool isClosed() const { return closed_.isSet(); }
    bool socketValid() const { return fd_.load() >= 0; }
    platform::Event& closedEvent() { return closed_; }
    platform::Event& replyEvent() { return reply_; }
    int fd() const { return fd_.load(); }

  private:
    void receiveThread();
    void sendThread();
    bool gatheredSend();
    bool sendAll(const uint8_t* p, size_t n);

    ConnectionManager& manager_;
    const uint64_t id_;
    std::atomic<int> fd_;
    void* const owner_;

    platform::Event closed_{platform::Event::Reset::Manual};
    platform::Event sendLock_{platform::Event::Reset::Auto, true};
    platform::Event reply_{platform::Event::Reset::Auto};
    platform::Event sendRequest_{platform::Event::Reset::Auto};
    platform::Event sendDone_{platform::Event::Reset::Auto};
    platform::Event senderEnded_{platform::Event::Reset::Manual};

    EventCallback callback_;
    std::atomic<bool> accepted_{false};
    std::atomic<bool> sendBusy_{false};
    std::atomic<bool> removalPosted_{false};
    std::atomic<uint8_t> handshake_{0};
    std::once_flag destroyOnce_;

    // The frame in flight: the header and the caller's payload, not copied.
    uint8_t header_[8] = {};
    const uint8_t* payload_ = nullptr;
    uint32_t payloadLength_ = 0;

    std::thread receiver_, sender_;
};

}  // namespace fsv::net
