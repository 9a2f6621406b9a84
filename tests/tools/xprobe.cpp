// SPDX-License-Identifier: MIT
// xprobe: looks at an X display the way a person would, for tests and demos.
//
//   xprobe capture FILE   saves the whole screen (.png or .ppm by FILE's ending)
//   xprobe cursor         prints "hidden" when the pointer shows no pixel, else "visible"
//   xprobe wait-red X Y   says "polling", polls pixel (X, Y) every half millisecond until it is
//                         red, then prints the CLOCK_MONOTONIC time in seconds; gives up
//                         after 30 s
//   xprobe cover X Y W H  maps a black window of its own over that part of the screen, waits
//                         until it is shown, then destroys it: an expose for what was beneath
//   xprobe wait-wm        maps a window of its own and waits (10 s at most) until a window
//                         manager has taken it into a frame: the manager is ready for windows
//
// Uses the display named by DISPLAY.

// Qt before Xlib: Xlib's macros (Status, Bool) break Qt's headers.
#include <QImage>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int capture(Display *display, const char *file)
{
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    XImage *image = XGetImage(display, root, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!image) {
        std::fprintf(stderr, "xprobe: cannot read the screen\n");
        return 1;
    }
    QImage picture(attributes.width, attributes.height, QImage::Format_RGB32);
    for (int y = 0; y < attributes.height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < attributes.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            row[x] = qRgb(static_cast<int>((pixel & image->red_mask) >> 16),
                          static_cast<int>((pixel & image->green_mask) >> 8),
                          static_cast<int>(pixel & image->blue_mask));
        }
    }
    XDestroyImage(image);
    if (!picture.save(file)) {
        std::fprintf(stderr, "xprobe: cannot write %s\n", file);
        return 1;
    }
    return 0;
}

int cursor(Display *display)
{
    int eventBase, errorBase;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase)) {
        std::fprintf(stderr, "xprobe: the X server has no XFIXES\n");
        return 1;
    }
    XFixesCursorImage *image = XFixesGetCursorImage(display);
    if (!image) {
        std::fprintf(stderr, "xprobe: cannot read the cursor\n");
        return 1;
    }
    bool visible = false;
    for (unsigned i = 0; i < unsigned(image->width) * image->height; ++i)
        visible = visible || (image->pixels[i] >> 24) != 0;
    XFree(image);
    std::puts(visible ? "visible" : "hidden");
    return 0;
}

int waitRed(Display *display, int x, int y)
{
    const Window root = DefaultRootWindow(display);
    timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::puts("polling");
    std::fflush(stdout);
    const timespec pause{0, 500000};
    for (;;) {
        XImage *image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (image) {
            const unsigned long pixel = XGetPixel(image, 0, 0);
            const unsigned long red = (pixel & image->red_mask) >> 16;
            const unsigned long green = (pixel & image->green_mask) >> 8;
            const unsigned long blue = pixel & image->blue_mask;
            XDestroyImage(image);
            if (red > 200 && green < 60 && blue < 60) {
                std::printf("%ld.%09ld\n", static_cast<long>(now.tv_sec), now.tv_nsec);
                return 0;
            }
        }
        if (now.tv_sec - start.tv_sec > 30) {
            std::fprintf(stderr, "xprobe: %d,%d did not turn red\n", x, y);
            return 1;
        }
        nanosleep(&pause, nullptr);
    }
}

int cover(Display *display, int x, int y, int width, int height)
{
    // Override-redirect: placed exactly there, with or without a window manager.
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
    attributes.event_mask = StructureNotifyMask | ExposureMask;
    const Window window = XCreateWindow(
        display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
        static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
        CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    XMapRaised(display, window);
    XEvent event;
    do
        XNextEvent(display, &event);
    while (event.type != Expose);
    XSync(display, False);
    XDestroyWindow(display, window);
    XSync(display, False);
    return 0;
}

int waitWindowManager(Display *display)
{
    XSetWindowAttributes attributes{};
    attributes.event_mask = StructureNotifyMask;
    const Window window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0,
                                        CopyFromParent, InputOutput, CopyFromParent, CWEventMask,
                                        &attributes);
    XMapWindow(display, window);
    XFlush(display);
    timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    bool framed = false;
    long lastMap = 0;
    do {
        XEvent event;
        while (!framed && XCheckTypedWindowEvent(display, window, ReparentNotify, &event))
            framed = event.xreparent.parent != DefaultRootWindow(display);
        const timespec pause{0, 10000000};
        nanosleep(&pause, nullptr);
        clock_gettime(CLOCK_MONOTONIC, &now);
        // Mapped before the manager took over the root window, the window is never framed: a
        // new map each second asks again.
        if (!framed && now.tv_sec - start.tv_sec > lastMap) {
            lastMap = now.tv_sec - start.tv_sec;
            XUnmapWindow(display, window);
            XMapWindow(display, window);
            XFlush(display);
        }
    } while (!framed && now.tv_sec - start.tv_sec < 10);
    XDestroyWindow(display, window);
    XSync(display, False);
    if (!framed)
        std::fprintf(stderr, "xprobe: no window manager took a window within 10 s\n");
    return framed ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const bool captureCommand = argc == 3 && std::strcmp(argv[1], "capture") == 0;
    const bool cursorCommand = argc == 2 && std::strcmp(argv[1], "cursor") == 0;
    const bool waitRedCommand = argc == 4 && std::strcmp(argv[1], "wait-red") == 0;
    const bool coverCommand = argc == 6 && std::strcmp(argv[1], "cover") == 0;
    const bool waitWmCommand = argc == 2 && std::strcmp(argv[1], "wait-wm") == 0;
    if (!captureCommand && !cursorCommand && !waitRedCommand && !coverCommand && !waitWmCommand) {
        std::fprintf(stderr, "usage: xprobe capture FILE | xprobe cursor | xprobe wait-red X Y"
                             " | xprobe cover X Y W H | xprobe wait-wm\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "xprobe: cannot open the X display\n");
        return 1;
    }
    const int status = captureCommand ? capture(display, argv[2])
        : cursorCommand                 ? cursor(display)
        : waitWmCommand                 ? waitWindowManager(display)
        : coverCommand ? cover(display, std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                               std::atoi(argv[5]))
                       : waitRed(display, std::atoi(argv[2]), std::atoi(argv[3]));
    XCloseDisplay(display);
    return status;
}
