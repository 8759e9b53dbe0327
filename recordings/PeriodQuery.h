#pragma once
// The recording query of a period: for every chosen channel of one recorder, the days of the
// period whose events are not loaded yet are asked for, one at a time from the latest to the
// earliest, and then every event inside the period is selected. The period selection dialog
// and fsv run it; it waits on events and never holds the event-list lock while waiting.

#include <chrono>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "recordings/RecorderCatalog.h"

namespace fsv {

class UserPort;

inline constexpr const char* kTimeoutQuestion =
    "Timeout when getting the information from remote host. Waiting for another 30 seconds?";
inline constexpr const char* kNoMatchText = "No Match!";
inline constexpr const char* kAlreadySelectedText =
    "All files of the select period already selected!";

struct Period {
    std::string startDate, startTime;  // YYYYMMDD, HHMMSS
    std::string endDate, endTime;
};

enum class PeriodOutcome {
    Selected,         // events were selected: hand them over
    NoMatch,          // nothing in the period
    AlreadySelected,  // everything in the period had a mark already
    Cancelled,        // a query could not be sent, the session stopped, or the user gave up
    Exiting,          // the program is exiting: no message
};

struct PeriodSummary {
    PeriodOutcome outcome = PeriodOutcome::NoMatch;
    int selected = 0;
    bool alreadySelected = false;
    std::vector<DayToLoad> asked;  // in the order asked
};

class PeriodQuery {
  public:
    PeriodQuery(DateQueryWaiter& waiter, UserPort* port, platform::Event* exitEvent);

    // How long each wait for a reply lasts before the user is asked.
    std::chrono::milliseconds replyTimeout{30000};
    // The dialog is visible, so a time-out asks whether to wait again; otherwise it gives up.
    bool askOnTimeout = true;

    // `channels` are channel positions of the catalog's recorder, in the order chosen.
    PeriodSummary run(RecorderCatalog& catalog, const std::vector<int>& channels,
                      const Period& period);

    // The message for an outcome that ends without work: "No Match!" or the already-selected
    // text; empty otherwise.
    static std::string message(const PeriodSummary& summary);

  private:
    DateQueryWaiter& waiter_;
    UserPort* port_;
    platform::Event* exit_;
};

}  // namespace fsv
