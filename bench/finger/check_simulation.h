// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_BENCH_CHECK_SIMULATION_H
#define KESTRILAVON_BENCH_CHECK_SIMULATION_H

#include <cstdint>
#include <vector>

// The check that follows a calibration, driven as the window drives it: a finger calibrates
// with kestrilavon-check --calibrate's own target sequence (its fit and its outlier rule), the
// session then applies what was kept, rightly or with a fault of its own, and the same finger
// touches the check target, again if asked.

enum class SessionFault {
    None,           // the session applies the calibration as kept
    Shifted30,      // and moves every touch 30 px, in a direction drawn per run
    TurnedQuarter,  // and turns the screen a quarter on top of it, as a stale turn would
};

struct CheckTally {
    int calibrations = 0;  // runs that gave a calibration to check
    int kept = 0, reverted = 0;
    int touchedAgain = 0;  // of the calibrations, those whose first check touch was refused
    std::vector<double> bounds;
};

// Over `runs` seeded runs on a w x h screen, cycling through the bench's panels.
CheckTally simulateChecks(int w, int h, double sigma, SessionFault fault, int runs, std::uint32_t seed);

#endif
