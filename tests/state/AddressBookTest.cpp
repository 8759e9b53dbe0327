#include <gtest/gtest.h>

#include "StateTestSupport.h"
#include "state/AddressBook.h"

using namespace std::string_literals;
using namespace fsv::state;
using fsv::state::test::bytesOf;
using fsv::state::test::readBytes;
using fsv::state::test::TempFolder;
using fsv::state::test::writeBytes;

namespace {

// A root entry and a group with one entry; the byte image below is this book.
AddressBook smallBook() {
    AddressBook book;
    AddressBookEntry a;
    a.kind = 7;
    a.name = "A";
    a.address = "h";
    a.password = "abc";
    book.addEntry(0, a);
    int g = book.addGroup("G");
    AddressBookEntry b;
    b.port = 1024;
    b.name = "B";
    b.id = "";
    book.addEntry(g, b);
    return book;
}

const std::string kSmallBookBytes =
    "KOR_FSV_BOOK\0"
    "\x05\x02"
    "\x02\0\0\0"s
    // root group: empty name, one entry (kind 7, port 5066, password "abc" scrambled)
    "\0"
    "\x01\0\0\0"
    "\x07\0"
    "\xCA\x13"
    "A\0"
    "h\0"
    "Guest\0"
    "646464\0"s
    // group G: one entry (kind 0, port 1024, empty address, ID and password)
    "G\0"
    "\x01\0\0\0"
    "\0\0"
    "\0\x04"
    "B\0"
    "\0"
    "\0"
    "\0"s;

std::string header(uint16_t version, int32_t groups) {
    std::string h = "KOR_FSV_BOOK\0"s;
    h += char(version & 0xff);
    h += char(version >> 8);
    for (int i = 0; i < 4; ++i) h += char((uint32_t(groups) >> (8 * i)) & 0xff);
    return h;
}

}  // namespace

TEST(AddressBookFile, WritesTheExactLayoutAndReadsItBack) {
    auto bytes = smallBook().encode();
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), kSmallBookBytes);
    auto back = AddressBook::decode(bytes);
    EXPECT_EQ(back.status, ReadStatus::Ok);
    EXPECT_EQ(back.value.groups(), smallBook().groups());
}

TEST(AddressBookFile, AcceptsVersionsUpTo517AndRefusesOtherFiles) {
    const std::string body =
        "\0\x01\0\0\0"
        "\0\0\xCA\x13"
        "X\0"
        "a\0"
        "id\0"
        "\0"s;
    struct Case {
        std::string bytes;
        ReadStatus status;
    } cases[] = {
        {header(0x0200, 1) + body, ReadStatus::Ok},
        {header(517, 1) + body, ReadStatus::Ok},
        {header(0x0206, 1) + body, ReadStatus::WrongFormat},
        {header(0xFFFF, 1) + body, ReadStatus::WrongFormat},
        {"kor_fsv_book\0\x05\x02\x01\0\0\0"s + body, ReadStatus::WrongFormat},
        {"KOR_FSV_BOOKS\0\x05\x02\x01\0\0\0"s + body, ReadStatus::WrongFormat},
        {"KOR_FSV_BOOK"s, ReadStatus::WrongFormat},  // no terminator anywhere
        {""s, ReadStatus::Missing},
    };
    for (const auto& c : cases) {
        auto r = AddressBook::decode(bytesOf(c.bytes));
        EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.bytes);
        if (c.status == ReadStatus::Ok) {
            EXPECT_EQ(r.value.root().entries.at(0).name, "X");
        }
        if (c.status == ReadStatus::WrongFormat) {
            EXPECT_EQ(r.message, "Unexpected file format!");
            EXPECT_TRUE(r.value.empty());
        }
    }
}

TEST(AddressBookFile, EmptyNamedGroupAnywhereIsTheRootAndIsWrittenFirst) {
    std::string bytes = header(517, 2) +
                        "Office\0\x01\0\0\0"
                        "\0\0\xCA\x13"
                        "Door\0"
                        "10.0.0.7\0"
                        "Guest\0"
                        "\0"s +
                        "\0\x01\0\0\0"
                        "\0\0\xCA\x13"
                        "Lobby\0"
                        "10.0.0.1\0"
                        "Guest\0"
                        "\0"s;
    auto r = AddressBook::decode(bytesOf(bytes));
    ASSERT_EQ(r.status, ReadStatus::Ok);
    ASSERT_EQ(r.value.groups().size(), 2u);
    EXPECT_EQ(r.value.root().entries.at(0).name, "Lobby");
    EXPECT_EQ(r.value.groups()[1].name, "Office");

    auto written = r.value.encode();
    std::string text(written.begin(), written.end());
    EXPECT_EQ(text.find("Lobby"), header(517, 2).size() + 5 + 4) << "root group comes first";
    EXPECT_LT(text.find("Lobby"), text.find("Office"));
}

