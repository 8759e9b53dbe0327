// Framestamp: copies a recording into a new AVI file with the date and time of every frame
// drawn on it. Started bare (or with just the input path) it works with dialogs; with options
// it works as a batch command.
#include <QApplication>
#include <QFile>
#include <QGuiApplication>

#include "framestamp/CommandLine.h"
#include "framestamp/DialogFlow.h"

int main(int argc, char** argv) {
    using namespace fsv::framestamp;
    if (wantsDialogs(argc, argv)) {
        const QString input = argc > 1 ? QFile::decodeName(argv[1]) : QString();
        QApplication app(argc, argv);
        DialogPrompts prompts;
        return runDialogs(input, prompts);
    }
    // The batch command needs fonts but no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return runCommandLine(argc, argv);
}
