#pragma once
// What the windows need from the program underneath: connecting, the open connections, closing
// them and the status of a connect in progress. The windows call it on the UI thread and every
// call returns at once; the work runs on the backend's own threads and comes back as the
// signals of its BackendSignals, emitted on the UI thread.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/FrameSlot.h"
#include "merge/Moment.h"
#include "platform/Shared.h"
#include "recordings/playback/ChannelTable.h"
#include "recordings/playback/Timeline.h"
#include "state/Settings.h"
#include "ui/PeriodQueries.h"

namespace fsv::ui {

struct SessionSummary {
    std::string recorderName;
    std::string address;
    uint16_t port = 0;
    std::time_t connectionTime = 0;
    int cameras = 0;
    int audioChannels = 0;
    int connectionNumber = -1;
};

class BackendSignals;

// The period dialog's queries (PeriodQueries) run on a controller thread too.
class ViewerBackend : public PeriodQueries {
  public:
    virtual ~ViewerBackend() = default;

    // The events of the backend, one signal each, on the UI thread and in order.
    virtual BackendSignals& notices() = 0;

    // The interactive connect: starts a connect thread with the request and returns true when
    // it runs; its end is told by BackendSignals::connectFinished.
    virtual bool connect(const ConnectRequest& request) = 0;
    // The status window's Cancel: abandons the connect or wait in progress.
    virtual void cancelWait() = 0;
    virtual bool connecting() const = 0;

    virtual std::vector<SessionSummary> sessions() const = 0;
    // What each open connection was opened with, in list order (for a saved set).
    virtual std::vector<ConnectRequest> connections() const = 0;
    // Queues every connection for closing (highest position first).
    virtual void closeAll() = 0;
    // Loads a resume file on the backend's housekeeping thread: it connects to the file's
    // recorder and takes its work up. False (with the reader's message shown through a notice)
    // when the file is not usable.
    virtual bool loadResumeFile(const std::filesystem::path& file) = 0;

    // The channels: local files (and later streams) at positions 0, 1, ...; panel i of the
    // page on show draws from frame slot i.
    virtual client::FrameSlots& frameSlots() = 0;
    enum class OpenResult { Opened, AlreadyPlaying, OverMaximum, Failed };
    // Plays a local AVI file in a new channel; it takes the lowest free position once open.
    virtual OpenResult openLocalFile(const std::filesystem::path& file) = 0;
    // Shows channels first … first + count - 1 in panels 0 … count - 1.
    virtual void showPage(int first, int count) = 0;
    // The length of the channel array, free positions included.
    virtual int channelCount() const { return 0; }
    // Setup's OK wrote these settings: what applies at once (the download flags, the captions)
    // is taken up from them.
    virtual void settingsChanged(const state::Settings&) {}
    // The settings in force: read at start, then as Setup's OK left them.
    virtual state::Settings settings() const { return {}; }
    // The caption of the channel a panel shows; nullopt for an empty panel.
    virtual std::optional<std::string> panelCaption(int panel) const = 0;
    // The channel at a position: pause or play it, close it. False when there is none.
    virtual bool hasChannel(int position) const = 0;
    virtual bool pauseChannel(int position, bool pause) = 0;
    virtual bool closeChannel(int position) = 0;
    // The control panel on the channel at a position, local file or stream alike; false (or
    // nullopt) when there is none or it cannot do that.
    virtual bool channelCommand(int position, playback::PlayCommand command) = 0;
    virtual bool goToFrame(int position, uint32_t frame) = 0;    // 0-based
    virtual bool setChannelSpeed(int position, int factor) = 0;  // the speed menu, 1 ... 5
    virtual std::optional<playback::PlayStatus> channelStatus(int position) const = 0;
    // Holding one-frame-forward: no pacing on the channel while it is on.
    virtual bool setChannelNoPacing(int /*position*/, bool /*on*/) { return false; }
    // The picture on show of a paused channel, for a snapshot.
    virtual std::optional<playback::PausedPicture> pausedPicture(int /*position*/) const {
        return std::nullopt;
    }
    // What a clip is made from: the file of a local channel and the credential text it plays
    // with ("id:password", empty for a file the user opened). Nullopt for any other channel.
    struct ClipSource {
        std::filesystem::path file;
        std::string credential;
    };
    virtual std::optional<ClipSource> clipSource(int /*position*/) const { return std::nullopt; }

    // Playing in step: every local file channel follows one clock, which starts from the frame
    // time of the local channel at `activePosition`; the channel commands on any of them then
    // move the clock. Streams keep their own pace. False when it cannot start (no local file
    // channel there).
    virtual bool setSync(bool /*on*/, int /*activePosition*/) { return false; }
    virtual bool synced() const { return false; }
    // The local files open in channels with their first and last frame times (for the
    // timeline), and a seek of one of them to the frame at or just before time `t` (stampMs).
    virtual std::vector<playback::LocalExtent> localExtents() const { return {}; }
    virtual bool seekChannelTime(int /*position*/, int64_t /*t*/) { return false; }
    // While in step: the clock's time, and each local channel's caption, file and frame times
    // (by position), for the clips of a kept moment.
    virtual std::optional<int64_t> syncTime() { return std::nullopt; }
    virtual std::vector<merge::MomentCamera> momentCameras() const { return {}; }

    // Ends everything: connect threads, sessions, the transport. Never hangs on a silent
    // recorder. Called once, before the windows go.
    virtual void shutdown() = 0;
};

}  // namespace fsv::ui
