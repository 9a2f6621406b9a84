// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_SHOWN_OVER_H
#define KESTRILAVON_SHOWN_OVER_H

class QWidget;

// Shows `shown` inside the window that `covered` belongs to, over all of it, with the focus:
// the window that already has the session's focus and its touches stays, and only what it
// shows changes. A new window would wait for the compositor to map it (mutter 43 under load
// took up to a minute, while the check's countdown ran) and be stacked, now and then, below
// the window that has the focus, where no touch reaches it.
// The touches made on what is shown over it are that widget's, or its buttons' as clicks: none
// reaches the window's own widget.
void showOver(QWidget &shown, QWidget &covered);

#endif
