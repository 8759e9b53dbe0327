#include "sim/Server.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "ktcrypto/KtCrypto.h"
#include "platform/Bytes.h"

namespace fsv::sim {

namespace {

std::map<uint8_t, Handler>& handlerTable() {
    static std::map<uint8_t, Handler> table;
    return table;
}

// A client's messages are small: the login block (a few hundred bytes, encrypted with a key of
// up to 4096 bits), requests of a few dozen. A frame announcing more is not a client of ours.
constexpr uint32_t kMaxClientMessage = 4096;
// A message buffer starts at most this large and then grows with what arrived.
constexpr size_t kFirstChunk = 64 * 1024;

}  // namespace

HandlerRegistrar::HandlerRegistrar(uint8_t code, Handler handler) {
    handlerTable()[code] = std::move(handler);
}

const Handler* findHandler(uint8_t code) {
    auto& t = handlerTable();
    auto it = t.find(code);
    return it == t.end() ? nullptr : &it->second;
}

// ---- client ------------------------------------------------------------------------------

void FairLock::lock() {
    std::unique_lock l(mutex_);
    const uint64_t ticket = next_++;
    turn_.wait(l, [&] { return serving_ == ticket; });
}

void FairLock::unlock() {
    {
        std::lock_guard l(mutex_);
        ++serving_;
    }
    turn_.notify_all();
}

Client::Client(Server& server, int fd)
    : server_(server),
      fd_(fd),
      acceptedAt_(std::chrono::steady_clock::now()),
      loginDeadline_(std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(server.options().loginTimeoutMs)) {
    // Every reply goes out whole in one write: a short one (a stream's header or status) must
    // not wait for the client's delayed acknowledgement of the block before it.
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

Client::~Client() {
    drop();
    if (thread_.joinable()) thread_.join();
    joinSenders(true);
    ::close(fd_);
}

const ServerOptions& Client::options() const { return server_.options(); }

void Client::drop() {
    {
        std::lock_guard lock(stopLock_);
        stopping_.store(true);
    }
    stopCv_.notify_all();
    {
        std::lock_guard lock(sendersLock_);
        for (auto& s : senders_) s.cancelled->store(true);
    }
    ::shutdown(fd_, SHUT_RDWR);
}

bool Client::waitStopping(int ms) {
    std::unique_lock lock(stopLock_);
    return stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_.load(); });
}

bool Client::sendRaw(const uint8_t* p, size_t n) {
    if (silent_.load()) return true;
    while (n > 0) {
        ssize_t s = ::send(fd_, p, n, MSG_NOSIGNAL);
        if (s < 0 && errno == EINTR) continue;
        if (s <= 0) return false;
        p += s;
        n -= static_cast<size_t>(s);
    }
    return true;
}

bool Client::readable() {
    using namespace std::chrono;
    long waitMs = options().idleTimeoutMs;
    if (!loggedIn.load()) {
        const auto left = duration_cast<milliseconds>(loginDeadline_ - steady_clock::now());
        waitMs = std::min<long>(waitMs, std::max<long>(left.count(), 0));
    }
    pollfd p{fd_, POLLIN, 0};
    for (;;) {
        const int r = ::poll(&p, 1, static_cast<int>(std::min<long>(waitMs, INT_MAX)));
        if (r < 0 && errno == EINTR) continue;
        return r > 0;  // 0: the time ran out
    }
}

