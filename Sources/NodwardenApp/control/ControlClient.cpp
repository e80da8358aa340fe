#include <NodwardenApp/control/ControlClient.hpp>

#include <NodwardenApp/control/ControlProtocol.hpp>
#include <NodwardenApp/control/StatusReport.hpp>
#include <NodwardenApp/model/ModeWords.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenCore/system/UniqueFd.hpp>

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

namespace nodwarden::app {

namespace {

using Action = CommandLineRequest::Action;

/// The longest answer read; a status report is a few kilobytes.
constexpr qsizetype maxReplyBytes = 1 << 20;

void print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

QJsonObject requestFor(const CommandLineRequest& request) {
    switch (request.action) {
    case Action::status:
        return {{QStringLiteral("command"), QStringLiteral("status")}};
    case Action::mode: {
        if (!request.mode) {
            return {{QStringLiteral("command"), QStringLiteral("status")}};
        }
        const std::string_view word = modeWord(*request.mode);
        return {{QStringLiteral("command"), QStringLiteral("mode")},
                {QStringLiteral("mode"), QString::fromUtf8(word.data(), qsizetype(word.size()))}};
    }
    case Action::awake:
        return {{QStringLiteral("command"), QStringLiteral("awake")},
                {QStringLiteral("seconds"), request.seconds}};
    case Action::quit:
        return {{QStringLiteral("command"), QStringLiteral("quit")}};
    case Action::acceptTerms:
        return {{QStringLiteral("command"), QStringLiteral("accept-terms")}};
    case Action::launchAtLogin:
        if (!request.enabled) {
            return {{QStringLiteral("command"), QStringLiteral("status")}};
        }
        return {{QStringLiteral("command"), QStringLiteral("launch-at-login")},
                {QStringLiteral("enabled"), *request.enabled}};
    case Action::events:
        return {{QStringLiteral("command"), QStringLiteral("events")}};
    default:
        return {};
    }
}

/// Whether the process has ended (an unreaped one counts as ended: it restores nothing more).
bool processEnded(qint64 pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] == 'Z' ||
           text[close + 2] == 'X';
}

using ControlClient::Exchange;

QByteArray systemError(int number) {
    return QByteArray::fromStdString(std::generic_category().message(number));
}

} // namespace

namespace {

/// A connected socket, or how connecting went.
struct Connection {
    Exchange::Outcome outcome;
    QByteArray text;
    UniqueFd socket;
};

Connection connectTo(const std::filesystem::path& socketPath, const QDeadlineTimer& deadline) {
    using Outcome = Exchange::Outcome;
    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0) {
        return {Outcome::unreachable, systemError(errno), {}};
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.native().size() >= sizeof address.sun_path) {
        return {Outcome::unreachable, systemError(ENAMETOOLONG), {}};
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.native().size());
    // A full backlog answers EAGAIN instead of waiting; it is asked again until the deadline.
    while (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
           0) {
        if (errno == ENOENT || errno == ECONNREFUSED) {
            return {Outcome::notRunning, {}, {}};
        }
        if (errno != EAGAIN && errno != EINTR) {
            return {Outcome::unreachable, systemError(errno), {}};
        }
        if (deadline.hasExpired()) {
            return {Outcome::timedOut, {}, {}};
        }
        std::this_thread::sleep_for(
            std::min(std::chrono::milliseconds(20),
                     std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 1))));
    }
    return {Outcome::answered, {}, std::move(socket)};
}

