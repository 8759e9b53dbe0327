#pragma once
// Work items (one per event to download or play), the rows of the work list that show them,
// and the rules checked when work starts.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "recordings/download/StorageLayout.h"

namespace fsv::download {

// What the user chose for the selection.
enum class Action : uint8_t {
    DownloadAndPlay = 0,        // video queue, mode 10
    JustDownload = 1,           // file queue, mode 11
    JustPlay = 2,               // video queue, mode 12
    DownloadAndPlayPeriod = 3,  // video queue with a frame range, mode 10
};

// The stream mode an action runs with; audio channels always transfer files.
uint8_t streamModeFor(Action action, bool audio);

struct WorkItem {
    QueueKind queue = QueueKind::Video;
    uint16_t channelCode = 0;  // camera code or audio channel code
    int32_t dayPosition = 0;
    int32_t eventPosition = 0;
    int32_t row = -1;  // work-list row; -1 for "Just Play"
    uint32_t firstFrame = 0;
    uint32_t lastFrame = kWholeRecordingLastFrame;
    Action action = Action::DownloadAndPlay;
    bool append = false;     // resumed from an earlier run
    std::string outputPath;  // empty for "Just Play"
    std::string eventKey;    // YYYYMMDDHHMMSS
    uint32_t dateId = 0;
    uint64_t size = 0;        // the recording's size in bytes, as the day's list gave it
    std::string channelName;  // the camera's or audio channel's name, for captions

    std::string date() const { return eventKey.substr(0, 8); }
    std::string time() const { return eventKey.size() >= 14 ? eventKey.substr(8, 6) : ""; }
    // The recording as the recorder names it: the event key and the channel code in three
    // digits (17 characters).
    std::string recorderKey() const;
    uint8_t mode() const;
};

// Row states of the work list.
enum class RowState : int { Running = 1, Finished = 2, Stopped = 3 };

struct WorkRow {
    int id = -1;
    std::string path;
    std::string caption;
    RowState state = RowState::Running;
    uint64_t size = 0;      // expected bytes (recording size, or what the recorder said)
    uint64_t received = 0;  // bytes received in this run, resume offset included
    uint32_t frameCount = 0;
    uint32_t frames = 0;  // frames received
    // Whose work it is: the owner's session number (-1: none given), the camera's or audio
    // channel's name, and the stream mode (10 download and play, 11 file).
    int session = -1;
    std::string channelName;
    uint8_t mode = 11;
    // The whole file's SHA-256 (lower-case hex), set before a file stream's row turns Finished
    // when the settings ask for hashes; empty otherwise.
    std::string sha256;
};

// The rows of the download list, shared by the queues (which update them) and whoever shows
// them. A listener hears of every change, on the thread that made it.
class WorkList {
  public:
    using Listener = std::function<void(const WorkRow&)>;

    int addRow(const std::string& path, const std::string& caption, uint64_t size);
    // Adds `row` as it is given, with a new id; returns the id.
    int addRow(WorkRow row);
    void setPath(int id, const std::string& path);
    void setState(int id, RowState state);
    void setSize(int id, uint64_t size);
    void setReceived(int id, uint64_t received);
    void addReceived(int id, uint64_t bytes);
    void setFrames(int id, uint32_t frames, uint32_t frameCount);
    void setHash(int id, const std::string& sha256);
    std::vector<WorkRow> rows() const;
    bool row(int id, WorkRow* out) const;
    void setListener(Listener listener);

  private:
    template <class F>
    void change(int id, F&& f);
    mutable std::mutex mutex_;
    std::vector<WorkRow> rows_;
    Listener listener_;
};

// The frame range asked for by "Download && Play (Period)": Start and End Frame are 1-based,
// each within 1 … frameCount; End may equal Start.
enum class FrameRangeCheck { Ok, OutOfRange, EndBeforeStart };
inline constexpr const char* kEndBeforeStartText = "End Frame must greater than Start Frame!";
// The count offered when the recorder does not answer the frame count query.
inline constexpr uint32_t kDefaultFrameCount = 9000;
struct FrameRange {
    uint32_t first = 0;
    uint32_t last = kWholeRecordingLastFrame;
};
FrameRangeCheck checkFrameRange(uint32_t start, uint32_t end, uint32_t frameCount, FrameRange* out);

// Channels needed to start work that shows video: one per camera of the selection whose video
// queue has no current stream, on top of those in use. False when that exceeds the maximum.
bool channelsAvailable(int camerasWithoutStream, int channelsInUse, int maxChannels);
inline constexpr const char* kOverMaxChannelText = "Over the maximum channel number!";
// The check made before work that shows video starts: tells the user and answers false when
// the channels would run out, so that nothing starts.
bool checkChannelLimit(UserPort& port, int camerasWithoutStream, int channelsInUse,
                       int maxChannels);

// Work that could not start because the system gave no thread for it (followed by what).
inline constexpr const char* kTextNoThread = "No thread could be started for this download.";

}  // namespace fsv::download
