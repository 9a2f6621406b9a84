// SPDX-License-Identifier: MIT
#include "ReportWidget.h"

#include "CheckWidget.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kLiftAtMostMs = 1000;

} // namespace

ReportWidget::ReportWidget(bool kept, const QString &report)
    : QWidget(nullptr),
      outcome(kept ? QString("Kept: the touch screen is calibrated.")
                   : QString("Not kept: the report below says why, and what the touch screen uses now.")),
      text(new QPlainTextEdit(report)), close(new QPushButton("Close"))
{
    useCheckLook(this);
    auto *heading = new QLabel(outcome);
    QFont large = heading->font();
    large.setPointSizeF(large.pointSizeF() * 1.5);
    heading->setFont(large);
    heading->setWordWrap(true);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    close->setFont(large);
    close->setMinimumHeight(3 * close->fontMetrics().height());
    // Closed as the finger lifts: closed under a finger still down, the window would leave
    // mutter 43 with a touch that never ends, and no touch would reach the session's windows
    // afterwards. A second after the press at the latest, should the lift never be heard.
    connect(close, &QPushButton::released, this, &QWidget::close);
    connect(close, &QPushButton::pressed, this, [this] { QTimer::singleShot(kLiftAtMostMs, this, &QWidget::close); });
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(text, 1);
    layout->addWidget(close);
}

QString ReportWidget::outcomeShown() const
{
    return outcome;
}

QString ReportWidget::reportShown() const
{
    return text->toPlainText();
}

void ReportWidget::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (onClosed)
        onClosed();
}
