#pragma once
// LocalChannel: one local AVI file played in one display panel, on its own thread, at the pace
// of the frames' recorded time stamps. The user-interface thread calls the commands; they only
// change fields under the command lock and set events, and the thread does the rest: pausing,
// single steps, jumps, seeking and the speeds from ÷8 to ×32.
//
// Each shown frame goes from the decoder, by reference, straight to the frame sink for the
// attached panel, which converts it once for the screen; the sink also hears where the channel
// stands after every frame. The bottom-up 24-bit picture of a paused channel (snapshots, clips)
// is made when it is asked for. A file that cannot be opened, or whose frames cannot be read,
// reaches the user as "Failed to open file" with the path below it.
//
// The thread waits on its own stop event and on the program's exit event in every wait, so
// destroying a channel or shutting down never waits on anything but the thread's next check.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "media/AviTypes.h"
#include "media/DecodedPicture.h"
#include "platform/Event.h"
#include "platform/Shared.h"
#include "platform/UserPort.h"
#include "recordings/playback/Clock.h"
#include "recordings/playback/FrameSink.h"
#include "recordings/playback/SyncClock.h"

namespace fsv::media {
class AviReader;
}

namespace fsv::playback {

// Which parts the panel captions show (the settings ChannelNum, ServerName, CameraName).
struct CaptionParts {
    bool channelNumber = true;
    bool serverName = true;
    bool cameraName = true;
};

// The caption of a local channel at `position` (-1: none yet).
std::string localCaption(const CaptionParts& parts, int position);

// Milliseconds to wait before showing a frame stamped `next` after one stamped `current` was
// shown `elapsed` ms ago (dates are ignored; `elapsed` over 1000 ms at normal or fast speed
// means catch up at once).
uint32_t localPacingWait(const SystemTime& current, const SystemTime& next, uint32_t elapsed,
                         uint8_t fast, uint8_t slow);

class LocalChannel {
  public:
    static constexpr uint8_t kToFirst = 0;
    static constexpr uint8_t kToLast = 1;
    static constexpr uint8_t kStepBack = 255;
    static constexpr uint8_t kStepForward = 254;
    static constexpr uint8_t kMaxFast = 32;
    static constexpr uint8_t kMaxSlow = 8;

    struct Options {
        FrameSink* sink = nullptr;             // pictures and positions; may be null
        UserPort* user = nullptr;              // the failure box, the layout; may be null
        platform::Event* exitEvent = nullptr;  // the program's exit event; may be null
        Clock* clock = nullptr;                // null: the system's
        CaptionParts captions;
        // A user-opened file asks for a free channel position here once it has opened; -1 or an
        // empty function leaves it without one.
        std::function<int()> choosePosition;
        // A channel whose frames stopped being readable asks to be closed (the main window's
        // channel-close queue).
        std::function<void(int position)> requestClose;
    };

    explicit LocalChannel(Options options);
    ~LocalChannel();  // stops and joins the thread
    LocalChannel(const LocalChannel&) = delete;
    LocalChannel& operator=(const LocalChannel&) = delete;

    // Starts the playback thread. With `userOpened` false the channel keeps `position`, passes
    // the credential text "id:password" to the decoder and opens paused on the last frame (a
    // download that was watched while it arrived).
    bool start(const std::filesystem::path& path, bool userOpened, int position = -1,
               const std::string& id = {}, const std::string& password = {});

    // Commands (any thread).
    void setPaused(bool pause);
    void command(uint8_t code);  // kToFirst, kToLast, kStepBack, kStepForward; others ignored
    bool goTo(uint32_t frame);   // false: not below the frame count, ignored
    void faster();
    void slower();
    void setNoWait(bool on);
    // The panel that shows this channel, or none (-1). Waits for a frame being handed to the
    // old panel to finish; the new one gets the picture on show at once.
    void attach(int panel);
    void setChannelPosition(int position);
    void setCaptionParts(const CaptionParts& parts);

    // State, for the control panel and the tests.
    std::filesystem::path path() const { return path_; }
    // "id:password" of a finished download's connection; empty for a file the user opened.
    std::string credential() const { return credential_; }
    std::string windowName() const;  // "Local File - <path>"
    std::string caption() const;
    int channelPosition() const;
    int frameCount() const;
    uint32_t currentFrame() const;
    SystemTime currentTime() const;
    bool paused() const;
    bool atEnd() const;     // stopped at the end: holding on the last frame
    bool loading() const;   // no frame shown yet
    bool finished() const;  // the thread has ended (stopped or failed)
    uint8_t fastFactor() const;
    uint8_t slowFactor() const;
    // The speed as PlaybackPosition carries it: the fast factor, or minus the slow factor.
    int speed() const;
    // The frames shown so far (a frame shown again after a command counts again).
    uint64_t framesShown() const;

