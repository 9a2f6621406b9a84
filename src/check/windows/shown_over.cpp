// SPDX-License-Identifier: MIT
#include "shown_over.h"

#include <QWidget>

void showOver(QWidget &shown, QWidget &covered)
{
    QWidget *host = covered.window();
    // A widget that takes touches above a button gets them before it: the button would never
    // see the clicks the toolkit makes of them.
    host->setAttribute(Qt::WA_AcceptTouchEvents, false);
    shown.setParent(host);
    // A click that the widget shown does not take would reach the window's own widget below
    // (the targets' Done box, say).
    shown.setAttribute(Qt::WA_NoMousePropagation);
    shown.setGeometry(host->rect());
    shown.show();
    shown.raise();
    shown.setFocus(Qt::OtherFocusReason);
    if (&covered != host)
        covered.hide();
}
