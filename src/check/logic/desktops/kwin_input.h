// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_KWIN_INPUT_H
#define KESTRILAVON_KWIN_INPUT_H

#include "desktops/gnome_mapping.h"
#include "geometry/matrix.h"

#include <optional>
#include <string>
#include <vector>

// KWin's side of a calibration, as its D-Bus shows a device (service org.kde.KWin, interface
// org.kde.KWin.InputDevice): the matrix it uses, the answer the user's part hands root, and the
// read-back's line. Only the text: the bus is the caller's, and only the user's.

// The device's object on KWin's bus, named by its node's name (/dev/input/event5 is
// /org/kde/KWin/InputDevice/event5); empty for a node not named eventN.
std::string kwinDeviceObject(const std::string &node);

// libinput's six numbers in KWin's calibrationMatrix, a 4x4 matrix sent row by row; nullopt
// when it is not sixteen finite numbers whose last two rows are 0 0 1 0 and 0 0 0 1 and whose
// last column is 0 0 1 1.
std::optional<Matrix> matrixFromKWin(const std::vector<double> &rows);

// What the user's part saw of KWin: the matrix it uses, or why none was seen.
struct KWinAnswer {
    std::optional<Matrix> matrix;
    std::string unseen;
};

// The answer as the user's part hands it over, one line.
std::string kwinAnswerText(const KWinAnswer &answer);
// Root's reading of a hand-over: nullopt for anything kwinAnswerText does not write. The reason
// is kept as handed; it is the user's text, printed only through printable().
std::optional<KWinAnswer> readKWinAnswer(const std::string &text);

// The read-back's line for KWin after a re-add that gave the device expected. *ok is cleared
// where KWin uses another matrix: its own per-device setting (kcminputrc), which it sets over
// udev's each time it adds the device.
std::string kwinReadBackLine(const std::optional<KWinAnswer> &answer, const Matrix &expected, bool *ok);

// KWin's output for a device (its outputName, which KWin keeps in ~/.config/kcminputrc): the
// output it maps the touch screen onto. Settled before the targets are measured, as GNOME's
// mapping is, so that what is measured is what is kept.

// The longest output name handed back to root: connectors are named as HDMI-A-1 or Virtual-1.
constexpr size_t kLongestKWinOutput = 64;

// Whether root can be handed name, and so put it back: printable and not too long.
bool kwinOutputNameFits(const std::string &name);

// What to do, as chooseGnomeStep decides GNOME's mapping, given KWin's outputs, the device's
// outputName now, the output named (or ""), and whether the options allow writing it. Never
// SayUnmapped: KWin turns touches with the output either way. *target is the output meant.
GnomeStep chooseKWinStep(const std::vector<std::string> &outputs, const std::string &current,
                         const std::string &outputName, bool writing, std::string *target);

// The command that sets the device's outputName back to before, every part of it quoted.
std::string kwinOutputUndo(const std::string &object, const std::string &before);

// The outputName before, as the user's part hands it to root, and root's reading of it: nullopt
// for anything kwinOutputHandover does not write, or a name that does not fit.
std::string kwinOutputHandover(const std::string &before);
std::optional<std::string> readKWinOutputHandover(const std::string &text);

#endif