    // The picture on show while paused: its 40-byte header and bottom-up 24-bit bits; nullopt
    // while playing or before the first frame.
    struct Frame {
        media::BitmapInfoHeader header;
        std::vector<uint8_t> bits;
    };
    std::optional<Frame> pausedFrame() const;

    // Ends the thread and waits for it.
    void stop();

    // Playing in step (any thread): while it follows `clock` the channel shows its frame at or
    // just before the clock's time instead of pacing itself, and its own play, pause and speed
    // rest. Null leaves the clock; the frame on show stays and the channel goes on from there,
    // paused or playing as `paused()` says. `clock` outlives the following.
    void follow(SyncClock* clock);
    SyncClock* syncClock() const;
    // Following, and the clock stands before the first frame or after the last one: the
    // panel keeps the last picture under "No recording".
    bool noRecording() const;
    // Every frame's time stamp (stampMs), ascending; null until the file has opened. A stamp
    // that cannot be read is made up from the frame rate.
    std::shared_ptr<const std::vector<int64_t>> frameTimes() const;
    // The frames' nominal period in milliseconds (from the frame rate).
    int64_t framePeriod() const;

  private:
    enum class Wait { Stop, Wake, Running, Timeout };
    Wait waitEvents(bool withRunning, std::optional<std::chrono::milliseconds> timeout);
    void run();
    // The steps of run: open the file, take a channel, read the frames' times, then one turn
    // of the loop after another (following a clock, or waiting, advancing and showing).
    struct FileRun;
    enum class Turn { Go, Again, Stop };
    bool openFile(FileRun& run);  // false: reported, the thread ends
    void takeChannel(const FileRun& run);
    void loadFrameTimes(FileRun& run);
    bool followTurn(FileRun& run);  // false: stop
    // Waits for the next frame's turn and advances to it; at the end it holds there.
    Turn awaitTurn(FileRun& run);
    Turn holdAtEnd();
    Wait waitAtEnd();
    // Decodes the current frame and shows it when its time comes.
    Turn showCurrent(FileRun& run);
    void endRun(const FileRun& run);
    void advance();
    void report(const char* what);
    void showFrame(std::shared_ptr<const media::DecodedPicture> picture, const SystemTime& time);
    void notifyPosition();
    void rebuildCaptionLocked();
    // One step of following: shows the frame due at the clock's time, then waits until the
    // next one is due or the clock changes. False: stop.
    bool followStep(media::AviReader& reader);

    Options options_;
    SystemClock systemClock_;
    Clock& clock_;
    platform::Event noExit_{platform::Event::Reset::Manual, false};
    platform::Event& exit_;
    platform::Event stop_{platform::Event::Reset::Manual, false};
    platform::Event running_{platform::Event::Reset::Manual, true};
    platform::Event wake_{platform::Event::Reset::Manual, false};

    std::filesystem::path path_;
    std::string credential_;
    bool userOpened_ = true;
    std::thread thread_;

    // Command lock: commands, speed, position and the state the control panel reads.
    mutable std::mutex mutex_;
    int position_ = -1;
    CaptionParts parts_;
    std::string caption_;
    bool loading_ = true;
    int frameCount_ = 0;
    uint32_t current_ = 0;
    SystemTime currentTime_{};
    int pending_ = 0;
    int32_t command_ = 0;
    bool lastFrameGuard_ = false;
    bool atEnd_ = false;    // the thread does not block before its next step
    bool holding_ = false;  // paused on the last frame, waiting for play or a command
    bool paused_ = false;
    bool noWait_ = false;
    bool finished_ = false;
    uint8_t fast_ = 1;
    uint8_t slow_ = 1;
    uint64_t shown_ = 0;
    bool noRecording_ = false;
    int shownIndex_ = -1;  // the frame last put into the panel while following
    std::shared_ptr<const std::vector<int64_t>> times_;
    int64_t period_ = 100;

    // Bitmap lock: the decoded picture on show, by reference.
    mutable std::mutex bitmapMutex_;
    std::shared_ptr<const media::DecodedPicture> picture_;

    // Sync lock: the clock followed. The thread holds it while it asks the clock, so that the
    // clock is not left (and maybe destroyed) meanwhile; never held while waiting. Taken before
    // the clock's own lock, never together with the command lock.
    mutable std::mutex syncMutex_;
    SyncClock* sync_ = nullptr;

    // Frame lock: the panel the frames go to. Held while a frame is handed to the sink.
    std::mutex frameMutex_;
    int panel_ = -1;
};

}  // namespace fsv::playback
