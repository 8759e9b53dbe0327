#include "client/PeriodRunner.h"

namespace fsv::client {

PeriodRunner::PeriodRunner(DateQueryWaiter& waiter, UserPort& port, NotificationQueue& notes)
    : waiter_(waiter), port_(port), notes_(notes) {}

PeriodRunner::~PeriodRunner() { stop(); }

bool PeriodRunner::start(std::shared_ptr<RecorderCatalog> catalog, std::vector<int> channels,
                         Period period, std::chrono::milliseconds replyTimeout, bool askOnTimeout) {
    if (stopped_ || !catalog || running()) return false;
    // The thread before has pushed its end: joining it does not wait.
    if (thread_.joinable()) thread_.join();
    stop_.reset();
    done_.reset();
    running_ = true;
    thread_ = std::thread([this, catalog = std::move(catalog), channels = std::move(channels),
                           period = std::move(period), replyTimeout, askOnTimeout] {
        PeriodQuery query(waiter_, &port_, &stop_);
        query.replyTimeout = replyTimeout;
        query.askOnTimeout = askOnTimeout;
        PeriodSummary summary = query.run(*catalog, channels, period);
        done_.set();
        notes_.push(PeriodQueried{std::move(summary)});
    });
    return true;
}

void PeriodRunner::cancel() {
    if (running()) stop_.set();
}

void PeriodRunner::stop() {
    stopped_ = true;
    stop_.set();
    if (thread_.joinable()) thread_.join();
    running_ = false;
}

}  // namespace fsv::client
