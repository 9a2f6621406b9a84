// SPDX-License-Identifier: MIT
#include "shown_over.h"

#include <QWidget>

void showOver(QWidget &shown, QWidget &covered)
{
    QWidget *host = covered.window();
    shown.setParent(host);
    // A touch or click that the widget shown does not take itself (one on a button, which the
    // toolkit turns into a click) would otherwise go up to the window's own widget, which
    // takes every touch: the button would never see it, and the targets' Done box might.
    shown.setAttribute(Qt::WA_NoMousePropagation);
    shown.setGeometry(host->rect());
    shown.show();
    shown.raise();
    shown.setFocus(Qt::OtherFocusReason);
    if (&covered != host)
        covered.hide();
}
