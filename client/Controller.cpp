#include "client/Controller.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <system_error>

#include "client/ResumeWork.h"
#include "recordings/download/ChannelTable.h"
#include "recordings/download/RateLimit.h"
#include "state/ConnectionSet.h"
#include "state/ResumeFile.h"

namespace fsv::client {

namespace fs = std::filesystem;

bool insertDescending(std::vector<int>& queue, int value) {
    if (std::find(queue.begin(), queue.end(), value) != queue.end()) return false;
    auto at = std::find_if(queue.begin(), queue.end(), [&](int v) { return v < value; });
    queue.insert(at, value);
    return true;
}

namespace {

state::ResumeHeader headerOf(const net::ServerSession& session) {
    state::ResumeHeader h;
    h.port = session.port();
    h.address = session.address();
    h.id = session.id();
    h.password = session.password();
    return h;
}

// What a session was opened with: a saved connection set lists these.
ConnectRequest requestOf(const net::ServerSession& session) {
    ConnectRequest r;
    r.kind = session.kind();
    r.port = session.port();
    r.address = session.address();
    r.id = session.id();
    r.password = session.password();
    return r;
}

}  // namespace

struct Controller::Session {
    SessionId id = -1;
    // Shared with a connect that still waits for the server information, so that a recorder
    // closing the link meanwhile cannot pull the session from under it.
    std::shared_ptr<net::ServerSession> session;
    // Its own context: the end-of-stream reports go to this recorder's catalog, and the queues'
    // moves rewrite this session's automatic resume file.
    std::unique_ptr<download::DownloadContext> context;
    std::unique_ptr<download::CatalogReporter> reporter;
    std::unique_ptr<download::SessionDownloads> downloads;
    // Set once with `downloads`, before any work is queued; the queues' workers read it.
    download::DownloadSession* queues = nullptr;
    std::vector<download::WorkItem> leftAtDrop;  // the work when the recorder closed the link
    state::ResumeLock resumeLock;
    // Rewrites of the automatic file asked for and not yet done (see saveAutoResume).
    std::atomic<int> rewritesAsked{0};
    // A wait on the recorder outside the list's lock (the frame count query) pins the session:
    // its end waits for the pins to go, after its stop event has ended those waits.
    std::mutex pinLock;
    std::condition_variable unpinned;
    int pins = 0;
};

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
                                  : state::readSettings(state::settingsPath())) {
    infoSink_ = std::make_unique<InfoSink>(catalogs_);
    last_.kind = 0xFFFF;
    last_.port = kDefaultPort;
    last_.id.clear();
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
    auto files = state::scanUnfinishedWork(options_.dataFolder, *port_);
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
    auto s = std::make_unique<Session>();
    s->session = std::move(session);
    SessionAdded note;
    note.name = s->session->recorderName();
    note.address = s->session->address();
    {
        std::lock_guard lock(sessionLock_);
        s->id = nextId_++;
        note.session = s->id;
        sessions_.push_back(std::move(s));
    }
    notes_.push(std::move(note));
    return note.session;
}

bool Controller::connect(const ConnectRequest& request) {
    if (exiting()) return false;
    waitConnect();
    {
        std::lock_guard lock(requestLock_);
        last_ = request;
    }
    paramsTaken_.reset();
    try {
        connect_ = std::thread([this] { connectThread(); });
    } catch (const std::system_error&) {
        return false;
    }
    return platform::waitAny({&paramsTaken_, &statusCancel_}) == 0;
}

void Controller::waitConnect() {
    if (connect_.joinable()) connect_.join();
}

