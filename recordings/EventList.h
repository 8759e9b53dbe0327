#pragma once
// The event list: what the connected recorders hold. Four levels, each addressed by position:
// recorders; their channels (cameras and audio channels); per channel the recorded days; per day
// the recordings (events) with start time, size and mark. Entries are appended and never
// re-sorted, so order is the order in which the recorder listed them. One global lock guards the
// whole tree; every operation takes it, and lock() lets a caller hold it across several.
//
// Storage is sized for large installations (millions of events): an event is 8 bytes, its
// position is its index in the day and its key is computed, never stored.

#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recordings/EventKeys.h"
#include "recordings/PendingMarks.h"

namespace fsv {

class UserPort;

// Marks of events and channels; the mark is also the index of the row's state icon.
inline constexpr int kMarkNone = 0;
inline constexpr int kMarkSelected = 1;
inline constexpr int kMarkQueued = 2;  // work was created for it (also from a resume file)
inline constexpr int kMarkDownloaded = 3;
inline constexpr int kMarkHighest = 4;  // accepted, never set here

inline constexpr const char* kFreeRecorderName = "RC_EMPTY";
inline constexpr const char* kFreeSlot = "_EMPTY";  // a free day (date) or event (time)

// Channel numbers: a camera is its code − 1; audio channels are numbered from this base on, so
// that no camera code can be taken for an audio channel.
inline constexpr int32_t kAudioChannelBase = 65536;
inline int32_t cameraNumber(uint16_t code) { return int32_t{code} - 1; }
inline int32_t audioNumber(uint16_t code) { return kAudioChannelBase + code - 1; }
inline bool isAudioNumber(int32_t number) { return number >= kAudioChannelBase; }
inline uint16_t codeOfNumber(int32_t number) {
    return static_cast<uint16_t>(isAudioNumber(number) ? number - kAudioChannelBase + 1
                                                       : number + 1);
}

// The event list window's own messages.
enum class EventListMessage : unsigned {
    Waiting = 1435,       // wParam 0: enter the waiting state; 1: leave it
    EventRemoved = 1436,  // an event of the shown day was removed
};

inline constexpr const char* kGettingInformationText =
    "Getting the information from remote host...";
inline constexpr const char* kDownloadAgainText =
    "This event have download before.\nDownload again?";

struct EventRef {
    int recorder = -1, channel = -1, day = -1, event = -1;
    bool operator==(const EventRef&) const = default;
};

// One event entering or leaving the user's selection, with what the panel needs to count it.
struct SelectionChange {
    bool added = false;
    EventRef ref;
    uint32_t size = 0;
    bool audio = false;  // the channel is an audio channel
};

struct SelectionTotals {
    uint32_t count = 0;
    uint64_t totalSize = 0;
    uint32_t audioCount = 0;
    bool operator==(const SelectionTotals&) const = default;
};

// What the event list tells its window and the panel. Every call is made with the event-list
// lock held: implementations queue work for their own thread and never wait on another.
class EventListListener {
  public:
    virtual ~EventListListener() = default;
    virtual void refresh() {}                  // redraw the shown recorder, channel and day
    virtual void recordersChanged() {}         // the recorder drop-down's entries changed
    virtual void title(const std::string&) {}  // "      " when no recorder is left
    virtual void rowChanged(const std::string& /*key*/, int /*mark*/,
                            const std::string& /*shownTime*/) {}
    virtual void post(EventListMessage, intptr_t /*wParam*/, intptr_t /*lParam*/) {}
    virtual void selectionChanged(const SelectionChange&) {}
    virtual void controlsEnabled(bool) {}
    virtual void status(const std::string& /*text*/) {}  // show the status window with a text
    virtual void refreshRecorder(int /*recorder*/) {}    // the panel reads the recorder again
};

struct RecorderInfo {
    int32_t kind = 1;  // connection kind; 3 keeps a phone number instead of an address
    std::string name, address, phone;
    std::string id, password;  // from the login
};

struct RecorderRow {
    int position;
    std::string text;  // "%s (%s)": name and address
};
struct ChannelRow {
    int position;
    std::string name;
    int32_t number;
    bool audio;  // audio-channel flag
    int mark;
    std::string key;
};
struct DayRow {
    int position;
    std::string date;
    uint32_t dateId;
    bool loaded;
};
struct EventRow {
    int position;
    std::string time;       // HHMMSS
    std::string shownTime;  // HH:MM:SS
    uint32_t size;
    int mark;
    std::string key;
};
struct DayToLoad {
    int day;
    std::string date;
    uint32_t dateId;
    bool operator==(const DayToLoad&) const = default;
};
struct RememberedDay {
    int channel;
    bool audio;
    std::string date;
    uint32_t dateId;
};
struct PeriodResult {
    int selected = 0;              // newly selected events
    bool alreadySelected = false;  // an event in the period had a mark already
};
struct MarkedEntry {
    std::string key;
    int mark;
};

class EventList {
  public:
    explicit EventList(EventListListener* listener = nullptr);
    EventList(const EventList&) = delete;
    EventList& operator=(const EventList&) = delete;

