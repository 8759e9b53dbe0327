#pragma once
// One work item being served: the request to the recorder, the replies routed back to it by
// its cookie, and the received data written to a file (mode 11), written to an AVI file and
// shown (mode 10), or only shown (mode 12). Each stream runs its own thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "platform/Sha256.h"
#include "recordings/download/Link.h"
#include "recordings/download/StorageLayout.h"
#include "recordings/download/StreamReplies.h"
#include "recordings/download/Work.h"
#include "recordings/playback/ChannelTable.h"
#include "recordings/playback/PlayState.h"

namespace fsv::download {

class StreamQueue;
class StreamFileWriter;

// Stream status as the end handling sees it.
inline constexpr uint8_t kStatusFinished = 0;
inline constexpr uint8_t kStatusCannotOpen = 1;
inline constexpr uint8_t kStatusStopped = 2;

class Stream : public playback::Player {
  public:
    Stream(DownloadContext& ctx, SessionLink& link, StreamQueue& queue, WorkItem item,
           uint32_t cookie, std::string channelName);
    ~Stream() override;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    void start();
    void stop() { stop_.set(); }
    // The user closed the stream's channel: it stops and leaves nothing on the channel.
    void close() {
        closed_.store(true);
        stop_.set();
    }
    bool closedByUser() const { return closed_.load(); }
    void join();
    bool ended() const { return ended_.isSet(); }

    uint32_t cookie() const { return cookie_; }
    uint8_t mode() const { return mode_; }
    const WorkItem& item() const { return item_; }
    std::string outputPath() const;
    // Meaningful once ended(): 0 finished, 1 the recorder could not open it, 2 stopped.
    uint8_t status() const { return status_.load(); }
    std::string caption() const { return caption_; }
    playback::PlayState& play() { return play_; }

    std::string serverName() const { return link_.serverName(); }
    const std::string& cameraName() const { return channelName_; }
    std::string loginId() const { return link_.loginId(); }
    std::string password() const { return link_.password(); }

    int channel() const { return channel_.load(); }
    void setChannel(int channel) { channel_.store(channel); }
    // Waits for a picture being drawn into the old panel, so that a panel never has two
    // players drawing into it.
    void attachPanel(int panel) override;
    int panel() const { return panel_.load(); }

    // The control panel (the user-interface thread, under the channel table's lock).
    bool command(playback::PlayCommand command) override;
    bool goTo(uint32_t frame) override;
    bool setSpeed(int factor) override;
    std::optional<playback::PlayStatus> playStatus() const override;
    // Holding one-frame-forward; released, the stream paces as its settings say again.
    bool setNoPacing(bool on) override;
    // The picture on show, while the stream is paused or holding at its end.
    bool pausedPicture(playback::PausedPicture& out) const override;

    // The last picture shown (bottom-up 24-bit), taken once the stream has ended; false when
    // it showed none.
    bool takeLastPicture(int* width, int* height, std::vector<uint8_t>* bits);
    uint32_t framesShown() const { return shownCount_.load(); }

    // The dispatcher thread hands over a reply that carries this stream's cookie. A file
    // stream's block is written to the file on that thread before it returns: nothing is
    // buffered, and a slow disk holds back the session.
    void takeReply(uint8_t kind, std::span<const uint8_t> body);

