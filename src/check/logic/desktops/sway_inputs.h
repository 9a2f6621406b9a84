// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_SWAY_INPUTS_H
#define KESTRILAVON_SWAY_INPUTS_H

#include "forms/driver_forms.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// sway's side of a calibration, as its IPC (the i3 protocol) tells it: the inputs of GET_INPUTS
// and the command that sets one's matrix; and where a session's socket is. Only the text and
// the names: talking on the socket is the caller's.

struct SwayInput {
    std::string identifier;  // vendor:product:name, decimal ids, blanks as _
    std::string name;
    unsigned vendor = 0, product = 0;
    std::optional<Matrix> matrix;  // libinput's calibration_matrix, where sway says it
};

// The inputs in a GET_INPUTS reply; nullopt when it is no such reply.
std::optional<std::vector<SwayInput>> parseSwayInputs(const std::string &reply);

// The input that is this device (by name, vendor and product).
std::optional<SwayInput> findSwayInput(const std::vector<SwayInput> &inputs, const DeviceIdentity &device);

// Why this identifier may not go into a sway command, or an empty string: sway splits commands
// at ; and , and expands $variables, and a quote or a backslash would end the identifier.
std::string swayIdentifierProblem(const std::string &identifier);

// The RUN_COMMAND text that sets the input's matrix.
std::string swayCalibrationCommand(const std::string &identifier, const Matrix &matrix);

// The names of the active outputs in a GET_OUTPUTS reply.
std::vector<std::string> parseSwayOutputs(const std::string &reply);

// Whether every reply in a RUN_COMMAND answer says success.
bool swayCommandSucceeded(const std::string &reply);

// The sockets of this user's live sway sessions in a runtime folder: named as sway names them,
// sway-ipc.UID.PID.sock, a socket of the user's, and PID a live process of the user's. Root
// under sudo finds the session it was started from this way: sudo drops SWAYSOCK.
std::vector<std::string> liveSwaySockets(const std::string &folder, uid_t uid,
                                         const std::string &processes = "/proc");

#endif
