// xprobe: looks at an X display the way a person would, for tests and demos.
//
//   xprobe capture FILE   saves the whole screen (.png or .ppm by FILE's ending)
//   xprobe cursor         prints "hidden" when the pointer shows no pixel, else "visible"
//
// Uses the display named by DISPLAY.

// Qt before Xlib: Xlib's macros (Status, Bool) break Qt's headers.
#include <QImage>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <cstdio>
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

} // namespace

int main(int argc, char **argv)
{
    const bool captureCommand = argc == 3 && std::strcmp(argv[1], "capture") == 0;
    const bool cursorCommand = argc == 2 && std::strcmp(argv[1], "cursor") == 0;
    if (!captureCommand && !cursorCommand) {
        std::fprintf(stderr, "usage: xprobe capture FILE | xprobe cursor\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "xprobe: cannot open the X display\n");
        return 1;
    }
    const int status = captureCommand ? capture(display, argv[2]) : cursor(display);
    XCloseDisplay(display);
    return status;
}
