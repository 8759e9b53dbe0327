#include "ui/models/EventTreeModel.h"

#include <QDate>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <charconv>

#include "recordings/EventKeys.h"

namespace fsv::ui {

namespace {

// Internal id layout: level in bits 62–63, recorder 10 bits, channel 10, day 14, event 17.
constexpr int kLevelShift = 62, kRecShift = 41, kChanShift = 31, kDayShift = 17;
constexpr uint64_t kRecMask = 0x3FF, kChanMask = 0x3FF, kDayMask = 0x3FFF, kEventMask = 0x1FFFF;

uint32_t digits(std::string_view s) {
    uint32_t v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

QString twoDigits(uint32_t v) { return QString::number(v).rightJustified(2, u'0'); }

}  // namespace

EventTreeModel::EventTreeModel(EventList& list, QObject* parent)
    : QAbstractItemModel(parent), list_(list) {}

QIcon EventTreeModel::markIcon(int mark) {
    static const std::array<QIcon, 5> icons = [] {
        std::array<QIcon, 5> out;
        for (int m = 0; m < 5; ++m) {
            QPixmap pm(16, 16);
            pm.fill(Qt::transparent);
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            const QRectF box(2.5, 2.5, 11, 11);
            switch (m) {
                case kMarkNone:  // an empty box
                    p.setPen(QPen(QColor(110, 110, 110), 1));
                    p.setBrush(Qt::white);
                    p.drawRect(box);
                    break;
                case kMarkSelected:  // a tick in a box
                    p.setPen(QPen(QColor(40, 40, 40), 1));
                    p.setBrush(Qt::white);
                    p.drawRect(box);
                    p.setPen(QPen(QColor(0, 110, 0), 2));
                    p.drawPolyline(QPolygonF{{4.5, 8.0}, {7.0, 11.0}, {11.5, 4.5}});
                    break;
                case kMarkQueued:  // a clock: waiting for its turn
                    p.setPen(QPen(QColor(20, 60, 160), 1.2));
                    p.setBrush(QColor(210, 225, 255));
                    p.drawEllipse(box);
                    p.drawLine(QPointF(8, 8), QPointF(8, 4.5));
                    p.drawLine(QPointF(8, 8), QPointF(10.5, 9.5));
                    break;
                case kMarkDownloaded:  // a downward arrow on a green disc
                    p.setPen(Qt::NoPen);
                    p.setBrush(QColor(30, 150, 60));
                    p.drawEllipse(box);
                    p.setPen(QPen(Qt::white, 1.6));
                    p.drawLine(QPointF(8, 4.5), QPointF(8, 11));
                    p.drawPolyline(QPolygonF{{5.2, 8.5}, {8, 11.2}, {10.8, 8.5}});
                    break;
                default:  // 4: a grey diamond
                    p.setPen(QPen(QColor(90, 90, 90), 1));
                    p.setBrush(QColor(190, 190, 190));
                    p.drawPolygon(QPolygonF{{8, 2.5}, {13.5, 8}, {8, 13.5}, {2.5, 8}});
                    break;
            }
            p.end();
            out[static_cast<size_t>(m)] = QIcon(pm);
        }
        return out;
    }();
    return icons[static_cast<size_t>(std::clamp(mark, 0, 4))];
}

uint64_t EventTreeModel::pack(Level level, int r, int c, int d, int e) {
    return (uint64_t{static_cast<uint8_t>(level)} << kLevelShift) |
           ((static_cast<uint64_t>(std::max(r, 0)) & kRecMask) << kRecShift) |
           ((static_cast<uint64_t>(std::max(c, 0)) & kChanMask) << kChanShift) |
           ((static_cast<uint64_t>(std::max(d, 0)) & kDayMask) << kDayShift) |
           (static_cast<uint64_t>(std::max(e, 0)) & kEventMask);
}

EventTreeModel::Level EventTreeModel::levelOf(uint64_t id) {
    return static_cast<Level>(id >> kLevelShift);
}

EventRef EventTreeModel::refOf(uint64_t id) {
    if (id == kRootId) return {};
    const auto lv = levelOf(id);
    EventRef r;
    r.recorder = static_cast<int>((id >> kRecShift) & kRecMask);
    if (lv >= Level::Channel) r.channel = static_cast<int>((id >> kChanShift) & kChanMask);
    if (lv >= Level::Day) r.day = static_cast<int>((id >> kDayShift) & kDayMask);
    if (lv >= Level::Event) r.event = static_cast<int>(id & kEventMask);
    return r;
}

uint64_t EventTreeModel::childId(uint64_t parentId, int position) {
    if (parentId == kRootId) return pack(Level::Recorder, position, 0, 0, 0);
    auto r = refOf(parentId);
    switch (levelOf(parentId)) {
        case Level::Recorder: return pack(Level::Channel, r.recorder, position, 0, 0);
        case Level::Channel: return pack(Level::Day, r.recorder, r.channel, position, 0);
        default: return pack(Level::Event, r.recorder, r.channel, r.day, position);
    }
}

EventTreeModel::Level EventTreeModel::level(const QModelIndex& index) const {
    return index.isValid() ? levelOf(index.internalId()) : Level::Recorder;
}

EventRef EventTreeModel::ref(const QModelIndex& index) const {
    return index.isValid() ? refOf(index.internalId()) : EventRef{};
}

uint64_t EventTreeModel::idOf(const QModelIndex& index) const {
    return index.isValid() ? index.internalId() : kRootId;
}

const EventTreeModel::Node* EventTreeModel::opened(uint64_t id) const {
    auto it = nodes_.find(id);
    return it == nodes_.end() ? nullptr : &it->second;
}

EventTreeModel::Node EventTreeModel::read(uint64_t id) const {
    Node n;
    if (id == kRootId) {
        for (auto& row : list_.recorders()) {
            n.positions.push_back(row.position);
            n.texts.push_back(QString::fromStdString(row.text));
        }
        return n;
    }
    const auto r = refOf(id);
    switch (levelOf(id)) {
        case Level::Recorder:
            for (auto& ch : list_.channels(r.recorder)) {
                n.positions.push_back(ch.position);
                n.texts.push_back(QString::fromStdString(ch.name));
                n.marks.push_back(static_cast<int8_t>(ch.mark));
            }
            break;
        case Level::Channel: {
            auto days = list_.days(r.recorder, r.channel);
            n.positions.reserve(days.size());
            n.values.reserve(days.size());
            for (auto& d : days) {
                n.positions.push_back(d.position);
                n.values.push_back(digits(d.date) | (d.loaded ? kLoadedBit : 0));
            }
            break;
        }
        case Level::Day: {
            auto events = list_.events(r.recorder, r.channel, r.day);
            n.positions.reserve(events.size());
            n.values.reserve(events.size());
            n.sizes.reserve(events.size());
            n.marks.reserve(events.size());
            for (auto& e : events) {
                n.positions.push_back(e.position);
                n.values.push_back(digits(e.time));
                n.sizes.push_back(e.size);
                n.marks.push_back(static_cast<int8_t>(e.mark));
            }
            break;
        }
        case Level::Event: break;
    }
    return n;
}

QModelIndex EventTreeModel::indexOfId(uint64_t id, int column) const {
    if (id == kRootId) return {};
    const auto r = refOf(id);
    uint64_t parentId = kRootId;
    int position = r.recorder;
    switch (levelOf(id)) {
        case Level::Recorder: break;
        case Level::Channel:
            parentId = pack(Level::Recorder, r.recorder, 0, 0, 0);
            position = r.channel;
            break;
        case Level::Day:
            parentId = pack(Level::Channel, r.recorder, r.channel, 0, 0);
            position = r.day;
            break;
        case Level::Event:
            parentId = pack(Level::Day, r.recorder, r.channel, r.day, 0);
            position = r.event;
            break;
    }
    auto* node = opened(parentId);
    if (!node) return {};
    auto it = std::lower_bound(node->positions.begin(), node->positions.end(), position);
    if (it == node->positions.end() || *it != position) return {};
    return createIndex(static_cast<int>(it - node->positions.begin()), column, id);
}

QModelIndex EventTreeModel::recorderIndex(int recorder) const {
    if (recorder < 0 || recorder >= kMaxRecorders) return {};
    return indexOfId(pack(Level::Recorder, recorder, 0, 0, 0));
}

QModelIndex EventTreeModel::indexOf(const EventRef& ref, Level lv) const {
    return indexOfId(pack(lv, ref.recorder, ref.channel, ref.day, ref.event));
}

QModelIndex EventTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= ColumnCount) return {};
    const uint64_t pid = idOf(parent);
    if (pid != kRootId && levelOf(pid) == Level::Event) return {};
    auto* node = opened(pid);
    if (!node || row >= static_cast<int>(node->positions.size())) return {};
    return createIndex(row, column, childId(pid, node->positions[static_cast<size_t>(row)]));
}

