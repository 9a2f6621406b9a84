// SPDX-License-Identifier: MIT
#include "geometry/compositor_map.h"

#include <QtTest>

#include <cmath>

// The compositor's own map after libinput's, measured from five touches, and the matrix that
// puts a touch under the finger through it.
class CompositorMapTest : public QObject {
    Q_OBJECT

    // A panel glued to its monitor: its normalised position to the window, as the fit finds it.
    const Matrix fit{1.26, 0, -0.115, 0, -1.17, 1.07};
    const std::vector<std::pair<double, double>> panel{{0.2, 0.85}, {0.8, 0.8}, {0.75, 0.2}, {0.15, 0.25}, {0.5, 0.5}};

    // What the compositor reports for each touch when libinput uses `actual` and the
    // compositor maps with c; libinput's position under the matrix believed to be in use.
    std::vector<CompositorTouch> touches(const Matrix &c, const Matrix &actual = {1, 0, 0, 0, 1, 0},
                                         size_t count = 5) const
    {
        std::vector<CompositorTouch> all;
        for (size_t i = 0; i < count; ++i) {
            const auto [nx, ny] = panel[i];
            const Point at = c.after(actual).apply(nx, ny);
            all.push_back({nx, ny, at.x, at.y});
        }
        return all;
    }

private slots:
    void aTurnOrAMirrorIsFoundAndTakenOutOfTheMatrix()
    {
        // weston's rotate-90, two mirrors, and sway's nothing at all.
        for (const Matrix c : {Matrix{0, -1, 1, 1, 0, 0}, Matrix{-1, 0, 1, 0, 1, 0},
                                       Matrix{0, 1, 0, 1, 0, 0}, Matrix{1, 0, 0, 0, 1, 0}}) {
            const CompositorMap map = solveCompositorMap(touches(c), 5, {});
            QVERIFY2(map.map, map.problem.c_str());
            QCOMPARE(map.map->text(), c.text());
            QCOMPARE(map.turns(), c[0] != 1);
            // Through the compositor's map, the matrix kept puts each touch where the fit does.
            const Matrix kept = map.map->inverse()->after(fit);
            for (const auto &[nx, ny] : panel) {
                const Point at = c.after(kept).apply(nx, ny), target = fit.apply(nx, ny);
                QVERIFY(std::fabs(at.x - target.x) < 1e-9 && std::fabs(at.y - target.y) < 1e-9);
            }
        }
        QCOMPARE(solveCompositorMap(touches({1, 0, 0, 0, 1, 0}), 5, {}).finding(),
                 std::string("the compositor does not turn touches: the matrix contains the turn"));
        // Four of five are enough.
        QVERIFY(solveCompositorMap(touches({0, -1, 1, 1, 0, 0}, {1, 0, 0, 0, 1, 0}, 4), 5, {}).map);
    }

