#pragma once
// recorder-sim's TCP server: the recorder's side of the transport (verdict on connect, close
// acknowledgement, keep-alive bytes tolerated) and a table of command handlers. Each handler
// lives in its own sim/handle_*.cpp and registers itself for its command code:
//
//   static fsv::sim::HandlerRegistrar reg(fsv::net::cmd::kDateQuery,
//       [](fsv::sim::Client& client, fsv::net::ByteSpan message) { ... client.reply(...); });

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/Messages.h"
#include "sim/Recordings.h"

namespace fsv::sim {

struct ServerOptions {
    std::string host = "127.0.0.1";
    uint16_t port = 5066;  // 0: the system picks a free one
    std::filesystem::path recordings;
    std::string name = "recorder-sim";
    std::string user = "Guest";
    std::string password;
    uint16_t protocol = 35;  // the version this recorder speaks
    bool answerKey = true;   // false: never answers the key request, as the oldest recorders
    int maxClients = 16;     // connections beyond this are refused
    // Faults for tests.
    int dropAfter = 0;       // close a connection after this many received messages (0: never)
    int dropStreamAfter = 0;  // close the link after a stream sent N blocks or frames (0: never)
    int delayMs = 0;         // delay every reply
    bool malformed = false;  // send a cut-short copy before every reply
    // Faults of the server information.
    bool badChannelList = false;       // answer the channel-name request unreadably
    std::optional<uint32_t> extraDay;  // list this day number for every camera as well
    // Tests: every login block received is appended here as "ID:password".
    std::filesystem::path loginLog;
    // A hostile recorder for tests, by name; the handlers that play it say which (--fault).
    std::string fault;
};

class Server;

// One connected client, as the handlers see it.
class Client {
  public:
    Client(Server& server, int fd);
    ~Client();

    Server& server() { return server_; }
    const ServerOptions& options() const;

    // Sends one message as a data frame; safe from any thread. False once the link is gone.
    bool reply(const net::Bytes& message);
    // A data frame that announces the whole message but carries `missing` bytes less (a fault).
    bool replyCut(const net::Bytes& message, size_t missing);
    bool fault(const char* name) const { return options().fault == name; }
    // Closes the link (the reading thread ends).
    void drop();
    bool stopping() const { return stopping_.load(); }
    // Waits up to `ms`, returning early (true) when the client is stopping.
    bool waitStopping(int ms);

    // The login state the login handlers keep.
    uint16_t version = 0;  // agreed at login
    bool loggedIn = false;
    bool keySent = false;

    // Per-client state of handlers in other files, by a name of their own.
    template <class T>
    T& extension(const std::string& name) {
        std::lock_guard lock(extLock_);
        auto& p = ext_[name];
        if (!p) p = std::make_shared<T>();
        return *static_cast<T*>(p.get());
    }

  private:
    friend class Server;
    void run();
    bool sendRaw(const uint8_t* p, size_t n);
    bool readAll(uint8_t* p, size_t n);

    Server& server_;
    int fd_;
    std::mutex writeLock_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
    std::mutex stopLock_;
    std::condition_variable stopCv_;
    std::mutex extLock_;
    std::map<std::string, std::shared_ptr<void>> ext_;
    std::thread thread_;
};

using Handler = std::function<void(Client& client, net::ByteSpan message)>;

struct HandlerRegistrar {
    HandlerRegistrar(uint8_t code, Handler handler);
};
const Handler* findHandler(uint8_t code);

class Server {
  public:
    explicit Server(ServerOptions options);
    ~Server();

    // Binds and listens; false with `error` filled when it cannot.
    bool start(std::string* error);
    uint16_t port() const { return port_; }
    void stop();

    const ServerOptions& options() const { return options_; }
    // The recordings folder as it is now.
    Recordings recordings() const { return scanRecordings(options_.recordings); }

    // The recorder's RSA key: the public blob it hands out and the decryption of a login block.
    const net::Bytes& publicKey() const { return publicKey_; }
    std::optional<net::Bytes> decrypt(net::ByteSpan cipher) const;

  private:
    void acceptLoop();
    void reap(bool all);

    ServerOptions options_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    std::mutex clientsLock_;
    std::vector<std::unique_ptr<Client>> clients_;

    uint32_t cryptContext_ = 0, cryptKey_ = 0;
    net::Bytes publicKey_;
};

}  // namespace fsv::sim