// Every prefix of a valid file either is refused or gives the complete entries of the file,
// in order, and nothing else.
TEST(AddressBookFile, ACutFileKeepsItsCompleteEntries) {
    AddressBook book = smallBook();
    int g2 = book.addGroup("Second");
    for (int i = 0; i < 3; ++i) {
        AddressBookEntry e;
        e.name = "S" + std::to_string(i);
        e.address = "10.1.1." + std::to_string(i);
        e.password = "pw" + std::to_string(i);
        book.addEntry(g2, e);
    }
    const auto full = book.encode();
    for (size_t len = 0; len <= full.size(); ++len) {
        auto r = AddressBook::decode(std::span(full.data(), len));
        if (len == 0) {
            EXPECT_EQ(r.status, ReadStatus::Missing);
            continue;
        }
        if (r.status == ReadStatus::WrongFormat) {
            EXPECT_LT(len, 15u) << "only a cut header is not recognised";
            continue;
        }
        EXPECT_EQ(r.status, len == full.size() ? ReadStatus::Ok : ReadStatus::Damaged) << len;
        const auto& got = r.value.groups();
        ASSERT_LE(got.size(), book.groups().size());
        for (size_t g = 0; g < got.size(); ++g) {
            EXPECT_EQ(got[g].name, book.groups()[g].name);
            const auto& want = book.groups()[g].entries;
            ASSERT_LE(got[g].entries.size(), want.size()) << len;
            for (size_t e = 0; e < got[g].entries.size(); ++e)
                EXPECT_EQ(got[g].entries[e], want[e]) << "cut at " << len;
        }
    }
}

TEST(AddressBookFile, ABadlyScrambledPasswordIsReportedAndReadAsEmpty) {
    std::string bytes = header(517, 1) +
                        "\0\x01\0\0\0"
                        "\0\0\xCA\x13"
                        "X\0"
                        "a\0"
                        "id\0"
                        "6g6\0"s;
    auto r = AddressBook::decode(bytesOf(bytes));
    EXPECT_EQ(r.status, ReadStatus::Damaged);
    ASSERT_EQ(r.value.root().entries.size(), 1u);
    EXPECT_EQ(r.value.root().entries[0].password, "");
}

TEST(AddressBookNames, DefaultNamesAreUniqueAtTheirLevel) {
    AddressBook book;
    EXPECT_EQ(book.nameOf(book.newGroup()), "New Group");
    EXPECT_EQ(book.nameOf(book.newGroup()), "New Group 1");
    EXPECT_EQ(book.nameOf(book.newGroup()), "New Group 2");

    // A root entry shares its level with the groups; a group's entries have their own.
    int g = book.addGroup("New Server");
    EXPECT_EQ(book.nameOf(book.newServer(std::nullopt)), "New Server 1");
    EXPECT_EQ(book.nameOf(book.newServer(BookItem{g, -1})), "New Server");
    EXPECT_EQ(book.nameOf(book.newServer(BookItem{g, 0})), "New Server 1");
    EXPECT_EQ(book.group(g)->entries.size(), 2u);

    const auto& fresh = *book.entry({0, 0});
    EXPECT_EQ(fresh.kind, 0);
    EXPECT_EQ(fresh.port, 5066);
    EXPECT_EQ(fresh.id, "Guest");
    EXPECT_EQ(fresh.address, "");
}

TEST(AddressBookNames, NewServerGoesToTheSelectedLevel) {
    AddressBook book;
    int g = book.addGroup("G");
    book.addEntry(g, {});
    auto rootEntry = book.newServer(std::nullopt);
    struct Case {
        std::optional<BookItem> selected;
        int group;
    } cases[] = {{std::nullopt, 0},
                 {rootEntry, 0},
                 {BookItem{g, -1}, g},
                 {BookItem{g, 0}, g},
                 {BookItem{9, -1}, 0}};
    for (const auto& c : cases) EXPECT_EQ(book.newServer(c.selected).group, c.group);
}

