#include "state/AddressBook.h"

#include <algorithm>

#include "platform/AtomicFile.h"
#include "platform/Bytes.h"
#include "platform/System.h"

namespace fsv::state {

AddressBook::AddressBook() : groups_(1) {}

bool AddressBook::empty() const { return groups_.size() == 1 && groups_[0].entries.empty(); }

std::vector<uint8_t> AddressBook::encode() const {
    platform::ByteWriter w;
    w.cstr(kBookMagic).u16(kBookVersion).i32(static_cast<int32_t>(groups_.size()));
    for (const auto& g : groups_) {
        w.cstr(g.name).i32(static_cast<int32_t>(g.entries.size()));
        for (const auto& e : g.entries) {
            w.u16(e.kind).u16(e.port);
            w.cstr(e.name).cstr(e.address).cstr(e.id).cstr(ScramblePassword(e.password));
        }
    }
    return w.take();
}

ReadResult<AddressBook> AddressBook::decode(std::span<const uint8_t> data) {
    ReadResult<AddressBook> r;
    if (data.empty()) {
        r.status = ReadStatus::Missing;
        return r;
    }
    platform::ByteReader in(data);
    std::string magic = in.cstr();
    uint16_t version = in.u16();
    if (!in.ok() || magic != kBookMagic || version > kBookVersion) {
        r.status = ReadStatus::WrongFormat;
        r.message = kUnexpectedFileFormat;
        return r;
    }
    auto damaged = [&](const char* what) {
        r.status = ReadStatus::Damaged;
        if (r.message.empty()) r.message = what;
    };
    constexpr char kCut[] =
        "The address book ends in the middle of a record; only the complete entries were read.";
    int32_t groupCount = in.i32();
    if (!in.ok()) {
        damaged(kCut);
        return r;
    }
    auto& groups = r.value.groups_;
    for (int32_t gi = 0; gi < groupCount; ++gi) {
        std::string name = in.cstr();
        if (!in.ok()) {
            damaged(kCut);
            break;
        }
        size_t target = 0;
        if (!name.empty()) {
            groups.push_back({std::move(name), {}});
            target = groups.size() - 1;
        }
        int32_t entryCount = in.i32();
        for (int32_t ei = 0; in.ok() && ei < entryCount; ++ei) {
            AddressBookEntry e;
            e.kind = in.u16();
            e.port = in.u16();
            e.name = in.cstr();
            e.address = in.cstr();
            e.id = in.cstr();
            std::string scrambled = in.cstr();
            if (!in.ok()) break;
            if (auto plain = UnscramblePassword(scrambled)) {
                e.password = std::move(*plain);
            } else {
                damaged(
                    "A password in the address book is not scrambled text; it was read as "
                    "empty.");
            }
            groups[target].entries.push_back(std::move(e));
        }
        if (!in.ok()) {
            damaged(kCut);
            break;
        }
    }
    return r;
}

bool AddressBook::valid(BookItem item) const {
    if (item.group < 0 || static_cast<size_t>(item.group) >= groups_.size()) return false;
    if (item.isGroup()) return item.group > 0;
    return static_cast<size_t>(item.entry) < groups_[item.group].entries.size();
}

const AddressBookGroup* AddressBook::group(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= groups_.size()) return nullptr;
    return &groups_[index];
}

const AddressBookEntry* AddressBook::entry(BookItem item) const {
    if (!valid(item) || item.isGroup()) return nullptr;
    return &groups_[item.group].entries[item.entry];
}

std::string AddressBook::nameOf(BookItem item) const {
    if (!valid(item)) return {};
    return item.isGroup() ? groups_[item.group].name : groups_[item.group].entries[item.entry].name;
}

int AddressBook::findGroup(std::string_view name) const {
    for (size_t g = 1; g < groups_.size(); ++g)
        if (groups_[g].name == name) return static_cast<int>(g);
    return -1;
}

int AddressBook::findEntry(int group, std::string_view name) const {
    auto* g = this->group(group);
    if (!g) return -1;
    for (size_t e = 0; e < g->entries.size(); ++e)
        if (g->entries[e].name == name) return static_cast<int>(e);
    return -1;
}

