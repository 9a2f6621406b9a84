// SPDX-License-Identifier: MIT
#include "geometry/x_chain.h"

#include <QtTest>

// What X applies after a re-add (its Coordinate Transformation Matrix after libinput's matrix),
// held against the fit: a desktop's turn is found and undone, anything else is not mistaken
// for one.
class XChainTest : public QObject {
    Q_OBJECT

    // A panel glued a little off on a 1280 x 800 monitor, and the monitor's turn to the left as
    // GNOME sets it in the transformation.
    const Matrix fit{1.03, 0.01, -0.02, -0.005, 0.98, 0.015};
    const Matrix left{0, -1, 1, 1, 0, 0};

private slots:
    void theFitAloneOrUnderAnIdentityTransformationAgrees()
    {
        const ChainFinding found = compareChain(Matrix::identity().after(fit), fit, 1280, 800);
        QVERIFY(found.agrees() && !found.turn);
        QVERIFY(found.worstPixels < 1e-6);
    }

    void aDesktopsTurnIsFoundAndUndoingItBeforeLibinputsMatrixGivesTheFit()
    {
        // X keeps its matrices as 32-bit floats: the chain read back is that close, not exact.
        Matrix read = left.after(fit);
        for (double &value : read.v)
            value = static_cast<float>(value);
        const ChainFinding found = compareChain(read, fit, 1280, 800);
        QVERIFY(!found.agrees());
        QVERIFY(found.worstPixels > 300);
        QVERIFY(found.turn && found.turn->same(left, 1e-12));
        const Matrix kept = found.turn->inverse()->after(fit);
        QVERIFY(compareChain(left.after(kept), fit, 1280, 800).agrees());
    }

    void anOffsetOrAScaleIsNoTurnAndAPixelOffIsToldApart()
    {
        // A transformation onto half the screen, and one two pixels off: neither is a turn.
        for (const Matrix &transformation : {Matrix{0.5, 0, 0, 0, 1, 0}, Matrix{1, 0, 2.0 / 1280, 0, 1, 0}}) {
            const ChainFinding found = compareChain(transformation.after(fit), fit, 1280, 800);
            QVERIFY2(!found.agrees() && !found.turn, transformation.text().c_str());
        }
        const ChainFinding close = compareChain(Matrix{1, 0, 0.6 / 1280, 0, 1, 0}.after(fit), fit, 1280, 800);
        QVERIFY(close.agrees() && close.worstPixels > 0.5);
        // A turn with an offset on top is not that turn.
        QVERIFY(!compareChain(Matrix{0, -1, 1.01, 1, 0, 0}.after(fit), fit, 1280, 800).turn);
    }

    void aFitThatCannotBeUndoneAgreesWithNothing()
    {
        const Matrix flat{1, 2, 0, 2, 4, 0};
        QVERIFY(!compareChain(flat, flat, 1280, 800).agrees());
    }
};

QTEST_APPLESS_MAIN(XChainTest)
#include "test_x_chain.moc"
