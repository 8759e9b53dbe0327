#pragma once
// The windows' backend over the client controller: the controller keeps the sessions, the
// connector, the close queues and the housekeeping thread; this object is its bridge to
// the UI thread. Workers report into the controller's notification queue, whose wake posts one
// drain onto the UI thread; the drain emits each notification as its own signal for the windows
// or asks the worker's question there. Connects go to the controller's connector, which runs
// them one after the other on its thread, so that the UI thread never waits for a recorder.

#include <QObject>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "app/QtUserPort.h"
#include "client/Channels.h"
#include "client/Controller.h"
#include "client/Notifications.h"
#include "net/ServerSession.h"
#include "platform/Event.h"
#include "ui/BackendSignals.h"
#include "ui/ViewerBackend.h"

namespace fsv::app {

class CoreBackend : public ui::ViewerBackend, private net::StatusDisplay {
  public:
    // `settings`: the settings file as read once at start.
    explicit CoreBackend(net::SessionTiming timing = {},
                         state::Settings settings = state::readSettings(state::settingsPath()));
    ~CoreBackend() override;

    QtUserPort& user() { return *user_; }
    client::Controller& controller() { return *controller_; }

    // Start-up: the unfinished work of an earlier run (the question, then the housekeeping
    // thread connects to each file's recorder).
    void startUp();

    ui::BackendSignals& notices() override { return signals_; }
    bool connect(const ConnectRequest& request) override;
    void cancelWait() override;
    bool connecting() const override;
    std::vector<ui::SessionSummary> sessions() const override;
    std::vector<ConnectRequest> connections() const override;
    void closeAll() override;
    bool loadResumeFile(const std::filesystem::path& file) override;
    void shutdown() override;
    bool startPeriodQuery(int recorder, const std::vector<int>& channels, const Period& period,
                          std::chrono::milliseconds replyTimeout, Done done) override;
    void cancelPeriodQuery() override;

    // The channels: forwarded to the Qt-free core's Channels.
    client::FrameSlots& frameSlots() override { return channels_->frameSlots(); }
    OpenResult openLocalFile(const std::filesystem::path& file) override;
    void showPage(int first, int count) override;
    int channelCount() const override;
    void settingsChanged(const state::Settings& settings) override;
    state::Settings settings() const override { return settings_; }
    std::optional<std::string> panelCaption(int panel) const override;
    bool hasChannel(int position) const override;
    bool pauseChannel(int position, bool pause) override;
    bool closeChannel(int position) override;
    bool channelCommand(int position, playback::PlayCommand command) override;
    bool goToFrame(int position, uint32_t frame) override;
    bool setChannelSpeed(int position, int factor) override;
    std::optional<playback::PlayStatus> channelStatus(int position) const override;
    bool setChannelNoPacing(int position, bool on) override;
    std::optional<playback::PausedPicture> pausedPicture(int position) const override;
    std::optional<ClipSource> clipSource(int position) const override;
    bool setSync(bool on, int activePosition) override;
    bool synced() const override { return channels_->synced(); }
    std::vector<playback::LocalExtent> localExtents() const override;
    bool seekChannelTime(int position, int64_t t) override;
    std::optional<int64_t> syncTime() override;
    std::vector<merge::MomentCamera> momentCameras() const override;
    playback::ChannelTable& channels() { return channels_->table(); }
    // The file of each channel position (empty: a free position or not a local file).
    std::vector<std::filesystem::path> channelFiles() const;
    bool isPlaying(const std::filesystem::path& file) const;
    // The recording a stream's channel shows (or showed until it stopped); nullopt for any
    // other position.
    using StreamSource = client::Channels::StreamSource;
    std::optional<StreamSource> streamSource(int position) const;

    // Resume files taken up by the controller so far (each on the housekeeping thread), and
    // whether the last one was loaded.
    int resumeLoads() const { return resumeLoads_.load(); }
    bool lastResumeLoaded() const { return resumeLoaded_.load(); }

  private:
    // Emits on the UI thread, queued even from there, so that a signal never runs inside the
    // caller. Any thread.
    template <typename Emit>
    void notify(Emit emit);
    void drain();  // UI thread
    void handle(client::Notification& n);
    bool resumeFile(const std::filesystem::path& file);  // housekeeping thread

    // net::StatusDisplay (connect threads)
    void showStatus(const std::string& text) override;
    void hideStatus() override;

    state::Settings settings_;  // UI thread: as read at start, then as Setup's OK left them
    QObject bridge_;            // on the UI thread: drains and notices run in its name
    ui::BackendSignals signals_;
    platform::Event exit_{platform::Event::Reset::Manual};
    client::NotificationQueue notes_;
    std::unique_ptr<QtUserPort> user_;
    // Made before the controller, whose streams draw into them, and gone after it.
    std::unique_ptr<client::Channels> channels_;
    std::unique_ptr<client::Controller> controller_;

    bool shutDown_ = false;  // UI thread
    Done periodDone_;        // UI thread: the end of the period query in progress
    std::atomic<int> resumeLoads_{0};
    std::atomic<bool> resumeLoaded_{false};
};

}  // namespace fsv::app
