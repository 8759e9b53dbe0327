#include "ui/models/DownloadRows.h"

#include <QDateTime>
#include <QLocale>

namespace fsv::ui {

int DownloadRows::addRow(const std::string& serverName, const std::string& serverAddress,
                         const std::string& deviceName, const std::string& eventKey,
                         const std::string& savePath, uint8_t workType) {
    int slot = -1;
    {
        std::lock_guard lock(mutex_);
        if (shuttingDown_) return -1;
        DownloadRow r;
        r.used = true;
        r.workType = workType;
        r.serverName = serverName;
        r.serverAddress = serverAddress;
        r.deviceName = deviceName;
        r.eventKey = eventKey;
        r.savePath = savePath;
        for (size_t i = 0; i < rows_.size(); ++i)
            if (!rows_[i].used) {
                slot = static_cast<int>(i);
                break;
            }
        if (slot < 0) {
            slot = static_cast<int>(rows_.size());
            rows_.push_back(std::move(r));
        } else {
            rows_[static_cast<size_t>(slot)] = std::move(r);
        }
    }
    tell(Notice::Added, slot);
    return slot;
}

void DownloadRows::update(int slot, int event, int source) {
    Notice n = Notice::Refreshed;
    {
        std::lock_guard lock(mutex_);
        if (shuttingDown_ || slot < 0 || slot >= static_cast<int>(rows_.size()) ||
            !rows_[static_cast<size_t>(slot)].used)
            return;
        auto& r = rows_[static_cast<size_t>(slot)];
        if (event == kRunning) {
            r.running = true;
            r.source = source;
        } else if (event == kRemove) {
            r = DownloadRow{};
            while (!rows_.empty() && !rows_.back().used) rows_.pop_back();
            n = Notice::Removed;
        } else {
            r.source = -1;
        }
    }
    tell(n, slot);
}

void DownloadRows::setSavePath(int slot, const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        if (shuttingDown_ || slot < 0 || slot >= static_cast<int>(rows_.size()) ||
            !rows_[static_cast<size_t>(slot)].used)
            return;
        rows_[static_cast<size_t>(slot)].savePath = path;
    }
    tell(Notice::Refreshed, slot);
}

void DownloadRows::setShuttingDown(bool on) {
    std::lock_guard lock(mutex_);
    shuttingDown_ = on;
}

void DownloadRows::setListener(Listener listener) {
    // Once this returns, no call of the previous listener is still running.
    std::lock_guard lock(listenerMutex_);
    listener_ = std::move(listener);
}

void DownloadRows::tell(Notice n, int slot) {
    std::lock_guard lock(listenerMutex_);
    if (listener_) listener_(n, slot);
}

std::vector<DownloadRow> DownloadRows::rows() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

std::optional<DownloadRow> DownloadRows::row(int slot) const {
    std::lock_guard lock(mutex_);
    if (slot < 0 || slot >= static_cast<int>(rows_.size()) ||
        !rows_[static_cast<size_t>(slot)].used)
        return std::nullopt;
    return rows_[static_cast<size_t>(slot)];
}

std::string DownloadRows::ratio(int slot) const {
    auto r = row(slot);
    return r ? ratioOf(*r, progress_) : std::string("0%");
}

std::string DownloadRows::ratioOf(const DownloadRow& row, const download::WorkList* progress) {
    if (!row.used || !row.running) return "0%";
    download::WorkRow w;
    if (row.source < 0 || !progress || !progress->row(row.source, &w)) return "100%";
    // Whole files count bytes; the other modes count frames of their range.
    const bool bytes = row.workType == 11;
    const uint64_t done = bytes ? w.received : w.frames;
    const uint64_t total = bytes ? w.size : w.frameCount;
    if (total == 0) return "0%";
    const uint64_t pct = std::min<uint64_t>(done, total) * 100 / total;
    return std::to_string(pct) + "%";
}

std::string workNameOf(const std::string& eventKey) {
    if (eventKey.size() < 14) return {};
    const QDateTime at = QDateTime::fromString(QString::fromStdString(eventKey.substr(0, 14)),
                                               "yyyyMMddHHmmss");
    if (!at.isValid()) return {};
    return QLocale().toString(at, QLocale::ShortFormat).toStdString();
}

}  // namespace fsv::ui
