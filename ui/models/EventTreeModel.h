#pragma once
// The event list as a Qt item model: recorders, their channels, each channel's days, each day's
// events. Nothing is copied until the view opens a node: a node's rows are read from the event
// list the first time the view asks for them (canFetchMore/fetchMore), so a recorder with a
// million events opens at once and the model holds only what has been opened.
//
// A node's identity is packed into the index's internal id (level and positions), so parent()
// needs no stored tree. Free slots ("RC_EMPTY" recorders, "_EMPTY" days and events) are left
// out: each opened node keeps the positions of its shown rows.
//
// Used on the UI thread only. The event list tells what changed through its listener on other
// threads; whoever owns the listener calls refresh() and markChanged() on this thread.

#include <QAbstractItemModel>
#include <QIcon>
#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "recordings/EventList.h"

namespace fsv::ui {

class EventTreeModel : public QAbstractItemModel {
    Q_OBJECT
  public:
    enum class Level : uint8_t { Recorder = 0, Channel = 1, Day = 2, Event = 3 };
    enum Column { NameColumn = 0, SizeColumn = 1, ColumnCount = 2 };
    enum Roles {
        MarkRole = Qt::UserRole + 1,  // int 0…4 for channels and events
        LevelRole,                    // Level as int
        KeyRole,                      // the row key ("1…" channel, "0…" event)
    };

    explicit EventTreeModel(EventList& list, QObject* parent = nullptr);

    // The state icon of a mark (0…4), drawn once.
    static QIcon markIcon(int mark);

    Level level(const QModelIndex& index) const;
    EventRef ref(const QModelIndex& index) const;  // positions; -1 below the index's level
    // The index of a recorder position (invalid when it is a free slot or out of range).
    QModelIndex recorderIndex(int recorder) const;
    // The index of a node by positions, only when every node above it is opened.
    QModelIndex indexOf(const EventRef& ref, Level level) const;

    // Reads every opened node again: rows appended to the event list are inserted, marks and
    // sizes are redrawn; a node that lost rows is read anew.
    void refresh();
    // One row's mark changed (its key as the event list gives it).
    void markChanged(const std::string& key, int mark);
    // Recorders came or went (an entry may be reused in place): everything is read anew.
    void recordersChanged();

    // Memory held for opened nodes, in bytes (an estimate of the containers' capacity).
    size_t memoryUsed() const;

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  Q_SIGNALS:
    // A day was opened whose events are not loaded: ask the recorder for them.
    void dayWanted(int recorder, int channel, int day);

  private:
    // The rows of one opened node: event-list positions and what is shown of each.
    struct Node {
        std::vector<int32_t> positions;
        std::vector<uint32_t> values;  // day: YYYYMMDD (top bit: loaded); event: HHMMSS
        std::vector<uint32_t> sizes;   // event: recording size
        std::vector<int8_t> marks;     // channel and event marks
        std::vector<QString> texts;    // recorder and channel names
    };
    static constexpr uint32_t kLoadedBit = 0x80000000u;

    static uint64_t pack(Level level, int r, int c, int d, int e);
    static Level levelOf(uint64_t id);
    static EventRef refOf(uint64_t id);
    static uint64_t childId(uint64_t parentId, int position);
    static constexpr uint64_t kRootId = ~uint64_t{0};

    Node read(uint64_t id) const;  // the node's rows as the event list has them now
    const Node* opened(uint64_t id) const;
    uint64_t idOf(const QModelIndex& index) const;
    QModelIndex indexOfId(uint64_t id, int column = 0) const;
    void refreshNode(uint64_t id);
    void dropBelow(uint64_t id);  // forgets the opened nodes under a node

    EventList& list_;
    std::unordered_map<uint64_t, Node> nodes_;
};

}  // namespace fsv::ui
