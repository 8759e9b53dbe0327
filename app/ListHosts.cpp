#include "app/ListHosts.h"

#include "app/CoreBackend.h"
#include "recordings/download/DownloadSession.h"
#include "ui/Prompts.h"
#include "ui/lists/DownloadHistoryWindow.h"
#include "ui/mainwindow/MainWindow.h"

namespace fsv::app {

namespace {

// The items of the connection at `position` not finished yet (none for a position not there).
std::vector<download::WorkItem> unfinishedWork(client::Controller& c, int position) {
    std::vector<download::WorkItem> out;
    const auto sessions = c.sessions();
    if (position < 0 || position >= static_cast<int>(sessions.size())) return out;
    c.withDownloads(sessions[static_cast<size_t>(position)].id,
                    [&](download::DownloadSession& d) { out = d.unfinished(); });
    return out;
}

// The connection list's type of a work: 0 "Download & Play", 1 "Just Download", 2 "Just Play".
int workType(const download::WorkItem& item) {
    if (item.queue != download::QueueKind::Video) return 1;
    return item.action == download::Action::JustPlay ? 2 : 0;
}

}  // namespace

std::vector<ui::ChannelListWindow::Channel> ChannelListHost::channels() const {
    using Channel = ui::ChannelListWindow::Channel;
    std::vector<Channel> out;
    const auto files = backend_.channelFiles();
    for (size_t i = 0; i < files.size(); ++i) {
        Channel ch;
        if (!files[i].empty()) {
            ch.source = Channel::Source::Local;
            ch.fileName = files[i].string();
        } else if (auto s = backend_.streamSource(static_cast<int>(i))) {
            ch.source = Channel::Source::Recorder;
            ch.serverName = s->serverName;
            ch.cameraName = s->cameraName;
            ch.eventKey = s->eventKey;
        }
        out.push_back(std::move(ch));
    }
    return out;
}

void ChannelListHost::closeChannel(int channel) { backend_.closeChannel(channel); }
void ChannelListHost::showChannel(int channel) { window_.showChannel(channel); }

std::vector<ui::ConnectionListWindow::Connection> ConnectionListHost::connections() const {
    std::vector<ui::ConnectionListWindow::Connection> out;
    for (const auto& s : c_.sessions()) {
        ui::ConnectionListWindow::Connection c;
        c.id = static_cast<int>(out.size());
        c.serverName = s.recorderName;
        c.serverAddress = s.address;
        c.works = s.works;
        c.loginTime = s.connectionTime;
        out.push_back(std::move(c));
    }
    return out;
}

std::vector<ui::ConnectionListWindow::WorkEntry> ConnectionListHost::worksOf(int position) const {
    std::vector<ui::ConnectionListWindow::WorkEntry> out;
    for (const auto& item : unfinishedWork(c_, position)) {
        ui::ConnectionListWindow::WorkEntry w;
        w.deviceName = item.channelName;
        w.eventKey = item.eventKey;
        w.type = workType(item);
        out.push_back(std::move(w));
    }
    return out;
}

bool ConnectionListHost::hasUnfinishedWork(int position) const {
    return !unfinishedWork(c_, position).empty();
}

void ConnectionListHost::closeConnection(int position, const std::string& resumeFile) {
    c_.queueConnectionClose(position, resumeFile);
}

bool ConnectionListHost::deleteWork(int position, const std::string& device, bool justDownload,
                                    const std::string& eventKey) {
    const auto sessions = c_.sessions();
    if (position < 0 || position >= static_cast<int>(sessions.size())) return false;
    return c_.removeQueuedWork(sessions[static_cast<size_t>(position)].id,
                               [&](const download::WorkItem& item) {
                                   return item.channelName == device && item.eventKey == eventKey &&
                                          (workType(item) == 1) == justDownload;
                               });
}

bool LocalFileHost::isPlaying(const std::filesystem::path& file) const {
    return backend_.isPlaying(file);
}

void LocalFileHost::openAvi(const std::filesystem::path& file) {
    const auto result = backend_.openLocalFile(file);
    if (result == ui::ViewerBackend::OpenResult::AlreadyPlaying)
        ui::Prompts::box(over_, ui::kFilePlayingText,
                         {ui::BoxButtons::Ok, ui::BoxIcon::Information});
    else if (result == ui::ViewerBackend::OpenResult::OverMaximum)
        ui::Prompts::box(over_, ui::kOverMaxChannel, {ui::BoxButtons::Ok, ui::BoxIcon::Stop});
}

bool DayHost::openDay(int recorder, int channel, int day) {
    auto catalog = c_.catalogs().catalogOf(recorder);
    return catalog && catalog->openDay(channel, day);
}

}  // namespace fsv::app
