#include "app/CoreBackend.h"

#include <QMetaObject>
#include <algorithm>
#include <system_error>

#include "state/ConnectionSet.h"
#include "state/ResumeFile.h"

namespace fsv::app {

CoreBackend::CoreBackend(net::SessionTiming timing)
    : user_(std::make_unique<QtUserPort>(&context_, exit_,
                                         [this](const ui::ViewerNotice& n) { notify(n); })),
      timing_(timing),
      transport_(std::make_unique<net::ConnectionManager>()) {
    housekeeping_ = std::thread([this] { housekeeping(); });
}

CoreBackend::~CoreBackend() {
    shutdown();
    transport_.reset();
}

void CoreBackend::setListener(Listener listener) { listener_ = std::move(listener); }

void CoreBackend::notify(const ui::ViewerNotice& notice) {
    // Queued even from the UI thread, so that a notice never runs inside the caller.
    QMetaObject::invokeMethod(
        &context_,
        [this, notice] {
            if (listener_) listener_(notice);
        },
        Qt::QueuedConnection);
}

void CoreBackend::notify(ui::ViewerNotice::Kind kind, bool ok) {
    ui::ViewerNotice n;
    n.kind = kind;
    n.ok = ok;
    notify(n);
}

void CoreBackend::showStatus(const std::string& text) {
    ui::ViewerNotice n;
    n.kind = ui::ViewerNotice::Kind::ShowStatus;
    n.text = text;
    notify(n);
}

void CoreBackend::hideStatus() { notify(ui::ViewerNotice::Kind::HideStatus); }

// ---- connecting --------------------------------------------------------------------------

bool CoreBackend::connect(const ConnectRequest& request) {
    std::lock_guard lock(threadLock_);
    if (shutDown_) return false;
    reapConnectThreads();
    auto done = std::make_shared<std::atomic<bool>>(false);
    connecting_.fetch_add(1);
    try {
        std::thread t([this, request, done] {
            connectThread(request);
            connecting_.fetch_sub(1);
            done->store(true);
            notify(ui::ViewerNotice::Kind::ConnectFinished, true);
        });
        connectThreads_.push_back({std::move(t), done});
    } catch (const std::system_error&) {
        connecting_.fetch_sub(1);
        return false;
    }
    return true;
}

void CoreBackend::reapConnectThreads() {
    for (auto it = connectThreads_.begin(); it != connectThreads_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = connectThreads_.erase(it);
        } else {
            ++it;
        }
    }
}

int CoreBackend::freeConnectionNumber() const {
    for (int n = 0;; ++n) {
        bool used = std::any_of(sessions_.begin(), sessions_.end(),
                                [n](const auto& s) { return s->connectionNumber() == n; });
        if (!used) return n;
    }
}

void CoreBackend::connectThread(ConnectRequest request) {
    net::SessionEnvironment env{*transport_, *user_, statusCancel_, &exit_, this, this, timing_};
    auto session = std::make_unique<net::ServerSession>(env);
    if (exit_.isSet() || !session->connectAndLogin(request)) {
        session.reset();
        hideStatus();
        return;
    }
    {
        std::lock_guard lock(sessionLock_);
        if (exit_.isSet()) {
            // The program is ending: this session goes with the rest, here.
        } else {
            session->setConnectionNumber(freeConnectionNumber());
            session->requestInformation();
            sessions_.push_back(std::move(session));
        }
    }
    session.reset();
    notify(ui::ViewerNotice::Kind::SessionsChanged);
}

void CoreBackend::cancelWait() { statusCancel_.set(); }

void CoreBackend::serverInfo(net::ServerSession& session, const net::ServerInfo& info, bool) {
    {
        std::lock_guard lock(infoLock_);
        counts_[&session] = {int(info.cameras.size()), int(info.audio.size())};
    }
    session.setReplyOk();
    notify(ui::ViewerNotice::Kind::SessionsChanged);
}

void CoreBackend::sessionEnding(net::ServerSession& session) {
    std::lock_guard lock(infoLock_);
    counts_.erase(&session);
}

// ---- the session list --------------------------------------------------------------------

