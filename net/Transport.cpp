#include "net/Transport.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/Connection.h"

namespace fsv::net {

// One connect request. Shared between the requester and the connect worker, so that a
// requester that gives up after a cancel never leaves the worker with a dangling record.
struct PendingConnect {
    void* owner = nullptr;
    std::string host;
    uint16_t port = 0;
    EventCallback callback;
    platform::Event done{platform::Event::Reset::Manual};

    std::mutex lock;  // guards the fields below
    int fd = -1;      // -1 once the worker closed it or handed it to a connection
    bool abandoned = false;
    int result = kConnectFailed;
};

namespace {

bool resolveIPv4(const std::string& host, in_addr* out) {
    if (::inet_pton(AF_INET, host.c_str(), out) == 1) return true;  // dotted: no look-up
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
    bool found = false;
    for (addrinfo* a = res; a; a = a->ai_next) {
        if (a->ai_family == AF_INET) {
            *out = reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr;
            found = true;
            break;
        }
    }
    ::freeaddrinfo(res);
    return found;
}

}  // namespace

ConnectionManager::ConnectionManager(TransportTiming timing) : timing_(timing) {
    housekeeping_ = std::thread([this] { housekeeping(); });
    worker_ = std::thread([this] { connectWorker(); });
}

ConnectionManager::~ConnectionManager() {
    stop_.set();
    {
        // A connect in progress would otherwise block until the system gives up on it.
        std::lock_guard lock(requestLock_);
        if (current_) {
            std::lock_guard rl(current_->lock);
            if (current_->fd >= 0) ::shutdown(current_->fd, SHUT_RDWR);
        }
    }
    if (housekeeping_.joinable()) housekeeping_.join();
    if (worker_.joinable()) worker_.join();
    std::vector<std::shared_ptr<Connection>> left;
    {
        std::lock_guard lock(listLock_);
        left.swap(connections_);
    }
    for (auto& c : left) c->destroy();  // each reports event 3 to an accepted owner
}

int ConnectionManager::connect(void* owner, const std::string& host, uint16_t port,
                               EventCallback callback, platform::Event* cancel) {
    if (stop_.isSet()) return kConnectFailed;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kConnectFailed;
    // Closing resets the link at once.
    linger lg{1, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg) != 0) {
        ::close(fd);
        return kConnectFailed;
    }
    // A message goes out whole in one write; a short request (the next stream's open) is not
    // held back until the recorder acknowledges what went before.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto request = std::make_shared<PendingConnect>();
    request->owner = owner;
    request->host = host;
    request->port = port;
    request->callback = std::move(callback);
    request->fd = fd;
    {
        std::lock_guard lock(requestLock_);
        requests_.push_back(request);
    }
    requestQueued_.set();

    std::vector<platform::Event*> events{&stop_, &request->done};
    if (cancel) events.push_back(cancel);
    int w = platform::waitAny(events);
    if (w == 2) {
        // Cancelled: shutting the socket makes the worker's connect or verdict wait fail.
        {
            std::lock_guard lock(request->lock);
            if (request->fd >= 0) ::shutdown(request->fd, SHUT_RDWR);
        }
        platform::waitAny({&stop_, &request->done}, timing_.cancelWait);
    }
    std::lock_guard lock(request->lock);
    if (!request->done.isSet()) {
        request->abandoned = true;
        if (request->fd >= 0) ::shutdown(request->fd, SHUT_RDWR);
        return kConnectFailed;
    }
    return request->result;
}

void ConnectionManager::connectWorker() {
    for (;;) {
        if (platform::waitAny({&stop_, &requestQueued_}) == 0) break;
        std::shared_ptr<PendingConnect> request;
        {
            std::lock_guard lock(requestLock_);
            if (requests_.empty()) continue;
            request = requests_.front();
            requests_.pop_front();
            current_ = request;
            if (!requests_.empty()) requestQueued_.set();
        }
        int result = runRequest(*request);
        {
            std::lock_guard lock(requestLock_);
            current_.reset();
        }
        {
            std::lock_guard lock(request->lock);
            request->result = result;
        }
        request->done.set();
    }
    // Every request still waiting fails.
    std::lock_guard lock(requestLock_);
    for (auto& r : requests_) {
        {
            std::lock_guard rl(r->lock);
            if (r->fd >= 0) ::close(r->fd);
            r->fd = -1;
            r->result = kConnectFailed;
        }
        r->done.set();
    }
    requests_.clear();
}

