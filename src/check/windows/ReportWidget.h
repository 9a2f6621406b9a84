// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_REPORTWIDGET_H
#define KESTRILAVON_REPORTWIDGET_H

#include <QString>
#include <QWidget>

#include <functional>
#include <utility>

class QPlainTextEdit;
class QPushButton;

// What root said of a calibration it kept or put back, for a user with no terminal (the menu
// entry): the outcome in one line, the whole report below it with its undo line, and a button
// large enough for a finger that closes it.
class ReportWidget : public QWidget {
public:
    ReportWidget(bool kept, const QString &report);

    QString outcomeShown() const;
    QString reportShown() const;
    QPushButton *closeButton() const { return close; }
    // Shown inside another window, closing it ends nothing by itself: closed() says it was.
    void whenClosed(std::function<void()> closed) { onClosed = std::move(closed); }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QString outcome;
    QPlainTextEdit *text;
    QPushButton *close;
    std::function<void()> onClosed;
};

#endif