bool AddressBook::groupNameTaken(std::string_view name, int exceptGroup) const {
    for (size_t g = 1; g < groups_.size(); ++g)
        if (static_cast<int>(g) != exceptGroup && groups_[g].name == name) return true;
    return false;
}

bool AddressBook::entryNameTaken(int group, std::string_view name, int exceptEntry) const {
    auto* g = this->group(group);
    if (!g) return false;
    for (size_t e = 0; e < g->entries.size(); ++e)
        if (static_cast<int>(e) != exceptEntry && g->entries[e].name == name) return true;
    // The root group's entries share their level with the named groups.
    return group == 0 && groupNameTaken(name);
}

namespace {
template <class Taken>
std::string uniqueName(const char* base, Taken taken) {
    if (!taken(base)) return base;
    for (int i = 1;; ++i) {
        std::string name = format("%s %d", base, i);
        if (!taken(name)) return name;
    }
}
}  // namespace

std::string AddressBook::uniqueGroupName() const {
    return uniqueName(kNewGroupName, [&](const std::string& n) { return groupNameTaken(n); });
}

std::string AddressBook::uniqueEntryName(int group) const {
    return uniqueName(kNewServerName,
                      [&](const std::string& n) { return entryNameTaken(group, n); });
}

BookItem AddressBook::newGroup() {
    int g = addGroup(uniqueGroupName());
    return {g, -1};
}

int AddressBook::addGroup(std::string name) {
    groups_.push_back({std::move(name), {}});
    return static_cast<int>(groups_.size() - 1);
}

BookItem AddressBook::newServer(std::optional<BookItem> selected) {
    int g = 0;
    if (selected && valid(*selected)) g = selected->group;
    AddressBookEntry e;
    e.name = uniqueEntryName(g);
    return addEntry(g, std::move(e));
}

BookItem AddressBook::addEntry(int group, AddressBookEntry entry) {
    auto& entries = groups_.at(group).entries;
    entries.push_back(std::move(entry));
    return {group, static_cast<int>(entries.size() - 1)};
}

LabelEditResult AddressBook::editLabel(BookItem item, const std::string& newName, bool cancelled) {
    if (cancelled || !valid(item)) return {};
    std::string& current =
        item.isGroup() ? groups_[item.group].name : groups_[item.group].entries[item.entry].name;
    if (newName.empty()) {
        if (!current.empty()) return {LabelEdit::Refused, kEnterName};
        remove(item);
        return {LabelEdit::Removed, {}};
    }
    bool taken = item.isGroup() ? groupNameTaken(newName, item.group)
                                : entryNameTaken(item.group, newName, item.entry);
    if (taken) return {LabelEdit::Refused, kNameExists};
    if (newName == current) return {};
    current = newName;
    return {LabelEdit::Accepted, {}};
}

CommitResult AddressBook::commit(BookItem item, const BookDetails& d) {
    CommitResult r;
    if (!valid(item)) return r;
    auto fail = [&](const char* message) {
        r.ok = false;
        r.message = message;
        return r;
    };
    if (d.name.empty()) return fail(kEnterName);
    std::string& name =
        item.isGroup() ? groups_[item.group].name : groups_[item.group].entries[item.entry].name;
    if (d.name != name) {
        name = d.name;
        r.changed = true;
    }
    if (item.isGroup()) return r;

    auto& e = groups_[item.group].entries[item.entry];
    // An empty address over an empty stored one passes: a new entry may be committed before
    // its address was typed.
    if (d.address.empty() && !e.address.empty()) return fail(kEnterAddress);
    auto store = [&](std::string& field, const std::string& value) {
        if (field != value) {
            field = value;
            r.changed = true;
        }
    };
    store(e.address, d.address);
    store(e.id, d.id);
    store(e.password, d.password);
    auto port = parsePortField(d.port);
    if (!port) return fail(kPortRangeMessage);
    if (*port != e.port) {
        e.port = *port;
        r.changed = true;
    }
    return r;
}

void AddressBook::remove(BookItem item) {
    if (!valid(item)) return;
    if (item.isGroup())
        groups_.erase(groups_.begin() + item.group);
    else
        groups_[item.group].entries.erase(groups_[item.group].entries.begin() + item.entry);
}

