// SPDX-License-Identifier: MIT
#include "ReportWidget.h"

#include "CheckWidget.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

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
    // Closed as the finger goes down: under mutter, a window that comes after others have closed
    // at a touch's press may never hear that touch lift, so a click would never come.
    connect(close, &QPushButton::pressed, this, &QWidget::close);
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
