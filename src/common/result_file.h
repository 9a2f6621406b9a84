// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_RESULT_FILE_H
#define KESTRILAVON_RESULT_FILE_H

#include "calibration.h"

#include <sys/types.h>

#include <optional>
#include <string>

// The result file: written by kestrilavon, read back by kestrilavon-check.

// The five lines of the result file, each ending in a newline.
std::string resultFileText(const Borders &borders);

// Replaces the file at path with text so that nothing already lying at that name (a link, a
// pipe, another user's file) is ever written through, and no reader sees half of it.
// Returns an empty string on success, otherwise the system's reason.
std::string saveResultFile(const std::string &path, const std::string &text);

// The four borders in a result file's text: each of the BoderLeft, BoderRight, BoderTop and
// BoderBottom lines, each a whole line as kestrilavon writes it (any blanks between and around
// the words), the first well-formed one of each name counting. nullopt when one is missing or
// its value is no int.
std::optional<Borders> parseResultText(const std::string &text);

// The four borders read back from a result file, or why they cannot be.
struct ResultFile {
    std::optional<Borders> borders;
    std::string problem;  // empty when the borders were read
    uid_t owner = 0;
    // A result file that root or this user wrote (under sudo, also the user who ran sudo).
    // Anyone else's, say one planted in /tmp, may be shown but never goes into a configuration.
    bool trusted() const;
    // "user NAME (uid N)", for messages about an untrusted file.
    std::string ownerName() const;
};

// The user who ran this program through sudo (SUDO_UID), taken only when the real user is root:
// anyone may set the variable, but only root may run a program with it as root.
std::optional<uid_t> sudoUser();

// Opens the file without following a link and without blocking on a FIFO, takes only a small
// regular file, and reads its borders. Never copies the file's text anywhere.
ResultFile readResultFile(const std::string &path);

#endif
