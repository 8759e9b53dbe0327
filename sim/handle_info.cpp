// Server information from the recordings folder: the one-message form (3 -> 4) and the pair of
// channel names (14) and recorded days (15).

#include "sim/Server.h"

namespace fsv::sim {

namespace {

using namespace fsv::net;

static HandlerRegistrar info(cmd::kGetServerInfo, [](Client& client, ByteSpan) {
    if (!client.loggedIn) return;
    auto message = serverInfoMessage(client.server().recordings());
    if (auto extra = client.options().extraDay)
        for (auto& camera : message.cameras) camera.days.push_back(*extra);
    client.reply(encodeServerInfo(message));
});

static HandlerRegistrar names(cmd::kChannelNames, [](Client& client, ByteSpan) {
    if (!client.loggedIn) return;
    if (client.options().badChannelList) {
        client.reply({cmd::kChannelNames, 0xFF, 0xFF});  // 65535 cameras, none there
        return;
    }
    client.reply(encodeChannelNames(channelNamesMessage(client.server().recordings())));
});

static HandlerRegistrar days(cmd::kRecordedDays, [](Client& client, ByteSpan) {
    if (!client.loggedIn) return;
    auto message = recordedDaysMessage(client.server().recordings());
    if (auto extra = client.options().extraDay)
        for (auto& camera : message.cameras) camera.groups.push_back({0, {*extra}});
    client.reply(encodeRecordedDays(message));
});

}  // namespace

}  // namespace fsv::sim
