// SPDX-License-Identifier: MIT
#include "ReportWidget.h"

#include <QPushButton>
#include <QtTest>

// The report for a user with no terminal: the outcome said first, the report whole, and a
// finger on Close ends it as it lifts.
class ReportWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void theOutcomeTheWholeReportAndAButtonThatClosesIt()
    {
        const QString report = "The touch landed 743 px from the target, twice.\nThe old calibration is back.\n";
        ReportWidget putBack(false, report);
        QVERIFY(putBack.outcomeShown().startsWith("Not kept"));
        QCOMPARE(putBack.reportShown(), report);
        QVERIFY(ReportWidget(true, "Kept: your touch landed 1 px from the target.\n").outcomeShown().startsWith("Kept"));
        putBack.resize(1024, 768);
        putBack.show();
        QVERIFY(QTest::qWaitForWindowExposed(&putBack));
        QVERIFY(putBack.closeButton()->height() >= 40);
        // Not under the finger still down: as it lifts.
        QTest::mousePress(putBack.closeButton(), Qt::LeftButton);
        QVERIFY(putBack.isVisible());
        QTest::mouseRelease(putBack.closeButton(), Qt::LeftButton);
        QVERIFY(!putBack.isVisible());
    }
};

QTEST_MAIN(ReportWidgetTest)
#include "test_report_widget.moc"
