#include "client/Controller.h"

#include <algorithm>
#include <system_error>

#include "state/ResumeFile.h"

namespace fsv::client {

namespace fs = std::filesystem;

bool insertDescending(std::vector<int>& queue, int value) {
    if (std::find(queue.begin(), queue.end(), value) != queue.end()) return false;
    auto at = std::find_if(queue.begin(), queue.end(), [&](int v) { return v < value; });
    queue.insert(at, value);
    return true;
}

struct Controller::Session {
    SessionId id = -1;
    // Shared with a connect that still waits for the server information, so that a recorder
    // closing the link meanwhile cannot pull the session from under it.
    std::shared_ptr<net::ServerSession> session;
    std::unique_ptr<download::SessionDownloads> downloads;
    std::vector<download::WorkItem> leftAtDrop;  // the work when the recorder closed the link
    state::ResumeLock resumeLock;
};

// What the sessions and their queues talk to: everything passes on to the front end's port,
// except the recorder-closed message, whose session pointer stays here and becomes work for
// the housekeeping thread.
class Controller::SessionPort : public UserPort {
  public:
    SessionPort(Controller& c, UserPort& outer) : c_(c), outer_(outer) {}
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
    ExistingFileAnswer askExistingFile(const fs::path& path, bool offerResume) override {
        return outer_.askExistingFile(path, offerResume);
    }
    fs::path chooseFolder(const fs::path& start, const std::string& text) override {
        return outer_.chooseFolder(start, text);
    }
    fs::path saveFileDialog(const fs::path& start, const std::string& filter,
                            const std::string& ext) override {
        return outer_.saveFileDialog(start, filter, ext);
    }
    fs::path openFileDialog(const fs::path& start, const std::string& filter) override {
        return outer_.openFileDialog(start, filter);
    }
    std::vector<fs::path> openFilesDialog(const fs::path& start,
                                          const std::string& filter) override {
        return outer_.openFilesDialog(start, filter);
    }

  private:
    Controller& c_;
    UserPort& outer_;
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

