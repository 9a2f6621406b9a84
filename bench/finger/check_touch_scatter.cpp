// SPDX-License-Identifier: MIT
// How often the touch that checks a kept calibration puts it back: for correct calibrations
// made with a finger (false reverts, which must stay at 1% or under), and for calibrations that
// the session moves or turns (which must be put back). kestrilavon-check's own target sequence
// and check, linked, over seeded runs; the same seed prints the same table.
//
//   check-touch-scatter [--runs N] [--seed S]

#include "check_simulation.h"
#include "simulation.h"

#include "geometry/statistics.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::pair<int, int> kScreens[] = {{1024, 768}, {1920, 1080}};
// 4 px, as careful fingers touch; 8 px, past the 12 px floor, where the fit's scatter sets the bound.
constexpr double kSigmas[] = {4, 8};
constexpr std::pair<SessionFault, const char *> kFaults[] = {
    {SessionFault::None, "correct"},
    {SessionFault::Shifted30, "moved 30 px by the session"},
    {SessionFault::TurnedQuarter, "turned a quarter by the session"},
};

double percent(int count, int of)
{
    return of == 0 ? 0 : 100.0 * count / of;
}

} // namespace

int main(int argc, char **argv)
{
    const auto [runs, seed] = benchOptions(argc, argv, 50000);
    std::printf("Check touch after --calibrate, finger scatter sigma per axis, one retry; "
                "%d runs a row, seed %u.\n\n", runs, seed);
    std::printf("| screen | sigma | calibration | checked | touch again | reverted | median bound |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const auto &[w, h] : kScreens) {
        for (const auto &[fault, name] : kFaults) {
            for (const double sigma : kSigmas) {
                const CheckTally tally = simulateChecks(w, h, sigma, fault, runs, seed);
                std::printf("| %dx%d | %g px | %s | %d | %.2f%% | %.2f%% | %.1f px |\n", w, h, sigma, name,
                            tally.calibrations, percent(tally.touchedAgain, tally.calibrations),
                            percent(tally.reverted, tally.calibrations),
                            tally.bounds.empty() ? 0.0 : median(tally.bounds));
            }
        }
    }
    return 0;
}