TEST(AddressBookNames, EditingALabelInPlace) {
    AddressBook book;
    auto g1 = book.newGroup();
    auto g2 = book.newGroup();
    auto e1 = book.newServer(std::nullopt);
    struct Case {
        BookItem item;
        std::string name;
        bool cancelled;
        LabelEdit outcome;
        std::string message;
    } cases[] = {
        {g2, "New Group", false, LabelEdit::Refused, "The name you were assigned already exist!"},
        {e1, "New Group", false, LabelEdit::Refused, "The name you were assigned already exist!"},
        {g2, "", false, LabelEdit::Refused, "Please enter a name!"},
        {g2, "Other", true, LabelEdit::Unchanged, ""},
        {g2, "New Group 1", false, LabelEdit::Unchanged, ""},
        {g2, "Cameras", false, LabelEdit::Accepted, ""},
        {e1, "new group", false, LabelEdit::Accepted, ""},  // names compare exactly
    };
    for (const auto& c : cases) {
        auto r = book.editLabel(c.item, c.name, c.cancelled);
        EXPECT_EQ(r.outcome, c.outcome) << c.name;
        EXPECT_EQ(r.message, c.message) << c.name;
    }
    EXPECT_EQ(book.nameOf(g1), "New Group");
    EXPECT_EQ(book.nameOf(g2), "Cameras");

    // An item that never had a name goes away when its label is left empty.
    int unnamed = book.addGroup("");
    EXPECT_EQ(book.editLabel({unnamed, -1}, "", false).outcome, LabelEdit::Removed);
    EXPECT_EQ(book.groups().size(), 3u);
}

TEST(AddressBookRules, CommittingTheDetails) {
    struct Case {
        const char* what;
        BookDetails details;
        bool ok;
        std::string message;
        bool changed;
    } cases[] = {
        {"unchanged", {"Door", "10.0.0.7", "Guest", "pw", "5066"}, true, "", false},
        {"all stored", {"Gate", "gate.local", "admin", "x", "6000"}, true, "", true},
        {"empty name", {"", "10.0.0.7", "Guest", "pw", "5066"}, false, kEnterName, false},
        {"address cleared", {"Door", "", "Guest", "pw", "5066"}, false, kEnterAddress, false},
        {"renamed, then address cleared",
         {"Gate", "", "Guest", "pw", "5066"},
         false,
         kEnterAddress,
         true},
        {"port too low",
         {"Door", "10.0.0.7", "Guest", "pw", "1023"},
         false,
         kPortRangeMessage,
         false},
        {"port too high",
         {"Door", "10.0.0.7", "Guest", "pw", "65536"},
         false,
         kPortRangeMessage,
         false},
        {"port not a number",
         {"Door", "10.0.0.7", "Guest", "pw", "50a6"},
         false,
         kPortRangeMessage,
         false},
        {"port empty", {"Door", "10.0.0.7", "Guest", "pw", ""}, false, kPortRangeMessage, false},
        {"ID changed, port bad",
         {"Door", "10.0.0.7", "root", "pw", "1"},
         false,
         kPortRangeMessage,
         true},
    };
    for (const auto& c : cases) {
        AddressBook book;
        AddressBookEntry e{0, 5066, "Door", "10.0.0.7", "Guest", "pw"};
        auto item = book.addEntry(0, e);
        auto r = book.commit(item, c.details);
        EXPECT_EQ(r.ok, c.ok) << c.what;
        EXPECT_EQ(r.message, c.message) << c.what;
        EXPECT_EQ(r.changed, c.changed) << c.what;
        if (c.ok) {
            const auto& d = c.details;
            EXPECT_EQ(*book.entry(item),
                      (AddressBookEntry{0, static_cast<uint16_t>(std::stoi(d.port)), d.name,
                                        d.address, d.id, d.password}))
                << c.what;
        }
    }

    // An empty address over an empty stored one passes (a new entry).
    AddressBook book;
    auto fresh = book.newServer(std::nullopt);
    EXPECT_TRUE(book.commit(fresh, {"New Server", "", "Guest", "", "5066"}).ok);
    // A group commits only its name.
    auto g = book.newGroup();
    auto r = book.commit(g, {"Lobby", "", "", "", ""});
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(book.nameOf(g), "Lobby");
}

