#include "app/CoreBackend.h"

#include <QMetaObject>
#include <algorithm>
#include <memory>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/System.h"
#include "state/ConnectionSet.h"
#include "state/ResumeFile.h"
#include "state/Settings.h"

namespace fsv::app {

CoreBackend::CoreBackend(net::SessionTiming timing, state::Settings settings)
    : settings_(std::move(settings)),
      notes_([this] {
          QMetaObject::invokeMethod(
              &bridge_, [this] { drain(); }, Qt::QueuedConnection);
      }),
      user_(std::make_unique<QtUserPort>(&bridge_, notes_, exit_)) {
    client::Channels::Options c;
    c.maxChannels = settings_.maxChannel;
    c.captions = {settings_.channelNum, settings_.serverName, settings_.cameraName};
    c.exitEvent = &exit_;
    c.post = [this](std::function<void()> call) {
        QMetaObject::invokeMethod(&bridge_, std::move(call), Qt::QueuedConnection);
    };
    channels_ = std::make_unique<client::Channels>(std::move(c), *user_, notes_);
    client::Controller::Options o;
    o.dataFolder = fsv::platform::dataFolder();
    o.channels = &channels_->table();
    o.display = &channels_->display();
    o.successor = &channels_->successor();
    o.timing = timing;
    o.exitEvent = &exit_;
    o.status = this;
    // Read once, at start: the controller works with the same values as the channel table.
    o.settings = settings_;
    o.connectFinished = [this] { notify([this] { Q_EMIT signals_.connectFinished(); }); };
    controller_ = std::make_unique<client::Controller>(o, *user_, notes_);
    controller_->onResumeFile = [this](const std::filesystem::path& f) { return resumeFile(f); };
}

CoreBackend::~CoreBackend() { shutdown(); }

void CoreBackend::startUp() { controller_->startUp(); }

// ---- the bridge ----------------------------------------------------------------------------

template <typename Emit>
void CoreBackend::notify(Emit emit) {
    QMetaObject::invokeMethod(&bridge_, std::move(emit), Qt::QueuedConnection);
}

void CoreBackend::drain() {
    notes_.drain([this](client::Notification& n) { handle(n); });
    channels_->dropFailedFiles();
}

// One signal per notification; a question is asked here instead, and a deferred box is dropped
// once the program exits.
void CoreBackend::handle(client::Notification& n) {
    ui::BackendSignals& s = signals_;
    std::visit(
        [&](auto& note) {
            using T = std::decay_t<decltype(note)>;
            if constexpr (std::is_same_v<T, client::MessageBoxNote>) {
                if (!user_->exiting()) Q_EMIT s.messageBox(note.text, note.style);
            } else if constexpr (std::is_same_v<T, client::Question>) {
                user_->answerQueued(note);
            } else if constexpr (std::is_same_v<T, client::SessionAdded>) {
                Q_EMIT s.sessionAdded(note);
            } else if constexpr (std::is_same_v<T, client::SessionRemoved>) {
                Q_EMIT s.sessionRemoved(note);
            } else if constexpr (std::is_same_v<T, client::EventListChanged>) {
                Q_EMIT s.eventListChanged(note);
            } else if constexpr (std::is_same_v<T, client::PanelsChanged>) {
                Q_EMIT s.panelsChanged(note.panel);
            } else if constexpr (std::is_same_v<T, client::FrameReady>) {
                Q_EMIT s.frameReady(note.panel);
            } else if constexpr (std::is_same_v<T, client::WorkRowChanged>) {
                Q_EMIT s.workRowChanged(note.row);
            } else if constexpr (std::is_same_v<T, client::WorkStarted>) {
                Q_EMIT s.workStarted(note.result);
            } else if constexpr (std::is_same_v<T, client::PeriodQueried>) {
                if (auto done = std::exchange(periodDone_, nullptr)) done(note.summary);
            } else {
                static_assert(std::is_same_v<T, client::PlaybackPosition>);
                Q_EMIT s.playbackPosition(note);
            }
        },
        n);
}

void CoreBackend::showStatus(const std::string& text) {
    notify([this, text] { Q_EMIT signals_.statusShown(text); });
}

void CoreBackend::hideStatus() {
    notify([this] { Q_EMIT signals_.statusHidden(); });
}

// ---- connecting ----------------------------------------------------------------------------

// The controller's connector runs the connects one after the other; each one's end comes back
// as ConnectFinished.
bool CoreBackend::connect(const ConnectRequest& request) { return controller_->connect(request); }

void CoreBackend::cancelWait() { controller_->cancelConnect(); }

bool CoreBackend::connecting() const { return controller_->connecting(); }

bool CoreBackend::resumeFile(const std::filesystem::path& file) {
    // The housekeeping thread: the controller connects, rebuilds the work and deletes the file;
    // a file it could not take up stays for a later start.
    const bool loaded = controller_->loadResumeFile(file);
    resumeLoaded_ = loaded;
    resumeLoads_.fetch_add(1);
    return loaded;
}

// ---- the session list ----------------------------------------------------------------------

std::vector<ui::SessionSummary> CoreBackend::sessions() const {
    std::vector<ui::SessionSummary> out;
    for (auto& s : controller_->sessions()) {
        ui::SessionSummary sum;
        sum.recorderName = s.recorderName;
        sum.address = s.address;
        sum.port = s.port;
        sum.connectionTime = s.connectionTime;
        sum.connectionNumber = s.connectionNumber;
        sum.cameras = s.cameras;
        sum.audioChannels = s.audioChannels;
        out.push_back(std::move(sum));
    }
    return out;
}

std::vector<ConnectRequest> CoreBackend::connections() const {
    return controller_->connectionRequests();
}

void CoreBackend::closeAll() {
    // The window asked already; highest position first.
    for (int p = controller_->sessionCount() - 1; p >= 0; --p) controller_->queueConnectionClose(p);
}

bool CoreBackend::loadResumeFile(const std::filesystem::path& file) {
    // A file that is no resume file is told about at once; a usable one goes to the
    // housekeeping thread, which connects to its recorder and takes its work up.
    auto r = state::loadResumeFile(file);
    if (!r.usable() || r.status == state::ReadStatus::Missing) {
        const std::string text =
            r.status == state::ReadStatus::WrongFormat ? r.message : state::kReadFileFail;
        notify([this, text] {
            Q_EMIT signals_.messageBox(text, {client::BoxButtons::Ok, client::BoxIcon::Stop});
        });
        return false;
    }
    controller_->queueResumeFile(file);
    return true;
}

// ---- the channels ------------------------------------------------------------------------

ui::ViewerBackend::OpenResult CoreBackend::openLocalFile(const std::filesystem::path& file) {
    switch (channels_->openLocalFile(file)) {
        case client::Channels::OpenResult::Opened:
            return OpenResult::Opened;
        case client::Channels::OpenResult::AlreadyPlaying:
            return OpenResult::AlreadyPlaying;
        case client::Channels::OpenResult::OverMaximum:
            return OpenResult::OverMaximum;
        case client::Channels::OpenResult::Failed:
            break;
    }
    return OpenResult::Failed;
}

void CoreBackend::showPage(int first, int count) { channels_->showPage(first, count); }
int CoreBackend::channelCount() const { return channels_->channelCount(); }

void CoreBackend::settingsChanged(const state::Settings& settings) {
    settings_ = settings;
    // The work already queued or running obeys the new flags from now on.
    controller_->applySettings(settings);
    channels_->setCaptionParts({settings.channelNum, settings.serverName, settings.cameraName});
}

std::optional<std::string> CoreBackend::panelCaption(int panel) const {
    return channels_->panelCaption(panel);
}

std::vector<std::filesystem::path> CoreBackend::channelFiles() const {
    return channels_->channelFiles();
}

bool CoreBackend::isPlaying(const std::filesystem::path& file) const {
    return channels_->isPlaying(file);
}

std::optional<CoreBackend::StreamSource> CoreBackend::streamSource(int position) const {
    return channels_->streamSource(position);
}

bool CoreBackend::hasChannel(int position) const { return channels_->hasChannel(position); }

bool CoreBackend::pauseChannel(int position, bool pause) {
    return channels_->pauseChannel(position, pause);
}

bool CoreBackend::closeChannel(int position) { return channels_->closeChannel(position); }

bool CoreBackend::setSync(bool on, int activePosition) {
    return channels_->setSync(on, activePosition);
}

std::vector<playback::LocalExtent> CoreBackend::localExtents() const {
    std::vector<playback::LocalExtent> out;
    for (auto& f : channels_->localFiles())
        out.push_back({f.position, f.caption, f.times->front(), f.times->back()});
    return out;
}

std::optional<int64_t> CoreBackend::syncTime() { return channels_->syncTime(); }

std::vector<merge::MomentCamera> CoreBackend::momentCameras() const {
    std::vector<merge::MomentCamera> out;
    for (auto& f : channels_->localFiles()) out.push_back({f.caption, f.path, *f.times});
    return out;
}

bool CoreBackend::seekChannelTime(int position, int64_t t) {
    return channels_->seekChannelTime(position, t);
}

bool CoreBackend::channelCommand(int position, playback::PlayCommand command) {
    return channels_->channelCommand(position, command);
}

bool CoreBackend::goToFrame(int position, uint32_t frame) {
    return channels_->goToFrame(position, frame);
}

bool CoreBackend::setChannelSpeed(int position, int factor) {
    return channels_->setChannelSpeed(position, factor);
}

std::optional<playback::PlayStatus> CoreBackend::channelStatus(int position) const {
    return channels_->channelStatus(position);
}

bool CoreBackend::setChannelNoPacing(int position, bool on) {
    return channels_->setChannelNoPacing(position, on);
}

std::optional<playback::PausedPicture> CoreBackend::pausedPicture(int position) const {
    return channels_->pausedPicture(position);
}

std::optional<ui::ViewerBackend::ClipSource> CoreBackend::clipSource(int position) const {
    auto source = channels_->clipSource(position);
    if (!source) return std::nullopt;
    return ClipSource{source->file, source->credential};
}

// ---- the period query ----------------------------------------------------------------------

bool CoreBackend::startPeriodQuery(int recorder, const std::vector<int>& channels,
                                   const Period& period, std::chrono::milliseconds replyTimeout,
                                   Done done) {
    if (shutDown_) return false;
    for (const auto& s : controller_->sessions()) {
        if (s.connectionNumber != recorder) continue;
        // The dialog asks only while it is on show: a time-out asks whether to wait again.
        if (!controller_->queryPeriodAsync(s.id, channels, period, replyTimeout, true))
            return false;
        periodDone_ = std::move(done);
        return true;
    }
    return false;
}

void CoreBackend::cancelPeriodQuery() { controller_->cancelPeriodQuery(); }

// ---- the end -------------------------------------------------------------------------------

void CoreBackend::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    user_->setExiting();
    // Every wait of a connect also watches the exit and cancel events.
    exit_.set();
    controller_->cancelConnect();
    channels_->stopLocalPlayers();
    controller_->shutDown(false);
    periodDone_ = nullptr;
    channels_->dropLeftovers();
}

}  // namespace fsv::app
