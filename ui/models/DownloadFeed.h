#pragma once
// Feeds the download list and the history from the core's work list: a work item that gets a
// file is announced here before its row is first told (who it belongs to, by output path); its
// work-list row then opens a download-list row when it starts, and leaves it when it ends. A
// row stays tied to its item once seen, also when the file moves to another name (Save As, or
// a folder with room): the download list and the history show where the file really went. A
// finished download is handed to `onFinished` for the history. Safe on any thread.

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "recordings/download/Work.h"
#include "ui/models/DownloadRows.h"

namespace fsv::ui {

struct FinishedDownload {
    std::string serverName, serverAddress, deviceName, eventKey, savePath;
};

class DownloadFeed {
  public:
    explicit DownloadFeed(DownloadRows& rows) : rows_(rows) {}

    void expect(const download::WorkItem& item, const std::string& serverName,
                const std::string& serverAddress);
    // The work list's listener.
    void onWorkRow(const download::WorkRow& row);
    // Called on the thread that finished the download; must not wait for another thread.
    std::function<void(const FinishedDownload&)> onFinished;

  private:
    struct Entry {
        FinishedDownload who;
        uint8_t mode = 11;
        int slot = -1;
        bool done = false;
    };
    std::mutex mutex_;
    DownloadRows& rows_;
    std::map<std::string, Entry> byPath_;
    std::map<int, std::string> pathOfRow_;  // work-list row -> the path it was announced by
};

}  // namespace fsv::ui
