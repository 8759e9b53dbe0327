#include "framestamp/CommandLine.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "framestamp/DialogFlow.h"
#include "framestamp/StampExport.h"

namespace fsv::framestamp {

namespace fs = std::filesystem;

bool wantsDialogs(int argc, char** argv) { return argc <= 1 || (argc == 2 && argv[1][0] != '-'); }

namespace {

// One line per file on standard error, redrawn in place on a terminal.
class FileProgress {
  public:
    explicit FileProgress(std::string name) : name_(std::move(name)), tty_(isatty(2)) {}
    void update(int done, int total) {
        if (!tty_ || total <= 0) return;
        const int percent = static_cast<int>(static_cast<long long>(done) * 100 / total);
        if (percent == shown_) return;
        shown_ = percent;
        std::string bar(30, ' ');
        for (int i = 0; i < percent * 30 / 100; ++i) bar[static_cast<size_t>(i)] = '#';
        std::fprintf(stderr, "\r\033[2K%s [%s] %3d%% %d/%d", name_.c_str(), bar.c_str(), percent,
                     done, total);
        std::fflush(stderr);
    }
    void finish(ExportResult r, const std::string& why) {
        if (tty_ && shown_ >= 0) std::fprintf(stderr, "\r\033[2K");
        const char* word = r == ExportResult::Finished     ? "done  "
                           : r == ExportResult::Incomplete ? "CUT   "
                                                           : "FAILED";
        std::fprintf(stderr, "%s %s%s%s\n", word, name_.c_str(), why.empty() ? "" : ": ",
                     why.c_str());
    }

  private:
    std::string name_;
    bool tty_;
    int shown_ = -1;
};

}  // namespace

int runCommandLine(int argc, char** argv) {
    CLI::App app{"Framestamp: copies recordings with their date and time drawn on every frame"};
    std::vector<std::string> inputs;
    std::string output;
    bool noDate = false, noTime = false, white = false;
    app.add_option("inputs", inputs, "recordings (AVI files) to copy")->required();
    app.add_option("-o,--output", output,
                   "the output file, or the folder the copies go into (needed for several inputs)")
        ->required();
    app.add_flag("--no-date", noDate, "do not draw the date");
    app.add_flag("--no-time", noTime, "do not draw the time");
    app.add_flag("--white", white, "draw in white instead of black");
    CLI11_PARSE(app, argc, argv);

    StampOptions options;
    options.showDate = !noDate;
    options.showTime = !noTime;
    options.textColour = white ? kWhite : kBlack;

    const fs::path out(output);
    std::error_code ec;
    const bool intoFolder = inputs.size() > 1 || fs::is_directory(out, ec);
    if (inputs.size() > 1) {
        fs::create_directories(out, ec);
        if (!fs::is_directory(out, ec)) {
            std::fprintf(stderr, "cannot create the folder %s\n", output.c_str());
            return 1;
        }
        // Two inputs of the same name would end up in the same output file.
        std::set<fs::path> names;
        for (const auto& in : inputs)
            if (!names.insert(fs::path(in).filename()).second) {
                std::fprintf(stderr, "two inputs are named %s; their copies would collide\n",
                             fs::path(in).filename().c_str());
                return 1;
            }
    }

    int failed = 0;
    StampExport job;
    for (const auto& in : inputs) {
        const fs::path target = intoFolder ? out / fs::path(in).filename() : out;
        FileProgress progress(in);
        const ExportResult r = job.run(in, target, options,
                                       [&](int done, int total) { progress.update(done, total); });
        std::string why = job.error();
        // A cut input is copied as far as it can be read, but the copy is not the recording.
        if (r == ExportResult::Incomplete) ++failed;
        if (r != ExportResult::Finished && r != ExportResult::Incomplete) {
            ++failed;
            why = std::string(kTextFail) + (why.empty() ? "" : " (" + why + ")");
        }
        progress.finish(r, why);
        for (const std::string& note : job.notes())
            std::fprintf(stderr, "  %s: %s\n", in.c_str(), note.c_str());
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace fsv::framestamp