    void aWrongGuessASpreadScreenOrTooFewTouchesAreSaidNotGuessed()
    {
        // libinput still uses an old matrix that udev no longer gives: a slight one, and a whole
        // calibration (weston, turned 270 degrees, measured so on a real kernel).
        for (const auto &[c, old] : {std::pair(Matrix{1, 0, 0, 0, 1, 0}, Matrix{1.1, 0, -0.05, 0, 1, 0}),
                                     std::pair(Matrix{0, 1, 0, -1, 0, 1}, fit)}) {
            const CompositorMap stale = solveCompositorMap(touches(c, old), 5, {});
            QVERIFY2(!stale.map && stale.problem.find("libinput uses another matrix") == 0, stale.problem.c_str());
        }
        // Spread over two outputs side by side, 1920 and 800 pixels wide; this window covers the
        // left one. The same scale is a stale matrix where the outputs together are wider.
        const Matrix spreadOver{2720.0 / 1920, 0, 0, 0, 1, 0};
        const CompositorMap spread = solveCompositorMap(touches(spreadOver), 5, {2720.0 / 1920, 1});
        QVERIFY2(!spread.map && spread.problem.find("spreads this screen") != std::string::npos, spread.problem.c_str());
        for (const OutputsExtent other : {OutputsExtent{3840.0 / 1920, 1}, OutputsExtent{1, 1}}) {
            const CompositorMap stale = solveCompositorMap(touches(spreadOver), 5, other);
            QVERIFY2(!stale.map && stale.problem.find("libinput uses another matrix") == 0, stale.problem.c_str());
        }
        const CompositorMap few = solveCompositorMap(touches({1, 0, 0, 0, 1, 0}, {1, 0, 0, 0, 1, 0}, 3), 5, {});
        QCOMPARE(few.problem, std::string("the compositor reported 3 of the 5 touches: its own map could not be measured"));
        // Two of nine touches lost leave the map as clear; three do not.
        QVERIFY(!solveCompositorMap(touches({0, -1, 1, 1, 0, 0}, {1, 0, 0, 0, 1, 0}, 5), 9, {}).map);
        std::vector<CompositorTouch> seven = touches({0, -1, 1, 1, 0, 0});
        seven.push_back(seven[0]);
        seven.push_back(seven[1]);
        QVERIFY(solveCompositorMap(seven, 9, {}).map);
    }

    void eachTargetsTouchIsPairedWithTheCompositorTouchThatBeganWithIt()
    {
        TouchPairing pairing;
        // A thumb on the bezel since before the first target; the compositor reports each finger
        // a little before or after the device.
        pairing.compositorPressed(1, 0, 0.99, 0.5);
        pairing.deviceBegan(1000);
        pairing.compositorPressed(2, 1040, 0.10, 0.10);
        pairing.compositorMoved(2, 0.12, 0.10);
        pairing.deviceTaken(0, 0.2, 0.2);
        pairing.compositorPressed(3, 1980, 0.90, 0.10);
        pairing.deviceBegan(2000);
        pairing.deviceTaken(1, 0.8, 0.2);
        // Target 1 asked again: its second touch counts, paired with its own press.
        pairing.deviceBegan(3000);
        pairing.compositorPressed(2, 3100, 0.88, 0.11);
        pairing.deviceTaken(1, 0.79, 0.21);
        // A touch the compositor never reported is left out.
        pairing.deviceBegan(5000);
        pairing.deviceTaken(2, 0.8, 0.8);
        const std::vector<CompositorTouch> pairs = pairing.pairs({2, 0, 0, 0, 2, 0});
        QCOMPARE(pairs.size(), size_t(2));
        QCOMPARE(pairs[0].libinputX, 0.4);
        QCOMPARE(pairs[0].windowX, 0.11);  // the median of 0.10 and 0.12
        QCOMPARE(pairs[1].libinputY, 0.42);
        QCOMPARE(pairs[1].windowX, 0.88);
        pairing.restart();
        QVERIFY(pairing.pairs({1, 0, 0, 0, 1, 0}).empty());
    }

    void aCompositorSlowToPassTouchesOnIsPairedByTheEventsOwnTimes()
    {
        TouchPairing pairing;
        // Received 900 ms after the device's record, but stamped by the kernel's clock as it was,
        // in 32 bits that wrapped between the two.
        const long long kernel = (1LL << 32) + 5;
        pairing.deviceBegan(1000, kernel);
        pairing.compositorPressed(1, 1900, 0.3, 0.3, 5);
        pairing.deviceTaken(0, 0.3, 0.3);
        // Stamped far apart and received far apart: another touch.
        pairing.deviceBegan(4000, kernel + 3000);
        pairing.compositorPressed(2, 4900, 0.7, 0.7, 5 + 1500);
        pairing.deviceTaken(1, 0.7, 0.7);
        const std::vector<CompositorTouch> pairs = pairing.pairs({1, 0, 0, 0, 1, 0});
        QCOMPARE(pairs.size(), size_t(1));
        QCOMPARE(pairs[0].windowX, 0.3);
    }
};

QTEST_APPLESS_MAIN(CompositorMapTest)
#include "test_compositor_map.moc"