QModelIndex EventTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return {};
    const uint64_t id = child.internalId();
    const auto r = refOf(id);
    switch (levelOf(id)) {
        case Level::Recorder: return {};
        case Level::Channel: return indexOfId(pack(Level::Recorder, r.recorder, 0, 0, 0));
        case Level::Day: return indexOfId(pack(Level::Channel, r.recorder, r.channel, 0, 0));
        case Level::Event:
            return indexOfId(pack(Level::Day, r.recorder, r.channel, r.day, 0));
    }
    return {};
}

int EventTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return 0;
    auto* node = opened(idOf(parent));
    return node ? static_cast<int>(node->positions.size()) : 0;
}

int EventTreeModel::columnCount(const QModelIndex&) const { return ColumnCount; }

bool EventTreeModel::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid()) return true;
    if (parent.column() != 0 || level(parent) == Level::Event) return false;
    auto* node = opened(parent.internalId());
    // A node not read yet may have rows; a day not loaded is asked for when opened.
    return !node || !node->positions.empty();
}

bool EventTreeModel::canFetchMore(const QModelIndex& parent) const {
    if (parent.isValid() && (parent.column() != 0 || level(parent) == Level::Event)) return false;
    return opened(idOf(parent)) == nullptr;
}

void EventTreeModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent)) return;
    const uint64_t id = idOf(parent);
    Node node = read(id);
    bool askDay = false;
    if (id != kRootId && levelOf(id) == Level::Day) {
        // Whether the day is loaded is what its channel's row says.
        const auto r = refOf(id);
        auto* days = opened(pack(Level::Channel, r.recorder, r.channel, 0, 0));
        const int row = parent.row();
        askDay = node.positions.empty() && days && row < static_cast<int>(days->values.size()) &&
                 !(days->values[static_cast<size_t>(row)] & kLoadedBit);
    }
    const int n = static_cast<int>(node.positions.size());
    if (n > 0) beginInsertRows(parent, 0, n - 1);
    nodes_[id] = std::move(node);
    if (n > 0) endInsertRows();
    if (askDay) {
        const auto r = refOf(id);
        Q_EMIT dayWanted(r.recorder, r.channel, r.day);
    }
}

