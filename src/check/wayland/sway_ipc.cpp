// SPDX-License-Identifier: MIT
#include "sway_ipc.h"

#include "listing.h"
#include "sway_inputs.h"
#include "udev_rules.h"

#include <algorithm>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

enum SwayMessage : std::uint32_t { RunCommand = 0, GetOutputs = 3, GetInputs = 100 };

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put <= 0)
            return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

bool readAll(int fd, char *data, size_t size)
{
    while (size > 0) {
        const ssize_t got = ::read(fd, data, size);
        if (got <= 0)
            return false;
        data += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// One request and its reply on a connection of its own; nullopt when sway does not answer.
std::optional<std::string> ask(SwayMessage type, const std::string &payload)
{
    const char *path = std::getenv("SWAYSOCK");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!path || std::strlen(path) >= sizeof address.sun_path)
        return std::nullopt;
    std::strcpy(address.sun_path, path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> reply;
    // The i3 IPC header: a magic string, the payload's length and the message type, in the
    // machine's own byte order.
    char header[14];
    std::memcpy(header, "i3-ipc", 6);
    const std::uint32_t fields[2] = {static_cast<std::uint32_t>(payload.size()), type};
    std::memcpy(header + 6, fields, sizeof fields);
    std::uint32_t answer[2];
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && writeAll(fd, header, sizeof header) && writeAll(fd, payload.data(), payload.size())
        && readAll(fd, header, sizeof header) && std::memcmp(header, "i3-ipc", 6) == 0) {
        std::memcpy(answer, header + 6, sizeof answer);
        std::string text(answer[0] < (1u << 24) ? answer[0] : 0, '\0');
        if (answer[0] < (1u << 24) && readAll(fd, text.data(), text.size()))
            reply = text;
    }
    ::close(fd);
    return reply;
}

std::optional<SwayInput> swayInputOf(const DeviceInfo &device, std::string *problem)
{
    const std::optional<std::string> reply = ask(GetInputs, "");
    const auto inputs = reply ? parseSwayInputs(*reply) : std::nullopt;
    if (!inputs) {
        *problem = "sway does not answer on its socket (SWAYSOCK)";
        return std::nullopt;
    }
    const std::optional<SwayInput> input = findSwayInput(*inputs, device.identity());
    if (!input)
        *problem = "sway has no input named \"" + printable(device.name) + "\" with the ids of " + device.path;
    return input;
}

} // namespace

bool inSway()
{
    const char *socket = std::getenv("SWAYSOCK");
    return socket && *socket;
}

std::string swayMatrixOf(const DeviceInfo &device)
{
    std::string problem;
    const std::optional<SwayInput> input = swayInputOf(device, &problem);
    return input && input->matrix ? matrixText(*input->matrix, false) : std::string();
}

ApplyReport applyToSway(const DeviceInfo &device, const LibinputMatrix &matrix, const std::string &output)
{
    ApplyReport report;
    std::string problem;
    const std::optional<SwayInput> input = swayInputOf(device, &problem);
    if (!input) {
        report.text = problem + ": nothing was set.\n";
        return report;
    }
    const std::string keep = keepCommand(device, matrix);
    problem = swayIdentifierProblem(input->identifier);
    if (!problem.empty()) {
        report.text = "will not send sway a command for " + device.path + ": " + problem
            + ". Keep it as a udev rule instead: " + keep + "\n";
        return report;
    }
    // sway spreads an unmapped touch screen over all its outputs.
    const std::vector<std::string> outputs = parseSwayOutputs(ask(GetOutputs, "").value_or(""));
    std::string mapping;
    if (outputs.size() > 1) {
        if (std::find(outputs.begin(), outputs.end(), output) == outputs.end()) {
            std::string names;
            for (const std::string &name : outputs)
                names += (names.empty() ? "" : ", ") + printable(name);
            report.text = "sway has several outputs (" + names + "): name the touch screen's with "
                "--output, so that the touch screen is mapped onto it. Nothing was set.\n";
            return report;
        }
        if (swayIdentifierProblem(output).empty())
            mapping = "input \"" + input->identifier + "\" map_to_output " + output;
    }
    const std::string command = swayCalibrationCommand(input->identifier, matrix);
    for (const std::string &sent : {mapping, command}) {
        if (sent.empty())
            continue;
        if (!swayCommandSucceeded(ask(RunCommand, sent).value_or(""))) {
            report.text = "sway refused: " + sent + "\n";
            return report;
        }
    }
    const std::optional<SwayInput> after = swayInputOf(device, &problem);
    if (!after || !after->matrix || !sameMatrix(*after->matrix, matrix)) {
        report.text = "sway answered success, but its input \"" + input->identifier
            + "\" does not show the matrix: nothing is known to be set.\n";
        return report;
    }
    const std::string before = input->matrix ? matrixText(*input->matrix, false) : "1 0 0 0 1 0";
    report.text = "sway input \"" + input->identifier + "\":\n  set calibration_matrix to "
        + matrixText(*after->matrix, false) + "\n  before: " + before + "\n";
    if (!mapping.empty())
        report.text += "  set map_to_output " + output + "\n";
    report.text += "  to undo: swaymsg 'input \"" + input->identifier + "\" calibration_matrix " + before
        + "'\nTo keep it in sway's config (~/.config/sway/config):\n  " + command + "\n";
    if (!mapping.empty())
        report.text += "  " + mapping + "\n";
    report.text += "A matrix set this way overrides udev's until sway reloads its config. To keep "
                   "it for libinput everywhere (X, any compositor): " + keep + "\n";
    report.ok = true;
    return report;
}