  private:
    Controller& c_;
};

Controller::Controller(Options options, UserPort& user, NotificationQueue& notes)
    : options_(std::move(options)),
      user_(user),
      notes_(notes),
      port_(std::make_unique<SessionPort>(*this, user)),
      exit_(options_.exitEvent ? *options_.exitEvent : ownExit_),
      eventNotes_(std::make_unique<EventListNotes>(*this)),
      events_(eventNotes_.get()),
      catalogs_(events_, port_.get(), &waiter_),
      context_(*port_, work_) {
    last_.kind = 0xFFFF;
    last_.port = kDefaultPort;
    last_.id.clear();
    context_.globalExit = &exit_;
    context_.settings = options_.download;
    context_.channels = options_.channels;
    context_.display = options_.display;
    context_.successor = options_.successor;
    work_.setListener([this](const download::WorkRow& row) { notes_.push(WorkRowChanged{row}); });
    transport_ = std::make_unique<net::ConnectionManager>(options_.transport);
    housekeeping_ = std::thread([this] { housekeeping(); });
}

Controller::~Controller() { shutDown(false); }

// ---- start-up ------------------------------------------------------------------------------

std::vector<fs::path> Controller::startUp() {
    auto files = state::scanUnfinishedWork(options_.dataFolder, *port_);
    if (!files.empty()) {
        {
            std::lock_guard lock(resumeQueueLock_);
            resumeQueue_.insert(resumeQueue_.end(), files.begin(), files.end());
        }
        resumeEv_.set();
    }
    return files;
}

// ---- connecting ----------------------------------------------------------------------------

std::unique_ptr<net::ServerSession> Controller::newSession() {
    net::SessionEnvironment env{*transport_, *port_,          statusCancel_,  &exit_,
                                &catalogs_,  options_.status, options_.timing};
    return std::make_unique<net::ServerSession>(env);
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
        if (s->id == id && !s->downloads)
            s->downloads = std::make_unique<download::SessionDownloads>(context_, *s->session);
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
            if (!s->downloads)
                s->downloads = std::make_unique<download::SessionDownloads>(context_, *s->session);
            return id;
        }
    return std::nullopt;  // closed meanwhile
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
    for (auto& s : sessions_) {
        ConnectRequest r;
        r.kind = s->session->kind();
        r.port = s->session->port();
        r.address = s->session->address();
        r.id = s->session->id();
        r.password = s->session->password();
        out.push_back(std::move(r));
    }
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

// ---- queues --------------------------------------------------------------------------------

void Controller::queueConnectionClose(int position, std::string resumeFile) {
    {
        std::lock_guard lock(connectionQueueLock_);
        if (!insertDescending(connectionQueue_, position)) return;
        // The name goes to the same place as its position.
        const auto at = std::find(connectionQueue_.begin(), connectionQueue_.end(), position) -
                        connectionQueue_.begin();
        connectionResume_.insert(connectionResume_.begin() + at, std::move(resumeFile));
    }
    connectionCloseEv_.set();
}

void Controller::queueChannelClose(int channel) {
    {
        std::lock_guard lock(channelQueueLock_);
        if (!insertDescending(channelQueue_, channel)) return;
    }
    channelCloseEv_.set();
}

std::vector<int> Controller::pendingConnectionCloses() const {
    std::lock_guard lock(connectionQueueLock_);
    return connectionQueue_;
}

void Controller::closeAllConnections() {
    const int n = sessionCount();
    if (n == 0) return;
    if (port_->messageBox(kCloseAllQuestion, mb::kYesNo | mb::kIconQuestion, true) != mb::kIdYes)
        return;
    for (int p = n - 1; p >= 0; --p) queueConnectionClose(p);
}

void Controller::queueResumeFile(fs::path file) {
    {
        std::lock_guard lock(resumeQueueLock_);
        resumeQueue_.push_back(std::move(file));
    }
    resumeEv_.set();
}

void Controller::refreshRecorder(int connectionNumber) {
    {
        std::lock_guard lock(refreshLock_);
        refreshNumber_ = connectionNumber;
    }
    refreshEv_.set();
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
    {
        std::lock_guard lock(remoteLock_);
        remoteClosed_.push_back(id);
    }
    remoteClosedEv_.set();
}

// ---- the housekeeping thread ---------------------------------------------------------------

void Controller::housekeeping() {
    for (;;) {
        const int which = platform::waitAny({&stop_, &channelCloseEv_, &connectionCloseEv_,
                                             &refreshEv_, &resumeEv_, &remoteClosedEv_});
        switch (which) {
            case 0:
                return;
            case 1: {
                int channel;
                {
                    std::lock_guard lock(channelQueueLock_);
                    if (channelQueue_.empty()) break;
                    channel = channelQueue_.front();
                    channelQueue_.erase(channelQueue_.begin());
                    if (!channelQueue_.empty()) channelCloseEv_.set();
                }
                closeChannel(channel);
                break;
            }
            case 2: {
                int position;
                std::string resume;
                {
                    std::lock_guard lock(connectionQueueLock_);
                    if (connectionQueue_.empty()) break;
                    position = connectionQueue_.front();
                    resume = std::move(connectionResume_.front());
                    connectionQueue_.erase(connectionQueue_.begin());
                    connectionResume_.erase(connectionResume_.begin());
                    if (!connectionQueue_.empty()) connectionCloseEv_.set();
                }
                closeConnection(position, resume);
                break;
            }
            case 3: {
                int number;
                {
                    std::lock_guard lock(refreshLock_);
                    number = refreshNumber_;
                }
                std::shared_ptr<net::ServerSession> target;
                {
                    std::lock_guard lock(sessionLock_);
                    for (auto& s : sessions_)
                        if (s->session->connectionNumber() == number) target = s->session;
                }
                // Waits for the recorder's answers, without the list's lock.
                if (target) catalogs_.refreshRecorder(*target);
                break;
            }
            case 4:
                runResumeFile();
                break;
            case 5: {
                SessionId id;
                {
                    std::lock_guard lock(remoteLock_);
                    if (remoteClosed_.empty()) break;
                    id = remoteClosed_.front();
                    remoteClosed_.erase(remoteClosed_.begin());
                    if (!remoteClosed_.empty()) remoteClosedEv_.set();
                }
                remoteClosed(id);
                break;
            }
        }
    }
}

void Controller::closeChannel(int channel) {
    if (onCloseChannel && !exiting()) onCloseChannel(channel);
}

void Controller::destroy(std::unique_ptr<Session> s) {
    const SessionId id = s->id;
    const int number = s->session->connectionNumber();
    // A connect still waiting for this session's information ends now.
    s->session->stopEvent().set();
    // The queues end first; then the session (it deletes nothing of the event list itself).
    s->downloads.reset();
    state::deleteAutoResumeFile(s->resumeLock, options_.dataFolder, number);
    s->session.reset();
    if (number >= 0) {
        std::lock_guard lock(events_.lock());
        events_.removeRecorder(number);
    }
    notes_.push(SessionRemoved{id});
}

bool Controller::writeUnfinished(Session& s, const std::vector<download::WorkItem>& items,
                                 const fs::path& path) {
    state::ResumeData data;
    data.header.port = s.session->port();
    data.header.address = s.session->address();
    data.header.id = s.session->id();
    data.header.password = s.session->password();
    for (auto& item : items) {
        if (item.mode() == state::kPlayOnlyType) continue;
        state::ResumeRecord r;
        r.listFlag = item.queue == download::QueueKind::Video ? 0 : 1;
        r.type = item.mode();
        r.camera = item.channelCode;
        r.eventKey = item.eventKey;
        r.path = item.outputPath;
        r.firstFrame = item.firstFrame;
        r.lastFrame = item.lastFrame;
        r.dateId = item.dateId;
        data.records.push_back(std::move(r));
    }
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
    std::unique_ptr<Session> s;
    {
        std::lock_guard lock(sessionLock_);
        auto it =
            std::find_if(sessions_.begin(), sessions_.end(), [&](auto& e) { return e->id == id; });
        if (it == sessions_.end()) return;
        s = std::move(*it);
        sessions_.erase(it);
    }
    const std::string text = format(state::kClosedByRemote, s->session->recorderName().c_str(),
                                    s->session->address().c_str());
    const fs::path temp =
        state::tempResumePath(options_.dataFolder, s->session->connectionNumber());
    const bool kept = writeUnfinished(*s, s->leftAtDrop, temp);
    destroy(std::move(s));
    if (!kept) {
        port_->messageBox(text, mb::kIconInformation, false);
        return;
    }
    std::error_code ec;
    const int answer = port_->messageBox(text + "\n" + state::kSaveUnfinishedQuestion,
                                         mb::kYesNo | mb::kIconQuestion, true);
    fs::path chosen;
    if (answer == mb::kIdYes)
        chosen = port_->saveFileDialog(options_.dataFolder, state::kResumeFilter,
                                       state::kResumeExtension);
    if (chosen.empty() || !state::moveResumeFile(temp, chosen)) fs::remove(temp, ec);
}

void Controller::runResumeFile() {
    fs::path file;
    {
        std::lock_guard lock(resumeQueueLock_);
        if (resumeQueue_.empty()) return;
        file = resumeQueue_.front();
        resumeQueue_.erase(resumeQueue_.begin());
        if (!resumeQueue_.empty()) resumeEv_.set();
    }
    if (onResumeFile && !exiting() && !onResumeFile(file)) return;  // kept for a later start
    std::error_code ec;
    fs::remove(file, ec);
}

// ---- work -------------------------------------------------------------------------------------

StartResult Controller::startWork(std::optional<download::Action>) { return StartResult::Declined; }

bool Controller::startWorkAsync(std::optional<download::Action> action) {
    notes_.push(WorkStarted{startWork(action)});
    return true;
}

bool Controller::loadResumeFile(const fs::path&) { return false; }

bool Controller::saveConnectionSet(const fs::path&) { return false; }

bool Controller::loadConnectionSet(const fs::path&) { return false; }

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
    stop_.set();
    statusCancel_.set();
    // The housekeeping thread may be closing a session; it ends before the list is emptied.
    if (housekeeping_.joinable()) housekeeping_.join();
    waitConnect();
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
