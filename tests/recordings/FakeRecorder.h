#pragma once
// A recorder without a network for the recordings tests: RecorderLink's side of a session whose
// date queries are answered from a table, at once (on the sending thread, as a dispatcher
// would have done before the sender waits) or not at all.

#include <map>
#include <mutex>
#include <tuple>
#include <vector>

#include "net/Messages.h"
#include "recordings/RecorderCatalog.h"

namespace fsv::test {

class FakeRecorder : public RecorderLink {
  public:
    using DayKey = std::tuple<uint8_t, uint16_t, std::string, uint32_t>;  // kind, code, date, id

    uint16_t protocol = 35;
    bool answer = true;  // answer date queries
    bool sendFails = false;
    std::map<DayKey, std::vector<net::DateItem>> recordings;
    std::vector<net::DateQuery> queries;
    int replyOkSets = 0;
    bool hasReplyOk = false;
    bool gettingInformation = false;
    RecorderCatalog* catalog = nullptr;
    fsv::platform::Event stop{fsv::platform::Event::Reset::Manual};

    uint16_t version() const override { return protocol; }
    bool send(std::span<const uint8_t> message, fsv::platform::Event*) override {
        if (sendFails) return false;
        auto q = net::parseDateQuery(message);
        if (!q) return false;
        queries.push_back(*q);
        if (answer && catalog) {
            net::DateReply r;
            r.kind = q->kind;
            r.code = q->code;
            r.date = q->date;
            r.dateId = protocol > 34 ? q->dateId : 0;
            auto it = recordings.find({q->kind, q->code, q->date, q->dateId});
            if (it != recordings.end()) r.items = it->second;
            catalog->handleDateReply(net::encodeDateReply(r, protocol));
        }
        return true;
    }
    fsv::platform::Event& stopEvent() override { return stop; }
    void setGettingInformation(bool on) override { gettingInformation = on; }
    bool setReplyOk() override {
        ++replyOkSets;
        if (watchedReply) replyOkAfterWake = watchedReply->isSet();
        return hasReplyOk;
    }
    // The dialog's reply event, to tell whether reply-OK came before the dialog was woken.
    fsv::platform::Event* watchedReply = nullptr;
    bool replyOkAfterWake = false;
    RecorderInfo recorderInfo() const override {
        RecorderInfo i;
        i.name = "DVR";
        i.address = "127.0.0.1";
        i.id = "Guest";
        return i;
    }
};

}  // namespace fsv::test
