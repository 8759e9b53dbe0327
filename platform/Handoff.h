#pragma once
// One buffer of bytes between a producing thread and a consuming thread.
//
//   producer:  if (!h.put(bytes, {&stop})) ...;   // returns once the bytes are the consumer's
//   consumer:  for (;;) {
//                  if (h.take(buffer)) { use(buffer); continue; }
//                  waitAny({&h.ready(), &stop, ...});
//              }
//
// put() copies the bytes into the buffer when it is free and returns at once. While the
// consumer still works on the previous bytes (or has not picked them up), the producer waits
// with its bytes in hand, and the consumer copies them itself the moment it asks for more: a
// busy consumer goes straight on, without a round of wake-ups through the producer. Either
// way, the producer's bytes must stay valid until put() returns, and no more than one lot of
// bytes ever waits for the consumer.

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <span>
#include <vector>

#include "platform/Event.h"

namespace fsv::platform {

class Handoff {
  public:
    // False when one of `stops` fired before the consumer had the bytes.
    bool put(std::span<const uint8_t> bytes, std::initializer_list<Event*> stops);

    // The waiting bytes into `out` (its old contents are dropped), true; false when nothing
    // waits. Asking again says the consumer is done with what it took before.
    bool take(std::vector<uint8_t>& out);

    // Nothing waits and the consumer has asked for more since it last took bytes. Only the
    // producer's own next put() can change that.
    bool idle();

    // Set (auto reset) when bytes went into a free buffer: the consumer may have to wake up.
    Event& ready() { return ready_; }

  private:
    std::mutex mutex_;
    std::vector<uint8_t> buffer_;
    bool full_ = false;                 // buffer_ holds bytes not yet taken
    bool busy_ = false;                 // the consumer works on bytes it took
    std::span<const uint8_t> offered_;  // a waiting producer's own bytes
    bool offering_ = false;
    Event ready_{Event::Reset::Auto};
    Event taken_{Event::Reset::Auto};
};

}  // namespace fsv::platform
