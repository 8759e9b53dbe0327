#pragma once
// The download work of one recorder session: a video queue per camera, the audio queue and
// the file queue, the routing of stream replies by cookie, cookies unique among the session's
// open streams, and the frame count query.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "recordings/download/Link.h"
#include "recordings/download/StreamQueue.h"
#include "recordings/download/Work.h"

namespace fsv::download {

class DownloadSession {
  public:
    DownloadSession(DownloadContext& ctx, SessionLink& link);
    ~DownloadSession();
    DownloadSession(const DownloadSession&) = delete;
    DownloadSession& operator=(const DownloadSession&) = delete;

    // Queues are made as the recorder lists its channels.
    void addCamera(uint16_t code, const std::string& name);
    void addAudioChannel(uint16_t code, const std::string& name);
    StreamQueue* videoQueue(uint16_t code);
    StreamQueue& audioQueue() { return *audio_; }
    StreamQueue& fileQueue() { return *file_; }

    // Puts an item into its queue (audio queue, file queue or the camera's video queue), gives
    // it a work-list row when it has a file, and wakes the queue. False when the camera is
    // unknown.
    bool enqueue(WorkItem item);

    // The dispatcher thread: one stream data message (code 8), whole. With a rate limit in the
    // context, a block of a file transfer (file and audio queues) first waits its turn, holding
    // none of its queue's locks. A stop of the queue, the session or the program ends the wait
    // and drops the block; every later block finds the same stop, so a file never gets a gap.
    void onStreamData(std::span<const uint8_t> message);
    // The dispatcher thread: one frame count reply (code 11), whole.
    void onFrameCountReply(std::span<const uint8_t> message);

    // Asks the recorder how many frames a recording has; the default count when the key is too
    // long, the query cannot be sent or no matching reply comes in time.
    uint32_t queryFrameCount(const std::string& recorderKey, uint32_t dateId);

    // Channels the selection's cameras would newly take: those whose queue has no current
    // stream.
    int camerasWithoutStream(const std::vector<uint16_t>& cameras);

    // Nothing queued and no stream running in any queue; after the session stopped, no stream
    // running (what is still queued will not start).
    bool idle();
    std::vector<WorkItem> unfinished();
    // Takes the first waiting item `which` accepts out of its queue (a running stream's item
    // stays); nothing when none matches. The caller settles its row and its event.
    std::optional<WorkItem> removeQueued(const std::function<bool(const WorkItem&)>& which);
    // Stops every queue and waits for their threads.
    void shutDown();

    // Threads that move the queues on, and streams of cameras that run at once when none is
    // shown.
    static constexpr size_t kRunnerThreads = 4;
    static constexpr size_t kCameraStreamsAtOnce = 16;
    size_t runnerThreads() const { return runner_.threadCount(); }

  private:
    std::vector<StreamQueue*> allQueues();
    // Waits until the rate limit lets `bytes` of `queue` go; false when stopped meanwhile.
    bool throttle(StreamQueue& queue, size_t bytes);

    DownloadContext& ctx_;
    SessionLink& link_;
    CookieJar cookies_;
    // Declared before the queues: they are destroyed first.
    QueueRunner runner_;
    StreamGate gate_;
    std::unique_ptr<StreamQueue> file_, audio_;
    std::mutex cameraLock_;
    std::vector<std::unique_ptr<StreamQueue>> cameras_;
    std::map<uint16_t, StreamQueue*> cameraIndex_;
    std::map<uint16_t, std::string> audioNames_;

    std::mutex countLock_;
    std::string countKey_;  // the outstanding query's key
    uint32_t count_ = 0;
    platform::Event countReply_{platform::Event::Reset::Manual};
};

}  // namespace fsv::download
