// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_REPORTWIDGET_H
#define KESTRILAVON_REPORTWIDGET_H

#include <QString>
#include <QWidget>

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

private:
    QString outcome;
    QPlainTextEdit *text;
    QPushButton *close;
};

#endif
