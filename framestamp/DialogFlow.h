#pragma once
// The program started bare or with an input path: ask for the input when none was given, ask
// for the output and the options, export on a worker thread under the progress window, and
// report the outcome in a message box. The questions go through Prompts, so that tests can
// answer them without anything modal.

#include <QString>

#include "framestamp/StampExport.h"

namespace fsv::framestamp {

inline constexpr const char* kTextFail = "Framestamp file fail!";
inline constexpr const char* kTextCaption = "Framestamp File";
inline constexpr const char* kTextFinish = "Framestamp file finish!";
inline constexpr const char* kTextSelectInput = "Please select an AVI file to export...";
inline constexpr const char* kInputFilter = "AVI File(*.AVI)|*.avi||";

class Prompts {
  public:
    virtual ~Prompts() = default;
    // The input file; empty when cancelled.
    virtual QString askInput() = 0;
    // The output file, with the options changed in place; empty when cancelled or no name.
    virtual QString askOutput(const QString& defaultName, StampOptions& options) = 0;
    // The final message box.
    virtual void report(bool finished) = 0;
};

// The file dialogs and message box of the desktop.
class DialogPrompts : public Prompts {
  public:
    QString askInput() override;
    QString askOutput(const QString& defaultName, StampOptions& options) override;
    void report(bool finished) override;
};

// The whole run; `input` as given on the command line (empty: ask). Returns the exit code:
// 0 when the export finished or the user cancelled a file dialog, 1 when the export failed
// or was cancelled.
int runDialogs(const QString& input, Prompts& prompts);

// Exports under the progress window, with the work on a worker thread; the window's Cancel
// stops it.
ExportResult exportWithProgress(const QString& input, const QString& output,
                                const StampOptions& options);

}  // namespace fsv::framestamp
