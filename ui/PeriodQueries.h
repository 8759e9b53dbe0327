#pragma once
// What the period dialog asks the program underneath for: the recording query of a period on
// one recorder, run away from the UI thread. Called on the UI thread; every call returns at
// once. The query's time-out question is asked on the UI thread like every worker's question,
// and its end comes back there through `done`.

#include <chrono>
#include <functional>
#include <vector>

#include "recordings/PeriodQuery.h"

namespace fsv::ui {

class PeriodQueries {
  public:
    using Done = std::function<void(const PeriodSummary&)>;
    virtual ~PeriodQueries() = default;

    // Starts the query of `channels` (positions in the recorder's catalog, in the order chosen)
    // on the recorder with connection number `recorder`. False, and `done` never runs, when
    // there is no such recorder or a query still runs.
    virtual bool startPeriodQuery(int recorder, const std::vector<int>& channels,
                                  const Period& period, std::chrono::milliseconds replyTimeout,
                                  Done done) = 0;
    // Ends the query in progress without a question; `done` still runs (Exiting).
    virtual void cancelPeriodQuery() = 0;
};

}  // namespace fsv::ui
