#include "client/Controller.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <system_error>

#include "client/ResumeWork.h"
#include "recordings/playback/ChannelTable.h"
#include "recordings/download/RateLimit.h"
#include "state/ResumeFile.h"

namespace fsv::client {

namespace fs = std::filesystem;

bool insertDescending(std::vector<int>& queue, int value) {
    if (std::find(queue.begin(), queue.end(), value) != queue.end()) return false;
    auto at = std::find_if(queue.begin(), queue.end(), [&](int v) { return v < value; });
    queue.insert(at, value);
    return true;
}

// What the sessions and their queues talk to: everything passes on to the front end's port,
// except the recorder-closed message, whose session pointer stays here and becomes work for
// the housekeeping thread.
class Controller::SessionPort : public ForwardingUserPort {
  public:
    SessionPort(Controller& c, UserPort& outer) : ForwardingUserPort(outer), c_(c) {}
    int messageBox(const std::string& text, unsigned type, bool direct) override {
        if (c_.exiting()) return mb::kIdNo;
        return outer_.messageBox(text, type, direct);
    }
    void post(PanelMessage message, intptr_t wParam, intptr_t lParam) override {
        if (message == PanelMessage::RecorderClosed) {
            c_.sessionGone(reinterpret_cast<const void*>(wParam));
            return;
        }
        outer_.post(message, wParam, lParam);
    }

  private:
    Controller& c_;
};

// The server information on its way to the catalogs, the last one of each session kept.
class Controller::InfoSink : public net::ServerInfoSink {
  public:
    explicit InfoSink(net::ServerInfoSink& next) : next_(next) {}
    void serverInfo(net::ServerSession& session, const net::ServerInfo& info,
                    bool refresh) override {
        {
            std::lock_guard lock(mutex_);
            infos_[&session] = info;
        }
        next_.serverInfo(session, info, refresh);
    }
    void sessionEnding(net::ServerSession& session) override {
        {
            std::lock_guard lock(mutex_);
            infos_.erase(&session);
        }
        next_.sessionEnding(session);
    }
    std::optional<net::ServerInfo> of(const net::ServerSession* session) const {
        std::lock_guard lock(mutex_);
        auto it = infos_.find(session);
        if (it == infos_.end()) return std::nullopt;
        return it->second;
    }

  private:
    net::ServerInfoSink& next_;
    mutable std::mutex mutex_;
    std::map<const net::ServerSession*, net::ServerInfo> infos_;
};

// The event list's changes as notifications; its refresh request wakes the housekeeping thread.
class Controller::EventListNotes : public EventListListener {
  public:
    explicit EventListNotes(Controller& c) : c_(c) {}
    void refresh() override { c_.notes_.push(EventListChanged{}); }
    void recordersChanged() override {
        c_.notes_.push(EventListChanged{EventListChanged::What::Recorders, {}, 0});
    }
    void rowChanged(const std::string& key, int mark, const std::string&) override {
        c_.notes_.push(EventListChanged{EventListChanged::What::Row, key, mark});
    }
    void refreshRecorder(int recorder) override { c_.refreshRecorder(recorder); }
    void post(EventListMessage message, intptr_t wParam, intptr_t) override {
        // The window's messages become typed changes here: wParam 0 enters the waiting state.
        EventListChanged e;
        e.what = message == EventListMessage::Waiting ? EventListChanged::What::Waiting
                                                      : EventListChanged::What::EventRemoved;
        e.waiting = wParam == 0;
        c_.notes_.push(std::move(e));
    }
    void controlsEnabled(bool enabled) override {
        EventListChanged e{EventListChanged::What::Controls, {}, 0};
        e.enabled = enabled;
        c_.notes_.push(std::move(e));
    }
    void title(const std::string& text) override {
        c_.notes_.push(EventListChanged{EventListChanged::What::Title, text, 0});
    }

