// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_DRIVER_FORMS_H
#define KESTRILAVON_DRIVER_FORMS_H

#include "calibration.h"
#include "geometry/matrix.h"

#include <optional>
#include <string>

// A calibration in the forms that X's and Wayland's input drivers read. Knows nothing of the
// toolkit, of X or of devices: it is given what they said.

struct AxisRange {
    int minimum = 0;
    int maximum = 0;
};

// Where a raw position lands on the monitor, in fractions of its width and height (0 at the
// left or top edge, 1 at the right or bottom edge):
//   x = m[0] * raw x + m[1] * raw y + m[2],   y = m[3] * raw x + m[4] * raw y + m[5]
struct Calibration {
    Matrix m;
};

// The calibration that the four borders describe; nullopt when they are equal on an axis.
std::optional<Calibration> calibrationFromBorders(const Borders &borders);

// Where a raw position lands on a w x h screen under these borders, read linearly:
// x = (raw x - left) * w / (right - left), the same for y. nullopt when the borders are equal
// on an axis. Computed in 64 bits; a point far off screen is clamped to +-1e6.
struct ScreenPoint {
    int x;
    int y;
};
std::optional<ScreenPoint> mapToScreen(const Borders &borders, int rawX, int rawY, int w, int h);

// libinput's six values: the same map on coordinates normalised to the axis ranges libinput
// reads, each as (raw - minimum) / (maximum - minimum + 1). Offsets are in device widths.
Matrix libinputMatrix(const Calibration &calibration, AxisRange x, AxisRange y);
// The other way: the map from raw values in these ranges. Two axes that report one position in
// ranges of their own (ABS_X and ABS_MT_POSITION_X) have one matrix, so this also converts a
// calibration between them.
Calibration calibrationFromLibinput(const Matrix &matrix, AxisRange x, AxisRange y);

// A 16-bit id as udev and Xorg match it: four lowercase hexadecimal digits.
std::string hexId(unsigned value);

// One monitor of the X screen (a RandR monitor), in X pixels.
struct Monitor {
    std::string name;
    int x = 0, y = 0, width = 0, height = 0;
};

// X's "Coordinate Transformation Matrix" (its first two rows) that maps an absolute device onto
// this monitor of a screen of this size: scale and offset, in fractions of the whole screen.
Matrix monitorTransformation(const Monitor &monitor, int screenWidth, int screenHeight);

// What identifies one kernel input device in a configuration.
struct DeviceIdentity {
    std::string name;
    unsigned bus = 0, vendor = 0, product = 0;
};

// Whether a C1 control character (U+0080..U+009F in UTF-8) begins at text[at].
bool isC1Control(const std::string &text, size_t at);

// Why a device name may not go between double quotes in a configuration file: none at all, a
// double quote, a backslash or a control character; or an empty string.
std::string plainNameProblem(const std::string &name);

// Why a device name may not go into an xorg.conf file (a double quote, a backslash, a control
// character, or the "|" that Xorg reads as "or"), or an empty string.
std::string nameProblemForXorg(const std::string &name);

// The xorg.conf.d section: the borders for the screen's own driver and evdev's Calibration
// (only where the calibration has borders: see axisAlignedBorders), libinput's
// CalibrationMatrix, matched by name (and USB id where the device is on USB). On an X screen of
// several monitors, also the TransformationMatrix that maps the device onto its own.
struct OntoMonitor {
    Monitor monitor;
    Matrix transformation;
};
std::string xorgSnippet(const DeviceIdentity &device, const std::optional<Borders> &borders,
                        const Matrix &matrix, const std::optional<OntoMonitor> &onto = {});

// tslib's pointercal line for a screen of w x h pixels: the calibration from raw device units
// (tslib's linear module works on raw values, not normalised ones) to pixels, its six numbers
// scaled by 65536 and rounded, then the scale, w, h and 0 (no turn): "Ax Bx Cx Ay By Cy S W H R",
// where a pixel x = (Ax * raw x + Bx * raw y + Cx) / S. nullopt where a number would not fit
// tslib's int.
std::optional<std::string> pointercalLine(const Calibration &calibration, int w, int h);

// The pointercal line in a file's text when it is exactly ten integers (blanks around them
// allowed); nullopt for anything else.
std::optional<std::string> checkedPointercal(const std::string &text);

#endif
