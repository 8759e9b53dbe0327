// Date query replies handled into an event list. The first byte picks the protocol version
// (34 or 35); the rest is split into messages at each 0xFF 0xFE pair and handled in turn, so
// replies meet days and events that earlier ones left. Afterwards every row the window would
// show must read back: six-digit times and keys that parse to their own positions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "recordings/RecorderCatalog.h"

namespace {

class Link : public fsv::RecorderLink {
  public:
    uint16_t protocol = 35;
    fsv::platform::Event stop{fsv::platform::Event::Reset::Manual};
    uint16_t version() const override { return protocol; }
    bool send(std::span<const uint8_t>, fsv::platform::Event*) override { return true; }
    fsv::platform::Event& stopEvent() override { return stop; }
    void setGettingInformation(bool) override {}
    bool setReplyOk() override { return false; }
    fsv::RecorderInfo recorderInfo() const override { return {}; }
};

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Link link;
    link.protocol = data[0] & 1 ? 35 : 34;
    fsv::EventList list;
    fsv::DateQueryWaiter waiter;
    fsv::RecorderCatalog catalog(list, link, &waiter);
    // Version 35 days carry date ids 0 and 1; a reply must name the right one.
    fsv::net::ServerInfo info;
    info.cameras = {{1, "A", {{"20261201", 0, 0}, {"20261202", link.protocol > 34 ? 1u : 0u, 0}}},
                    {2, "B", {{"20261201", 0, 0}}}};
    info.audio = {{1, "M", {{"20261201", 0, 0}}}};
    catalog.handleServerInfo(info, false);
    waiter.busy = true;

    std::span<const uint8_t> rest(data + 1, size - 1);
    size_t start = 0;
    for (size_t i = 0; i <= rest.size(); ++i) {
        bool end =
            i == rest.size() || (i + 1 < rest.size() && rest[i] == 0xFF && rest[i + 1] == 0xFE);
        if (!end) continue;
        catalog.handleDateReply(rest.subspan(start, i - start));
        start = i + 2;
        ++i;
    }

    const int r = catalog.connectionNumber();
    for (auto& ch : list.channels(r)) {
        auto key = fsv::parseKey(ch.key);
        check(key && key->channel && key->recorder == r && key->channelPos == ch.position);
        for (auto& d : list.days(r, ch.position))
            for (auto& e : list.events(r, ch.position, d.position)) {
                check(e.time.size() == 6);
                auto k = fsv::parseKey(e.key);
                check(k && !k->channel && k->day == d.position && k->event == e.position);
                check(list.findEvent(r, ch.position, d.position, e.time) == e.position);
            }
    }
    return 0;
}
