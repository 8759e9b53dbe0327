#pragma once
// What the connecting subcommands share: the login options (HOST[:PORT] or an address book
// entry, ID, password), the period's moments, and the channel codes of a selection.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "client/Controller.h"
#include "net/ServerSession.h"
#include "net/Transport.h"
#include "platform/ScriptedUserPort.h"
#include "platform/Shared.h"
#include "recordings/PeriodQuery.h"
#include "recordings/RecorderCatalog.h"

namespace fsv::cli {

struct LoginArgs {
    std::string target;  // HOST[:PORT]; may be empty with --book
    std::string id = "Guest";
    bool idGiven = false;
    std::string password;
    bool passwordGiven = false;
    std::string book;   // address book entry
    std::string group;  // its group, when the name is not unique
    bool groupGiven = false;
    bool noPlainLogin = false;
};

// Adds "target" (optional), -u, -p, --book, --group and --no-plain-login to a subcommand.
void addLoginOptions(CLI::App* cmd, const std::shared_ptr<LoginArgs>& args);
// Adds --no-plain-login alone (commands that take the login from elsewhere).
void addPlainLoginOption(CLI::App* cmd, bool& noPlainLogin);
// The request to connect with: HOST[:PORT] or the address book entry, then -u over what the
// book gave. The password: -p, else the book's, else the environment variable FSV_PASSWORD
// (which only fills an empty one: a password meant for one recorder never goes to another).
// False after printing why, prefixed with `command`.
bool resolveLogin(const LoginArgs& args, const std::string& command, ConnectRequest& request);
// FSV_PASSWORD when `password` is empty.
void fillPasswordFromEnvironment(std::string& password);

// The controller every connecting command runs on: the data folder's resume files, the stall
// limit of --wait, the settings file (tell when a download is finished: always), and the
// recorder's answers to the user going to `user`, which answers from the command line.
struct Session {
    Session(int waitSeconds, bool noPlainLogin, bool overwrite = false);
    ~Session();
    ScriptedUserPort user;
    client::NotificationQueue notes;
    std::unique_ptr<client::Controller> controller;
    client::SessionId id = -1;
    int connectionNumber = -1;
    std::string recorderName;

    // Logs in and fetches the server information; false after printing why. Day numbers of the
    // recorder that are no date are told on standard error.
    bool open(const ConnectRequest& request);
    std::shared_ptr<RecorderCatalog> catalog();
    // Why the recorder's days could not be had: the stall, the lost connection or the day's
    // own time-out.
    std::string queryFailure();
};

// The stall limit of every command that talks to a recorder: --wait SECONDS (default 30, 1 to
// 3600). A recorder that sends nothing for that long ends the run ("Timeout: ...", exit 1).
void addWaitOption(CLI::App* cmd, int& seconds);
net::SessionTiming sessionTiming(int waitSeconds);
// The close acknowledgement of a recorder that stopped answering is not awaited longer either.
net::TransportTiming transportTiming(int waitSeconds);

// "HOST" or "HOST:PORT" into the request's address and port.
bool splitTarget(const std::string& target, ConnectRequest& request);
// "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DD" (the day's start, or its end when `end`) into YYYYMMDD
// and HHMMSS.
bool parseMoment(const std::string& text, bool end, std::string& date, std::string& time);

struct Chosen {
    net::ChannelKind kind;
    uint16_t code;
    int position;
};
// The channel positions named by `codes` ("all" for every one), each once in the order first
// named; false with a message (prefixed with `command`) for a code the recorder does not have.
bool choose(const std::vector<std::string>& codes, net::ChannelKind kind,
            const RecorderCatalog& catalog, std::vector<Chosen>& out, const std::string& command);

// --camera, --audio, --from and --to (the last two required).
void addPeriodOptions(CLI::App* cmd, std::vector<std::string>& cameras,
                      std::vector<std::string>& audio, std::string& from, std::string& to);

// The period of --from and --to, and at least one channel named; false after printing why
// (prefixed with `command`).
bool periodArguments(const std::string& from, const std::string& to,
                     const std::vector<std::string>& cameras, const std::vector<std::string>& audio,
                     const std::string& command, Period& period);

// The cameras and the audio channels named (see choose), cameras first.
bool chooseChannels(const std::vector<std::string>& cameras, const std::vector<std::string>& audio,
                    const RecorderCatalog& catalog, std::vector<Chosen>& out,
                    const std::string& command);

// Asks the session's recorder for the events of `period` on the chosen channels (the
// controller's period query); they end up selected in the event list. Nobody is asked: a
// recorder silent past the wait ends the query. False when the query was cancelled or the
// program is ending (the recorder's days could not be had).
bool queryPeriod(client::Controller& controller, client::SessionId id,
                 const std::vector<Chosen>& chosen, const Period& period, int waitSeconds,
                 PeriodSummary* summary = nullptr);

// Whole percent of `done` in `total`, at most 100; `empty` when there is no total.
int percentOf(uint64_t done, uint64_t total, int empty);

// Progress lines on standard error, redrawn in place on a terminal: clear() takes the drawn
// lines away (so a plain line can take their place), line() draws one bar with its text. Off a
// terminal both do nothing. Not locked: its owner serialises the calls.
class TerminalBars {
  public:
    explicit TerminalBars(bool tty) : tty_(tty) {}
    bool active() const { return tty_; }
    void clear();
    void line(int percent, const std::string& text);

  private:
    const bool tty_;
    int drawn_ = 0;
};

}  // namespace fsv::cli
