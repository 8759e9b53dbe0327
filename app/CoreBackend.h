#pragma once
// The windows' backend over the client controller: the controller keeps the sessions, the
// connect thread, the close queues and the housekeeping thread; this object is its bridge to
// the UI thread. Workers report into the controller's notification queue, whose wake posts one
// drain onto the UI thread; the drain turns each notification into its notice for the windows
// or asks the worker's question there. Connects are handed to a thread of their own, one after
// the other, so that the UI thread never waits for a recorder.

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/QtUserPort.h"
#include "client/Controller.h"
#include "client/Notifications.h"
#include "net/ServerSession.h"
#include "platform/Event.h"
#include "recordings/download/ChannelTable.h"
#include "recordings/playback/LocalPlayer.h"
#include "ui/ViewerBackend.h"

namespace fsv::app {

class CoreBackend : public ui::ViewerBackend, private net::StatusDisplay {
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
    bool connecting() const override { return connecting_.load() > 0; }
    std::vector<ui::SessionSummary> sessions() const override;
    std::vector<ConnectRequest> connections() const override;
    void closeAll() override;
    bool loadResumeFile(const std::filesystem::path& file) override;
    void shutdown() override;

    client::FrameSlots& frameSlots() override { return slots_; }
    OpenResult openLocalFile(const std::filesystem::path& file) override;
    void showPage(int first, int count) override;
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
    download::ChannelTable& channels() { return *table_; }
    // The file of each channel position (empty: a free position or not a local file).
    std::vector<std::filesystem::path> channelFiles() const;
    bool isPlaying(const std::filesystem::path& file) const;

    // The event list's changes, on the UI thread, for its window.
    std::function<void(const client::EventListChanged&)> onEventList;

  private:
    playback::LocalPlayer* playerAt(int position) const;  // UI thread
    void notify(const ui::ViewerNotice& notice);          // any thread
    void notify(ui::ViewerNotice::Kind kind, bool ok = false);
    void drain();  // UI thread
    void handle(client::Notification& n);
    void connectLoop();
    bool resumeFile(const std::filesystem::path& file);  // housekeeping thread

    // net::StatusDisplay (connect threads)
    void showStatus(const std::string& text) override;
    void hideStatus() override;

    QObject bridge_;  // on the UI thread: drains and notices run in its name
    Listener listener_;
    platform::Event exit_{platform::Event::Reset::Manual};
    client::NotificationQueue notes_;
    std::unique_ptr<QtUserPort> user_;
    std::unique_ptr<client::Controller> controller_;

    std::mutex connectLock_;
    std::condition_variable connectWake_;
    std::deque<ConnectRequest> requests_;
    bool stopConnects_ = false;
    std::atomic<int> connecting_{0};
    std::thread connector_;
    bool shutDown_ = false;  // UI thread

    // The channels. Players are made, found and destroyed on the UI thread only; each one's
    // thread writes into the slot of its panel.
    client::FrameSlots slots_{download::ChannelTable::kPanels};
    std::unique_ptr<download::ChannelTable> table_;
    std::vector<std::unique_ptr<playback::LocalPlayer>> players_;
};

}  // namespace fsv::app
