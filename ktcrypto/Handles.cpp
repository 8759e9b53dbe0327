#include <mutex>
#include <unordered_map>
#include <variant>

#include "ktcrypto/Internal.h"

namespace fsv::kt {
namespace {

thread_local int32_t tLastError = 0;

using Item = std::variant<std::shared_ptr<Context>, std::shared_ptr<Key>>;

struct Table {
    std::mutex mutex;
    std::unordered_map<uint32_t, Item> items;
    uint32_t next = 1;
};

// Never destroyed: handles still open at exit must not be freed after the crypto library has
// cleaned itself up.
Table& table() {
    static Table* t = new Table;
    return *t;
}

uint32_t add(Item item) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    for (;;) {
        uint32_t h = t.next++;
        if (t.next == 0) t.next = 1;
        if (h != 0 && t.items.find(h) == t.items.end()) {
            t.items.emplace(h, std::move(item));
            return h;
        }
    }
}

template <typename T>
std::shared_ptr<T> find(uint32_t handle) {
    if (handle == 0) return nullptr;
    Table& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.items.find(handle);
    if (it == t.items.end()) return nullptr;
    auto* p = std::get_if<std::shared_ptr<T>>(&it->second);
    return p ? *p : nullptr;
}

template <typename T>
bool remove(uint32_t handle) {
    if (handle == 0) return false;
    Item doomed;  // released outside the lock
    {
        Table& t = table();
        std::lock_guard lock(t.mutex);
        auto it = t.items.find(handle);
        if (it == t.items.end() || !std::holds_alternative<std::shared_ptr<T>>(it->second))
            return false;
        doomed = std::move(it->second);
        t.items.erase(it);
    }
    return true;
}

}  // namespace

void setLastError(int32_t code) { tLastError = code; }
int32_t lastError() { return tLastError; }

uint32_t addContext(std::shared_ptr<Context> context) { return add(std::move(context)); }
uint32_t addKey(std::shared_ptr<Key> key) { return add(std::move(key)); }
std::shared_ptr<Context> findContext(uint32_t handle) { return find<Context>(handle); }
std::shared_ptr<Key> findKey(uint32_t handle) { return find<Key>(handle); }
bool removeContext(uint32_t handle) { return remove<Context>(handle); }
bool removeKey(uint32_t handle) { return remove<Key>(handle); }

}  // namespace fsv::kt
