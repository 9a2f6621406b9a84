// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_SIGNALS_AT_START_H
#define KESTRILAVON_SIGNALS_AT_START_H

#include <signal.h>

// A signal ignored when the program started stays ignored: nohup ignores SIGHUP, a shell
// starts a background job with SIGINT and SIGQUIT ignored. Neither a handler the program sets
// for a while nor a child it starts may make such a signal act again.

// Whether the signal was ignored when the program was loaded (read before main runs, before
// the program ignores anything of its own).
bool ignoredAtStart(int signal);

// sigaction(signal, &handler, before), except for a signal ignored at start: that stays
// ignored. *before gets the disposition either way, for the caller to put back.
void catchUnlessIgnoredAtStart(int signal, const struct sigaction &handler, struct sigaction *before);

// Where a child after a fork gives up the program's handler: the signal's default action,
// or ignored where it was at start. Safe after a fork.
void defaultUnlessIgnoredAtStart(int signal);

#endif
