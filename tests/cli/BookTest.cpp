// fsv book add/list/remove against an address book in a scratch data folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

class BookCli : public testing::Test {
  protected:
    void SetUp() override {
        root_ = fsv::test::makeTempDir("fsv-book");
        ASSERT_FALSE(root_.empty());
        home_ = root_ / "home";
        fs::create_directories(home_);
    }
    void TearDown() override { fs::remove_all(root_); }

    struct Run {
        int status;
        std::string out, err;
    };
    Run fsv(const std::string& args) {
        const fs::path errFile = root_ / "stderr";
        // No password from the environment and none to type: `book add` would ask at a
        // terminal.
        std::string cmd = "FSV_PASSWORD= FARSIGHT_HOME='" + home_.string() +
                          "' FARSIGHT_CONFIG='" + home_.string() + "' '" FSV_BINARY_DIR
                          "/cli/fsv' " + args + " 2>'" + errFile.string() + "' </dev/null";
        Run r{};
        FILE* p = ::popen(cmd.c_str(), "r");
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
        int st = ::pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        r.err = slurp(errFile);
        return r;
    }
    static std::string slurp(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    nlohmann::json listJson() {
        auto r = fsv("book list --json");
        EXPECT_EQ(r.status, 0) << r.err;
        return nlohmann::json::parse(r.out);
    }
    fs::path book() const { return home_ / "AddressBook.dat"; }
    fs::path backup() const { return home_ / "AddressBook.bak"; }

    fs::path root_, home_;
};

}  // namespace

TEST_F(BookCli, AddListAndRemove) {
    auto empty = fsv("book list");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "The address book is empty.\n");

    ASSERT_EQ(fsv("book add Lobby 10.0.0.1").status, 0);
    const std::string first = slurp(book());
    EXPECT_EQ(first.substr(0, 15), "KOR_FSV_BOOK\0\x05\x02"s);
    ASSERT_EQ(fsv("book add Door 10.0.0.7 -u admin -p secret --port 6000 --group Office").status,
              0);
    EXPECT_EQ(slurp(backup()), first) << "the backup holds the book before the last write";
    EXPECT_NE(slurp(book()).find("Office"s), std::string::npos);
    EXPECT_EQ(slurp(book()).find("secret"), std::string::npos) << "passwords are scrambled";

    auto j = listJson();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["group"], "");
    EXPECT_EQ(j[0]["entries"][0]["name"], "Lobby");
    EXPECT_EQ(j[0]["entries"][0]["port"], 5066);
    EXPECT_EQ(j[0]["entries"][0]["id"], "Guest");
    EXPECT_EQ(j[1]["group"], "Office");
    EXPECT_EQ(j[1]["entries"][0]["address"], "10.0.0.7");
    EXPECT_EQ(j[1]["entries"][0]["port"], 6000);
    EXPECT_EQ(j[1]["entries"][0]["id"], "admin");

    auto text = fsv("book list");
    EXPECT_NE(text.out.find("[Office]"), std::string::npos);
    EXPECT_NE(text.out.find("10.0.0.7:6000"), std::string::npos);

    // The same name may stand in another group, but not twice at one level; a root entry
    // shares its level with the groups.
    EXPECT_EQ(fsv("book add Door 10.0.0.9").status, 0);
    const std::string before = slurp(book());
    for (const char* dup : {"book add Door 10.0.0.8 --group Office", "book add Lobby 10.0.0.2",
                            "book add Office 10.0.0.3"}) {
        auto r = fsv(dup);
        EXPECT_EQ(r.status, 1) << dup;
        EXPECT_NE(r.err.find("The name you were assigned already exist!"), std::string::npos);
    }
    EXPECT_EQ(slurp(book()), before) << "refused edits leave the book as it was";

    auto ambiguous = fsv("book remove Door");
    EXPECT_EQ(ambiguous.status, 1);
    EXPECT_NE(ambiguous.err.find("more than one group"), std::string::npos);
    EXPECT_EQ(fsv("book remove Door --group Office").status, 0);
    EXPECT_EQ(fsv("book remove Door").status, 0);
    EXPECT_EQ(fsv("book remove Door").status, 1);
    j = listJson();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["entries"].size(), 1u);
    EXPECT_EQ(j[1]["entries"].size(), 0u) << "the emptied group stays";
}

TEST_F(BookCli, RefusesInvalidEntriesAndForeignFiles) {
    struct Case {
        const char* args;
        const char* message;
    } cases[] = {
        {"book add X 10.0.0.1 --port 1023", "Please enter an integer between 1024 and 65535."},
        {"book add X 10.0.0.1 --port 65536", "Please enter an integer between 1024 and 65535."},
        {"book add X ''", "Please enter the address of server!"},
        {"book add '' 10.0.0.1", "Please enter a name!"},
        {"book add X 10.0.0.1 -p 123456789012345678901234567890123", "longer than 32"},
    };
    for (const auto& c : cases) {
        auto r = fsv(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
    }
    EXPECT_FALSE(fs::exists(book()));

    std::ofstream(book()) << "not an address book";
    auto list = fsv("book list");
    EXPECT_EQ(list.status, 1);
    EXPECT_NE(list.err.find("Unexpected file format!"), std::string::npos);
    EXPECT_EQ(fsv("book add X 10.0.0.1").status, 1);
    EXPECT_EQ(slurp(book()), "not an address book");
}

TEST_F(BookCli, KeepsTheKindOfExistingEntries) {
    std::ofstream(book(), std::ios::binary) << "KOR_FSV_BOOK\0\x05\x02\x01\0\0\0"s
                                            << "\0\x01\0\0\0"s
                                            << "\x07\0\xCA\x13"
                                               "Old\0"
                                               "10.0.0.1\0"
                                               "Guest\0"
                                               "646464\0"s;
    ASSERT_EQ(fsv("book add New 10.0.0.2").status, 0);
    auto j = listJson();
    EXPECT_EQ(j[0]["entries"][0]["kind"], 7);
    EXPECT_EQ(j[0]["entries"][1]["kind"], 0);
    EXPECT_NE(slurp(book()).find("646464"), std::string::npos) << "the password is kept";
}
