#include "net/HeadlessConnect.h"

namespace fsv::net {

// Passes everything on and remembers the first message text.
class HeadlessConnection::Port : public FirstMessagePort {
  public:
    using FirstMessagePort::FirstMessagePort;
};

HeadlessConnection::HeadlessConnection(ConnectionManager& transport, UserPort& user,
                                       ServerInfoSink* forward, SessionTiming timing)
    : transport_(transport),
      port_(std::make_unique<Port>(user)),
      forward_(forward),
      timing_(timing) {}

HeadlessConnection::~HeadlessConnection() { close(); }

void HeadlessConnection::close() { session_.reset(); }

bool HeadlessConnection::open(const ConnectRequest& request,
                              std::optional<std::chrono::milliseconds> infoTimeout) {
    close();
    error_.clear();
    cancel_.reset();
    SessionEnvironment env{transport_, *port_, cancel_, nullptr, this, nullptr, timing_};
    session_ = std::make_unique<ServerSession>(env);
    session_->refusePlainLogin(refusePlainLogin_);
    auto failWith = [&](const std::string& fallback) {
        // A stall says so, whatever the wait that it ended made of it.
        error_ = session_->stalled() ? session_->stallText() : port_->first();
        if (error_.empty()) error_ = fallback;
        close();
        return false;
    };
    if (!session_->connectAndLogin(request)) return failWith(kTextConnectFail);

    // The wait also ends when the connection is lost (reply-failed), so that a recorder that
    // drops the link here does not leave the caller waiting for ever.
    auto ok = session_->createReplyOk();
    auto failed = session_->createReplyFailed();
    int w = platform::kWaitTimeout;
    if (session_->requestInformation()) {
        w = platform::waitAny({ok.get(), &cancel_, &session_->stopEvent(), failed.get()},
                              infoTimeout);
    } else if (!session_->closedByRecorder()) {
        // A request that could not be sent: the link is going; its end says so shortly.
        failed->wait(std::chrono::seconds(5));
    }
    session_->closeReplyOk();
    session_->closeReplyFailed();
    // The days can end the wait after a channel list that could not be read: still a failure.
    if (session_->channelListUnreadable()) return failWith(kTextUnreadableChannels);
    if (w == 0) return true;
    if (session_->closedByRecorder() && !session_->stalled()) {
        error_ = fsv::format("%s (%s) is closed by remote site!", session_->recorderName().c_str(),
                             request.address.c_str());
        close();
        return false;
    }
    return failWith(w == platform::kWaitTimeout
                        ? "Timeout when getting the information from remote host."
                        : kTextConnectFail);
}

void HeadlessConnection::serverInfo(ServerSession& session, const ServerInfo& info, bool refresh) {
    info_ = info;
    if (forward_) forward_->serverInfo(session, info, refresh);
}

void HeadlessConnection::sessionEnding(ServerSession& session) {
    if (forward_) forward_->sessionEnding(session);
}

}  // namespace fsv::net
