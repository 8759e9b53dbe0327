#pragma once
// A period query on a thread of its own, for a front end whose UI thread must not wait on a
// recorder. One query at a time; its end is pushed as a PeriodQueried notification. Its
// time-out question goes through the UserPort it is given (normally a QueuedUserPort, so it is
// answered on the front end's thread while this thread waits).
//
// The query's waits end with the runner's stop event, set by cancel() (the front end gave up:
// the query ends as Exiting, without a question or a message) and by stop() (the program
// ends). The question's wait ends with the port's own exit event. Every member is used from
// one thread (the front end's); the query thread only reads what it was started with.

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "client/Notifications.h"
#include "platform/Event.h"
#include "recordings/PeriodQuery.h"
#include "recordings/RecorderCatalog.h"

namespace fsv::client {

class PeriodRunner {
  public:
    PeriodRunner(DateQueryWaiter& waiter, UserPort& port, NotificationQueue& notes);
    ~PeriodRunner();
    PeriodRunner(const PeriodRunner&) = delete;
    PeriodRunner& operator=(const PeriodRunner&) = delete;

    // Starts the query of `channels` of the catalog's recorder over `period`. False (and
    // nothing happens) when a query still runs, the runner was stopped or no catalog is given.
    bool start(std::shared_ptr<RecorderCatalog> catalog, std::vector<int> channels, Period period,
               std::chrono::milliseconds replyTimeout, bool askOnTimeout);
    // Ends the query in progress, if any; its PeriodQueried still comes.
    void cancel();
    // Ends the query in progress and waits for its thread; no query starts after it.
    void stop();
    bool running() const { return running_ && !done_.isSet(); }

  private:
    DateQueryWaiter& waiter_;
    UserPort& port_;
    NotificationQueue& notes_;
    platform::Event stop_{platform::Event::Reset::Manual};
    platform::Event done_{platform::Event::Reset::Manual};
    bool running_ = false;  // a thread was started and not joined yet
    bool stopped_ = false;
    std::thread thread_;
};

}  // namespace fsv::client
