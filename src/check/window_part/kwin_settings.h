// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_KWIN_SETTINGS_H
#define KESTRILAVON_KWIN_SETTINGS_H

#include <optional>
#include <string>
#include <vector>

// KWin's output for a touch screen, as the session's user, through the session's own bus (none
// is ever launched): the outputName of the device's object on KWin's bus, which KWin keeps.

// What was changed, to be put back.
struct KWinOutputChange {
    std::string object;  // the device's object on KWin's bus
    std::string before;  // its outputName before
};

// The device's outputName, where KWin shows the device (its node) on the session's bus.
std::optional<std::string> kwinOutputName(const std::string &node);

// Maps the device onto outputName (else the one output there is) where writing allows it and
// its outputName (current) names none of KWin's outputs, saying the undo; says so where the
// output is not known. The change made, if any; nullopt with *failed where it was meant and
// could not be made.
std::optional<KWinOutputChange> settleKWinOutput(const std::string &node, const std::string &current,
                                                 const std::vector<std::string> &outputs,
                                                 const std::string &outputName, bool writing, bool *failed);

// Puts the outputName back as it was, and reads it back. Whether it is.
bool putBackKWinOutput(const KWinOutputChange &change);

#endif