std::vector<ui::SessionSummary> CoreBackend::sessions() const {
    std::vector<ui::SessionSummary> out;
    std::lock_guard lock(sessionLock_);
    for (const auto& s : sessions_) {
        ui::SessionSummary sum;
        sum.recorderName = s->recorderName();
        sum.address = s->address();
        sum.port = s->port();
        sum.connectionTime = s->connectionTime();
        sum.connectionNumber = s->connectionNumber();
        {
            std::lock_guard info(infoLock_);
            auto it = counts_.find(s.get());
            if (it != counts_.end()) {
                sum.cameras = it->second.cameras;
                sum.audioChannels = it->second.audio;
            }
        }
        out.push_back(std::move(sum));
    }
    return out;
}

std::vector<ConnectRequest> CoreBackend::connections() const {
    std::vector<ConnectRequest> out;
    std::lock_guard lock(sessionLock_);
    for (const auto& s : sessions_) {
        ConnectRequest r;
        r.kind = s->kind();
        r.port = s->port();
        r.address = s->address();
        r.id = s->id();
        r.password = s->password();
        out.push_back(std::move(r));
    }
    return out;
}

void CoreBackend::closeAll() {
    queueWork([this] {
        // Highest position first, one at a time; each ends outside the list lock.
        for (;;) {
            std::unique_ptr<net::ServerSession> s;
            {
                std::lock_guard lock(sessionLock_);
                if (sessions_.empty()) break;
                s = std::move(sessions_.back());
                sessions_.pop_back();
            }
            s.reset();
            notify(ui::ViewerNotice::Kind::SessionsChanged);
        }
    });
}

std::string CoreBackend::takeClosedSession(intptr_t session) {
    std::unique_ptr<net::ServerSession> s;
    {
        std::lock_guard lock(sessionLock_);
        auto it = std::find_if(sessions_.begin(), sessions_.end(), [session](const auto& p) {
            return reinterpret_cast<intptr_t>(p.get()) == session;
        });
        if (it == sessions_.end()) return {};
        s = std::move(*it);
        sessions_.erase(it);
    }
    std::string text =
        fsv::format(state::kClosedByRemote, s->recorderName().c_str(), s->address().c_str());
    auto shared = std::shared_ptr<net::ServerSession>(std::move(s));
    queueWork([shared]() mutable { shared.reset(); });
    return text;
}

bool CoreBackend::loadResumeFile(const std::filesystem::path& file) {
    auto r = state::loadResumeFile(file);
    if (!r.usable() || r.status == state::ReadStatus::Missing) {
        ui::ViewerNotice n;
        n.kind = ui::ViewerNotice::Kind::MessageBox;
        n.text = r.status == state::ReadStatus::WrongFormat ? r.message : state::kReadFileFail;
        n.type = mb::kOk | mb::kIconStop;
        notify(n);
        return false;
    }
    // The work itself is rebuilt by the download queues once the recorder is connected; until
    // they are part of this window the file is kept for a later load.
    return connect(state::toConnectRequest(r.value.header));
}

// ---- housekeeping and the end ------------------------------------------------------------

void CoreBackend::queueWork(std::function<void()> work) {
    {
        std::lock_guard lock(workLock_);
        work_.push_back(std::move(work));
    }
    workReady_.set();
}

void CoreBackend::housekeeping() {
    for (;;) {
        const int w = platform::waitAny({&stop_, &workReady_});
        for (;;) {
            std::function<void()> work;
            {
                std::lock_guard lock(workLock_);
                if (work_.empty()) break;
                work = std::move(work_.front());
                work_.pop_front();
            }
            work();
        }
        if (w == 0) return;
    }
}

void CoreBackend::shutdown() {
    {
        std::lock_guard lock(threadLock_);
        if (shutDown_) return;
        shutDown_ = true;
    }
    user_->setExiting();
    exit_.set();
    statusCancel_.set();
    // Every wait of a connect thread also watches the exit and cancel events.
    std::vector<ConnectThread> threads;
    {
        std::lock_guard lock(threadLock_);
        threads.swap(connectThreads_);
    }
    for (auto& t : threads) t.thread.join();
    stop_.set();
    housekeeping_.join();
    std::vector<std::unique_ptr<net::ServerSession>> sessions;
    {
        std::lock_guard lock(sessionLock_);
        sessions.swap(sessions_);
    }
    sessions.clear();
}

}  // namespace fsv::app
