#pragma once
// The period queries of the windows without a controller: the query runs on a PeriodRunner
// over the catalog the test gives, its question goes through a QueuedUserPort and is answered
// on the UI thread through Prompts (so a PromptScript answers it), and its end comes back on the
// UI thread - the same path the viewer's backend takes.

#include <QMetaObject>
#include <QObject>
#include <functional>
#include <memory>
#include <utility>

#include "client/PeriodRunner.h"
#include "client/QueuedUserPort.h"
#include "ui/PeriodQueries.h"
#include "ui/Prompts.h"

namespace fsv::test {

class LocalPeriodQueries : public ui::PeriodQueries {
  public:
    explicit LocalPeriodQueries(DateQueryWaiter& waiter) : runner_(waiter, port_, notes_) {}
    ~LocalPeriodQueries() override {
        exit_.set();
        runner_.stop();
    }

    // The catalog of a connection number.
    std::function<std::shared_ptr<RecorderCatalog>(int)> catalogOf;

    bool startPeriodQuery(int recorder, const std::vector<int>& channels, const Period& period,
                          std::chrono::milliseconds replyTimeout, Done done) override {
        auto catalog = catalogOf ? catalogOf(recorder) : nullptr;
        if (!runner_.start(std::move(catalog), channels, period, replyTimeout, true)) return false;
        done_ = std::move(done);
        return true;
    }
    void cancelPeriodQuery() override { runner_.cancel(); }

  private:
    void drain() {
        notes_.drain([this](client::Notification& n) {
            if (auto* q = std::get_if<client::Question>(&n)) {
                if (!port_.waiting(q->id)) return;
                client::Answer a;
                a.box = ui::Prompts::box(nullptr, q->text, q->style);
                port_.answer(q->id, a);
            } else if (auto* end = std::get_if<client::PeriodQueried>(&n)) {
                if (auto done = std::exchange(done_, nullptr)) done(end->summary);
            }
        });
    }

    QObject context_;  // the UI thread's: drains run in its name
    fsv::platform::Event exit_{fsv::platform::Event::Reset::Manual};
    client::NotificationQueue notes_{[this] {
        QMetaObject::invokeMethod(
            &context_, [this] { drain(); }, Qt::QueuedConnection);
    }};
    client::QueuedUserPort port_{notes_, exit_};
    client::PeriodRunner runner_;
    Done done_;
};

}  // namespace fsv::test
