// SPDX-License-Identifier: MIT
#include "desktops/sway_inputs.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

std::optional<std::vector<SwayInput>> parseSwayInputs(const std::string &reply)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(reply));
    if (!document.isArray())
        return std::nullopt;
    std::vector<SwayInput> inputs;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject object = value.toObject();
        SwayInput input;
        input.identifier = object["identifier"].toString().toStdString();
        input.name = object["name"].toString().toStdString();
        input.vendor = static_cast<unsigned>(object["vendor"].toInt());
        input.product = static_cast<unsigned>(object["product"].toInt());
        const QJsonArray matrix = object["libinput"].toObject()["calibration_matrix"].toArray();
        if (matrix.size() == 6) {
            Matrix values;
            for (int i = 0; i < 6; ++i)
                values[size_t(i)] = matrix[i].toDouble();
            input.matrix = values;
        }
        inputs.push_back(input);
    }
    return inputs;
}

std::optional<SwayInput> findSwayInput(const std::vector<SwayInput> &inputs, const DeviceIdentity &device)
{
    for (const SwayInput &input : inputs) {
        if (input.name == device.name && input.vendor == device.vendor && input.product == device.product)
            return input;
    }
    return std::nullopt;
}

std::string swayIdentifierProblem(const std::string &identifier)
{
    if (identifier.empty())
        return "sway gives the device no identifier";
    for (const char c : identifier) {
        if (std::string("\"'\\$;,").find(c) != std::string::npos)
            return std::string("its sway identifier holds a ") + c
                + ", which sway's command parser would not keep";
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return "its sway identifier holds a control character";
    }
    return {};
}

std::string swayCalibrationCommand(const std::string &identifier, const Matrix &matrix)
{
    return "input \"" + identifier + "\" calibration_matrix " + matrix.text();
}

bool swayCommandSucceeded(const std::string &reply)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(reply));
    if (!document.isArray() || document.array().isEmpty())
        return false;
    for (const QJsonValue &value : document.array()) {
        if (!value.toObject()["success"].toBool())
            return false;
    }
    return true;
}

std::vector<std::string> parseSwayOutputs(const std::string &reply)
{
    std::vector<std::string> names;
    for (const QJsonValue &value : QJsonDocument::fromJson(QByteArray::fromStdString(reply)).array()) {
        if (value.toObject()["active"].toBool())
            names.push_back(value.toObject()["name"].toString().toStdString());
    }
    return names;
}

std::vector<std::string> liveSwaySockets(const std::string &folder, uid_t uid, const std::string &processes)
{
    std::vector<std::string> sockets;
    const std::string prefix = "sway-ipc." + std::to_string(uid) + ".", suffix = ".sock";
    DIR *dir = ::opendir(folder.c_str());
    while (const dirent *entry = dir ? ::readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0
            || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string pid = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        struct stat socket, process;
        if (pid.find_first_not_of("0123456789") != std::string::npos
            || ::lstat((folder + "/" + name).c_str(), &socket) != 0 || !S_ISSOCK(socket.st_mode)
            || socket.st_uid != uid || ::stat((processes + "/" + pid).c_str(), &process) != 0
            || process.st_uid != uid)
            continue;
        sockets.push_back(folder + "/" + name);
    }
    if (dir)
        ::closedir(dir);
    std::sort(sockets.begin(), sockets.end());
    return sockets;
}
