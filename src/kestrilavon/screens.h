// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_SCREENS_H
#define KESTRILAVON_SCREENS_H

#include "calibration.h"

#include <QString>
#include <QVector>

// One thing drawn on the calibration window: a text with the left end of its base line at
// (x, y), or a red marker centred on (x, y) whose cross reaches `length` pixels each way.
struct ScreenItem {
    enum Kind { Text, Marker };
    Kind kind;
    QString text;
    int x;
    int y;
    int length;

    static ScreenItem textAt(int x, int y, const QString &text) { return {Text, text, x, y, 0}; }
    static ScreenItem markerAt(int length, int x, int y) { return {Marker, QString(), x, y, length}; }
};

using Screen = QVector<ScreenItem>;

// Every screen of the calibration for a window of w x h pixels. The "repaint" variants are
// what an exposed window shows again; they differ slightly from the screens drawn on entry.
namespace screens {

extern const char kDefaultDeviceOpenError[];
extern const char kTypedDeviceOpenError[];
extern const char kReadErrorAfterKey[];
extern const char kReadErrorAfterClick[];

constexpr int kMarkerLength = 80;

Screen intro(int w, int h, const char *device);
Screen introRepaint(int w, int h, const char *device);
Screen openError(int w, int h, const QString &errorMessage);
Screen firstMarker(int w, int h);
Screen firstMarkerRepaint(int w, int h);
Screen secondMarker(int w, int h);
Screen readError(int w, int h, const QString &openErrorMessage, const char *message);
Screen readErrorRepaint(int w, int h);
// saveError is empty when the result file was written, otherwise the system's reason.
Screen result(int w, int h, const Borders &borders, const QString &saveError);

} // namespace screens

#endif
