// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_RUNNING_SESSION_H
#define KESTRILAVON_RUNNING_SESSION_H

#include "forms/driver_forms.h"
#include "input/devices.h"
#include "user_session_found.h"
#include "x_input.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What root sets on the running session (X's devices, sway's inputs) and reads back from it
// once it keeps a calibration. Where a window part runs as the session's user, root connects
// to no one's display: each of these then runs in a child of its own as that user, and what it
// answers is checked and made printable before anything of it is said. Otherwise root asks the
// session itself, as a user's own run or `--install --matrix` from a script does.
void askRunningSessionAs(const UserSession *session);

// The calibration set on the running X (or, unless xOnly, sway), as --apply sets it.
ApplyReport setOnSession(const DeviceInfo &device, const XCalibration &calibration, const std::string &output,
                         bool xOnly);
// What setOnSession set put back and read back: an empty string when all is as before,
// otherwise what differs and how to finish it by hand.
std::string putBackOnSession(const DeviceInfo &device, const ApplyReport &set);

// What X applies to the device's touches once the desktop has settled (xChainsOnceSettled);
// nullopt where the user's part that reads it gave no answer.
std::optional<std::vector<XChain>> settledXChains(const std::string &path, std::chrono::milliseconds quiet,
                                                  std::chrono::milliseconds limit);

// What the session uses for the device after a re-add: X's devices are watched from when this
// is made, before the re-add, until X has added the device again; then what they and sway's
// input hold is compared with expected (none: no calibration), and X maps the device onto
// the monitor again.
class SessionReadBack {
public:
    SessionReadBack(const DeviceInfo &device, const std::optional<Matrix> &expected,
                    const std::optional<OntoMonitor> &onto);
    ~SessionReadBack();
    SessionReadBack(const SessionReadBack &) = delete;
    SessionReadBack &operator=(const SessionReadBack &) = delete;

    // The report's lines, once the re-add is done; swayHolds: sway holds the device now.
    std::string after(bool swayHolds, bool *ok);

    struct Direct;
    struct AsUser;

private:
    std::unique_ptr<Direct> direct;
    std::unique_ptr<AsUser> asUser;
};

#endif
