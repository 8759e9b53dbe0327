// recorder-sim: our own recorder, serving a recordings folder over the recorder protocol.
#include <pthread.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>

#include "sim/Generate.h"
#include "sim/Server.h"

namespace {

// What the command line sets besides the server's own options.
struct Extra {
    std::string listen = "127.0.0.1:5066";
    std::string generate;
    bool noKey = false;
    int protocol = 35;
    double loginTimeout = 0, idleTimeout = 0;
};

void addOptions(CLI::App& app, fsv::sim::ServerOptions& o, Extra& e) {
    e.loginTimeout = o.loginTimeoutMs / 1000.0;
    e.idleTimeout = o.idleTimeoutMs / 1000.0;
    app.add_option("--listen", e.listen, "address:port to listen on (port 0 picks a free one)");
    app.add_option("--recordings", o.recordings,
                   "folder of Cam<code>/<YYYYMMDD>/<HHMMSS>.avi and Aud<code>/... files");
    app.add_option("--name", o.name, "the recorder's name");
    app.add_option("--user", o.user, "login ID");
    app.add_option("--password", o.password, "login password");
    app.add_option("--protocol", e.protocol, "protocol version of this recorder")
        ->check(CLI::Range(32, 35));
    app.add_flag("--no-key-reply", e.noKey, "never answer the public key request");
    app.add_option("--max-clients", o.maxClients, "refuse logged-in clients beyond this many");
    app.add_option("--max-waiting", o.maxWaiting,
                   "connections not logged in held at once; newcomers wait for a place")
        ->check(CLI::Range(1, 1024));
    app.add_option("--login-timeout", e.loginTimeout,
                   "drop a connection that has not logged in after S seconds")
        ->check(CLI::Range(0.05, 3600.0));
    app.add_option("--idle-timeout", e.idleTimeout,
                   "drop a connection that sent nothing for S seconds")
        ->check(CLI::Range(0.05, 86400.0));
    app.add_option("--drop-after", o.dropAfter, "close a connection after N received messages");
    app.add_option("--drop-stream-after", o.dropStreamAfter,
                   "close a connection once a stream sent N blocks or frames");
    app.add_option("--silent-stream-after", o.silentStreamAfter,
                   "send nothing more on a connection once a stream sent N blocks or frames "
                   "(the connection stays open)");
    app.add_option("--delay-ms", o.delayMs, "delay every reply by M ms");
    app.add_flag("--malformed", o.malformed,
                 "send a cut-short copy before every reply after the login");
    app.add_flag("--bad-channel-list", o.badChannelList,
                 "answer the channel-name request with a list that cannot be read");
    app.add_option("--extra-day", o.extraDay,
                   "list this day number (e.g. 4294967295) for every camera as well");
    app.add_option("--cameras", o.cameras,
                   "announce N cameras in all: the recordings' own, then empty ones without days")
        ->check(CLI::Range(0, 65535));
    app.add_option("--login-log", o.loginLog,
                   "append the ID and password of every login received to FILE (for tests)");
    app.add_option("--stream-log", o.streamLog,
                   "append the name, mode and offset of every stream opened to FILE (for tests)");
    app.add_option("--fault", o.fault,
                   "act as a hostile recorder: silent-after-verdict, silent-after-key, "
                   "silent-after-login, bad-days, silent-dates, "
                   "no-names, cut-days, silent-after-open, short-frame, short-p, no-p, p-only, "
                   "size-more, size-less, from-zero, no-status, drop-before-status");
    app.add_option("--generate", e.generate, "write sample recordings into DIR and exit");
}

// "ADDRESS:PORT" into the options; false after saying what is wrong.
bool parseListen(const std::string& listen, fsv::sim::ServerOptions& o) {
    auto colon = listen.rfind(':');
    if (colon == std::string::npos) {
        std::fprintf(stderr, "recorder-sim: --listen wants ADDRESS:PORT\n");
        return false;
    }
    o.host = listen.substr(0, colon);
    try {
        int port = std::stoi(listen.substr(colon + 1));
        if (port < 0 || port > 65535) throw std::out_of_range("port");
        o.port = static_cast<uint16_t>(port);
    } catch (const std::exception&) {
        std::fprintf(stderr, "recorder-sim: bad port in --listen\n");
        return false;
    }
    return true;
}

// Serves until SIGINT or SIGTERM.
int serve(const fsv::sim::ServerOptions& o) {
    // The signals are taken by sigwait below, on this thread only.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    fsv::sim::Server server(o);
    if (server.publicKey().empty())
        std::fprintf(stderr, "recorder-sim: no RSA key; the key request goes unanswered\n");
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "recorder-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s:%u\n", o.host.c_str(), server.port());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&signals, &sig);
    server.stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"recorder-sim: a recorder serving a recordings folder"};
    fsv::sim::ServerOptions o;
    Extra e;
    addOptions(app, o, e);
    CLI11_PARSE(app, argc, argv);

    if (!e.generate.empty()) {
        std::string error;
        if (!fsv::sim::generateRecordings(e.generate, fsv::sim::GenerateOptions{}, &error)) {
            std::fprintf(stderr, "recorder-sim: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }

    o.protocol = static_cast<uint16_t>(e.protocol);
    o.loginTimeoutMs = static_cast<int>(e.loginTimeout * 1000);
    o.idleTimeoutMs = static_cast<int>(e.idleTimeout * 1000);
    o.answerKey = !e.noKey;
    if (!parseListen(e.listen, o)) return 2;
    return serve(o);
}
