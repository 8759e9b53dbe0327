#pragma once
// The rows of the download list, kept apart from the window: the download machinery adds,
// updates and removes rows from any thread; the window draws from a snapshot on the UI thread.
// A removed row frees its slot; the next row takes the first free slot, and trailing free
// slots are dropped. Each row keeps its 14-digit event key (YYYYMMDDHHMMSS) as given, so a row
// is tied back to its work item by that key and never by the date text shown in the window.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "recordings/download/Work.h"

namespace fsv::ui {

struct DownloadRow {
    bool used = false;
    bool running = false;  // with a progress source when `source` >= 0
    uint8_t workType = 0;  // the stream mode: 11 counts bytes, the others frames
    int source = -1;       // the work list's row of the running transfer
    std::string serverName, serverAddress, deviceName, eventKey, savePath;
};

class DownloadRows {
  public:
    enum class Notice { Added, Removed, Refreshed };
    // Told after every change (slot), on the thread that made it, without the rows' lock held;
    // it must not wait for another thread.
    using Listener = std::function<void(Notice, int)>;
    // Update events.
    static constexpr int kRunning = 1, kRemove = 3;

    explicit DownloadRows(const download::WorkList* progress = nullptr) : progress_(progress) {}

    int addRow(const std::string& serverName, const std::string& serverAddress,
               const std::string& deviceName, const std::string& eventKey,
               const std::string& savePath, uint8_t workType);
    // Event 1: running with `source`; 3: the row leaves; others: no source, redrawn.
    void update(int slot, int event, int source = -1);
    void setSavePath(int slot, const std::string& path);
    // While the program shuts down, the calls above do nothing.
    void setShuttingDown(bool on);
    void setListener(Listener listener);

    std::vector<DownloadRow> rows() const;  // slots, free ones included
    std::optional<DownloadRow> row(int slot) const;
    // "%d%%" of a slot: done ÷ total of its progress source, truncated; a running row without a
    // source is 100%, one not running 0%, a total of 0 is 0%.
    std::string ratio(int slot) const;
    static std::string ratioOf(const DownloadRow& row, const download::WorkList* progress);

  private:
    void tell(Notice n, int slot);
    mutable std::mutex mutex_;  // the rows
    std::mutex listenerMutex_;  // the listener and its calls; never taken inside mutex_
    std::vector<DownloadRow> rows_;
    const download::WorkList* progress_;
    bool shuttingDown_ = false;
    Listener listener_;
};

// The work name of a row: the event key's date and time in the user's locale default format
// (QLocale short format); a key shorter than 14 characters gives an empty name.
std::string workNameOf(const std::string& eventKey);

}  // namespace fsv::ui
