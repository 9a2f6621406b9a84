// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_SWAY_IPC_H
#define KESTRILAVON_SWAY_IPC_H

#include "input/devices.h"
#include "x_input.h"

#include <chrono>
#include <optional>
#include <string>

// sway, through its IPC socket ($SWAYSOCK): the running compositor's own calibration setting.
// Each call on the socket polls against a deadline, never a blocking read, and ends within
// kSwayCallTime: a compositor that hangs must not hang the program that changed its device.
// The read-back after a re-add ends within kSwayReadBackTime in all.
constexpr std::chrono::seconds kSwayCallTime{2};
constexpr std::chrono::seconds kSwayReadBackTime{10};

// The socket of the sway session this program runs in: $SWAYSOCK, or under sudo the one live
// sway of the user who ran sudo. No path and no problem: not in sway; no path and a problem:
// there may be a sway session, but it cannot be reached.
struct SwaySocket {
    std::string path;
    std::string problem;
};
SwaySocket swaySocket();

// Whether this session is sway's: its socket was found.
bool inSway();

// Sets the matrix on sway's input for the device (and, with several outputs, maps it onto the
// one named), then reads it back: sway answers success even for an identifier that matches
// nothing. The report, as --apply's on X.
ApplyReport applyToSway(const DeviceInfo &device, const Matrix &matrix, const std::string &output);

// Sets the input's old matrix again (and spreads it over every output, where the apply mapped
// it), then reads it back: an empty string when sway shows the old matrix; otherwise what it
// shows, and the swaymsg commands that finish it by hand.
std::string restoreSway(const DeviceInfo &device, const SwayBefore &before);

// The matrix sway's input for the device uses now, as text; empty when sway shows no such input
// or no matrix; nullopt when sway does not answer (within kSwayCallTime, and by until).
std::optional<std::string> swayMatrixOf(const DeviceInfo &device, std::chrono::steady_clock::time_point until =
                                                                      std::chrono::steady_clock::time_point::max());

// After a re-add: sway asked every 200 ms until its input shows the expected matrix, for at
// most within in all. The last matrix it showed (as swayMatrixOf); nullopt when it never answered.
std::optional<std::string> swayReadBack(const DeviceInfo &device, const std::string &expected,
                                        std::chrono::steady_clock::duration within = kSwayReadBackTime);

#endif