void Controller::connectThread() {
    ConnectRequest request;
    {
        std::lock_guard lock(requestLock_);
        request = last_;
    }
    paramsTaken_.set();
    std::shared_ptr<net::ServerSession> raw = newSession();
    if (!raw->connectAndLogin(request)) return;
    const SessionId id = adopt(raw);
    // The queues are made from the channels the server information lists; the connect thread
    // waits for it (a worker, so nobody else waits).
    auto ok = raw->createReplyOk();
    const bool asked = raw->requestInformation();
    const int which =
        asked ? platform::waitAny({ok.get(), &statusCancel_, &exit_, &raw->stopEvent()}) : -1;
    raw->closeReplyOk();
    if (which != 0) return;
    std::lock_guard lock(sessionLock_);
    for (auto& s : sessions_)
        if (s->id == id) makeDownloads(*s);
}

void Controller::makeDownloads(Session& s) {
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
    Session* self = &s;
    c.workMoved = [this, self] { saveAutoResume(*self); };
    s.downloads = std::make_unique<download::SessionDownloads>(c, *s.session);
    s.queues = &s.downloads->downloads();
}

void Controller::saveAutoResume(Session& s, bool wait) {
    if (!options_.autoResume) return;
    download::DownloadSession* queues = s.queues;
    const int number = s.session->connectionNumber();
    if (!queues || number < 0) return;
    const state::ResumeHeader header = headerOf(*s.session);
    std::string error;
    auto collect = [&] { return resumeDataOf(header, queues->unfinished()); };
    bool failed = false;
    if (wait) {
        // A rewrite running now may have collected the work before it changed: this one waits
        // for it and writes last.
        auto held = s.resumeLock.lock();
        failed = !state::saveResumeFile(state::autoResumePath(options_.dataFolder, number),
                                        collect(), &error);
    } else {
        // Queues that move on at the same moment each ask for a rewrite; one that finds another
        // under way leaves it to that one, which writes once more after the one it ran, so
        // that the file never stays behind the work. (A rewrite that only tried the lock and
        // gave up could otherwise be the last one, and the file kept finished work.)
        if (s.rewritesAsked.fetch_add(1) > 0) return;
        for (int asked = 1;;) {
            const auto written = state::writeAutoResumeFile(s.resumeLock, options_.dataFolder,
                                                            number, collect, &error);
            failed = failed || written == state::ResumeWrite::Failed;
            const int before = s.rewritesAsked.fetch_sub(asked);
            if (before == asked) break;
            asked = before - asked;
        }
    }
    if (failed && !error.empty()) port_->messageBox(error, mb::kIconStop, false);
}