    std::recursive_mutex& lock() const { return mutex_; }
    void setListener(EventListListener* listener);

    // --- recorders
    // Frees the previous entry of this connection (when `previous` >= 0) and puts the recorder
    // in the first free slot, or appends it. Returns its position; -1 when the list is full.
    int rebuildRecorder(int previous, const RecorderInfo& info);
    // Frees the recorder's entry: it becomes a free slot named "RC_EMPTY".
    void removeRecorder(int recorder);
    // First recorder whose name, address, phone number, ID or password is `text`; -1 if none.
    int findRecorder(std::string_view text, int* matches = nullptr) const;
    std::vector<RecorderRow> recorders() const;
    RecorderInfo recorderInfo(int recorder) const;
    int recorderCount() const;  // slots, free ones included

    // --- channels
    // Returns the channel position; an existing channel with that number is reused. -1 for an
    // unknown recorder or a full recorder.
    int addChannel(int recorder, const std::string& name, int32_t number, bool isAudio);
    int findChannel(int recorder, int32_t number) const;
    std::vector<ChannelRow> channels(int recorder) const;
    bool channelIsAudio(int recorder, int channel) const;

    // --- days
    // Returns the day position; -1 for positions out of range or a full channel.
    int addDay(int recorder, int channel, const std::string& date, uint32_t dateId,
               bool refresh = true);
    int findDay(int recorder, int channel, std::string_view date, uint32_t dateId) const;
    std::vector<DayRow> days(int recorder, int channel) const;
    // Days in [start, end] whose events are not loaded yet, in list order.
    std::vector<DayToLoad> daysToLoad(int recorder, int channel, std::string_view start,
                                      std::string_view end) const;

    // --- events
    // `time` is six digits HHMMSS. Returns the event position; -1 when refused.
    int addEvent(int recorder, int channel, int day, std::string_view time, uint32_t size,
                 bool refresh = true);
    int findEvent(int recorder, int channel, int day, std::string_view time) const;
    std::vector<EventRow> events(int recorder, int channel, int day) const;
    uint32_t recordingSize(int recorder, int channel, int day, int event) const;
    int eventMark(int recorder, int channel, int day, int event) const;  // -1 out of range
    size_t eventCount() const;  // every event, free ones included
    // Makes room for `n` more events in a day (a reply announces its count).
    void reserveEvents(int recorder, int channel, int day, size_t n);

    // --- marks
    // `channel` level when `event` < 0 and `day` < 0, else event level. False for a mark
    // outside 0…4 or positions out of range; nothing changes then.
    bool setMark(int mark, int recorder, int channel, int day = -1, int event = -1);
    std::vector<MarkedEntry> marked() const;
    PeriodResult selectInPeriod(int recorder, int channel, std::string_view startDate,
                                std::string_view startTime, std::string_view endDate,
                                std::string_view endTime);
    // The user acts on one event (requested mark 0, 1 or 3). A downloaded event is selected
    // again only when the user says so; `port` asks. Returns the event's mark afterwards.
    int actOnEvent(const EventRef& ref, int requested, UserPort* port);
    // Work was created for the selection: every mark 1 becomes 2.
    void queueSelection();
    // Every marked entry with mark `value` goes back to 0.
    void clearMarks(int value);

