// SPDX-License-Identifier: MIT
#include "geometry/matrix.h"
#include "text/decimal.h"

#include <QtTest>

#include <cmath>

// libinput's matrix as every form prints and reads it, and as the geometry composes it.
class MatrixTest : public QObject {
    Q_OBJECT

    // A panel glued to its monitor a little off, and one turned a quarter and mirrored.
    const Matrix fit{1.26, 0.02, -0.115, -0.01, -1.17, 1.07};
    const Matrix turned{0, 1, 0, 1, 0, 0};

private slots:
    void everyNumberPrintedReadsBackAndOtherTextsAreRefused()
    {
        for (const double value : {0.0, -0.0, 1e-7, -4.9e-7, 0.5, -1.0 / 3, 123456.789012, 1e15, -1e20,
                                   1.7976931348623157e308, -1.7976931348623157e308, 4.9e-324}) {
            const std::string text = decimal(value);
            const auto back = Matrix::parse(text + " 0 0 0 1 0");
            QVERIFY2(back && std::fabs((*back)[0] - value) <= 5e-7 * std::max(1.0, std::fabs(value)), text.c_str());
            QVERIFY2(text.find_first_not_of("-0123456789.") == std::string::npos, text.c_str());
        }
        for (const char *bad : {"1 0 inf 0 1 0", "1 0 nan 0 1 0", "1 0 1e400 0 1 0", "1 0 0 0 1", "1 0 0 0 1 0 0"})
            QVERIFY2(!Matrix::parse(bad), bad);
        QCOMPARE(Matrix::parse(" 1.26\t0.02 -0.115 -0.01 -1.17 1.07 ")->text(),
                 std::string("1.26 0.02 -0.115 -0.01 -1.17 1.07"));
    }

    void absurdMatricesAreRefusedForADriver()
    {
        // Far off the screen, however it is written, is refused; a turn or a mirror is not.
        for (const Matrix far : {Matrix{1, 0, 1e300, 0, 1, 0}, Matrix{1, 0, 1e20, 0, 1, 0}, Matrix{1, 0, 1.01, 0, 1, 0},
                                 Matrix{0.5, 0.5, -1.01, 0, 1, 0}, Matrix{1, 0, 0, 0, 0.001, 0},
                                 Matrix{1, 0, 0, 0, 1, std::nan("")}})
            QVERIFY2(!far.driverProblem().empty(), far.text().c_str());
        for (const Matrix fine : {Matrix{-1, 0, 1, 0, 1, 0}, Matrix{0, -1, 1, 1, 0, 0}, fit, turned,
                                  Matrix{2, 0, -1.5, 0, 2, -1.5}})
            QVERIFY2(fine.driverProblem().empty(), fine.text().c_str());
    }

    void aMapComposedWithItsInverseIsTheIdentityAndASingularOneHasNone()
    {
        const Point at = turned.after(fit).apply(0.5, 0.25);
        QVERIFY(std::fabs(at.x - (-0.005 - 0.2925 + 1.07)) < 1e-12 && std::fabs(at.y - (0.63 + 0.005 - 0.115)) < 1e-12);
        for (const Matrix &m : {fit, turned})
            QVERIFY(m.inverse()->after(m).same(Matrix::identity(), 1e-12)
                    && m.after(*m.inverse()).same(Matrix::identity(), 1e-12));
        QVERIFY(!fit.same(Matrix{1.2602, 0.02, -0.115, -0.01, -1.17, 1.07}));
        for (const Matrix singular : {Matrix{1, 2, 0, 2, 4, 0.5}, Matrix{1e-300, 0, 0, 0, 1e-300, 0}})
            QVERIFY2(!singular.inverse(), singular.text().c_str());
    }
};

QTEST_APPLESS_MAIN(MatrixTest)
#include "test_matrix.moc"
