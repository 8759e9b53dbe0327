// Server information from the recordings folder: the one-message form (3 -> 4) and the pair of
// channel names (14) and recorded days (15).

#include "sim/Server.h"

namespace fsv::sim {

namespace {

using namespace fsv::net;

// Faults: silent-after-login answers none of these; bad-days sends a recorded-days reply whose
// camera count runs past its body.

static HandlerRegistrar info(cmd::kGetServerInfo, [](Client& client, ByteSpan) {
    if (!client.loggedIn || client.fault("silent-after-login")) return;
    client.reply(encodeServerInfo(serverInfoMessage(client.server().recordings())));
});

static HandlerRegistrar names(cmd::kChannelNames, [](Client& client, ByteSpan) {
    if (!client.loggedIn || client.fault("silent-after-login")) return;
    client.reply(encodeChannelNames(channelNamesMessage(client.server().recordings())));
});

static HandlerRegistrar days(cmd::kRecordedDays, [](Client& client, ByteSpan) {
    if (!client.loggedIn || client.fault("silent-after-login")) return;
    auto reply = encodeRecordedDays(recordedDaysMessage(client.server().recordings()));
    if (client.fault("bad-days") && reply.size() >= 3)
        reply[1] = static_cast<uint8_t>(reply[1] + 5);
    client.reply(reply);
});

}  // namespace

}  // namespace fsv::sim
