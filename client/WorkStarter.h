#pragma once
// Starting work on the event list's selection (events marked selected) over every connected
// recorder, in its steps: the selection picked, the action (asked through the port unless
// given; audio in the selection takes "Just Download" without asking), the channel limit, for
// a period by frames the frame count and the range, the destination folder with its disk
// check, then the work items in their queues with their rows, the marks and each recorder's
// automatic resume file. It asks and waits for recorders, so front ends start it on its own
// thread (startAsync); its end comes as a WorkStarted notification.
//
// Locking: `starterLock_` is held while the thread before is joined (that thread never takes
// it); the steps take the session-list lock, then the event list's lock (picking) or a
// session's queue locks and resume lock (enqueueing); the port's questions are asked with no
// lock held. `destinationLock_` is a leaf.

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/Notifications.h"
#include "client/Persistence.h"
#include "client/SessionRegistry.h"
#include "client/WorkPlan.h"
#include "platform/UserPort.h"
#include "recordings/EventList.h"
#include "recordings/SessionCatalogs.h"
#include "recordings/download/Link.h"
#include "recordings/download/Work.h"

namespace fsv::client {

class WorkStarter {
  public:
    struct Env {
        SessionRegistry& sessions;
        SessionCatalogs& catalogs;
        EventList& events;
        Persistence& persistence;
        UserPort& port;
        NotificationQueue& notes;
        // The channel table (for the channels in use) and the free-space function.
        const download::DownloadContext& context;
        int maxChannel;
        const std::atomic<bool>& exiting;
    };
    explicit WorkStarter(Env env) : env_(env) {}
    ~WorkStarter() { join(); }
    WorkStarter(const WorkStarter&) = delete;
    WorkStarter& operator=(const WorkStarter&) = delete;

    // Starts the work on the calling thread.
    StartResult start(std::optional<download::Action> given);
    // The same on a thread of its own; false when a start is still running (nothing else
    // happens) or the program is exiting.
    bool startAsync(std::optional<download::Action> given);
    // Waits for a start in progress (it ends with the exit event: its questions and waits
    // watch it).
    void join();

    // The destination folder the last started work went to (empty before any).
    std::string lastDestination() const;

  private:
    std::vector<PickedEvent> pickSelection();
    std::optional<download::Action> chooseAction(const std::vector<PickedEvent>& picked,
                                                 std::optional<download::Action> given);
    bool channelsSuffice(const std::vector<PickedEvent>& picked);
    std::optional<download::FrameRange> askFrameRange(const PickedEvent& picked);
    std::string chooseRoot(const std::vector<PickedEvent>& picked);
    int enqueueWork(const std::vector<PickedEvent>& picked,
                    const std::vector<download::WorkItem>& items);

    Env env_;
    mutable std::mutex destinationLock_;
    std::string lastDestination_;
    std::mutex starterLock_;
    std::atomic<bool> starting_{false};
    std::thread starter_;
};

}  // namespace fsv::client
