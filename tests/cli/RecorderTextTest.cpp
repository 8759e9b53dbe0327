// Text from a recorder reaches fsv's output safely: names in the recorder's single-byte text
// (Latin-1) come out as UTF-8, so every --json output is valid JSON; control characters in
// names never reach the terminal; replies that cannot be read, and day numbers that are not
// dates, are told instead of being shown as something else.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"


namespace fs = std::filesystem;
using fsv::test::runProgram;
using fsv::test::SimProcess;

namespace {

const std::string kLatin1Name = "Entr\xE9\x65";    // as the recorder sends it
const std::string kUtf8Name = "Entr\xC3\xA9\x65";  // as fsv writes it
const std::string kHostileName = "\x1B]0;owned\x07Yard\x1B[2J\x9B\x31m";

class RecorderText : public testing::Test {
  protected:
    void SetUp() override {
        root_ = fsv::test::makeTempDir("fsv-text");
        ASSERT_FALSE(root_.empty());
        auto gen = runProgram(fsv::test::recorderSimPath(), {"--generate", rec().string()});
        ASSERT_EQ(gen.status, 0) << gen.err;
        std::ofstream(rec() / "Cam01" / "name") << kLatin1Name << "\n";
        std::ofstream(rec() / "Cam02" / "name") << kHostileName << "\n";
        env_ = {{"FARSIGHT_HOME", (root_ / "home").string()},
                {"FARSIGHT_CONFIG", (root_ / "home").string()},
                {"FSV_PASSWORD", "pw"}};
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path rec() const { return root_ / "rec"; }
    fsv::test::ProgramResult fsv(const std::vector<std::string>& args) {
        return runProgram(fsv::test::fsvPath(), args, env_);
    }

    fs::path root_;
    std::map<std::string, std::string> env_;
};

// Every line of `out` that starts a JSON document, or the whole of it: parsed, so that a byte
// that is not UTF-8 fails the test.
std::vector<nlohmann::json> parseAll(const std::string& out, bool lines) {
    std::vector<nlohmann::json> docs;
    if (!lines) {
        docs.push_back(nlohmann::json::parse(out));
        return docs;
    }
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] == '{') docs.push_back(nlohmann::json::parse(line));
    return docs;
}

}  // namespace

TEST_F(RecorderText, JsonIsUtf8AndTheTerminalGetsNoControlCharacters) {
    SimProcess sim(
        {"--recordings", rec().string(), "--password", "pw", "--name", "Caf\xE9 \x1B[2J"});
    ASSERT_TRUE(sim.started()) << sim.error();
    const fs::path avi = root_ / (kLatin1Name + ".avi");
    fs::copy_file(rec() / "Cam01/20261201/080000.avi", avi);
    ASSERT_EQ(fsv({"book", "add", kLatin1Name, "127.0.0.1", "-p", "pw"}).status, 0);

    const std::vector<std::string> period = {
        "--camera", "1,2", "--from", "2026-12-01 08:00:00", "--to", "2026-12-01 08:59:59"};
    auto with = [](std::vector<std::string> a, const std::vector<std::string>& more) {
        a.insert(a.end(), more.begin(), more.end());
        return a;
    };
    struct Case {
        std::vector<std::string> args;
        bool jsonLines;  // one document per line
    } cases[] = {
        {{"info", sim.address()}, false},
        {with({"events", sim.address()}, period), false},
        {with({"download", sim.address(), "-o", (root_ / "out").string()}, period), true},
        {{"book", "list"}, false},
        {{"probe", avi.string()}, false},
    };
    for (auto& c : cases) {
        const std::string what = c.args[0];
        auto json = fsv(with(c.args, {"--json"}));
        EXPECT_EQ(json.status, 0) << what << ": " << json.err;
        std::string texts;
        try {
            for (auto& doc : parseAll(json.out, c.jsonLines)) texts += doc.dump() + "\n";
        } catch (const nlohmann::json::exception& e) {
            ADD_FAILURE() << what << " --json: " << e.what() << "\n" << json.out;
        }
        if (what != "events") {  // events lists codes, dates and sizes only
            EXPECT_NE(texts.find(kUtf8Name), std::string::npos) << what << ": " << texts;
        }

        fs::remove_all(root_ / "out");
        auto human = fsv(c.args);
        EXPECT_EQ(human.status, 0) << what << ": " << human.err;
        const std::string shown = human.out + human.err;
        for (char control : {'\x1B', '\x07', '\x9B'})
            EXPECT_EQ(shown.find(control), std::string::npos) << what << ": " << shown;
        EXPECT_EQ(shown.find("\xC2\x9B"), std::string::npos) << what;
        if (what != "download") {  // its lines name files and the recorder's messages
            EXPECT_NE(shown.find(kUtf8Name), std::string::npos) << what << ": " << shown;
        }
        fs::remove_all(root_ / "out");
    }
    auto info = nlohmann::json::parse(fsv({"info", sim.address(), "--json"}).out);
    EXPECT_EQ(info["name"], "Caf\xC3\xA9 \x1B[2J") << "JSON keeps the text; it escapes it";
    EXPECT_EQ(info["cameras"][1]["name"], "\x1B]0;owned\x07Yard\x1B[2J\xC2\x9B\x31m");
}

// A channel list that cannot be read is an error, not a recorder without cameras; a day number
// that is not a date is left out with a note, not shown as "-00000001".
TEST_F(RecorderText, UnreadableRepliesAreTold) {
    SimProcess badList({"--recordings", rec().string(), "--password", "pw", "--bad-channel-list"});
    ASSERT_TRUE(badList.started()) << badList.error();
    auto r = fsv({"info", badList.address()});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.err, "fsv: The recorder's list of cameras and audio channels could not be read.\n");
    EXPECT_EQ(r.out, "");

    for (const char* protocol : {"34", "35"}) {  // one reply with days, or days of their own
        SimProcess badDay({"--recordings", rec().string(), "--password", "pw", "--protocol",
                           protocol, "--extra-day", "4294967295"});
        ASSERT_TRUE(badDay.started()) << badDay.error();
        r = fsv({"info", badDay.address(), "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.find("-0000"), std::string::npos) << r.out;
        EXPECT_EQ(nlohmann::json::parse(r.out)["cameras"][0]["days"],
                  nlohmann::json::array({"20261130", "20261201"}));
        EXPECT_EQ(r.err,
                  "fsv: note: left out day numbers of the recorder that are not dates: "
                  "4294967295\n");
    }
}
