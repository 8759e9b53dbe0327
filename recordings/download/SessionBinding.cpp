#include "recordings/download/SessionBinding.h"

namespace fsv::download {

void CatalogReporter::report(const WorkItem& item, bool audio, EndReport report) {
    const int recorder = catalog_->connectionNumber();
    const int channel =
        catalog_->channelOfCode(audio ? net::kAudio : net::kCamera, item.channelCode);
    if (recorder < 0 || channel < 0) return;
    const std::string date = item.date(), time = item.time();
    switch (report) {
        case EndReport::Finished:
            list_.reportFinished(recorder, channel, date, time, &catalog_->pending());
            break;
        case EndReport::Stopped:
            list_.reportStopped(recorder, channel, date, time, &catalog_->pending());
            break;
        case EndReport::CannotOpen:
            list_.reportCannotOpen(recorder, channel, date, time, &catalog_->pending());
            break;
    }
}

SessionDownloads::SessionDownloads(DownloadContext& ctx, net::ServerSession& session)
    : session_(session), link_(session), guard_(std::make_shared<Guard>()) {
    downloads_ = std::make_unique<DownloadSession>(ctx, link_);
    for (auto& c : session.cameras()) downloads_->addCamera(c.code, c.name);
    for (auto& a : session.audioChannels()) downloads_->addAudioChannel(a.code, a.name);
    guard_->downloads = downloads_.get();
    std::weak_ptr<Guard> weak = guard_;
    session.setHandler(net::cmd::kStreamData, [weak](net::ServerSession&, const net::Message& m) {
        if (auto g = weak.lock()) {
            std::lock_guard lock(g->mutex);
            if (g->downloads) g->downloads->onStreamData(m.bytes);
        }
    });
    session.setHandler(net::cmd::kFrameCountReply,
                       [weak](net::ServerSession&, const net::Message& m) {
                           if (auto g = weak.lock()) {
                               std::lock_guard lock(g->mutex);
                               if (g->downloads) g->downloads->onFrameCountReply(m.bytes);
                           }
                       });
}

SessionDownloads::~SessionDownloads() {
    // The queues stop first, which releases a dispatcher waiting on one of their streams.
    downloads_->shutDown();
    {
        std::lock_guard lock(guard_->mutex);
        guard_->downloads = nullptr;
    }
    session_.setHandler(net::cmd::kStreamData, nullptr);
    session_.setHandler(net::cmd::kFrameCountReply, nullptr);
}

}  // namespace fsv::download