  private:
    Controller& c_;
};

Controller::Controller(Options options, UserPort& user, NotificationQueue& notes)
    : options_(std::move(options)),
      notes_(notes),
      port_(std::make_unique<SessionPort>(*this, user)),
      exit_(options_.exitEvent ? *options_.exitEvent : ownExit_),
      eventNotes_(std::make_unique<EventListNotes>(*this)),
      events_(eventNotes_.get()),
      catalogs_(events_, &waiter_),
      context_(*port_, work_),
      settings_(options_.settings ? *options_.settings
                                  : state::readSettings(state::settingsPath())),
      persistence_(options_.dataFolder, options_.autoResume, *port_, sessions_),
      starter_({sessions_, catalogs_, events_, persistence_, *port_, notes_, context_,
                settings_.maxChannel, exiting_}),
      periods_(waiter_, *port_, notes_),
      connector_(
          statusCancel_, [this](const ConnectRequest& r) { connectAndWait(r); },
          options_.connectFinished) {
    infoSink_ = std::make_unique<InfoSink>(catalogs_);
    // Without a limit of the front end's own, a recorder may stay silent for the settings'
    // wait while something waits on it.
    if (!options_.timing.stallLimit)
        options_.timing.stallLimit = std::chrono::seconds(settings_.waitSeconds);
    context_.globalExit = &exit_;
    context_.settings = options_.download;
    // The settings file has the last word on these two (its "Tell" is on unless set off).
    context_.settings.tellWhenFinished = settings_.tell;
    context_.settings.alwaysOverwrite = settings_.overwrite;
    live_ = std::make_shared<download::LiveDownloadSettings>();
    live_->tellWhenFinished = settings_.tell;
    live_->alwaysOverwrite = settings_.overwrite;
    context_.live = live_;
    context_.freeSpace = options_.freeSpace;
    context_.channels = options_.channels;
    context_.display = options_.display;
    context_.successor = options_.successor;
    work_.setListener([this](const download::WorkRow& row) { notes_.push(WorkRowChanged{row}); });
    transport_ = std::make_unique<net::ConnectionManager>(options_.transport);
    housekeeping_ = std::thread([this] { housekeeping(); });
}

Controller::~Controller() { shutDown(false); }

void Controller::applySettings(const state::Settings& settings) {
    live_->tellWhenFinished = settings.tell;
    live_->alwaysOverwrite = settings.overwrite;
}

// ---- start-up ------------------------------------------------------------------------------

std::vector<fs::path> Controller::startUp() {
    auto files = persistence_.scanAtStart();
    if (!files.empty()) {
        addChore([&](Chores& c) {
            c.resumeFiles.insert(c.resumeFiles.end(), files.begin(), files.end());
            return true;
        });
    }
    return files;
}

// ---- connecting ----------------------------------------------------------------------------

std::shared_ptr<net::ServerSession> Controller::newSession(
    std::shared_ptr<FirstMessagePort>* first) {
    auto port = std::make_shared<FirstMessagePort>(*port_);
    if (first) *first = port;
    net::SessionEnvironment env{*transport_,     *port,           statusCancel_,  &exit_,
                                infoSink_.get(), options_.status, options_.timing};
    // The port lives as long as the session that talks to it.
    std::shared_ptr<net::ServerSession> session(new net::ServerSession(env),
                                                [port](net::ServerSession* s) { delete s; });
    session->refusePlainLogin(options_.refusePlainLogin);
    return session;
}

SessionId Controller::adopt(std::shared_ptr<net::ServerSession> session) {
    auto s = std::make_unique<SessionEntry>();
    s->session = std::move(session);
    SessionAdded note;
    note.name = s->session->recorderName();
    note.address = s->session->address();
    note.session = sessions_.add(std::move(s));
    notes_.push(std::move(note));
    return note.session;
}

bool Controller::connect(const ConnectRequest& request) {
    if (exiting()) return false;
    return connector_.enqueue(request);
}

void Controller::waitConnect() { connector_.waitIdle(); }

void Controller::cancelConnect() { connector_.cancel(); }

bool Controller::readyForWork(SessionId id) {
    return sessions_.with(id, [&](SessionEntry& s) { makeDownloads(s); });
}

void Controller::makeDownloads(SessionEntry& s) {
    if (s.downloads) return;
    // Every setting of the controller's context, then what is this session's own.
    s.context = std::make_unique<download::DownloadContext>(context_);
    download::DownloadContext& c = *s.context;
    c.session = s.id;
    if (c.settings.rateLimit)
        c.rateLimit = std::make_shared<download::RateLimit>(c.settings.rateLimit);
    s.reporter =
        std::make_unique<download::CatalogReporter>(events_, catalogs_.catalog(*s.session));
    c.reporter = s.reporter.get();
    SessionEntry* self = &s;
    c.workMoved = [this, self] { persistence_.saveAuto(*self); };
    s.downloads = std::make_unique<download::SessionDownloads>(c, *s.session);
    s.queues = &s.downloads->downloads();
}

std::optional<SessionId> Controller::connectAndWait(const ConnectRequest& request) {
    if (exiting()) return std::nullopt;
    std::shared_ptr<net::ServerSession> raw = newSession();
    if (!raw->connectAndLogin(request)) return std::nullopt;
    const SessionId id = adopt(raw);
    // The queues are made from the channels the server information lists.
    auto ok = raw->createReplyOk();
    const bool asked = raw->requestInformation();
    const int which =
        asked ? platform::waitAny({ok.get(), &statusCancel_, &exit_, &raw->stopEvent()}) : -1;
    raw->closeReplyOk();
    if (which != 0) return std::nullopt;         // the session stays in the list
    if (!readyForWork(id)) return std::nullopt;  // closed meanwhile
    return id;
}

std::optional<SessionId> Controller::connectAndWait(
    const ConnectRequest& request, std::string* error,
    std::optional<std::chrono::milliseconds> infoTimeout) {
    std::string why;
    auto fail = [&](std::string text) {
        if (error) *error = std::move(text);
        return std::nullopt;
    };
    if (exiting()) return fail(net::kTextConnectFail);
    std::shared_ptr<FirstMessagePort> first;
    std::shared_ptr<net::ServerSession> raw = newSession(&first);
    // A stall says so, whatever the wait that it ended made of it.
    auto reason = [&](const char* fallback) {
        std::string text = raw->stalled() ? raw->stallText() : first->first();
        return text.empty() ? std::string(fallback) : text;
    };
    if (!raw->connectAndLogin(request)) return fail(reason(net::kTextConnectFail));
    const SessionId id = adopt(raw);
    // The wait also ends when the link is lost (reply-failed): a recorder that drops it here
    // does not leave the caller waiting for ever.
    auto ok = raw->createReplyOk();
    auto failed = raw->createReplyFailed();
    int w = platform::kWaitTimeout;
    if (raw->requestInformation()) {
        w = platform::waitAny({ok.get(), &statusCancel_, &exit_, &raw->stopEvent(), failed.get()},
                              infoTimeout);
    } else if (!raw->closedByRecorder()) {
        // A request that could not be sent: the link is going; its end says so shortly.
        failed->wait(std::chrono::seconds(5));
    }
    raw->closeReplyOk();
    raw->closeReplyFailed();
    // The days can end the wait after a channel list that could not be read: still a failure.
    if (raw->channelListUnreadable()) {
        why = reason(net::kTextUnreadableChannels);
    } else if (w == 0) {
        if (readyForWork(id)) return id;
        why = reason(net::kTextConnectFail);  // closed meanwhile
    } else if (raw->closedByRecorder() && !raw->stalled()) {
        why = format(state::kClosedByRemote, raw->recorderName().c_str(), request.address.c_str());
    } else {
        why = reason(w == platform::kWaitTimeout
                         ? "Timeout when getting the information from remote host."
                         : net::kTextConnectFail);
    }
    endSession(id);
    return fail(why);
}

void Controller::endSession(SessionId id) {
    if (auto s = sessions_.take(id)) destroy(std::move(s));
}

std::optional<net::ServerInfo> Controller::serverInfo(SessionId id) const {
    std::optional<net::ServerInfo> info;
    sessions_.with(id, [&](SessionEntry& s) { info = infoSink_->of(s.session.get()); });
    return info;
}

std::optional<uint32_t> Controller::queryFrameCount(SessionId id, const std::string& recorderKey,
                                                    uint32_t dateId) {
    return client::queryFrameCount(sessions_, id, recorderKey, dateId);
}

bool Controller::withSession(SessionId id, const std::function<void(net::ServerSession&)>& f) {
    return sessions_.with(id, [&](SessionEntry& s) { f(*s.session); });
}

bool Controller::idle() {
    bool idle = true;
    sessions_.locked([&](const SessionRegistry::Entries& all) {
        for (auto& s : all)
            if (s->queues && !s->queues->idle()) idle = false;
    });
    return idle;
}

// ---- the session list ----------------------------------------------------------------------

int Controller::sessionCount() const { return sessions_.size(); }

std::vector<Controller::SessionSummary> Controller::sessions() const {
    std::vector<SessionSummary> out;
    sessions_.locked([&](const SessionRegistry::Entries& all) {
        for (auto& s : all) out.push_back(summaryOf(*s));
    });
    return out;
}

Controller::SessionSummary Controller::summaryOf(const SessionEntry& s) {
    SessionSummary r;
    r.id = s.id;
    r.recorderName = s.session->recorderName();
    r.address = s.session->address();
    r.connectionTime = s.session->connectionTime();
    r.port = s.session->port();
    r.connectionNumber = s.session->connectionNumber();
    r.cameras = static_cast<int>(s.session->cameras().size());
    r.audioChannels = static_cast<int>(s.session->audioChannels().size());
    if (s.downloads) r.works = static_cast<int>(s.downloads->downloads().unfinished().size());
    return r;
}

std::vector<ConnectRequest> Controller::connectionRequests() const {
    std::vector<ConnectRequest> out;
    sessions_.locked([&](const SessionRegistry::Entries& all) {
        for (auto& s : all) out.push_back(requestOf(*s->session));
    });
    return out;
}

bool Controller::withDownloads(SessionId id,
                               const std::function<void(download::DownloadSession&)>& f) {
    bool found = false;
    sessions_.with(id, [&](SessionEntry& s) {
        if (!s.downloads) return;
        found = true;
        f(s.downloads->downloads());
    });
    return found;
}

bool Controller::removeQueuedWork(SessionId id,
                                  const std::function<bool(const download::WorkItem&)>& which) {
    bool removed = false;
    sessions_.with(id, [&](SessionEntry& s) {
        if (!s.queues) return;
        auto item = s.queues->removeQueued(which);
        if (!item) return;
        removed = true;
        if (item->row >= 0) work_.setState(item->row, download::RowState::Stopped);
        // The event is no longer queued: it can be selected again.
        if (s.reporter)
            s.reporter->report(*item, item->queue == download::QueueKind::Audio,
                               download::EndReport::Stopped);
        persistence_.saveAuto(s, true);
    });
    return removed;
}

// ---- queues --------------------------------------------------------------------------------

void Controller::addChore(const std::function<bool(Chores&)>& add) {
    {
        std::lock_guard lock(choresLock_);
        if (!add(chores_)) return;
    }
    choresReady_.notify_one();
}

Controller::Chore Controller::nextChore() {
    std::unique_lock lock(choresLock_);
    for (;;) {
        Chores& c = chores_;
        if (c.stop) return Stop{};
        if (!c.channels.empty()) {
            const int channel = c.channels.front();
            c.channels.erase(c.channels.begin());
            return CloseChannel{channel};
        }
        if (!c.connections.empty()) {
            const int position = c.connections.front();
            c.connections.erase(c.connections.begin());
            auto node = c.resumeFileOf.extract(position);
            return CloseConnection{position, node ? std::move(node.mapped()) : std::string()};
        }
        if (c.refresh) {
            const int number = *c.refresh;
            c.refresh.reset();
            return Refresh{number};
        }
        if (!c.resumeFiles.empty()) {
            fs::path file = std::move(c.resumeFiles.front());
            c.resumeFiles.pop_front();
            return ResumeWorkFile{std::move(file)};
        }
        if (!c.recordersClosed.empty()) {
            const SessionId id = c.recordersClosed.front();
            c.recordersClosed.pop_front();
            return RecorderClosed{id};
        }
        choresReady_.wait(lock);
    }
}

void Controller::queueConnectionClose(int position, std::string resumeFile) {
    addChore([&](Chores& c) {
        if (!insertDescending(c.connections, position)) return false;
        c.resumeFileOf[position] = std::move(resumeFile);
        return true;
    });
}

void Controller::queueChannelClose(int channel) {
    addChore([&](Chores& c) { return insertDescending(c.channels, channel); });
}

std::vector<int> Controller::pendingConnectionCloses() const {
    std::lock_guard lock(choresLock_);
    return chores_.connections;
}

void Controller::closeAllConnections() {
    const int n = sessionCount();
    if (n == 0) return;
    if (port_->messageBox(kCloseAllQuestion, mb::kYesNo | mb::kIconQuestion, true) != mb::kIdYes)
        return;
    for (int p = n - 1; p >= 0; --p) queueConnectionClose(p);
}

void Controller::queueResumeFile(fs::path file) {
    addChore([&](Chores& c) {
        c.resumeFiles.push_back(std::move(file));
        return true;
    });
}

void Controller::refreshRecorder(int connectionNumber) {
    addChore([&](Chores& c) {
        c.refresh = connectionNumber;
        return true;
    });
}

void Controller::sessionGone(const void* session) {
    SessionId id = -1;
    // The work is taken now, while the streams still count as running.
    sessions_.locked([&](const SessionRegistry::Entries& all) {
        for (auto& s : all)
            if (s->session.get() == session) {
                id = s->id;
                if (s->downloads) s->leftAtDrop = s->downloads->downloads().unfinished();
            }
    });
    if (id < 0) return;  // not (or no longer) in the list: whoever removed it ends it
    addChore([&](Chores& c) {
        c.recordersClosed.push_back(id);
        return true;
    });
}

// ---- the housekeeping thread ---------------------------------------------------------------

void Controller::housekeeping() {
    for (;;) {
        Chore chore = nextChore();
        if (std::holds_alternative<Stop>(chore)) return;
        if (auto* c = std::get_if<CloseChannel>(&chore)) {
            closeChannel(c->channel);
        } else if (auto* c = std::get_if<CloseConnection>(&chore)) {
            closeConnection(c->position, c->resumeFile);
        } else if (auto* c = std::get_if<Refresh>(&chore)) {
            refreshRecorderNow(c->connectionNumber);
        } else if (auto* c = std::get_if<ResumeWorkFile>(&chore)) {
            runResumeFile(c->file);
        } else if (auto* c = std::get_if<RecorderClosed>(&chore)) {
            remoteClosed(c->id);
        }
    }
}

// The recorder at `number` is asked again for its information; the answers are waited for
// without the list's lock.
void Controller::refreshRecorderNow(int number) {
    std::shared_ptr<net::ServerSession> target;
    sessions_.locked([&](const SessionRegistry::Entries& all) {
        for (auto& s : all)
            if (s->session->connectionNumber() == number) target = s->session;
    });
    if (target) catalogs_.refreshRecorder(*target);
}

void Controller::closeChannel(int channel) {
    if (onCloseChannel && !exiting()) onCloseChannel(channel);
}

void Controller::destroy(std::unique_ptr<SessionEntry> s) {
    const SessionId id = s->id;
    const int number = s->session->connectionNumber();
    // A connect still waiting for this session's information ends now, and so does a wait of
    // a start; the start lets go of the session before it goes.
    s->session->stopEvent().set();
    SessionRegistry::waitUnpinned(*s);
    // The queues end first; then the session (it deletes nothing of the event list itself).
    // Items that were still waiting never run now: their rows end as stopped.
    if (s->downloads) {
        s->downloads->downloads().shutDown();
        for (const auto& item : s->downloads->downloads().unfinished()) {
            download::WorkRow row;
            if (work_.row(item.row, &row) && row.state == download::RowState::Running)
                work_.setState(item.row, download::RowState::Stopped);
        }
    }
    s->downloads.reset();
    persistence_.deleteAuto(*s, number);
    SessionRemoved note{id, s->session->closedByRecorder(), s->session->stalled(), {}};
    if (note.stalled) note.stallText = s->session->stallText();
    s->session.reset();
    if (number >= 0) {
        std::lock_guard lock(events_.lock());
        events_.removeRecorder(number);
    }
    notes_.push(std::move(note));
}

void Controller::closeConnection(int position, const std::string& resumeFile) {
    std::unique_ptr<SessionEntry> s = sessions_.takeAt(position);
    if (!s) return;
    if (!resumeFile.empty() && s->downloads)
        persistence_.writeUnfinished(*s, s->downloads->downloads().unfinished(), resumeFile);
    destroy(std::move(s));
}

void Controller::remoteClosed(SessionId id) {
    std::unique_ptr<SessionEntry> s = sessions_.take(id);
    if (!s) return;
    // A recorder that went silent is left like one that closed the link, with its own text.
    const bool stalled = s->session->stalled();
    const std::string text =
        stalled ? s->session->stallText()
                : format(state::kClosedByRemote, s->session->recorderName().c_str(),
                         s->session->address().c_str());
    const fs::path temp = persistence_.keepDroppedWork(*s);
    destroy(std::move(s));
    persistence_.offerDroppedWork(temp, text, stalled);
}

void Controller::runResumeFile(const fs::path& file) {
    if (exiting()) return;
    // By default the file is loaded, which deletes it once its work was taken up.
    if (!onResumeFile) {
        loadResumeFile(file);
        return;
    }
    if (!onResumeFile(file)) return;  // kept for a later start
    // Taken up: gone, unless it is now a connection's own automatic file, which describes the
    // work it started (deleting it would leave that work unrecorded).
    if (persistence_.isAutomaticFile(file)) return;
    std::error_code ec;
    fs::remove(file, ec);
}

// ---- the period query ----------------------------------------------------------------------

PeriodSummary Controller::queryPeriod(SessionId id, const std::vector<int>& channels,
                                      const Period& period, std::chrono::milliseconds replyTimeout,
                                      bool askOnTimeout) {
    std::shared_ptr<RecorderCatalog> catalog;
    sessions_.with(id, [&](SessionEntry& s) { catalog = catalogs_.catalog(*s.session); });
    if (!catalog) return PeriodSummary{PeriodOutcome::Cancelled, 0, false, {}};
    // The catalog is held, not the session: the query's waits also end with the session's stop.
    PeriodQuery query(waiter_, port_.get(), &exit_);
    query.replyTimeout = replyTimeout;
    query.askOnTimeout = askOnTimeout;
    return query.run(*catalog, channels, period);
}

bool Controller::queryPeriodAsync(SessionId id, const std::vector<int>& channels,
                                  const Period& period, std::chrono::milliseconds replyTimeout,
                                  bool askOnTimeout) {
    if (exiting_) return false;
    std::shared_ptr<RecorderCatalog> catalog;
    sessions_.with(id, [&](SessionEntry& s) { catalog = catalogs_.catalog(*s.session); });
    return periods_.start(std::move(catalog), channels, period, replyTimeout, askOnTimeout);
}

// ---- work -------------------------------------------------------------------------------------

StartResult Controller::startWork(std::optional<download::Action> action) {
    return starter_.start(action);
}

bool Controller::startWorkAsync(std::optional<download::Action> action) {
    return starter_.startAsync(action);
}

std::string Controller::lastDestination() const { return starter_.lastDestination(); }

bool Controller::loadResumeFile(const fs::path& file) {
    const auto loaded = persistence_.readResumeFile(file);
    if (!loaded) return false;
    const auto id = connectAndWait(state::toConnectRequest(loaded->header));
    if (!id) return false;  // the file stays for another time
    const RebuiltWork rebuilt = takeUpWork(*id, loaded->records, file);
    if (rebuilt.cancelled) return false;
    persistence_.finishTakeUp(file, rebuilt);
    return true;
}

RebuiltWork Controller::takeUpWork(SessionId id, const std::vector<state::ResumeRecord>& records,
                                   const fs::path& file,
                                   const std::function<bool(const download::WorkItem&)>& keep) {
    RebuiltWork rebuilt;
    std::shared_ptr<RecorderCatalog> catalog;
    sessions_.with(id, [&](SessionEntry& s) { catalog = catalogs_.catalog(*s.session); });
    if (!catalog) {
        rebuilt.cancelled = true;
        return rebuilt;
    }
    // Waits for the days the records need, without the list's lock.
    rebuilt = rebuildWork(records, *catalog, waiter_, *port_, options_.replyTimeout, &exit_);
    if (rebuilt.cancelled || rebuilt.items.empty()) return rebuilt;
    bool taken = false;
    sessions_.with(id, [&](SessionEntry& s) {
        if (!s.queues) return;
        taken = true;
        for (auto& item : rebuilt.items)
            if (!keep || keep(item)) s.queues->enqueue(item);
        persistence_.handOver(s, file);
    });
    if (!taken) rebuilt.cancelled = true;  // the session went meanwhile
    return rebuilt;
}

// ---- connection sets -------------------------------------------------------------------------

bool Controller::saveConnectionSet(const fs::path& file) {
    return persistence_.saveConnectionSet(file);
}

bool Controller::loadConnectionSet(const fs::path& file) {
    const auto requests = persistence_.readConnectionSet(file);
    if (!requests) return false;
    bool any = false;
    // Queued in the file's order; the connector takes them one at a time.
    for (auto& request : *requests) any |= connect(request);
    return any;
}

// ---- shut-down -----------------------------------------------------------------------------

bool Controller::shutDown(bool ask) {
    if (shutDown_.load()) return true;
    if (ask && sessionCount() > 0 &&
        port_->messageBox(kStillConnectedQuestion, mb::kYesNo | mb::kIconQuestion, true) !=
            mb::kIdYes)
        return false;
    if (shutDown_.exchange(true)) return true;
    exiting_ = true;
    exit_.set();
    addChore([](Chores& c) {
        c.stop = true;
        return true;
    });
    // Drops the connects still queued and ends the wait of the one in progress.
    connector_.stop();
    // The housekeeping thread may be closing a session; it ends before the list is emptied.
    if (housekeeping_.joinable()) housekeeping_.join();
    // A start in progress ends with the exit event (its questions and waits watch it).
    starter_.join();
    periods_.stop();
    for (auto& s : sessions_.takeAll()) destroy(std::move(s));
    transport_.reset();
    return true;
}

}  // namespace fsv::client