QVariant EventTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const uint64_t id = index.internalId();
    const auto lv = levelOf(id);
    if (role == LevelRole) return static_cast<int>(lv);
    const uint64_t pid = lv == Level::Recorder ? kRootId : idOf(parent(index));
    auto* node = opened(pid);
    const auto row = static_cast<size_t>(index.row());
    if (!node || row >= node->positions.size()) return {};
    const auto r = refOf(id);
    const bool hasMark = lv == Level::Channel || lv == Level::Event;
    const int mark = hasMark && row < node->marks.size() ? node->marks[row] : 0;

    if (role == MarkRole) return hasMark ? QVariant(mark) : QVariant();
    if (role == KeyRole) {
        if (lv == Level::Channel)
            return QString::fromStdString(channelKey(channelId(r.recorder, r.channel)));
        if (lv == Level::Event)
            return QString::fromStdString(
                eventKey(daySerial(r.recorder, r.channel, r.day), r.event));
        return {};
    }
    if (role == Qt::DecorationRole && index.column() == NameColumn && lv == Level::Event)
        return markIcon(mark);
    if (role == Qt::TextAlignmentRole && index.column() == SizeColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};

    if (index.column() == SizeColumn)
        return lv == Level::Event ? QVariant(QLocale().toString(node->sizes[row])) : QVariant();
    switch (lv) {
        case Level::Recorder:
        case Level::Channel: return node->texts[row];
        case Level::Day: {
            const uint32_t v = node->values[row] & ~kLoadedBit;
            return QDate(static_cast<int>(v / 10000), static_cast<int>(v / 100 % 100),
                         static_cast<int>(v % 100))
                .toString(QLocale().dateFormat(QLocale::ShortFormat));
        }
        case Level::Event: {
            const uint32_t t = node->values[row];
            // "%s:%s:%s" of hours, minutes and seconds, as the row always shows it.
            return twoDigits(t / 10000) + u':' + twoDigits(t / 100 % 100) + u':' +
                   twoDigits(t % 100);
        }
    }
    return {};
}

QVariant EventTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == NameColumn ? tr("Recording") : tr("Size");
}

Qt::ItemFlags EventTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    auto f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (level(index) == Level::Event) f |= Qt::ItemNeverHasChildren;
    return f;
}

void EventTreeModel::dropBelow(uint64_t id) {
    const auto lv = levelOf(id);
    const auto r = refOf(id);
    for (auto it = nodes_.begin(); it != nodes_.end();) {
        const uint64_t k = it->first;
        bool below = false;
        if (k != kRootId && levelOf(k) > lv) {
            const auto kr = refOf(k);
            below = kr.recorder == r.recorder &&
                    (lv < Level::Channel || kr.channel == r.channel) &&
                    (lv < Level::Day || kr.day == r.day);
        }
        it = below ? nodes_.erase(it) : std::next(it);
    }
}

