// fsv book: list and edit the address book (AddressBook.dat in the data folder) with the same
// rules as the address book dialog: names unique at their level, the previous file kept as
// AddressBook.bak, entries' kinds kept as they are.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "Commands.h"
#include "platform/Text.h"
#include "state/AddressBook.h"

namespace {
using namespace fsv::state;
using fsv::cli::printError;

struct AddOptions {
    std::string name, address, id = "Guest", password, port = "5066";
    bool passwordGiven = false;
    std::optional<std::string> group;
};

// The terminal's settings while a password is typed without echo, put back by a signal that
// ends the program in the middle (a shell does not turn the echo on again by itself).
termios g_echoSettings{};
volatile sig_atomic_t g_echoOff = 0;

void restoreEchoAndEnd(int sig) {
    if (g_echoOff) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_echoSettings);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// Asks on standard error and reads one line from the terminal on standard input without
// showing it; nullopt at the end of input.
std::optional<std::string> askPassword(const std::string& prompt) {
    termios quiet{};
    if (::tcgetattr(STDIN_FILENO, &g_echoSettings) != 0) return std::nullopt;
    quiet = g_echoSettings;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;  // the line feed still shows, so the next output starts a line
    struct sigaction restore {};
    struct sigaction old[4] = {};
    restore.sa_handler = restoreEchoAndEnd;
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    for (int i = 0; i < 4; ++i) ::sigaction(signals[i], &restore, &old[i]);
    std::fprintf(stderr, "%s", prompt.c_str());
    std::fflush(stderr);
    g_echoOff = 1;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_echoSettings);
    g_echoOff = 0;
    for (int i = 0; i < 4; ++i) ::sigaction(signals[i], &old[i], nullptr);
    if (!read) return std::nullopt;
    return line;
}

// The password of a new entry: -p, else FSV_PASSWORD, else typed at a terminal, else none.
std::optional<std::string> newEntryPassword(const AddOptions& o) {
    if (o.passwordGiven) return o.password;
    if (const char* env = std::getenv("FSV_PASSWORD"); env && *env) return std::string(env);
    if (!::isatty(STDIN_FILENO)) return std::string();
    auto typed = askPassword("Password for " + o.name + " (empty for none): ");
    if (!typed) printError("no password read; the address book was not changed.");
    return typed;
}

// Columns a UTF-8 text takes on a terminal (one per character; wide characters aside).
size_t columns(const std::string& utf8) {
    size_t n = 0;
    for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

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
                entries.push_back({{"name", fsv::platform::toUtf8(e.name)},
                                   {"address", fsv::platform::toUtf8(e.address)},
                                   {"port", e.port},
                                   {"id", fsv::platform::toUtf8(e.id)},
                                   {"kind", e.kind}});
            out.push_back({{"group", fsv::platform::toUtf8(g.name)}, {"entries", entries}});
        }
        fsv::cli::printJson(out, 2);
        return 0;
    }
    if (r.value.empty()) {
        std::printf("The address book is empty.\n");
        return 0;
    }
    using fsv::platform::terminalText;
    size_t width = 4;
    for (const auto& g : groups)
        for (const auto& e : g.entries) width = std::max(width, columns(terminalText(e.name)) + 2);
    for (const auto& g : groups) {
        const char* indent = g.name.empty() ? "" : "  ";
        if (!g.name.empty()) std::printf("[%s]\n", terminalText(g.name).c_str());
        for (const auto& e : g.entries) {
            const std::string name = terminalText(e.name);
            std::printf("%s%s%s %s:%u  ID %s\n", indent, name.c_str(),
                        std::string(width - columns(name), ' ').c_str(),
                        terminalText(e.address).c_str(), e.port, terminalText(e.id).c_str());
        }
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
        !checkLength("ID", o.id) || (o.group && !checkLength("group name", *o.group)))
        return 1;
    auto port = parsePortField(o.port);
    if (!port) {
        printError(kPortRangeMessage);
        return 1;
    }
    const auto password = newEntryPassword(o);
    if (!password || !checkLength("password", *password)) return 1;
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
    e.password = *password;
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
    ad->add_option("-p,--password", o->password,
                   "password (default: FSV_PASSWORD, else asked for when standard input is a "
                   "terminal)")
        ->each([o](const std::string&) { o->passwordGiven = true; });
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
