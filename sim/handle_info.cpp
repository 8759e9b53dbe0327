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
    auto message = serverInfoMessage(client.server().recordings());
    if (auto extra = client.options().extraDay)
        for (auto& camera : message.cameras) camera.days.push_back(*extra);
    client.reply(encodeServerInfo(message));
});

static HandlerRegistrar names(cmd::kChannelNames, [](Client& client, ByteSpan) {
    if (!client.loggedIn || client.fault("silent-after-login")) return;
    if (client.options().badChannelList) {
        client.reply({cmd::kChannelNames, 0xFF, 0xFF});  // 65535 cameras, none there
        return;
    }
    client.reply(encodeChannelNames(channelNamesMessage(client.server().recordings())));
});

static HandlerRegistrar days(cmd::kRecordedDays, [](Client& client, ByteSpan) {
    if (!client.loggedIn || client.fault("silent-after-login")) return;
    auto message = recordedDaysMessage(client.server().recordings());
    if (auto extra = client.options().extraDay)
        for (auto& camera : message.cameras) camera.groups.push_back({0, {*extra}});
    auto reply = encodeRecordedDays(message);
    if (client.fault("bad-days") && reply.size() >= 3)
        reply[1] = static_cast<uint8_t>(reply[1] + 5);
    client.reply(reply);
});

}  // namespace

}  // namespace fsv::sim
