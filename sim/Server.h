#pragma once
// recorder-sim's TCP server: the recorder's side of the transport (verdict on connect, close
// acknowledgement, keep-alive bytes tolerated) and a table of command handlers. Each handler
// lives in its own sim/handle_*.cpp and registers itself for its command code:
//
//   static fsv::sim::HandlerRegistrar reg(fsv::net::cmd::kDateQuery,
//       [](fsv::sim::Client& client, fsv::net::ByteSpan message) { ... client.reply(...); });

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <initializer_list>
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
    int maxClients = 16;     // logged-in clients beyond this are refused
    // Connections not logged in yet, held at once; beyond them a newcomer waits for its
    // verdict until the oldest that has sent nothing for a short while makes room.
    int maxWaiting = 4;
    // A connection that has not logged in by then is dropped, and so is one that sends nothing
    // for longer than the idle limit (a client sends a keep-alive byte after 30 s of silence).
    int loginTimeoutMs = 30000;
    int idleTimeoutMs = 65000;
    // Faults for tests.
    int dropAfter = 0;        // close a connection after this many received messages (0: never)
    int dropStreamAfter = 0;  // close the link after a stream sent N blocks or frames (0: never)
    // Once a stream sent N blocks or frames, send nothing more on that link, which stays open:
    // a recorder gone silent in the middle of a stream (0: never).
    int silentStreamAfter = 0;
    int delayMs = 0;         // delay every reply
    bool malformed = false;  // send a cut-short copy before every reply
    // Faults of the server information.
    bool badChannelList = false;       // answer the channel-name request unreadably
    std::optional<uint32_t> extraDay;  // list this day number for every camera as well
    uint32_t cameras = 0;  // announce this many cameras: the recordings' own, then empty ones
    // Tests: every login block received is appended here as "ID:password".
    std::filesystem::path loginLog;
    // Tests: every stream opened is appended here as "NAME MODE OFFSET" (the recording's name,
    // the stream mode, the resume offset of a file transfer).
    std::filesystem::path streamLog;
    // A hostile recorder for tests, by name; the handlers that play it say which (--fault).
    std::string fault;
};

class Server;

// A lock that hands itself on in the order it was asked for: the senders of one client's
// streams take turns on the socket instead of one of them winning it again and again.
class FairLock {
  public:
    void lock();
    void unlock();

  private:
    std::mutex mutex_;
    std::condition_variable turn_;
    uint64_t next_ = 0, serving_ = 0;
};

// One connected client, as the handlers see it.
class Client {
  public:
    Client(Server& server, int fd);
    ~Client();

    Server& server() { return server_; }
    const ServerOptions& options() const;

    // Sends one message as a data frame; safe from any thread. False once the link is gone, or
    // when `cancelled` is given and set (looked at once the link is ours, so nothing goes out
    // after a cancel() returned).
    bool reply(const net::Bytes& message, const std::atomic<bool>* cancelled = nullptr);
    // A stream's data block ('Q'), sent from the caller's bytes without copying them.
    bool replyBlock(uint32_t cookie, uint32_t block, net::ByteSpan data,
                    const std::atomic<bool>* cancelled = nullptr);

    // Runs `body` on a sender thread of its own, so that a long transfer (a whole file) goes
    // out while the reading thread takes the client's next requests and its other transfers
    // go on. `key` (the stream cookie) names it for cancel(); `body` gets the flag that cancel()
    // and the client's end set. False when the client already runs kMaxSenders of them.
    using SenderBody = std::function<void(const std::atomic<bool>& cancelled)>;
    static constexpr int kMaxSenders = 32;
    bool serve(uint32_t key, SenderBody body);
    void cancel(uint32_t key);
    // A data frame that announces the whole message but carries `missing` bytes less (a fault).
    bool replyCut(const net::Bytes& message, size_t missing);
    bool fault(const char* name) const { return options().fault == name; }
    // Closes the link (the reading thread ends).
    void drop();
    // From now on nothing more is sent on the link (sends report success); it stays open.
    void goSilent() { silent_.store(true); }
    bool stopping() const { return stopping_.load(); }
    // True once the client sent anything (read already, or waiting to be read).
    bool spoke() const;
    // Waits up to `ms`, returning early (true) when the client is stopping.
    bool waitStopping(int ms);

    // The login state the login handlers keep.
    uint16_t version = 0;  // agreed at login
    std::atomic<bool> loggedIn{false};
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
    struct Sender {
        uint32_t key = 0;
        std::shared_ptr<std::atomic<bool>> cancelled, done;
        std::thread thread;
    };

    void run();
    bool sendRaw(const uint8_t* p, size_t n);
    // One message made of `parts`, as one data frame.
    bool replyParts(std::initializer_list<net::ByteSpan> parts, const std::atomic<bool>* cancelled);
    // Waits for bytes until the login deadline (before the login) or the idle limit.
    bool readable();
    bool readAll(uint8_t* p, size_t n);
    // The message of a data frame, its buffer grown only as its bytes arrive.
    bool readMessage(net::Bytes& message, uint32_t length);
    void joinSenders(bool all);

    Server& server_;
    int fd_;
    std::atomic<bool> spoke_{false};  // a byte came from the client
    std::atomic<bool> silent_{false};
    std::chrono::steady_clock::time_point acceptedAt_;
    std::chrono::steady_clock::time_point loginDeadline_;
    FairLock writeLock_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
    std::mutex stopLock_;
    std::condition_variable stopCv_;
    std::mutex extLock_;
    std::map<std::string, std::shared_ptr<void>> ext_;
    std::mutex sendersLock_;
    std::vector<Sender> senders_;
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

    // True while fewer than the maximum of clients are logged in.
    bool roomForLogin();

  private:
    struct Waiting {
        int fd;
        std::chrono::steady_clock::time_point since;
    };
    using Lobby = std::deque<Waiting>;
    static constexpr size_t kLobbySize = 64;

    void acceptLoop();
    // Gives connections of the lobby their verdict while places allow.
    void admit(Lobby& lobby);
    static void refuse(int fd);
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