/// Reads up to the next line end into `pending` and takes that line out of it; `closedEarly`
/// when the peer closes first, `timedOut` at the deadline (a forever deadline never ends).
Exchange readLine(int socket, QByteArray& pending, const QDeadlineTimer& deadline) {
    using Outcome = Exchange::Outcome;
    while (!pending.contains('\n')) {
        if (pending.size() > maxReplyBytes) {
            return {Outcome::closedEarly, {}};
        }
        if (deadline.hasExpired()) {
            return {Outcome::timedOut, {}};
        }
        pollfd ready{socket, POLLIN, 0};
        if (::poll(&ready, 1, deadline.isForever() ? -1 : int(deadline.remainingTime())) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
        if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
            return {Outcome::closedEarly, {}};
        }
        if (count > 0) {
            pending.append(buffer, count);
        }
    }
    const qsizetype end = pending.indexOf('\n');
    QByteArray line = pending.left(end);
    pending.remove(0, end + 1);
    return {Outcome::answered, line};
}

/// Connects and sends `request`; the connection, or why there is none.
Connection ask(const std::filesystem::path& socketPath, const QByteArray& request,
               const QDeadlineTimer& deadline) {
    Connection connection = connectTo(socketPath, deadline);
    if (connection.outcome == Exchange::Outcome::answered) {
        // A short request fits in the socket's buffer; a refused one may fail here and the
        // answer is read all the same.
        [[maybe_unused]] const ssize_t sent = ::send(connection.socket.get(), request.constData(),
                                                     std::size_t(request.size()), MSG_NOSIGNAL);
    }
    return connection;
}

} // namespace

/// Plain sockets, not QLocalSocket: a program that refuses the request closes its end at once,
/// and its answer must still be read after the request could not be written. No event loop is
/// needed either, so the agents' hooks send their events before any of the program's start.
Exchange ControlClient::exchange(const std::filesystem::path& socketPath, const QByteArray& request,
                                 const QDeadlineTimer& deadline) {
    Connection connection = ask(socketPath, request, deadline);
    if (connection.outcome != Exchange::Outcome::answered) {
        return {connection.outcome, connection.text};
    }
    QByteArray pending;
    return readLine(connection.socket.get(), pending, deadline);
}