  private:
    void run();
    // The output file of a stream that writes one: the disk check, the existing-file question
    // and the path the work list shows. None: the stream ends (no room, or the user aborted).
    std::optional<FilePlan> prepareOutput();
    void runFile();
    void runPlay();
    // The steps of runPlay, the frame loop of a stream that shows what it receives.
    struct PlayRun;
    struct FrameAsk;
    // Opens the output file of a download and play; false: the stream ends, nothing asked.
    bool openPlayFile(PlayRun& run);
    // Asks the recorder to open the stream and takes its header; false: the stream has ended.
    bool openPlayStream(PlayRun& run);
    // The decoder of a play-only stream, or the file's own; false: the format is not known.
    bool prepareDecoding(PlayRun& run);
    void playFrames(PlayRun& run);
    // False when the stream is stopped while it waits.
    bool waitWhilePaused(const PlayRun& run);
    FrameAsk nextAsk(const PlayRun& run) const;
    // Asks for one frame and takes its block; false when the status or a stop came instead.
    bool fetchFrame(uint32_t frame, std::vector<uint8_t>& block);
    // A received frame written or decoded; its time when it carries one. False: the loop ends.
    bool takeWrittenFrame(PlayRun& run, const FrameAsk& ask, const std::vector<uint8_t>& block,
                          std::optional<SystemTime>& time);
    bool takePlayedFrame(PlayRun& run, const FrameAsk& ask, const std::vector<uint8_t>& block,
                         std::optional<SystemTime>& time);
    // Paces and shows the wanted frame; false when the loop ends (stop, end of recording).
    bool showWanted(PlayRun& run, uint32_t wanted, const std::optional<SystemTime>& time);
    void keepLastPicture(PlayRun& run);
    void awaitLastStatus();
    // A file stream's block, on the thread that delivers it; dropped once the file is closed.
    void writeBlock(std::span<const uint8_t> data);
    // With fileLock_ held: what was written since the last call handed to the disk, when it is
    // at least `atLeast` bytes.
    void handToDisk(uint64_t atLeast);
    // Starts the hash of a file stream's output; a resumed file's kept part is read and hashed
    // first. A kept part that cannot be read whole leaves the file unhashed.
    void startHash(const std::string& path, uint64_t keptBytes);
    // A finished file's hash to its work-list row.
    void noteHash();
    // A file transfer the recorder ended as finished: the file must hold the size it announced
    // (or, without an announcement, the size the recording query listed). Otherwise the stream
    // fails with a message; bytes past that size are taken back off the file.
    void checkFileSize(const std::string& path, uint64_t startOffset);
    void finish(bool requestSent);
    // Draws the picture of the frame at `position` into the panel and remembers it as shown.
    void show(int width, int height, const std::vector<uint8_t>& bits, uint32_t position,
              const SystemTime& time);
    // The control panel hears of the frame on show (only the latest per panel is queued).
    void tellPosition();
    // Waits for the first of `events` plus the stream's, session's and program's stop events;
    // returns the index into `events`, or -1 when stopped.
    int waitFor(std::initializer_list<platform::Event*> events,
                std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    bool sendOpen(uint8_t op, uint8_t append, uint32_t firstFrame, uint32_t resumeOffset);
    std::string fileCaption() const;

    DownloadContext& ctx_;
    SessionLink& link_;
    StreamQueue& queue_;
    WorkItem item_;
    const uint32_t cookie_;
    const uint8_t mode_;
    const bool audio_;
    std::string channelName_;
    std::string caption_;
    playback::Clock& clock_;
    playback::PlayState play_;
    std::atomic<int> channel_{-1}, panel_{-1};
    std::atomic<bool> closed_{false};
    std::atomic<uint32_t> shownCount_{0};
    std::mutex drawLock_;  // drawing into the panel; attachPanel waits for it

    mutable std::mutex shownLock_;  // what the control panel reads of the frame on show
    uint32_t shownPosition_ = 0;
    SystemTime shownTime_{};
    int lastWidth_ = 0, lastHeight_ = 0;
    std::vector<uint8_t> lastBits_;  // filled as the stream ends
    // A copy of the picture on show, for a snapshot while paused; its memory is kept.
    int shownWidth_ = 0, shownHeight_ = 0;
    std::vector<uint8_t> shownBits_;
    bool pacingOff_ = false;  // the settings' choice, which holding forward only adds to

    platform::Event stop_{platform::Event::Reset::Manual};
    platform::Event status_ev_{platform::Event::Reset::Manual};
    platform::Event dataReady_{platform::Event::Reset::Auto};
    // A file stream's output. The stream's thread opens and closes it; the blocks are written
    // by the thread that delivers them (writeBlock), which costs no hand-off per block. The
    // stream's thread reports the bytes written as progress now and then.
    std::mutex fileLock_;
    int fileFd_ = -1;           // guarded by fileLock_
    bool writeFailed_ = false;  // guarded by fileLock_
    // What the file holds, hashed as it is written; none: not hashed. Guarded by fileLock_.
    std::unique_ptr<platform::Sha256> hash_;
    // The end of the file, and how much of it is handed to the disk already (writeBehind).
    // Guarded by fileLock_.
    uint64_t fileEnd_ = 0, handedToDisk_ = 0;
    std::atomic<uint64_t> written_{0};
    platform::Event fileFailed_{platform::Event::Reset::Manual};
    platform::Event ended_{platform::Event::Reset::Manual};
    platform::Event never_{platform::Event::Reset::Manual};

    mutable std::mutex lock_;  // the buffers and flags below
    std::string path_;
    bool headerTaken_ = false;  // a 'P' was accepted (mode 11: expectedSize_ is the recorder's)
    bool headerBuffered_ = false;
    bool blockBuffered_ = false;
    bool statusReceived_ = false;
    std::vector<uint8_t> header_, block_;
    uint32_t frameCount_ = 0;
    uint64_t expectedSize_ = 0;
    StatusReply lastStatus_;
    std::atomic<uint8_t> status_{kStatusStopped};
    std::atomic<bool> wrongSize_{false};

    std::thread thread_;
};

}  // namespace fsv::download
