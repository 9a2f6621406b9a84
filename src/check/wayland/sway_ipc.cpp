// SPDX-License-Identifier: MIT
#include "sway_ipc.h"

#include "input/listing.h"
#include "result_file.h"
#include "desktops/sway_inputs.h"
#include "udev/rule_edits.h"

#include <algorithm>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

enum SwayMessage : std::uint32_t { RunCommand = 0, GetOutputs = 3, GetInputs = 100 };

// Waits until fd is ready for events or the deadline passes.
bool ready(int fd, short events, std::chrono::steady_clock::time_point deadline)
{
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        pollfd wait{fd, events, 0};
        const int got = ::poll(&wait, 1, static_cast<int>(left));
        if (got > 0)
            return true;
        if (got == 0 || errno != EINTR)
            return false;
    }
}

bool writeAll(int fd, const char *data, size_t size, std::chrono::steady_clock::time_point deadline)
{
    while (size > 0) {
        if (!ready(fd, POLLOUT, deadline))
            return false;
        const ssize_t put = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

bool readAll(int fd, char *data, size_t size, std::chrono::steady_clock::time_point deadline)
{
    while (size > 0) {
        if (!ready(fd, POLLIN, deadline))
            return false;
        const ssize_t got = ::recv(fd, data, size, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0)
            return false;
        data += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// One request and its reply on a connection of its own, within kSwayCallTime and by until;
// nullopt when sway does not answer in time.
std::optional<std::string> ask(SwayMessage type, const std::string &payload,
                               std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max())
{
    const std::string path = swaySocket().path;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return std::nullopt;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return std::nullopt;
    const auto deadline = std::min(std::chrono::steady_clock::now() + kSwayCallTime, until);
    std::optional<std::string> reply;
    // The i3 IPC header: a magic string, the payload's length and the message type, in the
    // machine's own byte order.
    char header[14];
    std::memcpy(header, "i3-ipc", 6);
    const std::uint32_t fields[2] = {static_cast<std::uint32_t>(payload.size()), type};
    std::memcpy(header + 6, fields, sizeof fields);
    std::uint32_t answer[2];
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        || (errno == EAGAIN && ready(fd, POLLOUT, deadline));
    if (connected && writeAll(fd, header, sizeof header, deadline)
        && writeAll(fd, payload.data(), payload.size(), deadline)
        && readAll(fd, header, sizeof header, deadline) && std::memcmp(header, "i3-ipc", 6) == 0) {
        std::memcpy(answer, header + 6, sizeof answer);
        std::string text(answer[0] < (1u << 24) ? answer[0] : 0, '\0');
        if (answer[0] < (1u << 24) && readAll(fd, text.data(), text.size(), deadline))
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

SwaySocket swaySocket()
{
    const char *socket = std::getenv("SWAYSOCK");
    if (socket && *socket)
        return {socket, ""};
    const std::optional<uid_t> user = sudoUser();
    if (!user)
        return {};
    // sudo keeps neither SWAYSOCK nor XDG_RUNTIME_DIR: the session is found where logind keeps
    // the user's runtime folder.
    const std::string folder = "/run/user/" + std::to_string(*user);
    struct stat status;
    if (::stat(folder.c_str(), &status) != 0)
        return {"", folder + " is missing (no logind?), so the session of user " + std::to_string(*user)
                        + " was not found"};
    const std::vector<std::string> sockets = liveSwaySockets(folder, *user);
    if (sockets.size() > 1)
        return {"", "user " + std::to_string(*user) + " runs " + std::to_string(sockets.size())
                        + " sway sessions: which one is not known"};
    return {sockets.empty() ? "" : sockets[0], ""};
}

bool inSway()
{
    return !swaySocket().path.empty();
}

std::optional<std::string> swayMatrixOf(const DeviceInfo &device, std::chrono::steady_clock::time_point until)
{
    const std::optional<std::string> reply = ask(GetInputs, "", until);
    const auto inputs = reply ? parseSwayInputs(*reply) : std::nullopt;
    if (!inputs)
        return std::nullopt;
    const std::optional<SwayInput> input = findSwayInput(*inputs, device.identity());
    return input && input->matrix ? input->matrix->text() : std::string();
}

std::optional<std::string> swayReadBack(const DeviceInfo &device, const std::string &expected,
                                        std::chrono::steady_clock::duration within)
{
    const auto until = std::chrono::steady_clock::now() + within;
    const auto pause = std::chrono::milliseconds(200);
    std::optional<std::string> shown;
    // sway adds the device again once libinput hears of it. A call cut short by the end keeps
    // what sway showed before.
    while (shown != expected && std::chrono::steady_clock::now() + pause < until) {
        std::this_thread::sleep_for(pause);
        if (std::optional<std::string> now = swayMatrixOf(device, until))
            shown = now;
    }
    return shown;
}

ApplyReport applyToSway(const DeviceInfo &device, const Matrix &matrix, const std::string &output)
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
    // The matrix first: its old value is known, so it can be put back when the mapping is
    // refused or the read-back does not show it. sway does not say where an input was mapped.
    const std::string before = input->matrix ? input->matrix->text() : "1 0 0 0 1 0";
    const std::string command = swayCalibrationCommand(input->identifier, matrix);
    const std::string restore = swayCalibrationCommand(input->identifier, *Matrix::parse(before));
    const std::string unmap = "input \"" + input->identifier + "\" map_to_output *";
    const auto run = [&](const std::string &sent) {
        return sent.empty() || swayCommandSucceeded(ask(RunCommand, sent).value_or(""));
    };
    if (!run(command)) {
        report.text = "sway refused: " + command + "\nNothing was set.\n";
        return report;
    }
    if (!run(mapping)) {
        report.text = "sway refused: " + mapping + "\n" + (run(restore) ? "The matrix was set back"
            : "Could not set the matrix back: " + restore) + ".\n";
        return report;
    }
    const std::optional<SwayInput> after = swayInputOf(device, &problem);
    if (!after || !after->matrix || !after->matrix->same(matrix)) {
        const bool undone = run(restore) && (mapping.empty() || run(unmap));
        report.text = "sway answered success, but its input \"" + input->identifier
            + "\" does not show the matrix: " + (undone ? "what was sent is set back.\n"
            : "setting it back failed too: " + restore + (mapping.empty() ? "" : "; " + unmap) + "\n");
        return report;
    }
    report.text = "sway input \"" + input->identifier + "\":\n  set calibration_matrix to "
        + after->matrix->text() + "\n  before: " + before + "\n";
    if (!mapping.empty())
        report.text += "  set map_to_output " + output + "\n";
    report.text += "  to undo: swaymsg 'input \"" + input->identifier + "\" calibration_matrix " + before
        + "'\n";
    if (!mapping.empty())
        report.text += "  to undo the mapping (sway does not say where it was mapped before; * spreads "
                       "it over every output): swaymsg '" + unmap + "'\n";
    report.text += "To keep it in sway's config (~/.config/sway/config):\n  " + command + "\n";
    if (!mapping.empty())
        report.text += "  " + mapping + "\n";
    report.text += "A matrix set this way overrides udev's until sway reloads its config. To keep "
                   "it for libinput everywhere (X, any compositor): " + keep + "\n";
    report.ok = true;
    report.swayBefore = SwayBefore{input->identifier, before, !mapping.empty()};
    return report;
}

std::string restoreSway(const DeviceInfo &device, const SwayBefore &before)
{
    const std::string restore = swayCalibrationCommand(before.identifier, *Matrix::parse(before.matrix));
    const std::string unmap = "input \"" + before.identifier + "\" map_to_output *";
    const bool sent = swayCommandSucceeded(ask(RunCommand, restore).value_or(""))
        && (!before.mapped || swayCommandSucceeded(ask(RunCommand, unmap).value_or("")));
    const std::optional<std::string> shown = swayMatrixOf(device);
    const std::optional<Matrix> now = shown ? Matrix::parse(*shown) : std::nullopt;
    if (sent && now && now->same(*Matrix::parse(before.matrix)))
        return {};
    return std::string(!sent ? "sway refused or did not answer" : !shown ? "sway does not answer"
                       : "sway's input shows " + (shown->empty() ? std::string("no matrix") : printable(*shown)))
        + ". Finish it by hand: swaymsg '" + restore + "'" + (before.mapped ? "; swaymsg '" + unmap + "'" : "");
}
