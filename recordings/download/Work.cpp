#include "recordings/download/Work.h"

#include <algorithm>

#include "platform/Shared.h"

namespace fsv::download {

uint8_t streamModeFor(Action action, bool audio) {
    if (audio || action == Action::JustDownload) return 11;
    return action == Action::JustPlay ? 12 : 10;
}

std::string WorkItem::recorderKey() const { return eventKey + format("%.3d", channelCode); }

uint8_t WorkItem::mode() const {
    return streamModeFor(action, queue == QueueKind::Audio || queue == QueueKind::File);
}

int WorkList::addRow(const std::string& path, const std::string& caption, uint64_t size) {
    WorkRow row;
    row.path = path;
    row.caption = caption;
    row.size = size;
    return addRow(std::move(row));
}

int WorkList::addRow(WorkRow row) {
    Listener listener;
    {
        std::lock_guard lock(mutex_);
        row.id = static_cast<int>(rows_.size());
        rows_.push_back(row);
        listener = listener_;
    }
    if (listener) listener(row);
    return row.id;
}

template <class F>
void WorkList::change(int id, F&& f) {
    WorkRow copy;
    Listener listener;
    {
        std::lock_guard lock(mutex_);
        if (id < 0 || id >= static_cast<int>(rows_.size())) return;
        f(rows_[id]);
        copy = rows_[id];
        listener = listener_;
    }
    if (listener) listener(copy);
}

void WorkList::setPath(int id, const std::string& path) {
    change(id, [&](WorkRow& r) { r.path = path; });
}
void WorkList::setState(int id, RowState state) {
    change(id, [&](WorkRow& r) { r.state = state; });
}
void WorkList::setSize(int id, uint64_t size) {
    change(id, [&](WorkRow& r) { r.size = size; });
}
void WorkList::setReceived(int id, uint64_t received) {
    change(id, [&](WorkRow& r) { r.received = received; });
}
void WorkList::addReceived(int id, uint64_t bytes) {
    change(id, [&](WorkRow& r) { r.received += bytes; });
}
void WorkList::setFrames(int id, uint32_t frames, uint32_t frameCount) {
    change(id, [&](WorkRow& r) {
        r.frames = frames;
        r.frameCount = frameCount;
    });
}
void WorkList::setHash(int id, const std::string& sha256) {
    change(id, [&](WorkRow& r) { r.sha256 = sha256; });
}

std::vector<WorkRow> WorkList::rows() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

bool WorkList::row(int id, WorkRow* out) const {
    std::lock_guard lock(mutex_);
    if (id < 0 || id >= static_cast<int>(rows_.size())) return false;
    *out = rows_[id];
    return true;
}

void WorkList::setListener(Listener listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

FrameRangeCheck checkFrameRange(uint32_t start, uint32_t end, uint32_t frameCount,
                                FrameRange* out) {
    if (start < 1 || start > frameCount || end < 1 || end > frameCount)
        return FrameRangeCheck::OutOfRange;
    if (end < start) return FrameRangeCheck::EndBeforeStart;
    if (out) *out = {start - 1, end - 1};
    return FrameRangeCheck::Ok;
}

bool channelsAvailable(int camerasWithoutStream, int channelsInUse, int maxChannels) {
    return camerasWithoutStream + channelsInUse <= maxChannels;
}

bool checkChannelLimit(UserPort& port, int camerasWithoutStream, int channelsInUse,
                       int maxChannels) {
    if (channelsAvailable(camerasWithoutStream, channelsInUse, maxChannels)) return true;
    port.messageBox(kOverMaxChannelText, mb::kIconStop);
    return false;
}

}  // namespace fsv::download