std::optional<SessionId> Controller::connectAndWait(const ConnectRequest& request) {
    if (exiting()) return std::nullopt;
    std::shared_ptr<net::ServerSession> raw = newSession();
    if (!raw->connectAndLogin(request)) return std::nullopt;
    const SessionId id = adopt(raw);
    auto ok = raw->createReplyOk();
    const bool asked = raw->requestInformation();
    const int which =
        asked ? platform::waitAny({ok.get(), &statusCancel_, &exit_, &raw->stopEvent()}) : -1;
    raw->closeReplyOk();
    if (which != 0) return std::nullopt;  // the session stays in the list
    std::lock_guard lock(sessionLock_);
    for (auto& s : sessions_)
        if (s->id == id) {
            makeDownloads(*s);
            return id;
        }
    return std::nullopt;  // closed meanwhile
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
        std::lock_guard lock(sessionLock_);
        for (auto& s : sessions_)
            if (s->id == id) {
                makeDownloads(*s);
                return id;
            }
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

std::unique_ptr<Controller::Session> Controller::takeSession(SessionId id) {
    std::lock_guard lock(sessionLock_);
    auto it =
        std::find_if(sessions_.begin(), sessions_.end(), [&](auto& e) { return e->id == id; });
    if (it == sessions_.end()) return nullptr;
    std::unique_ptr<Session> s = std::move(*it);
    sessions_.erase(it);
    return s;
}

void Controller::endSession(SessionId id) {
    if (auto s = takeSession(id)) destroy(std::move(s));
}

std::optional<net::ServerInfo> Controller::serverInfo(SessionId id) const {
    std::lock_guard lock(sessionLock_);
    for (auto& s : sessions_)
        if (s->id == id) return infoSink_->of(s->session.get());
    return std::nullopt;
}

std::optional<uint32_t> Controller::queryFrameCount(SessionId id, const std::string& recorderKey,
                                                    uint32_t dateId) {
    // The query waits for the recorder (at most its time limit, or until the session stops or
    // the program exits) with the session pinned instead of the list held.
    Session* s = nullptr;
    {
        std::lock_guard lock(sessionLock_);
        for (auto& e : sessions_)
            if (e->id == id && e->queues) s = e.get();
        if (!s) return std::nullopt;
        std::lock_guard pin(s->pinLock);
        ++s->pins;
    }
    const uint32_t count = s->queues->queryFrameCount(recorderKey, dateId);
    std::lock_guard pin(s->pinLock);
    --s->pins;
    s->unpinned.notify_all();
    return count;
}

bool Controller::withSession(SessionId id, const std::function<void(net::ServerSession&)>& f) {
    std::lock_guard lock(sessionLock_);
    for (auto& s : sessions_)
        if (s->id == id) {
            f(*s->session);
            return true;
        }
    return false;
}

bool Controller::idle() {
    std::lock_guard lock(sessionLock_);
    for (auto& s : sessions_)
        if (s->queues && !s->queues->idle()) return false;
    return true;
}

ConnectRequest Controller::lastRequest() const {
    std::lock_guard lock(requestLock_);
    return last_;
}

// ---- the session list ----------------------------------------------------------------------

int Controller::sessionCount() const {
    std::lock_guard lock(sessionLock_);
    return static_cast<int>(sessions_.size());
}

std::vector<Controller::SessionSummary> Controller::sessions() const {
    std::lock_guard lock(sessionLock_);
    std::vector<SessionSummary> out;
    for (auto& s : sessions_) {
        SessionSummary r;
        r.id = s->id;
        r.recorderName = s->session->recorderName();
        r.address = s->session->address();
        r.connectionTime = s->session->connectionTime();
        r.port = s->session->port();
        r.connectionNumber = s->session->connectionNumber();
        r.cameras = static_cast<int>(s->session->cameras().size());
        r.audioChannels = static_cast<int>(s->session->audioChannels().size());
        if (s->downloads) r.works = static_cast<int>(s->downloads->downloads().unfinished().size());
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<ConnectRequest> Controller::connectionRequests() const {
    std::lock_guard lock(sessionLock_);
    std::vector<ConnectRequest> out;
    for (auto& s : sessions_) out.push_back(requestOf(*s->session));
    return out;
}

bool Controller::withDownloads(SessionId id,
                               const std::function<void(download::DownloadSession&)>& f) {
    std::lock_guard lock(sessionLock_);
    for (auto& s : sessions_)
        if (s->id == id && s->downloads) {
            f(s->downloads->downloads());
            return true;
        }
    return false;
}

bool Controller::removeQueuedWork(SessionId id,
                                  const std::function<bool(const download::WorkItem&)>& which) {
    std::lock_guard lock(sessionLock_);
    for (auto& s : sessions_) {
        if (s->id != id || !s->queues) continue;
        auto item = s->queues->removeQueued(which);
        if (!item) return false;
        if (item->row >= 0) work_.setState(item->row, download::RowState::Stopped);
        // The event is no longer queued: it can be selected again.
        if (s->reporter)
            s->reporter->report(*item, item->queue == download::QueueKind::Audio,
                                download::EndReport::Stopped);
        saveAutoResume(*s, true);
        return true;
    }
    return false;
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
    {
        // The work is taken now, while the streams still count as running.
        std::lock_guard lock(sessionLock_);
        for (auto& s : sessions_)
            if (s->session.get() == session) {
                id = s->id;
                if (s->downloads) s->leftAtDrop = s->downloads->downloads().unfinished();
            }
    }
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
    {
        std::lock_guard lock(sessionLock_);
        for (auto& s : sessions_)
            if (s->session->connectionNumber() == number) target = s->session;
    }
    if (target) catalogs_.refreshRecorder(*target);
}

void Controller::closeChannel(int channel) {
    if (onCloseChannel && !exiting()) onCloseChannel(channel);
}

void Controller::destroy(std::unique_ptr<Session> s) {
    const SessionId id = s->id;
    const int number = s->session->connectionNumber();
    // A connect still waiting for this session's information ends now, and so does a wait of
    // a start; the start lets go of the session before it goes.
    s->session->stopEvent().set();
    {
        std::unique_lock lock(s->pinLock);
        s->unpinned.wait(lock, [&] { return s->pins == 0; });
    }
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
    state::deleteAutoResumeFile(s->resumeLock, options_.dataFolder, number);
    SessionRemoved note{id, s->session->closedByRecorder(), s->session->stalled(), {}};
    if (note.stalled) note.stallText = s->session->stallText();
    s->session.reset();
    if (number >= 0) {
        std::lock_guard lock(events_.lock());
        events_.removeRecorder(number);
    }
    notes_.push(std::move(note));
}

bool Controller::writeUnfinished(Session& s, const std::vector<download::WorkItem>& items,
                                 const fs::path& path) {
    const state::ResumeData data = resumeDataOf(headerOf(*s.session), items);
    if (data.records.empty()) return false;
    std::string error;
    if (!state::saveResumeFile(path, data, &error)) {
        port_->messageBox(error, mb::kIconStop, false);
        return false;
    }
    return true;
}

void Controller::closeConnection(int position, const std::string& resumeFile) {
    std::unique_ptr<Session> s;
    {
        std::lock_guard lock(sessionLock_);
        if (position < 0 || position >= static_cast<int>(sessions_.size())) return;
        s = std::move(sessions_[position]);
        sessions_.erase(sessions_.begin() + position);
    }
    if (!resumeFile.empty() && s->downloads)
        writeUnfinished(*s, s->downloads->downloads().unfinished(), resumeFile);
    destroy(std::move(s));
}

void Controller::remoteClosed(SessionId id) {
    std::unique_ptr<Session> s = takeSession(id);
    if (!s) return;
    // A recorder that went silent is left like one that closed the link, with its own text.
    const bool stalled = s->session->stalled();
    const std::string text =
        stalled ? s->session->stallText()
                : format(state::kClosedByRemote, s->session->recorderName().c_str(),
                         s->session->address().c_str());
    const fs::path temp =
        state::tempResumePath(options_.dataFolder, s->session->connectionNumber());
    const bool kept = writeUnfinished(*s, s->leftAtDrop, temp);
    destroy(std::move(s));
    if (!kept) {
        port_->messageBox(text, stalled ? mb::kIconWarning : mb::kIconInformation, false);
        return;
    }
    std::error_code ec;
    const int answer = port_->messageBox(text + "\n" + state::kSaveUnfinishedQuestion,
                                         mb::kYesNo | mb::kIconQuestion, true);
    fs::path chosen;
    if (answer == mb::kIdYes)
        chosen = port_->saveFileDialog(options_.dataFolder, state::kResumeFilter,
                                       state::kResumeExtension);
    if (chosen.empty()) {
        fs::remove(temp, ec);
        return;
    }
    // The work is never thrown away because the chosen name cannot take it: the temporary file
    // stays, and the user learns where.
    std::string error;
    if (!state::moveResumeFile(temp, chosen, &error))
        port_->messageBox(
            format(kResumeFileKept, chosen.string().c_str(), error.c_str(), temp.string().c_str()),
            mb::kIconWarning, false);
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
    if (isAutomaticFile(file)) return;
    std::error_code ec;
    fs::remove(file, ec);
}

bool Controller::isAutomaticFile(const fs::path& file) {
    std::lock_guard lock(sessionLock_);
    std::error_code ec;
    for (auto& s : sessions_) {
        const int number = s->session->connectionNumber();
        if (number >= 0 &&
            fs::equivalent(file, state::autoResumePath(options_.dataFolder, number), ec))
            return true;
    }
    return false;
}

// ---- work -------------------------------------------------------------------------------------

std::string skippedWorkText(const fs::path& file, const std::vector<std::string>& skipped) {
    constexpr size_t kShown = 10;  // a box, not a log: the rest is counted
    std::string text = format("Some work of %s was left out:", file.filename().string().c_str());
    for (size_t i = 0; i < skipped.size() && i < kShown; ++i) text += "\n" + skipped[i];
    if (skipped.size() > kShown) text += format("\n... and %zu more", skipped.size() - kShown);
    return text;
}

namespace {}  // namespace

std::string Controller::lastDestination() const {
    std::lock_guard lock(destinationLock_);
    return lastDestination_;
}

StartResult Controller::startWork(std::optional<download::Action> given) {
    namespace dl = download;
    if (exiting()) return StartResult::Declined;
    const std::vector<PickedEvent> picked = pickSelection();
    if (picked.empty()) return StartResult::NothingSelected;
    const std::optional<dl::Action> action = chooseAction(picked, given);
    if (!action) return StartResult::Declined;
    if (*action != dl::Action::JustDownload && !channelsSuffice(picked))
        return StartResult::OverMaximum;
    std::optional<dl::FrameRange> frames;
    if (*action == dl::Action::DownloadAndPlayPeriod) {
        frames = askFrameRange(picked.front());
        if (!frames) return StartResult::Declined;
    }
    const std::string root = chooseRoot(picked);
    if (root.empty()) return StartResult::Declined;
    const auto items = planWork(picked, *action, root, frames);
    return enqueueWork(picked, items) > 0 ? StartResult::Started : StartResult::Declined;
}

// The selection: every event marked selected of every recorder whose queues exist.
std::vector<PickedEvent> Controller::pickSelection() {
    std::vector<PickedEvent> picked;
    std::lock_guard lock(sessionLock_);
    for (auto& s : sessions_) {
        const int r = s->session->connectionNumber();
        auto catalog = r >= 0 && s->queues ? catalogs_.catalogOf(r) : nullptr;
        if (!catalog) continue;
        std::lock_guard listLock(events_.lock());
        auto mine = pickSelected(events_, *catalog, s->id);
        picked.insert(picked.end(), mine.begin(), mine.end());
    }
    return picked;
}

// The action: audio in the selection transfers the whole selection as files; otherwise the one
// given, or the user's choice. Nothing when the user declines or the action does not fit.
std::optional<download::Action> Controller::chooseAction(const std::vector<PickedEvent>& picked,
                                                         std::optional<download::Action> given) {
    namespace dl = download;
    dl::Action action;
    if (std::any_of(picked.begin(), picked.end(), [](const PickedEvent& p) { return p.audio; })) {
        action = dl::Action::JustDownload;
    } else if (given) {
        action = *given;
    } else {
        const int choice = port_->askAction(picked.size() == 1);
        if (choice < 0 || choice > 3) return std::nullopt;
        action = static_cast<dl::Action>(choice);
    }
    if (action == dl::Action::DownloadAndPlayPeriod && picked.size() != 1) return std::nullopt;
    return action;
}

// Work that shows video needs a channel per camera whose queue shows nothing yet; the user is
// told when they would run out.
bool Controller::channelsSuffice(const std::vector<PickedEvent>& picked) {
    int needed = 0;
    {
        std::lock_guard lock(sessionLock_);
        for (auto& s : sessions_) {
            std::vector<uint16_t> cameras;
            for (auto& p : picked)
                if (p.session == s->id && !p.audio) cameras.push_back(p.code);
            if (!cameras.empty() && s->queues) needed += s->queues->camerasWithoutStream(cameras);
        }
    }
    const int inUse = context_.channels ? context_.channels->usedCount() : 0;
    return download::checkChannelLimit(*port_, needed, inUse, settings_.maxChannel);
}

// A period by frames: the recording's frame count, then the range the user gives (1-based),
// asked again while its end comes before its start.
std::optional<download::FrameRange> Controller::askFrameRange(const PickedEvent& p) {
    namespace dl = download;
    dl::WorkItem probe;
    probe.channelCode = p.code;
    probe.eventKey = p.date + p.time;
    const auto asked = queryFrameCount(p.session, probe.recorderKey(), p.dateId);
    if (!asked) return std::nullopt;
    const uint32_t count = *asked;
    uint32_t first = 1, last = count;
    dl::FrameRange frames;
    for (;;) {
        if (!port_->askFrameRange(count, first, last)) return std::nullopt;
        const auto check = dl::checkFrameRange(first, last, count, &frames);
        if (check == dl::FrameRangeCheck::Ok) return frames;
        if (check == dl::FrameRangeCheck::EndBeforeStart)
            port_->messageBox(dl::kEndBeforeStartText, mb::kIconStop, true);
    }
}

// The destination, with room for everything selected; remembered for the next time. Empty
// when the user declines.
std::string Controller::chooseRoot(const std::vector<PickedEvent>& picked) {
    uint64_t total = 0;
    for (auto& p : picked) total += p.size;
    const std::string root = download::chooseDestination(
        lastDestination(), total, *port_,
        context_.freeSpace ? context_.freeSpace : download::systemFreeSpace());
    if (root.empty()) return root;
    std::lock_guard lock(destinationLock_);
    lastDestination_ = root;
    return root;
}

// The items in their recorders' queues, the marks, and each recorder's automatic file. Returns
// how many items were queued.
int Controller::enqueueWork(const std::vector<PickedEvent>& picked,
                            const std::vector<download::WorkItem>& items) {
    int queued = 0;
    std::lock_guard lock(sessionLock_);
    for (auto& s : sessions_) {
        if (!s->queues) continue;
        for (size_t i = 0; i < picked.size(); ++i)
            if (picked[i].session == s->id && s->queues->enqueue(items[i])) ++queued;
    }
    if (queued == 0) return 0;
    events_.queueSelection();
    for (auto& s : sessions_) {
        const bool mine = std::any_of(picked.begin(), picked.end(),
                                      [&](const PickedEvent& p) { return p.session == s->id; });
        if (mine) saveAutoResume(*s);
    }
    return queued;
}

bool Controller::startWorkAsync(std::optional<download::Action> action) {
    std::lock_guard lock(starterLock_);
    if (exiting() || starting_.exchange(true)) return false;
    if (starter_.joinable()) starter_.join();  // the one before has ended
    try {
        starter_ = std::thread([this, action] {
            const StartResult result = startWork(action);
            notes_.push(WorkStarted{result});
            starting_.store(false);
        });
    } catch (const std::system_error&) {
        starting_.store(false);
        return false;
    }
    return true;
}

bool Controller::loadResumeFile(const fs::path& file) {
    const auto loaded = state::loadResumeFile(file);
    // A file that cannot be read is passed by without a word.
    if (loaded.status == state::ReadStatus::Missing ||
        loaded.status == state::ReadStatus::Unreadable)
        return false;
    // A file cut short may still name work that was never read: it stays as it is.
    if (loaded.status != state::ReadStatus::Ok) {
        port_->messageBox(loaded.message, mb::kIconStop, false);
        return false;
    }
    const auto id = connectAndWait(state::toConnectRequest(loaded.value.header));
    if (!id) return false;  // the file stays for another time
    const RebuiltWork rebuilt = takeUpWork(*id, loaded.value.records, file);
    if (rebuilt.cancelled) return false;
    // Taken up, even when none of its records found its recording; the user hears which were
    // left out, in one box for the file.
    if (!rebuilt.skipped.empty())
        port_->messageBox(skippedWorkText(file, rebuilt.skipped), mb::kIconWarning, false);
    // With work queued, takeUpWork has dealt with the file; without, it is spent.
    if (rebuilt.items.empty()) {
        std::error_code ec;
        fs::remove(file, ec);
    }
    return true;
}

RebuiltWork Controller::takeUpWork(SessionId id, const std::vector<state::ResumeRecord>& records,
                                   const fs::path& file,
                                   const std::function<bool(const download::WorkItem&)>& keep) {
    RebuiltWork rebuilt;
    std::shared_ptr<RecorderCatalog> catalog;
    {
        std::lock_guard lock(sessionLock_);
        for (auto& s : sessions_)
            if (s->id == id) catalog = catalogs_.catalog(*s->session);
    }
    if (!catalog) {
        rebuilt.cancelled = true;
        return rebuilt;
    }
    // Waits for the days the records need, without the list's lock.
    rebuilt = rebuildWork(records, *catalog, waiter_, *port_, options_.replyTimeout, &exit_);
    if (rebuilt.cancelled || rebuilt.items.empty()) return rebuilt;
    std::lock_guard lock(sessionLock_);
    for (auto& s : sessions_) {
        if (s->id != id || !s->queues) continue;
        for (auto& item : rebuilt.items)
            if (!keep || keep(item)) s->queues->enqueue(item);
        // The connection's automatic file is written with the work before the file it came from
        // goes, so that at every moment one of them describes it. When the two are one file,
        // it is simply rewritten.
        saveAutoResume(*s, true);
        const fs::path own =
            state::autoResumePath(options_.dataFolder, s->session->connectionNumber());
        std::error_code ec;
        if (!file.empty() && !fs::equivalent(file, own, ec)) fs::remove(file, ec);
        return rebuilt;
    }
    rebuilt.cancelled = true;  // the session went meanwhile
    return rebuilt;
}

// ---- connection sets -------------------------------------------------------------------------

bool Controller::saveConnectionSet(const fs::path& file) {
    // The list cannot change while it is written.
    std::lock_guard lock(sessionLock_);
    std::vector<ConnectRequest> requests;
    for (auto& s : sessions_) requests.push_back(requestOf(*s->session));
    std::string message;
    switch (state::saveConnectionSet(file, requests, &message)) {
        case state::SaveSet::Written:
            return true;
        case state::SaveSet::NothingToSave:
            return false;  // no file, no word
        case state::SaveSet::Failed:
            port_->messageBox(message.empty() ? state::kFailedToSaveFile : message, mb::kIconStop,
                              false);
            return false;
    }
    return false;
}

bool Controller::loadConnectionSet(const fs::path& file) {
    auto loaded = state::loadConnectionSet(file);
    switch (loaded.status) {
        case state::ReadStatus::Ok:
        case state::ReadStatus::Damaged:  // the complete records are connected
            break;
        case state::ReadStatus::Missing:
            loaded.message = state::kReadFileFail;
            [[fallthrough]];
        default:
            port_->messageBox(loaded.message, mb::kIconStop, false);
            return false;
    }
    bool any = false;
    // One connect at a time: each record waits until the connect thread took its parameters.
    for (auto& request : loaded.value) {
        if (exiting()) break;
        any |= connect(request);
    }
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
    statusCancel_.set();
    // The housekeeping thread may be closing a session; it ends before the list is emptied.
    if (housekeeping_.joinable()) housekeeping_.join();
    waitConnect();
    {
        // A start in progress ends with the exit event (its questions and waits watch it).
        std::lock_guard lock(starterLock_);
        if (starter_.joinable()) starter_.join();
    }
    std::vector<std::unique_ptr<Session>> all;
    {
        std::lock_guard lock(sessionLock_);
        all.swap(sessions_);
    }
    for (auto& s : all) destroy(std::move(s));
    transport_.reset();
    return true;
}

}  // namespace fsv::client