TEST(AddressBookRules, DeletingAndConnecting) {
    AddressBook book;
    int g = book.addGroup("Site");
    book.addEntry(g, {5, 6000, "One", "10.0.0.1", "u1", "p1"});
    book.addEntry(g, {0, 7000, "Two", "10.0.0.2", "u2", "p2"});
    auto root = book.addEntry(0, {0, 5066, "Solo", "solo", "Guest", ""});

    auto all = book.connectRequests({g, -1});
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].kind, 1) << "requests from the book always have kind 1";
    EXPECT_EQ(all[0].port, 6000);
    EXPECT_EQ(all[0].address, "10.0.0.1");
    EXPECT_EQ(all[1].password, "p2");
    EXPECT_EQ(book.connectRequests(root).size(), 1u);

    book.remove({g, 0});
    EXPECT_EQ(book.group(g)->entries.at(0).name, "Two");
    book.remove({g, -1});
    EXPECT_EQ(book.groups().size(), 1u);
    EXPECT_EQ(book.root().entries.size(), 1u);
}

TEST(AddressBookStore, SavingKeepsThePreviousFileAsBackup) {
    TempFolder dir;
    auto file = dir / "AddressBook.dat";
    auto bak = dir / "AddressBook.bak";
    EXPECT_EQ(addressBookBackupPath(file), bak);

    EXPECT_EQ(loadAddressBook(file).status, ReadStatus::Missing);
    AddressBook book = smallBook();
    ASSERT_TRUE(saveAddressBook(file, book));
    EXPECT_FALSE(std::filesystem::exists(bak)) << "no old file, no backup";
    const auto first = readBytes(file);

    book.newGroup();
    ASSERT_TRUE(saveAddressBook(file, book));
    EXPECT_EQ(readBytes(bak), first);
    auto loaded = loadAddressBook(file);
    EXPECT_EQ(loaded.status, ReadStatus::Ok);
    EXPECT_EQ(loaded.value.groups(), book.groups());

    // An unreadable book stays empty; the next write keeps the unreadable file as the backup.
    const auto foreign = bytesOf("not an address book");
    writeBytes(file, foreign);
    auto refused = loadAddressBook(file);
    EXPECT_EQ(refused.status, ReadStatus::WrongFormat);
    ASSERT_TRUE(saveAddressBook(file, refused.value));
    EXPECT_EQ(readBytes(bak), foreign);

    // A zero byte inside a text would shift every field after it: refused, file unchanged.
    const auto before = readBytes(file);
    AddressBook bad;
    bad.addEntry(0, {0, 5066, "a\0b"s, "x", "Guest", ""});
    std::string error;
    EXPECT_FALSE(saveAddressBook(file, bad, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readBytes(file), before);
}

TEST(AddressBookLookup, FindsAnEntryByNameAndGroup) {
    AddressBook book;
    book.addEntry(0, {0, 5066, "Lobby", "10.0.0.1", "Guest", ""});
    int a = book.addGroup("A");
    book.addEntry(a, {0, 6000, "Door", "10.0.0.2", "admin", "secret"});
    int b = book.addGroup("B");
    book.addEntry(b, {0, 7000, "Door", "10.0.0.3", "Guest", ""});

    struct Case {
        std::string name;
        std::optional<std::string> group;
        std::string address;  // empty: not found
        std::string error;
    } cases[] = {
        {"Lobby", std::nullopt, "10.0.0.1", ""},
        {"Lobby", "", "10.0.0.1", ""},
        {"Door", "A", "10.0.0.2", ""},
        {"Door", "B", "10.0.0.3", ""},
        {"Door", std::nullopt, "",
         "The name \"Door\" is in more than one group (\"A\", \"B\"); name the group."},
        {"Gate", std::nullopt, "", "No server named \"Gate\" in the address book."},
        {"Door", "C", "", "No group named \"C\" in the address book."},
        {"Lobby", "A", "", "No server named \"Lobby\" in group \"A\"."},
    };
    for (const auto& c : cases) {
        std::string error;
        auto r = findBookConnection(book, c.name, c.group, &error);
        EXPECT_EQ(r ? r->address : "", c.address) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
    }
    auto door = findBookConnection(book, "Door", "A", nullptr);
    ASSERT_TRUE(door);
    EXPECT_EQ(door->kind, 1);
    EXPECT_EQ(door->port, 6000);
    EXPECT_EQ(door->id, "admin");
    EXPECT_EQ(door->password, "secret");
}
