#include <NodwardenApp/platform/ControlClient.hpp>

#include <NodwardenApp/platform/ModeWords.hpp>
#include <NodwardenApp/platform/StatusReport.hpp>

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include <sys/types.h>

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
        const std::string_view word = modeWord(request.mode);
        return {{QStringLiteral("command"), QStringLiteral("mode")},
                {QStringLiteral("mode"), QString::fromUtf8(word.data(), qsizetype(word.size()))}};
    }
    case Action::quit:
        return {{QStringLiteral("command"), QStringLiteral("quit")}};
    case Action::acceptTerms:
        return {{QStringLiteral("command"), QStringLiteral("accept-terms")}};
    case Action::launchAtLogin:
        return {{QStringLiteral("command"), QStringLiteral("launch-at-login")},
                {QStringLiteral("enabled"), request.enabled}};
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

int ControlClient::run(const CommandLineRequest& request, const std::filesystem::path& socketPath,
                       std::FILE* output, std::FILE* errors) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath.string()));
    if (!socket.waitForConnected(answerTimeoutMilliseconds)) {
        const auto error = socket.error();
        if (error == QLocalSocket::ServerNotFoundError ||
            error == QLocalSocket::ConnectionRefusedError) {
            print(errors, QStringLiteral("Stayloom is not running for this user. Start it with: "
                                         "stayloom\n"));
            return notRunningStatus;
        }
        print(errors,
              QStringLiteral("Cannot reach the running Stayloom: ") + socket.errorString() + u'\n');
        return failedStatus;
    }
    socket.write(QJsonDocument(requestFor(request)).toJson(QJsonDocument::Compact) + '\n');

    QByteArray answer;
    QDeadlineTimer deadline(answerTimeoutMilliseconds);
    while (!answer.contains('\n') && answer.size() <= maxReplyBytes && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 &&
            !socket.waitForReadyRead(int(deadline.remainingTime()))) {
            break;
        }
        answer += socket.readAll();
    }
    const qsizetype newline = answer.indexOf('\n');
    const QJsonDocument document =
        QJsonDocument::fromJson(newline >= 0 ? answer.left(newline) : QByteArray());
    if (!document.isObject()) {
        print(errors, QStringLiteral("The running Stayloom did not answer within %1 s.\n")
                          .arg(answerTimeoutMilliseconds / 1000));
        return failedStatus;
    }
    const QJsonObject reply = document.object();
    if (!reply.value(QStringLiteral("ok")).toBool()) {
        print(errors, QStringLiteral("The running Stayloom refused: ") +
                          reply.value(QStringLiteral("error")).toString() + u'\n');
        return failedStatus;
    }
    const QJsonObject status = reply.value(QStringLiteral("status")).toObject();
    switch (request.action) {
    case Action::status:
        print(output,
              request.json
                  ? QString::fromUtf8(QJsonDocument(status).toJson(QJsonDocument::Compact)) + u'\n'
                  : StatusReport::text(status));
        return 0;
    case Action::quit: {
        const qint64 pid = qint64(status.value(QStringLiteral("pid")).toDouble());
        if (!waitForEnd(pid)) {
            print(errors,
                  QStringLiteral("Stayloom (process %1) was asked to quit but still runs.\n")
                      .arg(pid));
            return failedStatus;
        }
        print(output, QStringLiteral("Stayloom has quit.\n"));
        return 0;
    }
    case Action::acceptTerms:
        print(output, QStringLiteral("Terms accepted.\n") + StatusReport::text(status));
        return 0;
    default:
        print(output, StatusReport::text(status));
        return 0;
    }
}

} // namespace nodwarden::app
