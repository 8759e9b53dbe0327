#pragma once
// The windows' backend over the client controller: the controller keeps the sessions, the
// connector, the close queues and the housekeeping thread; this object is its bridge to
// the UI thread. Workers report into the controller's notification queue, whose wake posts one
// drain onto the UI thread; the drain turns each notification into its notice for the windows
// or asks the worker's question there. Connects go to the controller's connector, which runs
// them one after the other on its thread, so that the UI thread never waits for a recorder.

#include <QObject>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "app/QtUserPort.h"
#include "client/Controller.h"
#include "client/Notifications.h"
#include "net/ServerSession.h"
#include "platform/Event.h"
#include "recordings/download/ChannelTable.h"
#include "recordings/playback/LocalPlayer.h"
#include "recordings/playback/SyncGroup.h"
#include "ui/ViewerBackend.h"

namespace fsv::app {

class CoreBackend : public ui::ViewerBackend,
                    private net::StatusDisplay,
                    private download::ChannelSuccessor {
  public:
    explicit CoreBackend(net::SessionTiming timing = {});
    ~CoreBackend() override;

    QtUserPort& user() { return *user_; }
    client::Controller& controller() { return *controller_; }

    // Start-up: the unfinished work of an earlier run (the question, then the housekeeping
    // thread connects to each file's recorder).
    void startUp();

    void setListener(Listener listener) override;
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

    client::FrameSlots& frameSlots() override { return slots_; }
    OpenResult openLocalFile(const std::filesystem::path& file) override;
    void showPage(int first, int count) override;
    int channelCount() const override;
    void settingsChanged() override;
    std::optional<std::string> panelCaption(int panel) const override;
    bool hasChannel(int position) const override;
    bool pauseChannel(int position, bool pause) override;
    bool closeChannel(int position) override;
    bool channelCommand(int position, download::PlayCommand command) override;
    bool goToFrame(int position, uint32_t frame) override;
    bool setChannelSpeed(int position, int factor) override;
    std::optional<download::PlayStatus> channelStatus(int position) const override;
    bool setChannelNoPacing(int position, bool on) override;
    std::optional<download::PausedPicture> pausedPicture(int position) const override;
    std::optional<ClipSource> clipSource(int position) const override;
    bool setSync(bool on, int activePosition) override;
    bool synced() const override { return sync_.on(); }
    std::vector<playback::LocalExtent> localExtents() const override;
    bool seekChannelTime(int position, int64_t t) override;
    std::optional<int64_t> syncTime() override;
    std::vector<merge::MomentCamera> momentCameras() const override;
    download::ChannelTable& channels() { return *table_; }
    // The file of each channel position (empty: a free position or not a local file).
    std::vector<std::filesystem::path> channelFiles() const;
    bool isPlaying(const std::filesystem::path& file) const;
    // The recording a stream's channel shows (or showed until it stopped); nullopt for any
    // other position.
    struct StreamSource {
        std::string serverName, cameraName, eventKey;
    };
    std::optional<StreamSource> streamSource(int position) const;

    // The event list's changes, on the UI thread, for its window.
    std::function<void(const client::EventListChanged&)> onEventList;
    // A row of the work list changed (only its latest state is told), on the UI thread.
    std::function<void(const download::WorkRow&)> onWorkRow;
    // A session left the controller's list, on the UI thread.
    std::function<void(client::SessionId)> onSessionRemoved;
    // A start of work handed to the controller (startWorkAsync) has ended, on the UI thread.
    std::function<void(client::StartResult)> onWorkStarted;

    // Resume files taken up by the controller so far (each on the housekeeping thread), and
    // whether the last one was loaded.
    int resumeLoads() const { return resumeLoads_.load(); }
    bool lastResumeLoaded() const { return resumeLoaded_.load(); }

  private:
    playback::LocalPlayer* playerAt(int position) const;  // UI thread
    void notify(const ui::ViewerNotice& notice);          // any thread
    void notify(ui::ViewerNotice::Kind kind, bool ok = false);
    void drain();  // UI thread
    void handle(client::Notification& n);
    bool resumeFile(const std::filesystem::path& file);  // housekeeping thread

    // net::StatusDisplay (connect threads)
    void showStatus(const std::string& text) override;
    void hideStatus() override;

    // download::ChannelSuccessor (queue worker threads): what a stream leaves on its channel.
    bool playFinishedFile(int position, const std::string& path, const std::string& id,
                          const std::string& password) override;
    bool keepStopped(int position, std::unique_ptr<download::Player> still) override;
    playback::LocalChannel::Options localOptions();
    void adoptArrived();
    // UI thread: players of files that could not be opened go, and free their positions.
    void dropFailedFiles();  // UI thread: the finished downloads' players join players_
    // The caption of a stream's panel (channel number, server name, camera name as set).
    std::string streamCaption(int position, const std::string& server,
                              const std::string& camera) const;

    QObject bridge_;  // on the UI thread: drains and notices run in its name
    Listener listener_;
    platform::Event exit_{platform::Event::Reset::Manual};
    client::NotificationQueue notes_;
    std::unique_ptr<QtUserPort> user_;
    std::unique_ptr<client::Controller> controller_;

    bool shutDown_ = false;  // UI thread
    Done periodDone_;        // UI thread: the end of the period query in progress
    std::atomic<int> resumeLoads_{0};
    std::atomic<bool> resumeLoaded_{false};

    // The channels. Players are made, found and destroyed on the UI thread only; each one's
    // thread writes into the slot of its panel.
    client::FrameSlots slots_{download::ChannelTable::kPanels};
    client::SlotDisplay display_{slots_, notes_};  // the streams' pictures
    std::unique_ptr<download::ChannelTable> table_;
    std::vector<std::unique_ptr<playback::LocalPlayer>> players_;
    // Playing in step. Declared after the players: it goes first, leaving each channel as it
    // is; a player leaves it before it is destroyed.
    download::SystemClock syncTicks_;
    playback::SyncGroup sync_{syncTicks_};
    // The group's member a command for `position` goes to while in step, or null.
    playback::LocalChannel* syncedAt(int position) const;
    bool captionNumber_ = true, captionServer_ = true, captionCamera_ = true;

    // What streams left on their channels, handed over on the queues' threads.
    mutable std::mutex adoptLock_;
    std::vector<std::unique_ptr<playback::LocalPlayer>> arrived_;  // until the UI adopts them
    std::vector<std::unique_ptr<download::Player>> stills_;        // stopped streams' pictures
};

}  // namespace fsv::app