    SelectionTotals selection() const;
    SelectionTotals takeSelection();  // hands the selection over and starts a new one

    // --- end-of-stream reports: the event is found by date and time. A recording still
    // waiting in `pending` takes the new state there instead.
    bool reportFinished(int recorder, int channel, std::string_view date, std::string_view time,
                        PendingMarks* pending);
    bool reportStopped(int recorder, int channel, std::string_view date, std::string_view time,
                       PendingMarks* pending);
    bool reportCannotOpen(int recorder, int channel, std::string_view date, std::string_view time,
                          PendingMarks* pending);

    // --- refresh
    // Every event of a loaded day with mark 2 or more goes into `pending`; returns those days.
    std::vector<RememberedDay> rememberMarks(int recorder, PendingMarks& pending) const;
    // The toolbar's refresh of the shown recorder; false when none is shown.
    bool refreshShownRecorder();

    // --- what the window shows
    void setShown(int recorder, int channel = -1, int day = -1);
    EventRef shown() const;
    void setControlsEnabled(bool enabled);
    // Redraws the window when it shows this recorder (and, when given, this channel and day).
    void refreshIfShown(int recorder, int channel = -1, int day = -1);
    void postToWindow(EventListMessage message, intptr_t wParam, intptr_t lParam);
    // The status window: a text shows it, an empty text hides it.
    void showStatus(const std::string& text);

  private:
    struct Event {
        uint32_t timeMark;  // time HHMMSS in the low 24 bits (kFreeTime: free), mark above
        uint32_t size;
    };
    struct Day {
        std::string date;
        uint32_t dateId = 0;
        bool loaded = false;
        std::vector<Event> events;
    };
    struct Channel {
        std::string name;
        int32_t number = 0;
        int32_t mark = 0;
        bool isAudio = false, isVideo = false, hasDays = false;
        std::vector<Day> days;
    };
    struct Recorder {
        RecorderInfo info;
        bool hasVideoDays = false, hasAudioDays = false;
        int32_t position = 0;
        std::vector<Channel> channels;
        bool free() const { return info.name == kFreeRecorderName; }
    };

    static constexpr uint32_t kFreeTime = 0xFFFFFF;
    static uint32_t timeOf(const Event& e) { return e.timeMark & 0xFFFFFF; }
    static int markOf(const Event& e) { return static_cast<int>(e.timeMark >> 24); }
    static void setMarkOf(Event& e, int mark) {
        e.timeMark = (e.timeMark & 0xFFFFFF) | (static_cast<uint32_t>(mark) << 24);
    }
    static bool parseTime(std::string_view time, uint32_t* out);
    static void writeTime(uint32_t t, char out[6]);

    Recorder* recorder(int r);
    const Recorder* recorder(int r) const;
    Channel* channel(int r, int c);
    const Channel* channel(int r, int c) const;
    Day* day(int r, int c, int d);
    const Day* day(int r, int c, int d) const;
    Event* event(int r, int c, int d, int e);
    const Event* event(int r, int c, int d, int e) const;

    static uint64_t markedId(bool channel, int r, int c, int d, int e);
    void trackMark(uint64_t id, int oldMark, int newMark);
    void clearRecorder(Recorder& rec);
    void changeSelection(bool added, const EventRef& ref);
    int findEventByDate(int r, int c, std::string_view date, std::string_view time,
                        int* dayOut) const;
    bool report(int r, int c, std::string_view date, std::string_view time, PendingMarks* pending,
                int newMark);
    void applyMarkEntry(uint64_t id, int mark);

    mutable std::recursive_mutex mutex_;
    EventListListener* listener_;
    EventListListener nobody_;
    std::vector<Recorder> recorders_;
    std::map<uint64_t, int8_t> marked_;  // ordered as their keys order
    SelectionTotals selection_;
    EventRef shown_;
    size_t events_ = 0;
};

}  // namespace fsv
