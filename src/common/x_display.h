// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_X_DISPLAY_H
#define KESTRILAVON_X_DISPLAY_H

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <functional>
#include <string>

class QScreen;
class QString;
class QWidget;

// The toolkit aborts with a core dump when it cannot reach the X display, so the program asks
// first. Returns an empty string when the display answers (or the toolkit is told to use
// another platform), otherwise a line for the user (without the program's name) saying which display did not
// answer.
std::string xDisplayProblem(int argc, char **argv);

// Run before the toolkit starts. With no session bus given, the toolkit's D-Bus library would
// start one of its own through dbus-launch (a daemon left running on the display, files in /tmp
// and the home folder, and a 3 s wait for a user who may not start it), and with no usable
// runtime folder the toolkit would make /tmp/runtime-USER. Neither happens after this call; a
// session bus or runtime folder that the user's session does provide is used as usual.
void keepToolkitFromStartingAnything();

// The toolkit's screen for the X monitor of this name (as xrandr --listmonitors shows it); with
// no name, or none that matches, the one that holds the pointer, as full-screen programs open
// where the user is.
QScreen *screenForMonitor(const QString &name);

// The toolkit serves an exposed part of a window from its own copy of the window and never
// asks the widget to paint it again. This filter sees the X server's expose events instead and
// calls onLaterExpose for every one the server generated after it had received the window's
// first screen. The exposes that come from putting the window on screen (mapping it, a window
// manager placing it) were generated before that, so they leave the first screen as drawn.
class LaterExposes : public QAbstractNativeEventFilter {
public:
    LaterExposes(QWidget *watched, std::function<void()> onExpose);
    ~LaterExposes() override;

    // To be called when the first screen is drawn, before the toolkit sends it to the server.
    void firstScreenDrawn();

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override;

private:
    QWidget *window;
    std::function<void()> onLaterExpose;
    struct xcb_connection_t *connection = nullptr;
    std::uint32_t firstScreenRequest = 0;  // 0 until the first screen is drawn
};

#endif