namespace {

bool waitForEnd(qint64 pid) {
    QDeadlineTimer deadline(ControlClient::quitTimeoutMilliseconds);
    while (!processEnded(pid)) {
        if (deadline.hasExpired()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

} // namespace

namespace {

/// Says on `errors` why there was no answer; the command's exit status.
int reportNoAnswer(const CommandLineRequest& request, const Exchange& result, std::FILE* output,
                   std::FILE* errors) {
    using Outcome = Exchange::Outcome;
    switch (result.outcome) {
    case Outcome::notRunning:
        if (request.quiet) {
            return ControlClient::notRunningStatus;
        }
        if (request.action == Action::status && request.json) {
            // Scripts read the answer from the output whatever it is.
            print(output, QStringLiteral("{\"running\": false}\n"));
            return ControlClient::notRunningStatus;
        }
        print(errors, QCoreApplication::translate(
                          "ControlClient", "Stayloom is not running for this user. Start it with: "
                                           "stayloom\n"));
        return ControlClient::notRunningStatus;
    case Outcome::unreachable:
        print(errors,
              QCoreApplication::translate("ControlClient", "Cannot reach the running Stayloom: ") +
                  shownOnTerminal(QString::fromUtf8(result.text)) + u'\n');
        return ControlClient::failedStatus;
    case Outcome::closedEarly:
        print(errors, QCoreApplication::translate(
                          "ControlClient", "The running Stayloom closed the connection without "
                                           "answering.\n"));
        return ControlClient::failedStatus;
    case Outcome::timedOut:
    case Outcome::answered:
        break;
    }
    print(errors, QCoreApplication::translate("ControlClient",
                                              "The running Stayloom did not answer within %1 s.\n")
                      .arg(ControlClient::answerTimeoutMilliseconds / 1000));
    return ControlClient::failedStatus;
}

/// The reply's object when it is a successful one; else none, after saying why on `errors`.
std::optional<QJsonObject> acceptedReply(const QByteArray& text, std::FILE* errors) {
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject()) {
        print(errors, QCoreApplication::translate(
                          "ControlClient", "The running Stayloom gave an answer that is not one "
                                           "JSON object.\n"));
        return std::nullopt;
    }
    const QJsonObject reply = document.object();
    if (!reply.value(QStringLiteral("ok")).toBool()) {
        if (reply.value(QStringLiteral("error")).toString() ==
            QLatin1String(ControlProtocol::busyError)) {
            print(errors,
                  QCoreApplication::translate(
                      "ControlClient", "The running Stayloom is busy answering other commands. "
                                       "Try again in a moment.\n"));
            return std::nullopt;
        }
        print(errors,
              QCoreApplication::translate("ControlClient", "The running Stayloom refused: ") +
                  shownOnTerminal(reply.value(QStringLiteral("error")).toString()) + u'\n');
        return std::nullopt;
    }
    return reply;
}

QString onOff(bool on) {
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

/// The same as people read it in a sentence.
QString onOffShown(bool on) {
    return on ? QCoreApplication::translate("ControlClient", "on")
              : QCoreApplication::translate("ControlClient", "off");
}

/// One line of `events` for people: the time on the local clock and the status line.
QString eventText(const QJsonObject& state, const QJsonObject& change) {
    const auto at = StatusReport::time(change, "at");
    const QString clock = at ? QDateTime::fromSecsSinceEpoch(qint64(unixTimeFromDate(*at)))
                                   .toLocalTime()
                                   .toString(QStringLiteral("HH:mm:ss"))
                             : QString();
    return clock + u' ' + StatusReport::headline(state, at.value_or(StatusReport::currentTime())) +
           QCoreApplication::translate("ControlClient", " · mode ") +
           shownOnTerminal(state.value(QStringLiteral("mode")).toString()) + u'\n';
}

/// `stayloom events`: the status now, then a line per change until the program goes.
int follow(const CommandLineRequest& request, const std::filesystem::path& socketPath,
           std::FILE* output, std::FILE* errors) {
    const QByteArray line =
        QJsonDocument(requestFor(request)).toJson(QJsonDocument::Compact) + '\n';
    Connection connection =
        ask(socketPath, line, QDeadlineTimer(ControlClient::answerTimeoutMilliseconds));
    if (connection.outcome != Exchange::Outcome::answered) {
        return reportNoAnswer(request, {connection.outcome, connection.text}, output, errors);
    }
    QByteArray pending;
    const Exchange first = readLine(connection.socket.get(), pending,
                                    QDeadlineTimer(ControlClient::answerTimeoutMilliseconds));
    if (first.outcome != Exchange::Outcome::answered) {
        return reportNoAnswer(request, first, output, errors);
    }
    const auto reply = acceptedReply(first.text, errors);
    if (!reply) {
        return ControlClient::failedStatus;
    }
    QJsonObject state = reply->value(QStringLiteral("status")).toObject();
    // What people read comes in their language; from a copy that sends none, as scripts read it.
    const bool withShown = reply->contains(QStringLiteral("shown"));
    QJsonObject shownState = withShown ? reply->value(QStringLiteral("shown")).toObject() : state;
    QJsonObject change = state;
    change.insert(QStringLiteral("at"), StatusReport::isoTime(StatusReport::currentTime()));
    QJsonObject shownChange;
    while (true) {
        const auto mergeInto = [](QJsonObject& into, const QJsonObject& from) {
            for (auto entry = from.begin(); entry != from.end(); ++entry) {
                into.insert(entry.key(), entry.value());
            }
        };
        mergeInto(state, change);
        mergeInto(shownState, withShown ? shownChange : change);
        print(output,
              request.json
                  ? QString::fromUtf8(QJsonDocument(change).toJson(QJsonDocument::Compact)) + u'\n'
                  : eventText(shownState, change));
        const Exchange next =
            readLine(connection.socket.get(), pending, QDeadlineTimer(QDeadlineTimer::Forever));
        const QJsonDocument document = QJsonDocument::fromJson(next.text);
        if (next.outcome != Exchange::Outcome::answered || !document.isObject()) {
            break;
        }
        change = document.object();
        shownChange = change.take(QStringLiteral("shown")).toObject();
    }
    print(errors, QCoreApplication::translate("ControlClient", "Stayloom has stopped.\n"));
    return 0;
}

} // namespace

int ControlClient::run(const CommandLineRequest& request,
                       const std::optional<std::filesystem::path>& socketPath, std::FILE* output,
                       std::FILE* errors) {
    if (!socketPath) {
        print(errors,
              QCoreApplication::translate(
                  "ControlClient", "Stayloom cannot be reached: the path of its control socket "
                                   "is too long for this system. Set XDG_RUNTIME_DIR to a "
                                   "shorter folder.\n"));
        return failedStatus;
    }
    if (request.action == Action::events) {
        return follow(request, *socketPath, output, errors);
    }
    const Exchange result = exchange(
        *socketPath, QJsonDocument(requestFor(request)).toJson(QJsonDocument::Compact) + '\n',
        QDeadlineTimer(answerTimeoutMilliseconds));
    if (result.outcome != Exchange::Outcome::answered) {
        return reportNoAnswer(request, result, output, errors);
    }
    const auto reply = acceptedReply(result.text, errors);
    if (!reply) {
        return failedStatus;
    }
    const QJsonObject status = reply->value(QStringLiteral("status")).toObject();
    const QJsonObject shown = reply->contains(QStringLiteral("shown"))
                                  ? reply->value(QStringLiteral("shown")).toObject()
                                  : status;
    switch (request.action) {
    case Action::status:
        if (request.quiet) {
            return status.value(QStringLiteral("keepingAwake")).toBool() ? 0 : failedStatus;
        }
        print(output,
              request.json
                  ? QString::fromUtf8(QJsonDocument(status).toJson(QJsonDocument::Compact)) + u'\n'
                  : StatusReport::text(shown));
        return 0;
    case Action::quit: {
        const qint64 pid = qint64(status.value(QStringLiteral("pid")).toDouble());
        if (!waitForEnd(pid)) {
            print(errors,
                  QCoreApplication::translate(
                      "ControlClient", "Stayloom (process %1) was asked to quit but still runs.\n")
                      .arg(pid));
            return failedStatus;
        }
        print(output, QCoreApplication::translate("ControlClient", "Stayloom has quit.\n"));
        return 0;
    }
    case Action::acceptTerms:
        print(output, QCoreApplication::translate("ControlClient", "Terms accepted.\n") +
                          StatusReport::text(shown));
        return 0;
    case Action::mode:
        if (!request.mode) {
            print(output, shownOnTerminal(status.value(QStringLiteral("mode")).toString()) + u'\n');
            return 0;
        }
        print(output, StatusReport::text(shown));
        return 0;
    case Action::launchAtLogin: {
        const bool now = status.value(QStringLiteral("launchAtLogin")).toBool();
        if (!request.enabled) {
            print(output, onOff(now) + u'\n');
            return 0;
        }
        const bool before = reply->value(QStringLiteral("launchAtLoginBefore")).toBool();
        QString text =
            before == now
                ? QCoreApplication::translate("ControlClient", "Launch at login stays %1.\n")
                      .arg(onOffShown(now))
                : QCoreApplication::translate("ControlClient", "Launch at login: %1, was %2.\n")
                      .arg(onOffShown(now), onOffShown(before));
        if (const QString message = status.value(QStringLiteral("launchAtLoginMessage")).toString();
            !message.isEmpty()) {
            text += shownOnTerminal(message) + u'\n';
        }
        print(output, text);
        return now == *request.enabled ? 0 : failedStatus;
    }
    default:
        print(output, StatusReport::text(shown));
        return 0;
    }
}

} // namespace nodwarden::app
