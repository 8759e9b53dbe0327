#pragma once
// A listening TCP socket on 127.0.0.1 with a port the system picks: a peer for the transport
// tests, a recorder that takes the connection and never says a word, or (closed at once) a port
// where nobody listens.

#include <cstdint>

namespace fsv::test {

class LoopbackListener {
  public:
    explicit LoopbackListener(int backlog = 8);
    ~LoopbackListener() { close(); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool listening() const { return fd_ >= 0 && port_ != 0; }
    int fd() const { return fd_; }
    uint16_t port() const { return port_; }  // kept after close()
    void close();

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace fsv::test
