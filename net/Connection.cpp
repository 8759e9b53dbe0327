#include "net/Connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "net/FrameReceiver.h"
#include "platform/Bytes.h"

namespace fsv::net {

Connection::Connection(ConnectionManager& manager, uint64_t id, int fd, void* owner)
    : manager_(manager), id_(id), fd_(fd), owner_(owner) {}

Connection::~Connection() { destroy(); }

int Connection::start(EventCallback callback) {
    try {
        sender_ = std::thread([this] { sendThread(); });
        receiver_ = std::thread([this] { receiveThread(); });
    } catch (const std::system_error&) {
        if (!sender_.joinable()) senderEnded_.set();
        close();
        return kConnectFailed;
    }
    int w = platform::waitAny({&closed_, &reply_, &manager_.stop_}, manager_.timing().verdict);
    if (w == 1 && handshake_.load() == kFrameAccepted) {
        callback_ = std::move(callback);
        accepted_.store(true, std::memory_order_release);
        return kConnectAccepted;
    }
    if (w == 1 && handshake_.load() == kFrameRefused) return kConnectRefused;
    close();
    return kConnectFailed;
}

void Connection::close() {
    closed_.set();
    if (!removalPosted_.exchange(true)) manager_.postRemoval(id_);
}

void Connection::destroy() {
    std::call_once(destroyOnce_, [this] {
        sendBusy_.store(true);
        removalPosted_.store(true);
        int fd = fd_.load();
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);  // wakes a blocked receive or send
        closed_.set();
        if (receiver_.joinable()) receiver_.join();
        if (sender_.joinable()) sender_.join();
        // Closed only once no thread can use the number any more.
        if (fd >= 0) ::close(fd);
        fd_.store(-1);
        if (accepted_.load(std::memory_order_acquire)) callback_(owner_, kEventGone, nullptr, 0);
    });
}

namespace {

class ConnectionSink : public FrameSink {
  public:
    ConnectionSink(Connection& c, std::function<void(uint8_t)> control,
                   std::function<void(const uint8_t*, uint32_t)> piece)
        : c_(c), control_(std::move(control)), piece_(std::move(piece)) {}
    void control(uint8_t type) override { control_(type); }
    void piece(const uint8_t* data, uint32_t length) override { piece_(data, length); }
    bool stopping() override { return c_.isClosed(); }

  private:
    Connection& c_;
    std::function<void(uint8_t)> control_;
    std::function<void(const uint8_t*, uint32_t)> piece_;
};

}  // namespace

void Connection::receiveThread() {
    const int fd = fd_.load();
    FrameReceiver receiver(
        [fd](uint8_t* buf, size_t max) -> long {
            for (;;) {
                ssize_t n = ::recv(fd, buf, max, 0);
                if (n < 0 && errno == EINTR) continue;
                // Every segment is acknowledged at once (the system falls back to delayed
                // acknowledgements now and then, so this is asked again after each read). A
                // recorder that holds a short reply (a stream's header or status) until its
                // previous bytes are acknowledged would otherwise wait up to 40 ms each time.
                const int one = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
                return n;
            }
        },
        manager_.timing().maxDelivery);
    ConnectionSink sink(
        *this,
        [this](uint8_t type) {
            switch (type) {
                case kFrameCloseRequest:
                    sendControl(kFrameCloseAck);
                    break;
                case kFrameCloseAck:
                    reply_.set();
                    break;
                case kFrameRefused:
                case kFrameAccepted:
                    handshake_.store(type);
                    reply_.set();
                    break;
                default:
                    break;
            }
        },
        [this](const uint8_t* data, uint32_t length) {
            // Data before the verdict has nobody to go to.
            if (accepted_.load(std::memory_order_acquire))
                callback_(owner_, kEventMessage, data, length);
        });
    while (!closed_.isSet() && receiver.next(sink)) {
    }
    close();
}

bool Connection::sendAll(const uint8_t* p, size_t n) {
    while (n > 0) {
        if (closed_.isSet()) return false;
        ssize_t s = ::send(fd_.load(), p, n, MSG_NOSIGNAL);
        if (s < 0 && (errno == EINTR || errno == ENOBUFS)) continue;
        if (s < 0) return false;
        p += s;
        n -= static_cast<size_t>(s);
    }
    return true;
}

bool Connection::gatheredSend() {
    // Header and payload go out in one gathered write; after a partial write the entries
    // advance past what went out.
    iovec iov[2];
    iov[0] = {header_, kFrameHeaderSize};
    iov[1] = {const_cast<uint8_t*>(payload_), payloadLength_};
    int first = 0;
    size_t left = kFrameHeaderSize + payloadLength_;
    while (left > 0) {
        if (closed_.isSet()) return false;
        msghdr msg{};
        msg.msg_iov = iov + first;
        msg.msg_iovlen = static_cast<size_t>(2 - first);
        if (iov[1].iov_len == 0) msg.msg_iovlen = 1 - first;
        ssize_t s = ::sendmsg(fd_.load(), &msg, MSG_NOSIGNAL);
        if (s < 0 && (errno == EINTR || errno == ENOBUFS)) continue;
        if (s < 0) return false;
        size_t n = static_cast<size_t>(s);
        left -= n;
        if (first == 0) {
            if (n < iov[0].iov_len) {
                iov[0].iov_base = static_cast<uint8_t*>(iov[0].iov_base) + n;
                iov[0].iov_len -= n;
                continue;
            }
            n -= iov[0].iov_len;
            first = 1;
        }
        iov[1].iov_base = static_cast<uint8_t*>(iov[1].iov_base) + n;
        iov[1].iov_len -= n;
    }
    return true;
}

void Connection::sendThread() {
    for (;;) {
        int w = platform::waitAny({&closed_, &sendRequest_}, manager_.timing().keepAlive);
        if (w == 0) break;
        if (w == platform::kWaitTimeout) {
            const uint8_t keepAlive = kFrameKeepAlive;
            if (!sendAll(&keepAlive, 1)) break;
            continue;
        }
        if (!gatheredSend()) break;
        sendBusy_.store(false);
        sendDone_.set();
    }
    close();
    senderEnded_.set();
}

int Connection::sendFrame(const uint8_t* data, uint32_t length) {
    if (platform::waitAny({&closed_, &sendLock_}) == 0) return 0;
    if (sendBusy_.exchange(true)) {  // a control frame is in flight
        sendLock_.set();
        return 0;
    }
    // The type byte is written for every data frame: a control frame sent earlier left its
    // own type in the shared header.
    header_[0] = kFrameData;
    platform::putU32(header_ + 1, length);
    payload_ = data;
    payloadLength_ = length;
    sendRequest_.set();
    // Waited against the send thread's end rather than the closed event: a frame that went
    // out counts even when the link closed right after it.
    int w = platform::waitAny({&sendDone_, &senderEnded_});
    sendLock_.set();
    return w == 0 ? 1 : 0;
}

bool Connection::sendControl(uint8_t type) {
    if (sendBusy_.exchange(true)) return false;
    header_[0] = type;
    header_[1] = 0;
    payload_ = nullptr;
    payloadLength_ = 0;
    sendRequest_.set();
    // The send thread's end counts as done: the frame can no longer be waited for.
    return platform::waitAny({&sendDone_, &senderEnded_}) >= 0;
}

}  // namespace fsv::net
