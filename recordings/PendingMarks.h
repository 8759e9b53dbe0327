#pragma once
// The marks of a recorder's events remembered before the recorder is read again. Rebuilding the
// recorder's entry frees its events; when the days are queried again, each arriving event takes
// its mark back from here. One list per session, guarded by its own lock.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fsv {

class PendingMarks {
  public:
    struct Entry {
        uint8_t kind = 0;   // 0 camera, 1 audio channel
        uint16_t code = 0;  // channel code as the recorder names it
        std::string date;   // YYYYMMDD
        std::string time;   // HHMMSS
        int mark = 0;
        bool operator==(const Entry&) const = default;
    };

    void add(Entry e);
    // Removes the entry for this recording and returns its mark; nullopt when none is waiting.
    std::optional<int> take(uint8_t kind, uint16_t code, const std::string& date,
                            const std::string& time);
    // A recording still waiting here takes `mark` instead of its event; false when none waits.
    bool update(uint8_t kind, uint16_t code, const std::string& date, const std::string& time,
                int mark);
    // Drops the entry for a recording that no longer exists; false when none waits.
    bool remove(uint8_t kind, uint16_t code, const std::string& date, const std::string& time);

    std::vector<Entry> entries() const;
    size_t size() const;
    bool empty() const { return size() == 0; }
    void clear();

  private:
    std::vector<Entry>::iterator find(uint8_t kind, uint16_t code, const std::string& date,
                                      const std::string& time);
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

}  // namespace fsv
