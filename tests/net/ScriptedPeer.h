#pragma once
// The recorder's end of one TCP link, driven byte by byte by a test: it listens on 127.0.0.1
// with a port the system picks, accepts, and reads and writes raw frames with time limits.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "net/Messages.h"
#include "tests/support/Loopback.h"

namespace fsv::test {

class ScriptedPeer {
  public:
    struct Frame {
        uint8_t type = 0;
        net::Bytes payload;  // data frames only
    };

    ScriptedPeer() = default;
    ~ScriptedPeer() { close(); }

    uint16_t port() const { return listener_.port(); }

    bool accept(int timeoutMs = 5000) {
        close();
        pollfd p{listener_.fd(), POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) return false;
        fd_ = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        return fd_ >= 0;
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool write(const net::Bytes& b) {
        size_t off = 0;
        while (off < b.size()) {
            ssize_t n = ::send(fd_, b.data() + off, b.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return false;
            off += static_cast<size_t>(n);
        }
        return true;
    }
    bool writeControl(uint8_t type) { return write(net::encodeFrameHeader(type, 0)); }
    bool writeMessage(const net::Bytes& message) { return write(frame(message)); }
    static net::Bytes frame(const net::Bytes& message) {
        auto b = net::encodeFrameHeader(net::kFrameData, static_cast<uint32_t>(message.size()));
        b.insert(b.end(), message.begin(), message.end());
        return b;
    }

    // Exactly n bytes, or nullopt when they did not come in time or the link closed.
    std::optional<net::Bytes> read(size_t n, int timeoutMs = 5000) {
        net::Bytes b(n);
        size_t got = 0;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got < n) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) != 1) return std::nullopt;
            ssize_t r = ::recv(fd_, b.data() + got, n - got, 0);
            if (r <= 0) return std::nullopt;
            got += static_cast<size_t>(r);
        }
        return b;
    }

    // The next frame, skipping keep-alive bytes unless asked to return them.
    std::optional<Frame> readFrame(int timeoutMs = 5000, bool keepAlives = false) {
        for (;;) {
            auto t = read(1, timeoutMs);
            if (!t) return std::nullopt;
            if ((*t)[0] == net::kFrameKeepAlive) {
                if (keepAlives) return Frame{net::kFrameKeepAlive, {}};
                continue;
            }
            auto len = read(4, timeoutMs);
            if (!len) return std::nullopt;
            Frame f{(*t)[0], {}};
            if (f.type == net::kFrameData) {
                uint32_t n = static_cast<uint32_t>((*len)[0] | ((*len)[1] << 8) |
                                                   ((*len)[2] << 16) | ((*len)[3] << 24));
                auto p = read(n, timeoutMs);
                if (!p) return std::nullopt;
                f.payload = std::move(*p);
            }
            return f;
        }
    }
    std::optional<net::Bytes> readMessage(int timeoutMs = 5000) {
        for (;;) {
            auto f = readFrame(timeoutMs);
            if (!f) return std::nullopt;
            if (f->type == net::kFrameData) return f->payload;
        }
    }

    // True when the other side closed (or reset) the link within the time.
    bool waitClosed(int timeoutMs = 5000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        uint8_t buf[4096];
        for (;;) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) != 1) return false;
            if (::recv(fd_, buf, sizeof buf, 0) <= 0) return true;
        }
    }

    int fd() const { return fd_; }

  private:
    LoopbackListener listener_;
    int fd_ = -1;
};

}  // namespace fsv::test
