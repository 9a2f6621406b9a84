// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_HANDOVER_H
#define KESTRILAVON_HANDOVER_H

#include "geometry/matrix.h"

#include <cstddef>
#include <optional>
#include <string>

// What the window part, run as the session's user, hands the root part over a pipe once a
// calibration is accepted: which of the devices opened for it was calibrated, the fit, the
// compositor's map as measured (or none), how many targets' touches it was measured from, and
// the window's size. The root part trusts none of it: readHandover checks each field as
// --matrix is checked before anything is kept.
//
// The text, eight lines, each ending in a newline, nothing else:
//   kestrilavon-handover 1
//   device N
//   fit A B C D E F
//   compositor A B C D E F        (or: compositor none)
//   pairs PAIRED TARGETS
//   window WIDTH HEIGHT
//   bound PIXELS                  (how far off the check touch may land, whole pixels)
//   x SW SH X Y W H NAME          (or: x none; X's screen and the monitor the window took)
// Where the window ran on X: X's screen and the monitor it took (the one X maps the device
// onto, else the one named or holding the pointer), which root maps the device onto again after
// the re-add. The window part asks X for it as the user: root asks X nothing before it keeps.
struct XPlace {
    int screenWidth = 0, screenHeight = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::string monitor;  // printable ASCII, as printable() leaves a name
};

struct Handover {
    size_t device = 0;
    Matrix fit;
    std::optional<Matrix> compositor;  // a turn or mirror of the unit square
    int paired = 0, targets = 0;
    int width = 0, height = 0;
    int bound = 0;
    std::optional<XPlace> onX;

    // The matrix libinput is to read: the fit where the compositor's map was not measured,
    // else the map undone after the fit.
    Matrix kept() const;
};

// More than a hand-over ever needs: the reader stops there.
constexpr size_t kHandoverLimit = 1024;
constexpr long kHandoverLines = 8;

std::string handoverText(const Handover &handover);

// The hand-over in text, when every field is exactly as handoverText writes it and sane: a
// device among the `devices` opened, a fit and a kept matrix that driverProblem() accepts, a
// compositor map that is one of the eight turns and mirrors, a count of paired touches that
// solving the map takes, a window size of a screen, a bound of at least 12 px that lies
// within it, and a monitor that lies on its X screen. Otherwise nullopt, and *problem says
// which field was wrong.
std::optional<Handover> readHandover(const std::string &text, size_t devices, int targets,
                                     std::string *problem);

// Once root has kept the calibration, the check window's answer, two lines:
//   kestrilavon-touch-check 1
//   kept PIXELS      (the touch on the check target landed that far off: within the bound)
//   off PIXELS       (twice beyond the bound: the calibration is wrong)
//   none timeout     (or: none esc, none closed)
struct TouchVerdict {
    enum class Kind { Kept, Off, None } kind = Kind::None;
    int pixels = 0;
    std::string none;  // timeout, esc or closed
};

std::string touchVerdictText(const TouchVerdict &verdict);
constexpr long kTouchVerdictLines = 2;

// The verdict in text, exactly as touchVerdictText writes it, and "kept" only within the
// bound root was handed; otherwise nullopt.
std::optional<TouchVerdict> readTouchVerdict(const std::string &text, int bound);

// Root's report for the window part that shows it, once root has kept or put back what the
// check decided: a line, "kept" or "not kept", then what root said, to the end of root's side.
// A window shows at most kReportLimit bytes of it.
struct RootReport {
    bool kept = false;
    std::string text;
};

constexpr size_t kReportLimit = 256 * 1024;

std::string reportText(bool kept, const std::string &report);

// The report as reportText writes it; nullopt for anything else.
std::optional<RootReport> readReport(const std::string &text);

#endif
