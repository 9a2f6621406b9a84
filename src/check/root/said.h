// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_SAID_H
#define KESTRILAVON_SAID_H

#include <string>

// What every part of kestrilavon-check says: how it fails, how it finishes its output, and what
// is said kept for a user with no terminal.

// One line on the standard error stream; returns status 1.
int fail(const std::string &line);

// Everything printed goes out now, so that a full disk or a closed pipe is found while the
// status can still say so: a cut configuration file must not look like a good one.
int finishOutput(int status);

// For a user with no terminal (the menu entry): from start until stop, what is said on the
// standard output and error is kept, and still copied on to where the output went at every
// finished piece; stop gives all of it back, with both streams where they were.
bool startKeepingWhatIsSaid();
std::string stopKeepingWhatIsSaid();

#endif
