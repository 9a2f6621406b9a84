// SPDX-License-Identifier: MIT
#include "kwin_dbus.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

namespace {

constexpr int kCallMilliseconds = 2000;

// The numbers of an array of doubles, as QtDBus hands one inside a variant.
std::vector<double> doublesOf(const QVariant &value)
{
    std::vector<double> numbers;
    if (value.canConvert<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        if (argument.currentType() != QDBusArgument::ArrayType)
            return {};
        argument.beginArray();
        while (!argument.atEnd() && numbers.size() <= 16) {
            double number = 0;
            argument >> number;
            numbers.push_back(number);
        }
        argument.endArray();
    }
    return numbers;
}

KWinAnswer askOnce(QDBusConnection &bus, const QString &object)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), object,
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
    call << QStringLiteral("org.kde.KWin.InputDevice") << QStringLiteral("calibrationMatrix");
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallMilliseconds);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        const QString error = reply.errorName();
        if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
            return {std::nullopt, "KWin is not on the session's bus"};
        if (error == QLatin1String("org.freedesktop.DBus.Error.UnknownObject")
            || error == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface"))
            return {std::nullopt, "KWin shows no such device on its bus"};
        return {std::nullopt, "KWin's bus answered " + error.toStdString()};
    }
    const QVariant value =
        reply.arguments().isEmpty() ? QVariant() : reply.arguments().first().value<QDBusVariant>().variant();
    const std::optional<Matrix> matrix = matrixFromKWin(doublesOf(value));
    if (!matrix)
        return {std::nullopt, "KWin's calibrationMatrix is not a calibration of libinput's form"};
    return {matrix, {}};
}

} // namespace

KWinAnswer askKWinMatrix(const std::string &node, const Matrix &expected, std::chrono::steady_clock::duration within)
{
    const std::string object = kwinDeviceObject(node);
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (object.empty())
        return {std::nullopt, "its node is not named as KWin names devices"};
    if (!runtime || !*runtime)
        return {std::nullopt, "this user has no runtime folder, and so no session bus"};
    // QtDBus delivers replies through the application's event machinery: the part's own, made
    // here where it has none.
    int argc = 1;
    char name[] = "kestrilavon-check";
    char *argv[] = {name, nullptr};
    std::optional<QCoreApplication> application;
    if (!QCoreApplication::instance())
        application.emplace(argc, argv);
    KWinAnswer answer;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=") + QString::fromLocal8Bit(runtime) + QStringLiteral("/bus"),
            QStringLiteral("kestrilavon-session"));
        if (!bus.isConnected()) {
            answer = {std::nullopt, "the session's bus ($XDG_RUNTIME_DIR/bus) does not answer"};
        } else {
            const auto until = std::chrono::steady_clock::now() + within;
            const QString path = QString::fromStdString(object);
            while (true) {
                answer = askOnce(bus, path);
                if ((answer.matrix && answer.matrix->same(expected)) || std::chrono::steady_clock::now() >= until)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        }
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("kestrilavon-session"));
    return answer;
}

int handOverKWinAnswer(int fd, const std::string &node, const Matrix &expected)
{
    const std::string text = kwinAnswerText(askKWinMatrix(node, expected));
    // Shorter than PIPE_BUF: one write puts it in the pipe whole, or nothing of it.
    static_assert(PIPE_BUF >= 512);
    ssize_t wrote = 0;
    while ((wrote = ::write(fd, text.data(), text.size())) < 0 && errno == EINTR) {
    }
    ::close(fd);
    return wrote == static_cast<ssize_t>(text.size()) && text.size() <= PIPE_BUF ? 0 : 1;
}
