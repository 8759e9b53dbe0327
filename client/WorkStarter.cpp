#include "client/WorkStarter.h"

#include <algorithm>
#include <system_error>

#include "recordings/playback/ChannelTable.h"

namespace fsv::client {

StartResult WorkStarter::start(std::optional<download::Action> given) {
    namespace dl = download;
    if (env_.exiting.load()) return StartResult::Declined;
    const std::vector<PickedEvent> picked = pickSelection();
    if (picked.empty()) return StartResult::NothingSelected;
    const std::optional<dl::Action> action = chooseAction(picked, given);
    if (!action) return StartResult::Declined;
    if (*action != dl::Action::JustDownload && !channelsSuffice(picked))
        return StartResult::OverMaximum;
    std::optional<dl::FrameRange> frames;
    if (*action == dl::Action::DownloadAndPlayPeriod) {
        frames = askFrameRange(picked.front());
        if (!frames) return StartResult::Declined;
    }
    const std::string root = chooseRoot(picked);
    if (root.empty()) return StartResult::Declined;
    const auto items = planWork(picked, *action, root, frames);
    return enqueueWork(picked, items) > 0 ? StartResult::Started : StartResult::Declined;
}

// The selection: every event marked selected of every recorder whose queues exist.
std::vector<PickedEvent> WorkStarter::pickSelection() {
    std::vector<PickedEvent> picked;
    env_.sessions.locked([&](const SessionRegistry::Entries& all) {
        for (auto& s : all) {
            const int r = s->session->connectionNumber();
            auto catalog = r >= 0 && s->queues ? env_.catalogs.catalogOf(r) : nullptr;
            if (!catalog) continue;
            std::lock_guard listLock(env_.events.lock());
            auto mine = pickSelected(env_.events, *catalog, s->id);
            picked.insert(picked.end(), mine.begin(), mine.end());
        }
    });
    return picked;
}

// The action: audio in the selection transfers the whole selection as files; otherwise the one
// given, or the user's choice. Nothing when the user declines or the action does not fit.
std::optional<download::Action> WorkStarter::chooseAction(const std::vector<PickedEvent>& picked,
                                                          std::optional<download::Action> given) {
    namespace dl = download;
    dl::Action action;
    if (std::any_of(picked.begin(), picked.end(), [](const PickedEvent& p) { return p.audio; })) {
        action = dl::Action::JustDownload;
    } else if (given) {
        action = *given;
    } else {
        const int choice = env_.port.askAction(picked.size() == 1);
        if (choice < 0 || choice > 3) return std::nullopt;
        action = static_cast<dl::Action>(choice);
    }
    if (action == dl::Action::DownloadAndPlayPeriod && picked.size() != 1) return std::nullopt;
    return action;
}

// Work that shows video needs a channel per camera whose queue shows nothing yet; the user is
// told when they would run out.
bool WorkStarter::channelsSuffice(const std::vector<PickedEvent>& picked) {
    int needed = 0;
    env_.sessions.locked([&](const SessionRegistry::Entries& all) {
        for (auto& s : all) {
            std::vector<uint16_t> cameras;
            for (auto& p : picked)
                if (p.session == s->id && !p.audio) cameras.push_back(p.code);
            if (!cameras.empty() && s->queues) needed += s->queues->camerasWithoutStream(cameras);
        }
    });
    const int inUse = env_.context.channels ? env_.context.channels->usedCount() : 0;
    return download::checkChannelLimit(env_.port, needed, inUse, env_.maxChannel);
}

// A period by frames: the recording's frame count, then the range the user gives (1-based),
// asked again while its end comes before its start.
std::optional<download::FrameRange> WorkStarter::askFrameRange(const PickedEvent& p) {
    namespace dl = download;
    dl::WorkItem probe;
    probe.channelCode = p.code;
    probe.eventKey = p.date + p.time;
    const auto asked = queryFrameCount(env_.sessions, p.session, probe.recorderKey(), p.dateId);
    if (!asked) return std::nullopt;
    const uint32_t count = *asked;
    uint32_t first = 1, last = count;
    dl::FrameRange frames;
    for (;;) {
        if (!env_.port.askFrameRange(count, first, last)) return std::nullopt;
        const auto check = dl::checkFrameRange(first, last, count, &frames);
        if (check == dl::FrameRangeCheck::Ok) return frames;
        if (check == dl::FrameRangeCheck::EndBeforeStart)
            env_.port.messageBox(dl::kEndBeforeStartText, mb::kIconStop, true);
    }
}

// The destination, with room for everything selected; remembered for the next time. Empty
// when the user declines.
std::string WorkStarter::chooseRoot(const std::vector<PickedEvent>& picked) {
    uint64_t total = 0;
    for (auto& p : picked) total += p.size;
    const std::string root = download::chooseDestination(
        lastDestination(), total, env_.port,
        env_.context.freeSpace ? env_.context.freeSpace : download::systemFreeSpace());
    if (root.empty()) return root;
    std::lock_guard lock(destinationLock_);
    lastDestination_ = root;
    return root;
}

// The items in their recorders' queues, the marks, and each recorder's automatic file. Returns
// how many items were queued.
int WorkStarter::enqueueWork(const std::vector<PickedEvent>& picked,
                             const std::vector<download::WorkItem>& items) {
    int queued = 0;
    env_.sessions.locked([&](const SessionRegistry::Entries& all) {
        for (auto& s : all) {
            if (!s->queues) continue;
            for (size_t i = 0; i < picked.size(); ++i)
                if (picked[i].session == s->id && s->queues->enqueue(items[i])) ++queued;
        }
        if (queued == 0) return;
        env_.events.queueSelection();
        for (auto& s : all) {
            const bool mine = std::any_of(picked.begin(), picked.end(),
                                          [&](const PickedEvent& p) { return p.session == s->id; });
            if (mine) env_.persistence.saveAuto(*s);
        }
    });
    return queued;
}

bool WorkStarter::startAsync(std::optional<download::Action> action) {
    std::lock_guard lock(starterLock_);
    if (env_.exiting.load() || starting_.exchange(true)) return false;
    if (starter_.joinable()) starter_.join();  // the one before has ended
    try {
        starter_ = std::thread([this, action] {
            const StartResult result = start(action);
            env_.notes.push(WorkStarted{result});
            starting_.store(false);
        });
    } catch (const std::system_error&) {
        starting_.store(false);
        return false;
    }
    return true;
}

void WorkStarter::join() {
    std::lock_guard lock(starterLock_);
    if (starter_.joinable()) starter_.join();
}

std::string WorkStarter::lastDestination() const {
    std::lock_guard lock(destinationLock_);
    return lastDestination_;
}

}  // namespace fsv::client
