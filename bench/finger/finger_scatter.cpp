// SPDX-License-Identifier: MIT
// How far a calibration is off over the whole screen when a finger, not a pin, touches the
// targets: kestrilavon-check --calibrate (its own target sequence, linked) beside the layouts
// and solves of its peers, over seeded runs. The same seed prints the same tables.
//
//   finger-scatter [--runs N] [--seed S]

#include "simulation.h"

#include "geometry/statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::pair<int, int> kScreens[] = {{1024, 768}, {800, 480}};
constexpr double kSigmas[] = {2, 4, 10};
// The smallest slip the outlier rule must catch: ten times the scatter, and never under 20 px.
double slipPixels(double sigma)
{
    return std::max(10 * sigma, 20.0);
}

double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(share * double(values.size())));
    return values[std::max<size_t>(rank, 1) - 1];
}

// What one row of a table gathers over its runs.
struct Row {
    std::vector<double> touches, means, worsts;
    int unfinished = 0;  // runs that never gave a calibration
    void add(int touchCount, const std::optional<Calibration> &calibration, const Panel &panel,
             int w, int h)
    {
        touches.push_back(touchCount);
        if (!calibration) {
            ++unfinished;
            return;
        }
        const ScreenError error = screenError(*calibration, panel, w, h);
        means.push_back(error.mean);
        worsts.push_back(error.worst);
    }
};

// Ours only: how its outlier rule treats honest runs and slipped ones.
struct Rule {
    int honest = 0, askedAgain = 0;
    int slipped = 0, caught = 0, blamed = 0, blamedRight = 0;
    std::vector<double> predictedOverTrue;
};

std::string percent(int count, int of)
{
    if (of == 0)
        return "–";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * count / of);
    return text;
}

// Of the slipped runs in which some touch was asked again, the share whose first one asked was
// the slipped touch's target.
std::string blame(const Rule &rule)
{
    if (rule.blamed == 0)
        return "none asked";
    return percent(rule.blamedRight, rule.blamed) + " of " + std::to_string(rule.blamed);
}

std::string cells(const Row &row)
{
    char text[160];
    double sum = 0;
    for (const double touches : row.touches)
        sum += touches;
    if (row.means.empty())
        return "no calibration in any run";
    double meanOfMeans = 0;
    for (const double mean : row.means)
        meanOfMeans += mean / double(row.means.size());
    std::snprintf(text, sizeof text, "%.1f | %.1f px | %.1f / %.1f px",
                  sum / double(row.touches.size()), meanOfMeans, median(row.worsts),
                  percentile(row.worsts, 0.95));
    return text;
}

// The estimate's columns: how often the mean error TargetSequence predicts for its calibration
// lies within a factor 2 of the measured one, and the median ratio predicted / measured. Empty
// while the sequence predicts nothing.
std::string estimateCells(const Rule &rule)
{
    if (rule.predictedOverTrue.empty())
        return "";
    int within = 0;
    for (const double ratio : rule.predictedOverTrue)
        within += ratio >= 0.5 && ratio <= 2;
    char text[64];
    std::snprintf(text, sizeof text, " %s | %.2f |", percent(within, int(rule.predictedOverTrue.size())).c_str(),
                  median(rule.predictedOverTrue));
    return text;
}

void printTable(int w, int h, double sigma, int sigmaIndex, int runs, std::uint32_t seed)
{
    const auto screen = std::uint32_t(w);
    const auto step = std::uint32_t(sigmaIndex);
    Row ours;
    Rule rule;
    for (int i = 0; i < runs; ++i) {
        const Panel &panel = panels()[size_t(i) % panels().size()];
        const auto run = std::uint32_t(i);
        Finger honestFinger({seed, screen, step, 0, run}, sigma);
        const OurRun honest = runOurs(panel, w, h, honestFinger);
        ours.add(honest.touches, honest.calibration, panel, w, h);
        ++rule.honest;
        rule.askedAgain += honest.askedAgain;
        if (honest.predictedMean && honest.calibration)
            rule.predictedOverTrue.push_back(
                *honest.predictedMean / screenError(*honest.calibration, panel, w, h).mean);

        // The same calibration with one of its touches, any of them, slipped.
        Finger slipFinger({seed, screen, step, 1, run}, sigma);
        const int slipAt = int(slipFinger.uniform() * honest.touches);
        const OurRun slipped = runOurs(panel, w, h, slipFinger, slipAt, slipPixels(sigma));
        ++rule.slipped;
        rule.caught += slipped.slipCaught;
        if (slipped.blamedRight) {
            ++rule.blamed;
            rule.blamedRight += *slipped.blamedRight;
        }
    }
    const bool estimated = !rule.predictedOverTrue.empty();
    std::printf("\n%dx%d, finger scatter sigma = %g px per axis, %d runs a row; a slip is %g px\n\n",
                w, h, sigma, runs, slipPixels(sigma));
    std::printf("| layout | touches | mean error | worst point (median / p95) |%s touch again, "
                "honest | slips caught | right target blamed |\n",
                estimated ? " estimate within x2 | median estimate / truth |" : "");
    std::printf("|---|---|---|---|%s---|---|---|\n", estimated ? "---|---|" : "");
    std::printf("| ours: kestrilavon-check --calibrate | %s |%s %s | %s | %s |\n",
                cells(ours).c_str(), estimateCells(rule).c_str(),
                percent(rule.askedAgain, rule.honest).c_str(),
                percent(rule.caught, rule.slipped).c_str(),
                blame(rule).c_str());
    std::vector<std::pair<std::string, int>> unfinished{{"ours", ours.unfinished}};
    for (size_t layout = 0; layout < peerLayouts().size(); ++layout) {
        Row row;
        for (int i = 0; i < runs; ++i) {
            const Panel &panel = panels()[size_t(i) % panels().size()];
            Finger finger({seed, screen, step, std::uint32_t(2 + layout), std::uint32_t(i)}, sigma);
            const PeerRun run = runPeer(peerLayouts()[layout], panel, w, h, finger);
            row.add(run.touches, run.calibration, panel, w, h);
        }
        std::printf("| %s | %s |%s | | |\n", peerLayouts()[layout].name.c_str(),
                    cells(row).c_str(), estimated ? " | |" : "");
        unfinished.emplace_back(peerLayouts()[layout].name, row.unfinished);
    }
    for (const auto &[layout, runsLeft] : unfinished) {
        if (runsLeft > 0)
            std::printf("\n%s: %d of the runs gave no calibration within 100 touches (left out of "
                        "the errors).\n", layout.c_str(), runsLeft);
    }
}

} // namespace

int main(int argc, char **argv)
{
    const auto [runs, seed] = benchOptions(argc, argv, 4000);
    std::printf("Error over a 17x13 grid spanning the screen, corners included; panels: ");
    for (size_t i = 0; i < panels().size(); ++i)
        std::printf("%s%s", i ? "; " : "", panels()[i].name.c_str());
    std::printf(" (in turn); seed %u.\n", seed);
    if (!sequencePredictsError())
        std::printf("The target sequence makes no estimate of its own error yet: no columns for it.\n");
    for (const auto &[w, h] : kScreens)
        for (int s = 0; s < int(std::size(kSigmas)); ++s)
            printTable(w, h, kSigmas[s], s, runs, seed);
    return 0;
}
