// fsv book: list and edit the address book (AddressBook.dat in the data folder) with the same
// rules as the address book dialog: names unique at their level, the previous file kept as
// AddressBook.bak, entries' kinds kept as they are.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "Commands.h"
#include "state/AddressBook.h"

namespace {
using namespace fsv::state;
using fsv::cli::printError;

struct AddOptions {
    std::string name, address, id = "Guest", password, port = "5066";
    std::optional<std::string> group;
};

// The book as it is, for an edit. A book that cannot be read whole is not edited: writing it
// would lose what could not be read.
std::optional<AddressBook> loadForEdit() {
    auto r = loadAddressBook(addressBookPath());
    switch (r.status) {
        case ReadStatus::Ok:
        case ReadStatus::Missing:
            return std::move(r.value);
        case ReadStatus::WrongFormat:
            printError(addressBookPath().string() + ": " + r.message);
            return std::nullopt;
        default:
            printError(r.message + " The address book was not changed.");
            return std::nullopt;
    }
}

bool save(const AddressBook& book) {
    std::string error;
    if (saveAddressBook(addressBookPath(), book, &error)) return true;
    printError("cannot write the address book: " + error);
    return false;
}

bool checkLength(const std::string& what, const std::string& value) {
    if (value.size() <= kBookFieldLimit) return true;
    printError(fsv::format("the %s is longer than %zu characters.", what.c_str(), kBookFieldLimit));
    return false;
}

int list(bool json) {
    auto r = loadAddressBook(addressBookPath());
    if (!r.usable()) {
        printError(addressBookPath().string() + ": " + r.message);
        return 1;
    }
    if (r.status == ReadStatus::Damaged) printError("warning: " + r.message);
    const auto& groups = r.value.groups();
    if (json) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& g : groups) {
            nlohmann::json entries = nlohmann::json::array();
            for (const auto& e : g.entries)
                entries.push_back({{"name", e.name},
                                   {"address", e.address},
                                   {"port", e.port},
                                   {"id", e.id},
                                   {"kind", e.kind}});
            out.push_back({{"group", g.name}, {"entries", entries}});
        }
        std::printf("%s\n", out.dump(2).c_str());
        return 0;
    }
    if (r.value.empty()) {
        std::printf("The address book is empty.\n");
        return 0;
    }
    size_t width = 4;
    for (const auto& g : groups)
        for (const auto& e : g.entries) width = std::max(width, e.name.size() + 2);
    for (const auto& g : groups) {
        const char* indent = g.name.empty() ? "" : "  ";
        if (!g.name.empty()) std::printf("[%s]\n", g.name.c_str());
        for (const auto& e : g.entries)
            std::printf("%s%-*s %s:%u  ID %s\n", indent, static_cast<int>(width), e.name.c_str(),
                        e.address.c_str(), e.port, e.id.c_str());
    }
    return 0;
}

int add(const AddOptions& o) {
    if (o.name.empty()) {
        printError(kEnterName);
        return 1;
    }
    if (o.address.empty()) {
        printError(kEnterAddress);
        return 1;
    }
    if (!checkLength("name", o.name) || !checkLength("address", o.address) ||
        !checkLength("ID", o.id) || !checkLength("password", o.password) ||
        (o.group && !checkLength("group name", *o.group)))
        return 1;
    auto port = parsePortField(o.port);
    if (!port) {
        printError(kPortRangeMessage);
        return 1;
    }
    auto book = loadForEdit();
    if (!book) return 1;
    int g = 0;
    if (o.group && !o.group->empty()) {
        g = book->findGroup(*o.group);
        if (g < 0) g = book->addGroup(*o.group);
    }
    if (book->entryNameTaken(g, o.name)) {
        printError(std::string(kNameExists) + " (" + o.name + ")");
        return 1;
    }
    AddressBookEntry e;
    e.port = *port;
    e.name = o.name;
    e.address = o.address;
    e.id = o.id;
    e.password = o.password;
    book->addEntry(g, std::move(e));
    if (!save(*book)) return 1;
    std::printf("Added %s (%s:%u)%s%s.\n", o.name.c_str(), o.address.c_str(), *port,
                g ? " to group " : "", g ? o.group->c_str() : "");
    return 0;
}

int remove(const std::string& name, const std::optional<std::string>& group) {
    auto book = loadForEdit();
    if (!book) return 1;
    std::string error;
    if (!findBookConnection(*book, name, group, &error)) {
        printError(error);
        return 1;
    }
    // Found exactly once (or in the named group): remove that entry.
    for (int g = 0; g < static_cast<int>(book->groups().size()); ++g) {
        if (group && g != (group->empty() ? 0 : book->findGroup(*group))) continue;
        int e = book->findEntry(g, name);
        if (e < 0) continue;
        book->remove({g, e});
        if (!save(*book)) return 1;
        std::printf("Removed %s.\n", name.c_str());
        return 0;
    }
    return 1;
}

fsv::cli::Registrar reg([](CLI::App& app) {
    auto* book = app.add_subcommand("book", "list and edit the address book");
    book->require_subcommand(1);

    auto* ls = book->add_subcommand("list", "list the recorders of the address book");
    auto json = std::make_shared<bool>(false);
    ls->add_flag("--json", *json, "print the book as JSON (without passwords)");
    ls->callback([json] { fsv::cli::setExitCode(list(*json)); });

    auto* ad = book->add_subcommand("add", "add a recorder to the address book");
    auto o = std::make_shared<AddOptions>();
    ad->add_option("NAME", o->name, "name of the entry")->required();
    ad->add_option("ADDRESS", o->address, "host name or IP address of the recorder")->required();
    ad->add_option("-u,--id", o->id, "login ID")->capture_default_str();
    ad->add_option("-p,--password", o->password, "password");
    ad->add_option("--port", o->port, "TCP port (1024-65535)")->capture_default_str();
    ad->add_option("--group", o->group, "group to put it in (created when missing)");
    ad->callback([o] { fsv::cli::setExitCode(add(*o)); });

    auto* rm = book->add_subcommand("remove", "remove a recorder from the address book");
    auto name = std::make_shared<std::string>();
    auto group = std::make_shared<std::optional<std::string>>();
    rm->add_option("NAME", *name, "name of the entry")->required();
    rm->add_option("--group", *group, "group of the entry (\"\" for the top level)");
    rm->callback([name, group] { fsv::cli::setExitCode(remove(*name, *group)); });
});

}  // namespace
