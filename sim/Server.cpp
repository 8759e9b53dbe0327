#include "sim/Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ktcrypto/KtCrypto.h"
#include "platform/Bytes.h"

namespace fsv::sim {

namespace {

std::map<uint8_t, Handler>& handlerTable() {
    static std::map<uint8_t, Handler> table;
    return table;
}

constexpr uint32_t kMaxMessage = 64u << 20;  // larger frames from a client are not believed

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

Client::Client(Server& server, int fd) : server_(server), fd_(fd) {}

Client::~Client() {
    drop();
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
}

const ServerOptions& Client::options() const { return server_.options(); }

void Client::drop() {
    {
        std::lock_guard lock(stopLock_);
        stopping_.store(true);
    }
    stopCv_.notify_all();
    ::shutdown(fd_, SHUT_RDWR);
}

bool Client::waitStopping(int ms) {
    std::unique_lock lock(stopLock_);
    return stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_.load(); });
}

bool Client::sendRaw(const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t s = ::send(fd_, p, n, MSG_NOSIGNAL);
        if (s < 0 && errno == EINTR) continue;
        if (s <= 0) return false;
        p += s;
        n -= static_cast<size_t>(s);
    }
    return true;
}

bool Client::readAll(uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t r = ::recv(fd_, p, n, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool Client::reply(const net::Bytes& message) {
    if (options().delayMs > 0 && waitStopping(options().delayMs)) return false;
    std::lock_guard lock(writeLock_);
    if (stopping_.load()) return false;
    // Faulty copies start after the login, so that the login itself still works.
    if (options().malformed && loggedIn && message.size() > 1) {
        auto h = net::encodeFrameHeader(net::kFrameData, static_cast<uint32_t>(message.size() - 1));
        if (!sendRaw(h.data(), h.size()) || !sendRaw(message.data(), message.size() - 1))
            return false;
    }
    auto h = net::encodeFrameHeader(net::kFrameData, static_cast<uint32_t>(message.size()));
    return sendRaw(h.data(), h.size()) && sendRaw(message.data(), message.size());
}

bool Client::replyCut(const net::Bytes& message, size_t missing) {
    std::lock_guard lock(writeLock_);
    if (stopping_.load()) return false;
    const size_t sent = message.size() > missing ? message.size() - missing : 0;
    auto h = net::encodeFrameHeader(net::kFrameData, static_cast<uint32_t>(message.size()));
    return sendRaw(h.data(), h.size()) && sendRaw(message.data(), sent);
}

void Client::run() {
    int received = 0;
    for (;;) {
        uint8_t type;
        if (!readAll(&type, 1)) break;
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
        uint32_t length = platform::getU32(lengthBytes);
        if (length == 0 || length > kMaxMessage) break;
        net::Bytes message(length);
        if (!readAll(message.data(), length)) break;
        if (const Handler* h = findHandler(message[0])) (*h)(*this, message);
        ++received;
        if (options().dropAfter > 0 && received >= options().dropAfter) break;
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
    done.clear();  // joins their threads
}

void Server::acceptLoop() {
    while (!stopping_.load()) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            break;
        }
        if (stopping_.load()) {
            ::close(fd);
            break;
        }
        reap(false);
        size_t active;
        {
            std::lock_guard lock(clientsLock_);
            active = clients_.size();
        }
        if (static_cast<int>(active) >= options_.maxClients) {
            auto refused = net::encodeFrameHeader(net::kFrameRefused, 0);
            (void)!::send(fd, refused.data(), refused.size(), MSG_NOSIGNAL);
            ::close(fd);
            continue;
        }
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

}  // namespace fsv::sim
