// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_SHELL_WORD_H
#define KESTRILAVON_SHELL_WORD_H

#include <string>

// A word for a POSIX shell, quoted where it needs to be.
std::string shellWord(const std::string &word);

#endif