int ConnectionManager::runRequest(PendingConnect& request) {
    int fd;
    {
        std::lock_guard lock(request.lock);
        fd = request.fd;
    }
    auto closeSocket = [&] {
        std::lock_guard lock(request.lock);
        ::close(request.fd);
        request.fd = -1;
    };
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(request.port);
    if (stop_.isSet() || !resolveIPv4(request.host, &addr.sin_addr) ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        closeSocket();
        return kConnectFailed;
    }
    uint64_t id;
    {
        std::lock_guard lock(listLock_);
        id = nextId_++;
    }
    auto connection = std::make_shared<Connection>(*this, id, fd, request.owner);
    int answer = connection->start(request.callback);
    {
        std::lock_guard lock(request.lock);
        // From here the connection owns the socket.
        request.fd = -1;
        if (answer == kConnectAccepted && (request.abandoned || stop_.isSet()))
            answer = kConnectFailed;
    }
    if (answer != kConnectAccepted) {
        // Refused, failed or given up by the requester: nobody is called back. (A connection
        // that was accepted but abandoned reports its end to nobody either.)
        connection->destroy();
        return answer == kConnectRefused ? kConnectRefused : kConnectFailed;
    }
    {
        std::lock_guard lock(listLock_);
        connections_.push_back(connection);
    }
    // A close that happened before the connection was listed asked for a removal that found
    // nothing; ask again.
    if (connection->isClosed()) postRemoval(id);
    return kConnectAccepted;
}

void ConnectionManager::postRemoval(uint64_t id) {
    {
        std::lock_guard lock(removalLock_);
        removals_.push_back(id);
    }
    removalQueued_.set();
}

std::shared_ptr<Connection> ConnectionManager::take(uint64_t id, void* owner) {
    std::lock_guard lock(listLock_);
    auto it = std::find_if(connections_.begin(), connections_.end(),
                           [&](auto& c) { return id ? c->id() == id : c->owner() == owner; });
    if (it == connections_.end()) return nullptr;
    auto c = *it;
    connections_.erase(it);
    destroying_.insert(c->owner());
    return c;
}

void ConnectionManager::destroyConnection(const std::shared_ptr<Connection>& c) {
    c->destroy();
    std::lock_guard lock(listLock_);
    destroying_.erase(destroying_.find(c->owner()));
    destroyed_.notify_all();
}

void ConnectionManager::housekeeping() {
    for (;;) {
        if (platform::waitAny({&stop_, &removalQueued_}) == 0) break;
        for (;;) {
            uint64_t id;
            {
                std::lock_guard lock(removalLock_);
                if (removals_.empty()) break;
                id = removals_.front();
                removals_.pop_front();
            }
            if (auto c = take(id, nullptr)) destroyConnection(c);
        }
    }
}

int ConnectionManager::send(void* owner, const uint8_t* data, uint32_t length) {
    std::shared_ptr<Connection> c;
    {
        std::lock_guard lock(listLock_);
        for (auto& x : connections_)
            if (x->owner() == owner) c = x;
    }
    if (!c) return 0;
    return c->sendFrame(data, length);
}

int ConnectionManager::disconnect(void* owner, bool waitForAck) {
    auto c = take(0, owner);
    if (!c) {
        // A connection of this owner that is being torn down elsewhere still calls back;
        // wait for that, so that the owner may go away once this returns.
        std::unique_lock lock(listLock_);
        destroyed_.wait(lock, [&] { return destroying_.count(owner) == 0; });
        return 0;
    }
    while (!c->sendControl(kFrameCloseRequest)) {
        if (c->isClosed() || !c->socketValid()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a frame is in flight
    }
    if (waitForAck)
        platform::waitAny({&c->closedEvent(), &c->replyEvent()}, timing_.disconnectWait);
    destroyConnection(c);
    return 1;
}

}  // namespace fsv::net
