// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_COMPOSITOR_MAP_H
#define KESTRILAVON_COMPOSITOR_MAP_H

#include "forms/driver_forms.h"

#include <optional>
#include <string>
#include <vector>

// Where a Wayland compositor puts a touch, measured instead of assumed. libinput applies its
// calibration matrix M to the device's normalised position n; the compositor then maps that
// onto its output with a map C of its own, which weston, GNOME and KDE turn with a turned
// output and wlroots compositors (sway, labwc, cage) do not:
//     position in the window = C(M(n))
// The calibration's fit F takes n to the targets, so the matrix that puts each touch under the
// finger is C^-1 o F. C is solved from the targets' touches as both the device and the
// compositor saw them. Everything is in fractions of the window (0 at the left or top edge, 1
// at the right or bottom edge).

// One target's touch: where libinput put it (M(n)) and where the compositor put it down.
struct CompositorTouch {
    double libinputX, libinputY;
    double windowX, windowY;
};

// A device touch and a compositor touch, paired when they began within this many milliseconds
// of each other: the compositor reads the same kernel events a moment before or after us. By
// the events' own times too: the kernel's (on CLOCK_MONOTONIC) that libinput hands on to
// the compositor, whose events carry it in milliseconds, cut to 32 bits; a compositor slowed
// down passes its events on late, but with their own times.
constexpr long long kPairingMilliseconds = 300;
constexpr long long kNoStamp = -1;

// The touches of one calibration as the device and the compositor saw them, paired by when each
// began: a thumb resting on the bezel is a compositor touch that began long before.
class TouchPairing {
public:
    // The contact the tracker follows went down, at this time (milliseconds, one clock for both).
    // stamped: the record's own time in milliseconds on CLOCK_MONOTONIC, or kNoStamp.
    void deviceBegan(long long time, long long stamped = kNoStamp)
    {
        began = time;
        beganStamped = stamped;
    }
    // The touch that began last was taken for this target, at this normalised position (raw
    // minus minimum, over the range); a target taken again keeps its last touch.
    void deviceTaken(int target, double x, double y);
    // Every target is asked anew.
    void restart() { taken.clear(); }
    // A compositor touch point: its press, its moves and its release, in window fractions.
    // stamped: the event's own time in milliseconds as the compositor gave it, or kNoStamp.
    void compositorPressed(int id, long long time, double x, double y, long long stamped = kNoStamp);
    void compositorMoved(int id, double x, double y);

    // Each target's touch whose compositor touch began within kPairingMilliseconds of it, with
    // libinput's position under the matrix it uses now; the compositor's position is the median
    // of where it put the point, as the tracker takes the device's.
    std::vector<CompositorTouch> pairs(const Matrix &current) const;

private:
    struct Taken {
        int target;
        long long began, beganStamped;
        double x, y;
    };
    struct Stroke {
        int id;
        long long pressed, pressedStamped;
        std::vector<double> xs, ys;
        bool open = true;
    };
    long long began = 0, beganStamped = kNoStamp;
    std::vector<Taken> taken;
    std::vector<Stroke> strokes;
};

// The compositor's map, solved: a turn by a multiple of 90 degrees or a mirror, which puts the
// unit square onto the window; or why it could not be told.
struct CompositorMap {
    std::optional<Matrix> map;  // C, snapped to the exact turn or mirror
    std::string problem;                // one line, when map is missing
    bool turns() const;                 // C is not the identity
    std::string finding() const;        // one line on what was found
};

// The combined extent of the outputs (the union of their geometries) over the window's, on each
// axis: how much larger than the window a screen spread over all of them comes out.
struct OutputsExtent {
    double x = 1, y = 1;
};

// The eight turns and mirrors that take the unit square onto itself, as matrices.
std::vector<Matrix> squareSymmetries();

// How many of the targets' touches solving the map takes: all but one in four, never fewer
// than four.
size_t pairsNeeded(int targets);

// Needs all but one in four of the targets' touches paired (four of five, seven of nine), and
// never fewer than four. A solved map whose corners miss the window's by more
// than 1% is refused: a touch screen spread over several outputs when its scale on each axis is
// within 3% of the outputs' extent, otherwise a matrix other than the one guessed for M.
CompositorMap solveCompositorMap(const std::vector<CompositorTouch> &touches, int targets,
                                 const OutputsExtent &outputs);

#endif
