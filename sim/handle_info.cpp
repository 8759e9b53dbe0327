// Server information from the recordings folder: the one-message form (3 -> 4) and the pair of
// channel names (14) and recorded days (15).

#include <cstdio>
#include <functional>

#include "sim/Server.h"

namespace fsv::sim {

namespace {

using namespace fsv::net;

// --cameras N: the cameras of the recordings come first, then cameras without recordings on
// the codes still free, "Cam%05u", until N are listed.
template <typename Channel>
void addEmptyCameras(std::vector<Channel>& cameras, uint32_t wanted,
                     const std::function<Channel(uint16_t)>& make) {
    std::vector<bool> taken(65536, false);
    for (auto& c : cameras) taken[c.code] = true;
    for (uint32_t code = 0; code < 65536 && cameras.size() < wanted; ++code)
        if (!taken[code]) cameras.push_back(make(static_cast<uint16_t>(code)));
}

std::string emptyCameraName(uint16_t code) {
    char name[16];
    std::snprintf(name, sizeof name, "Cam%05u", static_cast<unsigned>(code));
    return name;
}

// Faults: silent-after-login answers none of these; bad-days sends a recorded-days reply whose
// camera count runs past its body; cut-days sends only the first half of that reply, then
// nothing; no-names never answers the channel-name request.

static HandlerRegistrar info(cmd::kGetServerInfo, [](Client& client, ByteSpan) {
    if (!client.loggedIn || client.fault("silent-after-login")) return;
    auto message = serverInfoMessage(client.server().recordings());
    if (auto extra = client.options().extraDay)
        for (auto& camera : message.cameras) camera.days.push_back(*extra);
    addEmptyCameras<ChannelDays>(message.cameras, client.options().cameras, [](uint16_t code) {
        return ChannelDays{code, emptyCameraName(code), {}};
    });
    client.reply(encodeServerInfo(message));
});

static HandlerRegistrar names(cmd::kChannelNames, [](Client& client, ByteSpan) {
    if (!client.loggedIn || client.fault("silent-after-login") || client.fault("no-names")) return;
    if (client.options().badChannelList) {
        client.reply({cmd::kChannelNames, 0xFF, 0xFF});  // 65535 cameras, none there
        return;
    }
    auto message = channelNamesMessage(client.server().recordings());
    addEmptyCameras<ChannelName>(message.cameras, client.options().cameras, [](uint16_t code) {
        return ChannelName{code, emptyCameraName(code)};
    });
    client.reply(encodeChannelNames(message));
});

static HandlerRegistrar days(cmd::kRecordedDays, [](Client& client, ByteSpan) {
    if (!client.loggedIn || client.fault("silent-after-login")) return;
    auto message = recordedDaysMessage(client.server().recordings());
    if (auto extra = client.options().extraDay)
        for (auto& camera : message.cameras) camera.groups.push_back({0, {*extra}});
    auto reply = encodeRecordedDays(message);
    if (client.fault("bad-days") && reply.size() >= 3)
        reply[1] = static_cast<uint8_t>(reply[1] + 5);
    if (client.fault("cut-days")) {
        client.replyCut(reply, reply.size() / 2);
        return;
    }
    client.reply(reply);
});

}  // namespace

}  // namespace fsv::sim
