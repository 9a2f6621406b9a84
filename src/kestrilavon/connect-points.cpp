// SPDX-License-Identifier: MIT
// kestrilavon: calibrates a USB touch screen for X. See README.md.

#include "ConnectWidget.h"
#include "calibration.h"
#include "x_display.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

void printStartupNotes()
{
    std::fprintf(stderr, "\nUsage: kestrilavon /dev/input/event*  (*=1,2,3... for "
                         "example:kestrilavon /dev/input/event2)\n");
    std::fprintf(stderr, "        If it seems dead for long, press Ctrl+c to kill it.\n");
    std::fprintf(stderr,
                 "\nAbout: This kestrilavon(Version:%s) is an X calibration program of Quillomar "
                 "Screen of USB interface for Linux.\n",
                 kVersion);
    std::fprintf(stderr, "       Copyright (C) 2026 The kestrilavon developers. Licensed under "
                         "the MIT License.\n\n\n");
}

// The standard error stream carries the start-up notes and nothing else.
void quietToolkitMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "kestrilavon: %s\n", qUtf8Printable(message));
        std::abort();
    }
}

} // namespace

int main(int argc, char **argv)
{
    // Decided before the toolkit sees the arguments: its own options count here too.
    if (argc > 1)
        printStartupNotes();
    char *device = argc == 2 ? argv[1] : nullptr;

    // An X program: do not let the toolkit wander off to another window system.
    setenv("QT_QPA_PLATFORM", "xcb", 0);
    const std::string displayProblem = xDisplayProblem(argc, argv);
    if (!displayProblem.empty()) {
        std::fprintf(stderr, "kestrilavon: %s\n", displayProblem.c_str());
        return 1;
    }
    qInstallMessageHandler(quietToolkitMessages);
    keepToolkitFromStartingAnything();

    QApplication app(argc, argv);
    int result;
    {
        ConnectWidget widget(device);
        // On the monitor that holds the pointer. Without a window manager nothing makes a
        // full-screen window as big as its monitor.
        widget.setGeometry(screenForMonitor(QString())->geometry());
        widget.showFullScreen();
        widget.activateWindow();
        result = app.exec();
    }
    return result;
}