std::vector<ConnectRequest> AddressBook::connectRequests(BookItem item) const {
    std::vector<ConnectRequest> out;
    if (!valid(item)) return out;
    if (!item.isGroup()) {
        out.push_back(toConnectRequest(groups_[item.group].entries[item.entry]));
        return out;
    }
    for (const auto& e : groups_[item.group].entries) out.push_back(toConnectRequest(e));
    return out;
}

ConnectRequest toConnectRequest(const AddressBookEntry& entry) {
    ConnectRequest r;
    r.kind = 1;
    r.port = entry.port;
    r.address = entry.address;
    r.id = entry.id;
    r.password = entry.password;
    return r;
}

std::filesystem::path addressBookPath() { return platform::dataFolder() / "AddressBook.dat"; }

std::filesystem::path addressBookBackupPath(const std::filesystem::path& book) {
    std::filesystem::path bak = book;
    if (bak.extension() == ".dat")
        bak.replace_extension(".bak");
    else
        bak += ".bak";
    return bak;
}

ReadResult<AddressBook> loadAddressBook(const std::filesystem::path& file) {
    bool missing = false;
    std::string error;
    auto bytes = readWholeFile(file, &missing, &error);
    if (!bytes) {
        ReadResult<AddressBook> r;
        r.status = missing ? ReadStatus::Missing : ReadStatus::Unreadable;
        if (!missing) r.message = error;
        return r;
    }
    return AddressBook::decode(*bytes);
}

bool saveAddressBook(const std::filesystem::path& file, const AddressBook& book,
                     std::string* error) {
    // Texts end at their zero byte in the file: one inside a text would shift every field
    // after it.
    auto hasNul = [](const std::string& s) { return s.find('\0') != std::string::npos; };
    for (const auto& g : book.groups()) {
        bool bad = hasNul(g.name);
        for (const auto& e : g.entries)
            bad = bad || hasNul(e.name) || hasNul(e.address) || hasNul(e.id) || hasNul(e.password);
        if (bad) {
            if (error) *error = "A name or field of the address book holds a zero byte.";
            return false;
        }
    }
    // The backup is the state before this write; without an old file there is none to keep.
    if (auto old = readWholeFile(file))
        platform::writeFileAtomically(addressBookBackupPath(file), old->data(), old->size());
    auto bytes = book.encode();
    return platform::writeFileAtomically(file, bytes.data(), bytes.size(), error);
}

std::optional<ConnectRequest> findBookConnection(const AddressBook& book, std::string_view name,
                                                 const std::optional<std::string>& group,
                                                 std::string* error) {
    auto fail = [&](std::string message) -> std::optional<ConnectRequest> {
        if (error) *error = std::move(message);
        return std::nullopt;
    };
    std::string n(name);
    if (group) {
        int g = group->empty() ? 0 : book.findGroup(*group);
        if (g < 0)
            return fail(format("No group named \"%s\" in the address book.", group->c_str()));
        int e = book.findEntry(g, name);
        if (e < 0)
            return fail(
                format("No server named \"%s\" in group \"%s\".", n.c_str(), group->c_str()));
        return toConnectRequest(*book.entry({g, e}));
    }
    std::optional<BookItem> found;
    std::string where;
    int matches = 0;
    for (size_t g = 0; g < book.groups().size(); ++g) {
        int e = book.findEntry(static_cast<int>(g), name);
        if (e < 0) continue;
        ++matches;
        if (!found) found = BookItem{static_cast<int>(g), e};
        where += where.empty() ? "" : ", ";
        where += g == 0 ? std::string("the top level") : "\"" + book.groups()[g].name + "\"";
    }
    if (matches == 0) return fail(format("No server named \"%s\" in the address book.", n.c_str()));
    if (matches > 1)
        return fail(format("The name \"%s\" is in more than one group (%s); name the group.",
                           n.c_str(), where.c_str()));
    return toConnectRequest(*book.entry(*found));
}

std::optional<ConnectRequest> lookupBookConnection(std::string_view name,
                                                   const std::optional<std::string>& group,
                                                   std::string* error) {
    auto loaded = loadAddressBook(addressBookPath());
    if (!loaded.usable()) {
        if (error) *error = loaded.message;
        return std::nullopt;
    }
    return findBookConnection(loaded.value, name, group, error);
}

}  // namespace fsv::state