void EventTreeModel::refreshNode(uint64_t id) {
    auto it = nodes_.find(id);
    if (it == nodes_.end()) return;
    // The parent's index must be taken before rows change under it.
    const QModelIndex parentIndex = indexOfId(id);
    if (id != kRootId && !parentIndex.isValid()) {  // its row is gone: forget it
        nodes_.erase(it);
        return;
    }
    Node fresh = read(id);
    Node& old = it->second;

    // Rows whose entry became a free slot leave, from the last one up.
    for (int row = static_cast<int>(old.positions.size()) - 1; row >= 0; --row) {
        const int pos = old.positions[static_cast<size_t>(row)];
        if (std::binary_search(fresh.positions.begin(), fresh.positions.end(), pos)) continue;
        beginRemoveRows(parentIndex, row, row);
        const auto at = static_cast<std::ptrdiff_t>(row);
        old.positions.erase(old.positions.begin() + at);
        if (!old.values.empty()) old.values.erase(old.values.begin() + at);
        if (!old.sizes.empty()) old.sizes.erase(old.sizes.begin() + at);
        if (!old.marks.empty()) old.marks.erase(old.marks.begin() + at);
        if (!old.texts.empty()) old.texts.erase(old.texts.begin() + at);
        endRemoveRows();
        dropBelow(childId(id, pos));
    }
    // What is left is a prefix of the fresh rows unless an entry came back in a free slot in
    // the middle; then the node is read anew.
    const bool prefix =
        old.positions.size() <= fresh.positions.size() &&
        std::equal(old.positions.begin(), old.positions.end(), fresh.positions.begin());
    if (!prefix) {
        if (!old.positions.empty()) {
            beginRemoveRows(parentIndex, 0, static_cast<int>(old.positions.size()) - 1);
            for (int pos : old.positions) dropBelow(childId(id, pos));
            old = Node{};
            endRemoveRows();
        }
    }
    const int had = static_cast<int>(old.positions.size());
    const int now = static_cast<int>(fresh.positions.size());
    if (now > had) {
        beginInsertRows(parentIndex, had, now - 1);
        old = std::move(fresh);
        endInsertRows();
        if (had > 0)
            Q_EMIT dataChanged(index(0, 0, parentIndex), index(had - 1, ColumnCount - 1, parentIndex));
    } else {
        old = std::move(fresh);
        if (now > 0)
            Q_EMIT dataChanged(index(0, 0, parentIndex), index(now - 1, ColumnCount - 1, parentIndex));
    }
}

void EventTreeModel::refresh() {
    // Parents first, so that a child's index is known when its own rows change.
    std::vector<uint64_t> ids;
    ids.reserve(nodes_.size());
    for (auto& [id, node] : nodes_) ids.push_back(id);
    std::sort(ids.begin(), ids.end(), [](uint64_t a, uint64_t b) {
        const int la = a == kRootId ? -1 : static_cast<int>(levelOf(a));
        const int lb = b == kRootId ? -1 : static_cast<int>(levelOf(b));
        return la != lb ? la < lb : a < b;
    });
    for (uint64_t id : ids) refreshNode(id);
}

void EventTreeModel::recordersChanged() {
    beginResetModel();
    nodes_.clear();
    endResetModel();
}

void EventTreeModel::markChanged(const std::string& key, int mark) {
    auto parsed = parseKey(key);
    if (!parsed || mark < 0 || mark > kMarkHighest) return;
    const uint64_t id =
        parsed->channel
            ? pack(Level::Channel, parsed->recorder, parsed->channelPos, 0, 0)
            : pack(Level::Event, parsed->recorder, parsed->channelPos, parsed->day, parsed->event);
    const QModelIndex at = indexOfId(id);
    if (!at.isValid()) return;  // not opened: read when it is
    auto* node = const_cast<Node*>(opened(idOf(parent(at))));
    if (!node || static_cast<size_t>(at.row()) >= node->marks.size()) return;
    node->marks[static_cast<size_t>(at.row())] = static_cast<int8_t>(mark);
    Q_EMIT dataChanged(at, at.siblingAtColumn(ColumnCount - 1));
}

size_t EventTreeModel::memoryUsed() const {
    size_t bytes = nodes_.bucket_count() * sizeof(void*);
    for (auto& [id, n] : nodes_) {
        bytes += sizeof(id) + sizeof(Node) + 2 * sizeof(void*);
        bytes += n.positions.capacity() * sizeof(int32_t) + n.values.capacity() * sizeof(uint32_t) +
                 n.sizes.capacity() * sizeof(uint32_t) + n.marks.capacity();
        for (auto& t : n.texts) bytes += sizeof(QString) + static_cast<size_t>(t.capacity()) * 2;
    }
    return bytes;
}

}  // namespace fsv::ui
