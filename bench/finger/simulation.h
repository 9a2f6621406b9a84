// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_BENCH_SIMULATION_H
#define KESTRILAVON_BENCH_SIMULATION_H

#include "forms/driver_forms.h"
#include "geometry/fit.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <vector>

// A finger that does not land where it aims, on a panel whose true map is known, and how far a
// calibration made from its touches is off over the whole screen.

// A touch panel as the device reports it, and where the screen truly lies on it.
struct Panel {
    std::string name;
    AxisRange x, y;
    Matrix rawFromScreen;  // screen fractions -> raw units, the truth a calibration should find
};
// Three panels a run cycles through: 12-bit and 15-bit ranges, each a little wider than the
// screen and off centre, one of them turned a quarter and slightly skewed.
const std::vector<Panel> &panels();

// A bench's command line: --runs N and --seed S, with these defaults.
struct BenchOptions {
    int runs;
    std::uint32_t seed = 1;
};
BenchOptions benchOptions(int argc, char **argv, int defaultRuns);

// Normal scatter from std::mt19937 alone (whose sequence the standard fixes), so that a seed
// prints the same table with any standard library.
class Finger {
public:
    // The seed is spread from its parts by std::seed_seq, whose algorithm the standard also fixes.
    Finger(std::initializer_list<std::uint32_t> seed, double sigmaPixels);
    double uniform();   // in (0, 1)
    double gaussian();  // mean 0, deviation 1
    // Where a touch aimed at pixel (px, py) lands, in pixels, before any slip.
    std::pair<double, double> land(int px, int py);

private:
    std::mt19937 engine;
    double sigma;
    std::optional<double> spare;
};

// The raw position the device reports for a point (in pixels) of a w x h screen: whole units.
std::pair<double, double> rawAt(const Panel &panel, double x, double y, int w, int h);

// How far the calibration is off over a 17 x 13 grid spanning the screen, corners included.
struct ScreenError {
    double mean, worst;
};
ScreenError screenError(const Calibration &calibration, const Panel &panel, int w, int h);

// One calibration of ours, driven as its window drives it.
struct OurRun {
    int touches = 0;
    bool accepted = false;
    bool askedAgain = false;          // some answer was Repeat
    bool slipCaught = false;          // Repeat named the slipped touch's target before Accepted
    std::optional<bool> blamedRight;  // whether the first Repeat after the slip named it
    std::optional<Calibration> calibration;
    std::vector<TouchOnTarget> fittedTouches;  // what the accepted calibration was fitted to
    std::optional<double> predictedMean;  // the sequence's own estimate, where it makes one
};
// Whether OurRun::predictedMean is filled: whether the sequence estimates its own error.
bool sequencePredictsError();
// slipAt: the index of the touch that slips, by slipPixels in a random direction; -1 for none.
OurRun runOurs(const Panel &panel, int w, int h, Finger &finger, int slipAt = -1,
               double slipPixels = 0);

// A peer's layout and solve, one touch per listed target.
struct PeerLayout {
    std::string name;
    enum class Solve {
        LeastSquares,        // all touches fitted at once
        ThreeAndCheck,       // the first three solved exactly, the fourth checked; again on a miss
    } solve;
    std::vector<std::pair<int, int>> (*targets)(int w, int h);  // pixels, in the order shown
};
const std::vector<PeerLayout> &peerLayouts();

struct PeerRun {
    int touches = 0;
    std::optional<Calibration> calibration;
};
PeerRun runPeer(const PeerLayout &layout, const Panel &panel, int w, int h, Finger &finger);

#endif
