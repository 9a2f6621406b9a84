// SPDX-License-Identifier: MIT
#include "screens.h"

namespace screens {

const char kDefaultDeviceOpenError[] =
    "Error: Can not open default device %s! Please read readme file carefully!";
const char kTypedDeviceOpenError[] =
    "Error: Can not open the device %s you typed! Please read readme file carefully!";
const char kReadErrorAfterKey[] =
    "Read device Error! Press R or r to try again. Press Esc or Double click to quit.";
const char kReadErrorAfterClick[] =
    "Read device Error! Press R or r to try again, Press Esc or Double click to quit.";

namespace {

const char kTouchRequest[] =
    "Please Press Enter and Touch the marker or just touch if the Touch Screen is working";
const char kMarkerNote[] =
    "(Note: to exit Press Esc. If it seems dead for long, press Alt+Tab,then kill it.)";
const char kMarkerNoteRepaint[] =
    "(Note: to exit Press Esc.If it seems dead for long, press Alt+Tab,then kill it.)";

Screen introWith(int w, int h, const char *device, const char *usageLine, int continueX)
{
    return {
        ScreenItem::textAt(w / 10, h / 4,
                           QString::asprintf("Now this Quillomar Screen calibration program is "
                                             "using the default attaching device: %s.",
                                             device)),
        ScreenItem::textAt(w / 10, h / 4 + 30,
                           "If the Touch Screen has been attached to event* (*=1,2,3...), you "
                           "should run it in X terminal as bellow:"),
        ScreenItem::textAt(w / 10 + 50, h / 4 + 60, usageLine),
        ScreenItem::textAt(continueX, h / 2 + 20,
                           "Press Enter or click to continue ...  or Press Esc to exit."),
    };
}

Screen markerScreen(int textX, int h, const char *note, int markerX, int markerY)
{
    return {
        ScreenItem::textAt(textX, h / 2, kTouchRequest),
        ScreenItem::textAt(textX, h / 2 + 24, note),
        ScreenItem::markerAt(kMarkerLength, markerX, markerY),
    };
}

} // namespace

Screen intro(int w, int h, const char *device)
{
    return introWith(w, h, device, "Usage: kestrilavon /dev/input/event*", w / 4);
}

Screen introRepaint(int w, int h, const char *device)
{
    return introWith(w, h, device, "kestrilavon /dev/input/event*", w / 3);
}

Screen openError(int w, int h, const QString &errorMessage)
{
    return {
        ScreenItem::textAt(w / 8, h / 4, errorMessage),
        ScreenItem::textAt(w / 8 + 50, h / 4 + 50,
                           "Usage: kestrilavon /dev/input/event* (*=0,1,2,3...)"),
        ScreenItem::textAt(w / 6, h / 2, "To EXIT, Press the key Esc or double click."),
    };
}

Screen firstMarker(int w, int h)
{
    return markerScreen(w / 4 - 20, h, kMarkerNote, w / 4 - 1, h / 4 - 1);
}

Screen firstMarkerRepaint(int w, int h)
{
    return markerScreen(w / 4 - 20, h, kMarkerNoteRepaint, w / 4 - 1, h / 4 - 1);
}

Screen secondMarker(int w, int h)
{
    return markerScreen(w / 4, h, kMarkerNote, 3 * w / 4 - 1, 3 * h / 4 - 1);
}

Screen readError(int w, int h, const QString &openErrorMessage, const char *message)
{
    return {
        ScreenItem::textAt(w / 5, h / 3, openErrorMessage),
        ScreenItem::textAt(w / 4, h / 2, message),
    };
}

Screen readErrorRepaint(int w, int h)
{
    return {ScreenItem::textAt(w / 4, h / 2, kReadErrorAfterKey)};
}

Screen result(int w, int h, const Borders &borders, const QString &saveError)
{
    const int top = h / 6;
    const int left = w / 10;
    const QString whereSaved = saveError.isEmpty()
        ? QString::asprintf("And you can also see the data in file: %s", kResultFilePath)
        : QString::asprintf("But the data could not be saved in file: %s (%s)", kResultFilePath,
                            qUtf8Printable(saveError));
    return {
        ScreenItem::textAt(left, top,
                           "Ok! Fill the following data to the X Config file to calibrate your "
                           "Quillomar Screen,then restart X."),
        ScreenItem::textAt(left + 50, top + 25,
                           QString::asprintf("Option  \"BoderLeft\"  \"%d\"", borders.left)),
        ScreenItem::textAt(left + 50, top + 50,
                           QString::asprintf("Option  \"BoderRight\"  \"%d\"", borders.right)),
        ScreenItem::textAt(left + 50, top + 80,
                           QString::asprintf("Option  \"BoderTop\"  \"%d\"", borders.top)),
        ScreenItem::textAt(left + 50, top + 105,
                           QString::asprintf("Option  \"BoderBottom\"  \"%d\"", borders.bottom)),
        ScreenItem::textAt(left - 20, top + 155,
                           "You can switch the result screen and the X config file by pressing "
                           "Alt+Tab."),
        ScreenItem::textAt(left - 20, top + 180, whereSaved),
        ScreenItem::textAt(w / 80, top + 230,
                           QString::asprintf("This kestrilavon(Version:%s) is an X calibration "
                                             "program of Quillomar Screen of USB interface for "
                                             "Linux.",
                                             kVersion)),
        ScreenItem::textAt(w / 4, top + 280, "Thank you for using. ~_~ Press key R or r to redo!"),
        ScreenItem::textAt(w / 4, top + 330,
                           "To exit, please press the key Esc or double click !"),
    };
}

} // namespace screens
