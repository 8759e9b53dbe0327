#pragma once
// The address book: the recorders a user connects to, sorted into named groups, kept in
// AddressBook.dat in the data folder. This is the book and its rules without a window; the
// dialog shows it as a tree and calls these operations.
//
// Group 0 is always the root group (empty name). Its entries stand at the top level beside
// the named groups. A file may hold the empty-named group anywhere; reading merges it into
// group 0, and writing always puts it first.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Shared.h"
#include "state/StateFiles.h"

namespace fsv::state {

inline constexpr char kBookMagic[] = "KOR_FSV_BOOK";
inline constexpr uint16_t kBookVersion = 517;  // 0x0205; files up to this version are read
inline constexpr size_t kBookFieldLimit = 32;  // characters the dialog's text fields accept

// Messages of the book's rules, shown with the error icon unless noted.
inline constexpr char kEnterName[] = "Please enter a name!";
inline constexpr char kEnterAddress[] = "Please enter the address of server!";
inline constexpr char kNameExists[] = "The name you were assigned already exist!";
inline constexpr char kDeleteServerQuestion[] = "Are you sure want to delete this server?";
inline constexpr char kDeleteGroupQuestion[] =
    "Delete this group and all server belong this group?";
inline constexpr char kNothingSelected[] = "You don't select any connection!";  // information
inline constexpr char kEmptyBookText[] =
    "No data!\n\nPlease click the button - [New Group] or [New Server] to add data.";
inline constexpr char kNewGroupName[] = "New Group";
inline constexpr char kNewServerName[] = "New Server";

struct AddressBookEntry {
    uint16_t kind = 0;  // kept as read and written back unchanged; 0 for new entries
    uint16_t port = kDefaultPort;
    std::string name;
    std::string address;
    std::string id = "Guest";
    std::string password;  // plain in memory; scrambled only in the file

    bool operator==(const AddressBookEntry&) const = default;
};

struct AddressBookGroup {
    std::string name;  // empty only for the root group
    std::vector<AddressBookEntry> entries;

    bool operator==(const AddressBookGroup&) const = default;
};

// One item of the book: a named group (entry < 0, group > 0) or an entry of a group (the root
// group's entries have group 0).
struct BookItem {
    int group = 0;
    int entry = -1;

    bool isGroup() const { return entry < 0; }
    bool operator==(const BookItem&) const = default;
};

// The texts of the details pane when it is committed.
struct BookDetails {
    std::string name;
    std::string address;
    std::string id;
    std::string password;
    std::string port;  // the field's text
};

struct CommitResult {
    bool ok = true;
    bool changed = false;  // something was stored: the book is to be written (also on failure)
    std::string message;   // the error shown when !ok
};

enum class LabelEdit { Accepted, Unchanged, Refused, Removed };
struct LabelEditResult {
    LabelEdit outcome = LabelEdit::Unchanged;
    std::string message;  // for Refused: the error shown before editing again
};

class AddressBook {
  public:
    AddressBook();

    const std::vector<AddressBookGroup>& groups() const { return groups_; }
    const AddressBookGroup& root() const { return groups_[0]; }
    bool empty() const;

    // Bytes of AddressBook.dat: the root group first, passwords scrambled.
    std::vector<uint8_t> encode() const;
    // Reads a book from the bytes of a file. Empty data gives an empty book (Missing). A wrong
    // magic or a version above 517 gives WrongFormat and an empty book. Data that end inside
    // a group or an entry keep every complete entry (Damaged); so does a password that is not
    // scrambled text (the entry is kept with an empty password).
    static ReadResult<AddressBook> decode(std::span<const uint8_t> data);

    // -- lookups
    bool valid(BookItem item) const;
    const AddressBookGroup* group(int index) const;
    const AddressBookEntry* entry(BookItem item) const;
    // The name of a named group or an entry.
    std::string nameOf(BookItem item) const;
    // Index of the named group called `name`, or -1.
    int findGroup(std::string_view name) const;
    // Index of the entry called `name` in `group`, or -1.
    int findEntry(int group, std::string_view name) const;

    // -- names. A group name is unique among the named groups; an entry name among the items
    // of its level (a group's entries; for the root group every root-level item: the named
    // groups and the root entries). Names compare exactly.
    bool groupNameTaken(std::string_view name, int exceptGroup = -1) const;
    bool entryNameTaken(int group, std::string_view name, int exceptEntry = -1) const;
    // "New Group", then "New Group 1", "New Group 2", … until one is free.
    std::string uniqueGroupName() const;
    // "New Server", "New Server 1", … free at the level of `group`.
    std::string uniqueEntryName(int group) const;

    // -- operations; each that changes the book leaves the writing to the caller.
    // Appends a group with a unique default name.
    BookItem newGroup();
    // Appends an entry (kind 0, port 5066, ID "Guest", no address and password) with a
    // unique default name. It goes into the selected group, or the group of the selected
    // entry; a selected root entry or no selection puts it into the root group.
    BookItem newServer(std::optional<BookItem> selected);
    // Appends a given entry to `group` (which must exist). The caller checks the name.
    BookItem addEntry(int group, AddressBookEntry entry);
    // Appends a named group; the caller checks the name.
    int addGroup(std::string name);
    // The end of editing an item's label in place.
    LabelEditResult editLabel(BookItem item, const std::string& newName, bool cancelled);
    // Commits the details pane to `item`. Stops at the first invalid field; what was stored
    // before it stays stored (changed tells whether the book is to be written).
    CommitResult commit(BookItem item, const BookDetails& details);
    // Removes an entry, or a group with all its entries.
    void remove(BookItem item);

    // What Connect does with an item: one request for an entry, one for each entry of a
    // group in order. Requests from the book always have kind 1.
    std::vector<ConnectRequest> connectRequests(BookItem item) const;

  private:
    std::vector<AddressBookGroup> groups_;
};

ConnectRequest toConnectRequest(const AddressBookEntry& entry);

// dataFolder()/"AddressBook.dat".
std::filesystem::path addressBookPath();
// The backup beside a book: ".dat" replaced by ".bak" (appended when the name has no ".dat").
std::filesystem::path addressBookBackupPath(const std::filesystem::path& book);

// Reads the book file. A missing or empty file is an empty book (Missing); a file that exists
// but cannot be read is Unreadable.
ReadResult<AddressBook> loadAddressBook(const std::filesystem::path& file);
// Copies the current file to the backup (a missing file is no error), then writes the book to
// a temporary file and renames it over the old one, so that a failed write leaves the old
// file as it was. Returns false with `error` set when the book could not be written.
bool saveAddressBook(const std::filesystem::path& file, const AddressBook& book,
                     std::string* error = nullptr);

// Looks an entry up by name, in the named group when one is given; without a group the name
// must name exactly one entry of the whole book. Returns the request to connect with, or
// nullopt with `error` set.
std::optional<ConnectRequest> findBookConnection(const AddressBook& book, std::string_view name,
                                                 const std::optional<std::string>& group,
                                                 std::string* error);
// The same over the book in the data folder.
std::optional<ConnectRequest> lookupBookConnection(std::string_view name,
                                                   const std::optional<std::string>& group,
                                                   std::string* error);

}  // namespace fsv::state
