#pragma once
// The threads that move a session's queues on. A recorder may list tens of thousands of
// cameras, and most of their queues never get work: a queue owns no thread. When it is woken,
// it is put in line here, and one of a few threads shared by the session's queues runs its step
// (take the next item, or let the ended stream go). The threads start as work comes, up to a
// fixed number, and live until the session shuts the runner down.
//
// Locks: a queue's own locks may be held when schedule() is called; the runner's lock is never
// held while a step runs.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace fsv::download {

// Starts a thread running `body`; throws std::system_error when the system has none to give.
using StartThread = std::function<std::thread(std::function<void()> body)>;
std::thread startThread(const StartThread& start, std::function<void()> body);

class QueueRunner {
  public:
    // A step of a queue: what its own worker thread would do on each wake-up.
    class Steppable {
      public:
        virtual ~Steppable() = default;
        virtual void step() = 0;

      private:
        friend class QueueRunner;
        bool lined_ = false;    // in line for a step (guarded by the runner's lock)
        bool running_ = false;  // a runner thread is in its step
        bool again_ = false;    // woken during its step: one more step follows
    };

    QueueRunner(platform::Event* globalExit, platform::Event& sessionStop, size_t maxThreads,
                StartThread start);
    ~QueueRunner();
    QueueRunner(const QueueRunner&) = delete;
    QueueRunner& operator=(const QueueRunner&) = delete;

    // Puts `queue` in line for a step, starting a thread when all are busy and the limit
    // allows. False when there is no thread to run it: none runs and none could start. After
    // shutDown() nothing is lined up and the answer is true.
    bool schedule(Steppable* queue);
    // Takes `queue` out of line and waits until no step of it runs.
    void forget(Steppable* queue);
    // Ends the threads (a step in progress finishes first) and waits for them.
    void shutDown();
    size_t threadCount() const;

  private:
    void run();

    platform::Event* exit_;
    platform::Event& sessionStop_;
    const size_t max_;
    StartThread start_;

    mutable std::mutex lock_;
    std::condition_variable stepped_;  // a step ended
    std::deque<Steppable*> line_;
    size_t idle_ = 0;  // threads waiting for work
    bool shutDown_ = false;
    std::vector<std::thread> threads_;
    platform::Event wake_{platform::Event::Reset::Auto};
    platform::Event stop_{platform::Event::Reset::Manual};
    platform::Event never_{platform::Event::Reset::Manual};
};

}  // namespace fsv::download
