#include "app/CoreBackend.h"

#include <QMetaObject>
#include <algorithm>
#include <memory>
#include <system_error>

#include "platform/System.h"
#include "state/ConnectionSet.h"
#include "state/ResumeFile.h"
#include "state/Settings.h"

namespace fsv::app {

CoreBackend::CoreBackend(net::SessionTiming timing)
    : notes_([this] {
          QMetaObject::invokeMethod(
              &bridge_, [this] { drain(); }, Qt::QueuedConnection);
      }),
      user_(std::make_unique<QtUserPort>(&bridge_, notes_, exit_)) {
    const state::Settings settings = state::readSettings(state::settingsPath());
    client::Channels::Options c;
    c.maxChannels = settings.maxChannel;
    c.captions = {settings.channelNum, settings.serverName, settings.cameraName};
    c.exitEvent = &exit_;
    c.post = [this](std::function<void()> call) {
        QMetaObject::invokeMethod(&bridge_, std::move(call), Qt::QueuedConnection);
    };
    channels_ = std::make_unique<client::Channels>(std::move(c), *user_, notes_);
    client::Controller::Options o;
    o.dataFolder = platform::dataFolder();
    o.channels = &channels_->table();
    o.display = &channels_->display();
    o.successor = &channels_->successor();
    o.timing = timing;
    o.exitEvent = &exit_;
    o.status = this;
    // Read once here: the controller works with the same values as the channel table.
    o.settings = settings;
    o.connectFinished = [this] { notify(ui::ViewerNotice::Kind::ConnectFinished, true); };
    controller_ = std::make_unique<client::Controller>(o, *user_, notes_);
    controller_->onResumeFile = [this](const std::filesystem::path& f) { return resumeFile(f); };
}

CoreBackend::~CoreBackend() { shutdown(); }

void CoreBackend::setListener(Listener listener) { listener_ = std::move(listener); }

void CoreBackend::startUp() { controller_->startUp(); }

// ---- the bridge ----------------------------------------------------------------------------

void CoreBackend::notify(const ui::ViewerNotice& notice) {
    // Queued even from the UI thread, so that a notice never runs inside the caller.
    QMetaObject::invokeMethod(
        &bridge_,
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

void CoreBackend::drain() {
    notes_.drain([this](client::Notification& n) { handle(n); });
    channels_->dropFailedFiles();
}

void CoreBackend::handle(client::Notification& n) {
    ui::ViewerNotice notice;
    if (auto* box = std::get_if<client::MessageBoxNote>(&n)) {
        if (user_->exiting()) return;
        notice.kind = ui::ViewerNotice::Kind::MessageBox;
        notice.text = box->text;
        notice.type = box->type;
    } else if (auto* q = std::get_if<client::Question>(&n)) {
        user_->answerQueued(*q);
        return;
    } else if (std::holds_alternative<client::SessionAdded>(n) ||
               std::holds_alternative<client::SessionRemoved>(n)) {
        if (auto* gone = std::get_if<client::SessionRemoved>(&n); gone && onSessionRemoved)
            onSessionRemoved(gone->session);
        notice.kind = ui::ViewerNotice::Kind::SessionsChanged;
    } else if (auto* e = std::get_if<client::EventListChanged>(&n)) {
        if (onEventList) onEventList(*e);
        if (e->what != client::EventListChanged::What::Recorders) return;
        // A recorder's server information arrived or went: its channel counts changed.
        notice.kind = ui::ViewerNotice::Kind::SessionsChanged;
    } else if (auto* panel = std::get_if<client::PanelNote>(&n)) {
        notice.kind = ui::ViewerNotice::Kind::PanelMessage;
        notice.message = static_cast<unsigned>(panel->message);
        notice.wParam = panel->wParam;
        notice.lParam = panel->lParam;
    } else if (auto* frame = std::get_if<client::FrameReady>(&n)) {
        notice.kind = ui::ViewerNotice::Kind::FrameReady;
        notice.wParam = frame->panel;
    } else if (auto* row = std::get_if<client::WorkRowChanged>(&n)) {
        if (onWorkRow) onWorkRow(row->row);
        return;
    } else if (auto* started = std::get_if<client::WorkStarted>(&n)) {
        if (onWorkStarted) onWorkStarted(started->result);
        return;
    } else if (auto* play = std::get_if<client::PlaybackPosition>(&n)) {
        // Only the latest of a panel is queued; the control panel reads the rest itself.
        notice.kind = ui::ViewerNotice::Kind::PlayPosition;
        notice.wParam = play->panel;
    } else {
        return;
    }
    if (listener_) listener_(notice);
}

void CoreBackend::showStatus(const std::string& text) {
    ui::ViewerNotice n;
    n.kind = ui::ViewerNotice::Kind::ShowStatus;
    n.text = text;
    notify(n);
}

void CoreBackend::hideStatus() { notify(ui::ViewerNotice::Kind::HideStatus); }

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
        ui::ViewerNotice n;
        n.kind = ui::ViewerNotice::Kind::MessageBox;
        n.text = r.status == state::ReadStatus::WrongFormat ? r.message : state::kReadFileFail;
        n.type = mb::kOk | mb::kIconStop;
        notify(n);
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

void CoreBackend::settingsChanged() {
    const state::Settings settings = state::readSettings(state::settingsPath());
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
    channels_->dropLeftovers();
}

}  // namespace fsv::app