bool Client::readAll(uint8_t* p, size_t n) {
    while (n > 0) {
        if (!readable()) return false;
        ssize_t r = ::recv(fd_, p, n, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool Client::readMessage(net::Bytes& message, uint32_t length) {
    // Announcing a length costs the client nothing; memory is given only for bytes that came.
    message.clear();
    while (message.size() < length) {
        const size_t have = message.size();
        const size_t chunk = std::min<size_t>(length - have, std::max(kFirstChunk, have));
        message.resize(have + chunk);
        if (!readAll(message.data() + have, chunk)) return false;
    }
    return true;
}

bool Client::reply(const net::Bytes& message, const std::atomic<bool>* cancelled) {
    return replyParts({net::ByteSpan(message)}, cancelled);
}

bool Client::replyBlock(uint32_t cookie, uint32_t block, net::ByteSpan data,
                        const std::atomic<bool>* cancelled) {
    // The message's head as the encoders lay it out, then the block's bytes as they are.
    const net::Bytes head =
        net::encodeStreamReply(net::stream::kData, cookie, net::encodeStreamDataBody(block, {}));
    return replyParts({net::ByteSpan(head), data}, cancelled);
}

bool Client::replyParts(std::initializer_list<net::ByteSpan> parts,
                        const std::atomic<bool>* cancelled) {
    if (options().delayMs > 0 && waitStopping(options().delayMs)) return false;
    size_t length = 0;
    for (auto p : parts) length += p.size();
    std::lock_guard lock(writeLock_);
    if (stopping_.load() || (cancelled && cancelled->load())) return false;
    // Faulty copies start after the login, so that the login itself still works.
    if (options().malformed && loggedIn && length > 1) {
        net::Bytes whole;
        for (auto p : parts) whole.insert(whole.end(), p.begin(), p.end());
        auto h = net::encodeFrameHeader(net::kFrameData, static_cast<uint32_t>(length - 1));
        if (!sendRaw(h.data(), h.size()) || !sendRaw(whole.data(), length - 1)) return false;
    }
    // The frame header and the parts in one gathered write.
    uint8_t h[net::kFrameHeaderSize];
    net::encodeFrameHeader(h, net::kFrameData, static_cast<uint32_t>(length));
    iovec iov[4];
    size_t count = 0;
    iov[count++] = {h, sizeof h};
    for (auto p : parts) {
        if (count == std::size(iov)) return false;
        iov[count++] = {const_cast<uint8_t*>(p.data()), p.size()};
    }
    size_t left = sizeof h + length;
    size_t first = 0;
    while (left > 0) {
        msghdr msg{};
        msg.msg_iov = iov + first;
        msg.msg_iovlen = count - first;
        ssize_t s = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
        if (s < 0 && errno == EINTR) continue;
        if (s <= 0) return false;
        size_t n = static_cast<size_t>(s);
        left -= n;
        while (n > 0 && first < count) {
            const size_t step = std::min(n, iov[first].iov_len);
            iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + step;
            iov[first].iov_len -= step;
            n -= step;
            if (iov[first].iov_len == 0) ++first;
        }
        while (first < count && iov[first].iov_len == 0) ++first;
    }
    return true;
}

bool Client::serve(uint32_t key, SenderBody body) {
    joinSenders(false);
    std::lock_guard lock(sendersLock_);
    if (stopping_.load() || static_cast<int>(senders_.size()) >= kMaxSenders) return false;
    Sender s;
    s.key = key;
    s.cancelled = std::make_shared<std::atomic<bool>>(false);
    s.done = std::make_shared<std::atomic<bool>>(false);
    s.thread = std::thread([body = std::move(body), cancelled = s.cancelled, done = s.done] {
        body(*cancelled);
        done->store(true);
    });
    senders_.push_back(std::move(s));
    return true;
}

void Client::cancel(uint32_t key) {
    std::lock_guard lock(sendersLock_);
    for (auto& s : senders_)
        if (s.key == key) s.cancelled->store(true);
}

void Client::joinSenders(bool all) {
    std::vector<Sender> finished;
    {
        std::lock_guard lock(sendersLock_);
        for (auto it = senders_.begin(); it != senders_.end();) {
            if (all || it->done->load()) {
                finished.push_back(std::move(*it));
                it = senders_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& s : finished) s.thread.join();
}

bool Client::replyCut(const net::Bytes& message, size_t missing) {
    std::lock_guard lock(writeLock_);
    if (stopping_.load()) return false;
    const size_t sent = message.size() > missing ? message.size() - missing : 0;
    auto h = net::encodeFrameHeader(net::kFrameData, static_cast<uint32_t>(message.size()));
    return sendRaw(h.data(), h.size()) && sendRaw(message.data(), sent);
}

bool Client::spoke() const {
    if (spoke_.load()) return true;
    int pending = 0;  // bytes sent, not read yet
    return ::ioctl(fd_, FIONREAD, &pending) == 0 && pending > 0;
}

void Client::run() {
    int received = 0;
    net::Bytes message;
    for (;;) {
        uint8_t type;
        if (!readAll(&type, 1)) break;
        spoke_.store(true);
        if (type == net::kFrameKeepAlive) continue;  // one byte, nothing follows
        uint8_t lengthBytes[4];
        if (!readAll(lengthBytes, 4)) break;
        if (type == net::kFrameCloseRequest) {
            std::lock_guard lock(writeLock_);
            auto ack = net::encodeFrameHeader(net::kFrameCloseAck, 0);
            sendRaw(ack.data(), ack.size());
            continue;
        }
        if (type != net::kFrameData) continue;
        uint32_t length = fsv::platform::getU32(lengthBytes);
        if (length == 0 || length > kMaxClientMessage) break;
        if (!readMessage(message, length)) break;
        // The fault silent-after-verdict: the connection was accepted, and nothing follows.
        if (fault("silent-after-verdict")) continue;
        if (const Handler* h = findHandler(message[0])) (*h)(*this, message);
        ++received;
        if (options().dropAfter > 0 && received >= options().dropAfter) break;
        // A large message's buffer is not kept for the small ones that follow.
        if (message.capacity() > kFirstChunk) net::Bytes().swap(message);
    }
    drop();
    finished_.store(true);
}

// ---- server ------------------------------------------------------------------------------

Server::Server(ServerOptions options) : options_(std::move(options)) {
    cryptContext_ = KtCrypInit(1, 0);
    cryptKey_ = KtCryptGenKey(cryptContext_, 1024u << 16);
    uint32_t length = 0;
    if (cryptKey_ && KtExportPublicKey(cryptKey_, &length, nullptr) && length > 0) {
        publicKey_.resize(length);
        if (!KtExportPublicKey(cryptKey_, &length, publicKey_.data())) publicKey_.clear();
        publicKey_.resize(length);
    }
}

Server::~Server() {
    stop();
    if (cryptKey_) KtCryptDestroyKey(cryptKey_);
    KtCrypUninit(cryptContext_);
}

std::optional<net::Bytes> Server::decrypt(net::ByteSpan cipher) const {
    if (!cryptKey_ || cipher.empty()) return std::nullopt;
    CryptBuffer* plain = KtDecrypt(cryptKey_, cipher.data(), static_cast<uint32_t>(cipher.size()));
    if (!plain) return std::nullopt;
    net::Bytes out(plain->data, plain->data + plain->length);
    KtFreeCryptBuffer(plain);
    return out;
}

bool Server::start(std::string* error) {
    auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + ": " + std::strerror(errno);
        if (listenFd_ >= 0) ::close(listenFd_);
        listenFd_ = -1;
        return false;
    };
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return fail("socket");
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(options_.port);
    if (::inet_pton(AF_INET, options_.host.c_str(), &addr.sin_addr) != 1) {
        errno = EINVAL;
        return fail("address");
    }
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return fail("bind");
    if (::listen(listenFd_, 16) != 0) return fail("listen");
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void Server::stop() {
    if (stopping_.exchange(true)) return;
    if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);  // wakes accept
    if (acceptThread_.joinable()) acceptThread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
    reap(true);
}

void Server::reap(bool all) {
    std::vector<std::unique_ptr<Client>> done;
    {
        std::lock_guard lock(clientsLock_);
        for (auto it = clients_.begin(); it != clients_.end();) {
            if (all || (*it)->finished_.load()) {
                done.push_back(std::move(*it));
                it = clients_.erase(it);
            } else {
                ++it;
            }
        }
    }
    const bool gone = !done.empty();
    done.clear();  // joins their threads
    // What the clients that left held goes back to the system, not only to the heap.
    if (gone) ::malloc_trim(0);
}

bool Server::roomForLogin() {
    std::lock_guard lock(clientsLock_);
    int loggedIn = 0;
    for (auto& c : clients_) loggedIn += !c->stopping() && c->loggedIn.load() ? 1 : 0;
    return loggedIn < options_.maxClients;
}

void Server::refuse(int fd) {
    auto refused = net::encodeFrameHeader(net::kFrameRefused, 0);
    (void)!::send(fd, refused.data(), refused.size(), MSG_NOSIGNAL);
    ::close(fd);
}

void Server::admit(Lobby& lobby) {
    // A place for a connection that has not logged in: among --max-waiting of them; when they
    // are full, the oldest that has waited a short grace without a word makes room (a client
    // sends its first request as soon as it is accepted). The grace is long enough for a slow
    // client to speak and short enough that a newcomer does not wait long.
    const auto grace = std::chrono::milliseconds(std::min(200, options_.loginTimeoutMs / 2));
    while (!lobby.empty()) {
        const auto now = std::chrono::steady_clock::now();
        if (now - lobby.front().since >= std::chrono::milliseconds(options_.loginTimeoutMs)) {
            refuse(lobby.front().fd);  // waited as long as a login may take: no place came
            lobby.pop_front();
            continue;
        }
        int loggedIn = 0, waiting = 0;
        bool room = false;
        {
            std::lock_guard lock(clientsLock_);
            Client* oldestSilent = nullptr;
            for (auto& c : clients_) {
                if (c->stopping()) continue;  // on its way out: holds no place
                if (c->loggedIn.load()) {
                    ++loggedIn;
                    continue;
                }
                ++waiting;
                if (!oldestSilent && !c->spoke()) oldestSilent = c.get();  // in the order they came
            }
            room = waiting < options_.maxWaiting;
            if (!room && oldestSilent && now - oldestSilent->acceptedAt_ >= grace) {
                oldestSilent->drop();
                room = true;
            }
        }
        if (loggedIn >= options_.maxClients) {
            refuse(lobby.front().fd);
            lobby.pop_front();
            continue;
        }
        if (!room) return;  // looked at again shortly
        const int fd = lobby.front().fd;
        lobby.pop_front();
        auto client = std::make_unique<Client>(*this, fd);
        auto accepted = net::encodeFrameHeader(net::kFrameAccepted, 0);
        if (!client->sendRaw(accepted.data(), accepted.size())) continue;
        Client* c = client.get();
        {
            std::lock_guard lock(clientsLock_);
            clients_.push_back(std::move(client));
        }
        c->thread_ = std::thread([c] { c->run(); });
    }
}

void Server::acceptLoop() {
    // New connections wait in the lobby, in the order they came, for their verdict: accepted
    // when a place is free, refused when the logged-in places are full or the lobby is. A
    // connection that never speaks therefore only ever takes a waiting place for a while, and
    // one that comes back at once queues behind those already waiting.
    Lobby lobby;
    while (!stopping_.load()) {
        pollfd pf{listenFd_, POLLIN, 0};
        // Also wakes now and then with no newcomer, so that clients that have ended are reaped:
        // their sockets are closed only then, and a peer still sending to one would wait.
        const int ready = ::poll(&pf, 1, lobby.empty() ? 200 : 20);
        if (stopping_.load()) break;
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0) {
            if (pf.revents & (POLLHUP | POLLERR | POLLNVAL)) break;
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                if (lobby.size() >= kLobbySize)
                    refuse(fd);
                else
                    lobby.push_back({fd, std::chrono::steady_clock::now()});
            } else if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN) {
                break;
            }
        }
        reap(false);
        admit(lobby);
    }
    for (auto& waiting : lobby) ::close(waiting.fd);
}

}  // namespace fsv::sim
