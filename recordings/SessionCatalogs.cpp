#include "recordings/SessionCatalogs.h"

#include <atomic>

namespace fsv {

namespace {

// RecorderLink over a live session.
class SessionLink : public RecorderLink {
  public:
    explicit SessionLink(net::ServerSession& s) : s_(s) {}
    uint16_t version() const override { return s_.version(); }
    bool send(std::span<const uint8_t> message, platform::Event* cancel) override {
        return s_.send(message.data(), static_cast<uint32_t>(message.size()), cancel) != 0;
    }
    platform::Event& stopEvent() override { return s_.stopEvent(); }
    void setGettingInformation(bool on) override { s_.setGettingInformation(on); }
    bool setReplyOk() override {
        if (!s_.hasReplyOk()) return false;
        s_.setReplyOk();
        return true;
    }
    RecorderInfo recorderInfo() const override {
        RecorderInfo i;
        i.kind = s_.kind();
        i.name = s_.recorderName();
        i.address = s_.address();
        i.id = s_.id();
        i.password = s_.password();
        return i;
    }

  private:
    net::ServerSession& s_;
};

}  // namespace

struct SessionCatalogs::Entry {
    Entry(EventList& list, net::ServerSession& s, DateQueryWaiter* waiter)
        : link(s), catalog(list, link, waiter) {}
    SessionLink link;
    RecorderCatalog catalog;
    // A refresh that found the reply-OK event taken ends when the information has arrived.
    std::atomic<bool> endRefreshWithInfo{false};
};

SessionCatalogs::SessionCatalogs(EventList& list, DateQueryWaiter* waiter)
    : list_(list), waiter_(waiter) {}

SessionCatalogs::~SessionCatalogs() = default;

std::shared_ptr<SessionCatalogs::Entry> SessionCatalogs::entry(net::ServerSession& session) {
    std::lock_guard lock(mutex_);
    auto& e = entries_[&session];
    if (!e) {
        e = std::make_shared<Entry>(list_, session, waiter_);
        if (onConnectionNumber)
            e->catalog.onConnectionNumber = [this, s = &session](int o, int n) {
                onConnectionNumber(*s, o, n);
            };
        // The session keeps the catalog alive for as long as it can deliver replies to it.
        session.setHandler(net::cmd::kDateReply, [e](net::ServerSession&, const net::Message& m) {
            e->catalog.handleDateReply(m.bytes);
        });
    }
    return e;
}

std::shared_ptr<RecorderCatalog> SessionCatalogs::catalog(net::ServerSession& session) {
    auto e = entry(session);
    return std::shared_ptr<RecorderCatalog>(e, &e->catalog);
}

std::shared_ptr<RecorderCatalog> SessionCatalogs::catalogOf(int connectionNumber) const {
    std::lock_guard lock(mutex_);
    for (auto& [session, e] : entries_)
        if (connectionNumber >= 0 && e->catalog.connectionNumber() == connectionNumber)
            return std::shared_ptr<RecorderCatalog>(e, &e->catalog);
    return nullptr;
}

void SessionCatalogs::serverInfo(net::ServerSession& session, const net::ServerInfo& info,
                                 bool refresh) {
    auto e = entry(session);
    e->catalog.handleServerInfo(info, refresh);
    session.setConnectionNumber(e->catalog.connectionNumber());
    if (e->endRefreshWithInfo.exchange(false)) {
        session.setRefreshing(false);
        list_.setControlsEnabled(true);
    }
}

void SessionCatalogs::sessionEnding(net::ServerSession& session) {
    std::shared_ptr<Entry> e;
    {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(&session);
        if (it == entries_.end()) return;
        e = it->second;
        entries_.erase(it);
    }
    e->catalog.removeEntry();
    session.setConnectionNumber(-1);
    // A refresh waiting for this session's answer will not get it.
    if (e->endRefreshWithInfo.exchange(false)) list_.setControlsEnabled(true);
}

bool SessionCatalogs::refreshRecorder(net::ServerSession& session) {
    // A refresh under way already gives the event list's controls back when it ends.
    if (session.refreshing()) return false;
    const auto e = entry(session);
    const bool done = readAgain(session);
    // The event list took its controls away when the refresh was asked for; they come back
    // however it ended (answer, error, cancel, lost link), unless the answer is still to come.
    if (!e->endRefreshWithInfo) list_.setControlsEnabled(true);
    return done;
}

bool SessionCatalogs::readAgain(net::ServerSession& session) {
    session.setRefreshing(true);
    auto e = entry(session);
    const auto days = e->catalog.rememberMarks();
    platform::Event never(platform::Event::Reset::Manual);
    platform::Event* exitEvent = session.globalExitEvent() ? session.globalExitEvent() : &never;
    if (session.statusCancelEvent().isSet()) {
        session.setRefreshing(false);
        return false;
    }
    if (session.hasReplyOk()) {
        // Another wait owns the reply-OK event: ask without waiting; the refresh ends when the
        // information has been handled.
        e->endRefreshWithInfo = true;
        if (!session.requestInformation()) {
            e->endRefreshWithInfo = false;
            session.setRefreshing(false);
            return false;
        }
        return true;
    }
    auto ok = session.createReplyOk();
    // A recorder that drops the link answers nothing more: the lost link ends the wait too
    // (the slot is made before the flag is read, so that a loss in between is not missed).
    auto failed = session.createReplyFailed();
    auto waitOk = [&] {
        if (session.closedByRecorder()) return false;
        return platform::waitAny({ok.get(), &session.statusCancelEvent(), exitEvent,
                                  &session.stopEvent(), failed.get()}) == 0;
    };
    auto endWaiting = [&] {
        session.setGettingInformation(false);
        list_.showStatus("");
    };
    if (!session.requestInformation() || !waitOk()) {
        endWaiting();
        session.setRefreshing(false);
        session.closeReplyOk();
        session.closeReplyFailed();
        return false;
    }
    bool complete = true;
    for (auto& d : days) {
        // A day whose channel is gone after the refresh cannot be asked; nothing would answer.
        if (!e->catalog.sendDateQuery(d.channel, d.audio ? net::kAudio : net::kCamera, d.date,
                                      d.dateId))
            continue;
        if (!waitOk()) {
            endWaiting();
            complete = false;
            break;
        }
    }
    session.setRefreshing(false);
    session.closeReplyOk();
    session.closeReplyFailed();
    return complete;
}

}  // namespace fsv
