#include "recordings/PeriodQuery.h"

#include "platform/UserPort.h"

namespace fsv {

PeriodQuery::PeriodQuery(DateQueryWaiter& waiter, UserPort* port, platform::Event* exitEvent)
    : waiter_(waiter), port_(port), exit_(exitEvent) {}

std::string PeriodQuery::message(const PeriodSummary& s) {
    switch (s.outcome) {
        case PeriodOutcome::NoMatch:
            return kNoMatchText;
        case PeriodOutcome::AlreadySelected:
            return kAlreadySelectedText;
        default:
            return {};
    }
}

PeriodSummary PeriodQuery::run(RecorderCatalog& catalog, const std::vector<int>& channels,
                               const Period& p) {
    PeriodSummary out;
    EventList& list = catalog.list();
    const int r = catalog.connectionNumber();
    waiter_.reply.reset();
    // A never-set stand-in keeps the wait's slots fixed when there is no exit event.
    platform::Event noExit(platform::Event::Reset::Manual);
    platform::Event* exitEvent = exit_ ? exit_ : &noExit;

    auto giveUp = [&](PeriodOutcome o) {
        waiter_.busy = false;
        out.outcome = o;
        return out;
    };

    for (int ch : channels) {
        const auto kind = list.channelIsAudio(r, ch) ? net::kAudio : net::kCamera;
        auto days = list.daysToLoad(r, ch, p.startDate, p.endDate);
        for (auto it = days.rbegin(); it != days.rend(); ++it) {
            waiter_.reply.reset();
            waiter_.busy = true;
            platform::Event* stop = catalog.sendDateQuery(ch, kind, it->date, it->dateId);
            if (!stop) return giveUp(PeriodOutcome::Cancelled);
            out.asked.push_back(*it);
            for (;;) {
                const int which =
                    platform::waitAny({exitEvent, stop, &waiter_.reply}, replyTimeout);
                if (which == 2) break;
                if (which == 1) return giveUp(PeriodOutcome::Cancelled);
                if (which == 0) return giveUp(PeriodOutcome::Exiting);
                const bool again =
                    askOnTimeout && port_ &&
                    port_->messageBox(kTimeoutQuestion, mb::kRetryCancel | mb::kIconInformation,
                                      true) == mb::kIdRetry;
                if (!again) return giveUp(PeriodOutcome::Cancelled);
            }
            waiter_.busy = false;
        }
        auto sel = list.selectInPeriod(r, ch, p.startDate, p.startTime, p.endDate, p.endTime);
        out.selected += sel.selected;
        out.alreadySelected |= sel.alreadySelected;
    }
    if (out.selected > 0)
        out.outcome = PeriodOutcome::Selected;
    else
        out.outcome = out.alreadySelected ? PeriodOutcome::AlreadySelected : PeriodOutcome::NoMatch;
    return out;
}

}  // namespace fsv
