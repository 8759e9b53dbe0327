#pragma once
// What one logged-in recorder holds, as the recordings layer keeps it: the recorder's entry in
// the event list (its position is the session's connection number), the channel position of
// each camera and audio channel code, the marks remembered across a refresh, and the date
// query (message 5) with the handling of its reply (message 6).
//
// The catalog reaches its session only through RecorderLink, so it runs on any transport and
// in tests without one.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "net/Messages.h"
#include "net/ServerSession.h"
#include "platform/Event.h"
#include "recordings/EventList.h"
#include "recordings/PendingMarks.h"

namespace fsv {

// The session services the catalog needs.
class RecorderLink {
  public:
    virtual ~RecorderLink() = default;
    virtual uint16_t version() const = 0;
    // Sends one whole application message; false when it could not be sent.
    virtual bool send(std::span<const uint8_t> message, platform::Event* cancel) = 0;
    virtual platform::Event& stopEvent() = 0;
    virtual void setGettingInformation(bool on) = 0;
    // Sets the session's reply-OK event; false when the session has none.
    virtual bool setReplyOk() = 0;
    // Who the recorder is, for its event-list entry.
    virtual RecorderInfo recorderInfo() const = 0;
};

// The period selection dialog's side of a date query: it is waiting (busy) for the reply event.
// One per program, shared by every catalog.
struct DateQueryWaiter {
    std::atomic<bool> busy{false};
    platform::Event reply{platform::Event::Reset::Auto};
};

class RecorderCatalog {
  public:
    struct Channel {
        uint16_t code;
        std::string name;
        int position;  // in the recorder's channel array of the event list
    };

    RecorderCatalog(EventList& list, RecorderLink& link, DateQueryWaiter* waiter = nullptr);
    ~RecorderCatalog();
    RecorderCatalog(const RecorderCatalog&) = delete;
    RecorderCatalog& operator=(const RecorderCatalog&) = delete;

    EventList& list() { return list_; }
    PendingMarks& pending() { return pending_; }
    // The recorder's position in the event list; -1 until it has an entry.
    int connectionNumber() const { return number_.load(); }
    std::vector<Channel> cameras() const;
    std::vector<Channel> audioChannels() const;
    // Channel position of a code; -1 when the recorder did not name it.
    int channelOfCode(net::ChannelKind kind, uint16_t code) const;
    // Code of a channel position; 0 when it is not one of this recorder's.
    uint16_t codeOfChannel(net::ChannelKind kind, int channel) const;

    // Told when the connection number changes (old, new): the connection list shows it.
    std::function<void(int, int)> onConnectionNumber;

    // --- server information
    // What the recorder has (after message 4, or 14 and 15): the recorder gets its entry (with
    // `refresh` a new one in place of the old), then its channels and days. The session itself
    // clears its getting-information flag and sets its reply-OK event afterwards.
    void handleServerInfo(const net::ServerInfo& info, bool refresh);
    // The recorder's entry leaves the event list (the session ends).
    void removeEntry();

    // --- date query
    // Asks for the events of one day. Outside the period dialog it marks the session as getting
    // information. Returns the session's stop event, or null when nothing could be sent.
    platform::Event* sendDateQuery(int channel, net::ChannelKind kind, const std::string& date,
                                   uint32_t dateId);
    // The user opens a day in the event list window: it becomes the shown day. A day whose
    // events are loaded needs nothing more (false); otherwise the window enters its waiting
    // state and the day is asked for (true when the query went out).
    bool openDay(int channel, int day);
    // A message 6 from the recorder (dispatcher thread). Returns false when it was dropped.
    bool handleDateReply(std::span<const uint8_t> message);

    // Every loaded day whose events carry marks 2 or more goes to the pending list; the days to
    // ask again after the refresh are returned.
    std::vector<RememberedDay> rememberMarks();

  private:
    int ensureEntry(bool rebuild);
    int addChannel(net::ChannelKind kind, uint16_t code, const std::string& name);
    void addDays(int channel, const std::vector<net::ServerInfoDay>& days);

    EventList& list_;
    RecorderLink& link_;
    DateQueryWaiter* waiter_;
    PendingMarks pending_;
    std::atomic<int> number_{-1};
    mutable std::mutex channelsMutex_;  // never held together with the event-list lock
    std::vector<Channel> cameras_, audio_;
    // Position of each code in cameras_ / audio_: a recorder may list tens of thousands.
    std::map<uint16_t, size_t> cameraIndex_, audioIndex_;
};

}  // namespace fsv
