#include <NodwardenApp/control/CommandLine.hpp>

#include <NodwardenApp/model/ModeWords.hpp>
#include <NodwardenCore/hooks/HookAgents.hpp>

namespace nodwarden::app {

namespace {

using Action = CommandLineRequest::Action;

CommandLineRequest refused(const QString& error) {
    CommandLineRequest request;
    request.action = Action::invalid;
    request.error = error;
    return request;
}

QString modeList() {
    QStringList words;
    for (const ModeWord& entry : modeWords()) {
        words << QString::fromUtf8(entry.word.data(), qsizetype(entry.word.size()));
    }
    return words.join(QStringLiteral(", "));
}

QString agentList() {
    QStringList words;
    for (const HookAgent& agent : HookAgents::all()) {
        words << QString::fromStdString(agent.word);
    }
    return words.join(QStringLiteral(", "));
}

CommandLineRequest hooksRequest(const QStringList& words) {
    CommandLineRequest request;
    request.action = Action::hooks;
    const QString verb = words.value(0);
    if (verb == u"install") {
        request.hooksVerb = HookSetup::Verb::install;
    } else if (verb == u"remove") {
        request.hooksVerb = HookSetup::Verb::remove;
    } else if (verb == u"status" && words.size() == 1) {
        request.hooksVerb = HookSetup::Verb::status;
        return request;
    } else {
        return refused(QStringLiteral("hooks needs install [agent…], remove [agent…] or status."));
    }
    for (const QString& word : words.mid(1)) {
        if (HookAgents::find(word.toStdString()) == nullptr) {
            return refused(QStringLiteral("Unknown agent “") + word + QStringLiteral("”: one of ") +
                           agentList() + u'.');
        }
        request.agents.push_back(word.toStdString());
    }
    return request;
}

} // namespace

CommandLine::CommandLine()
    : json_(QStringLiteral("json"),
            QStringLiteral("With status: print one JSON object; with events: one a line.")),
      quiet_(QStringList{QStringLiteral("q"), QStringLiteral("quiet")},
             QStringLiteral("With status: print nothing; exit 0 while keeping awake, 1 while "
                            "not, 3 when nothing runs.")),
      for_(QStringLiteral("for"),
           QStringLiteral("With awake: how long, such as 90s, 45m, 2h or 1h30m."),
           QStringLiteral("duration")),
      help_(QStringList{QStringLiteral("h"), QStringLiteral("help")},
            QStringLiteral("Show this help.")),
      version_(QStringList{QStringLiteral("v"), QStringLiteral("version")},
               QStringLiteral("Show the version.")) {
    parser_.setApplicationDescription(
        QStringLiteral("Keeps this computer awake while AI coding agents work, and lets it sleep "
                       "when they are done. Without a command it starts (tray, panel window, or "
                       "status lines on a terminal); a command asks the running copy."));
    parser_.addOption(json_);
    parser_.addOption(quiet_);
    parser_.addOption(for_);
    parser_.addOption(help_);
    parser_.addOption(version_);
    parser_.addPositionalArgument(QStringLiteral("command"), QStringLiteral("See Commands below."),
                                  QStringLiteral("[command]"));
}

CommandLineRequest CommandLine::parse(const QStringList& arguments) {
    if (!parser_.parse(arguments)) {
        return refused(parser_.errorText());
    }
    CommandLineRequest request;
    if (parser_.isSet(help_)) {
        request.action = Action::help;
        return request;
    }
    if (parser_.isSet(version_)) {
        request.action = Action::version;
        return request;
    }
    const QStringList words = parser_.positionalArguments();
    request.json = parser_.isSet(json_);
    request.quiet = parser_.isSet(quiet_);
    const QString command = words.value(0);
    const QStringList rest = words.mid(1);
    if (request.json && command != u"status" && command != u"events") {
        return refused(QStringLiteral("--json goes with the status and events commands."));
    }
    if (request.quiet && command != u"status") {
        return refused(QStringLiteral("--quiet goes with the status command."));
    }
    if (request.quiet && request.json) {
        return refused(QStringLiteral("--quiet prints nothing; leave out --json."));
    }
    if (parser_.isSet(for_) && command != u"awake") {
        return refused(QStringLiteral("--for goes with the awake command."));
    }
    const auto noMoreWords = [&](Action action) {
        if (!rest.isEmpty()) {
            return refused(QStringLiteral("“") + command +
                           QStringLiteral("” takes no further words, but got “") + rest.join(u' ') +
                           QStringLiteral("”."));
        }
        request.action = action;
        return request;
    };
    if (command.isEmpty()) {
        return request;
    }
    if (command == u"status") {
        return noMoreWords(Action::status);
    }
    if (command == u"quit") {
        return noMoreWords(Action::quit);
    }
    if (command == u"events") {
        return noMoreWords(Action::events);
    }
    if (command == u"accept-terms") {
        return noMoreWords(Action::acceptTerms);
    }
    if (command == u"mode") {
        request.action = Action::mode;
        if (rest.isEmpty()) {
            return request;
        }
        request.mode = rest.size() == 1 ? modeFromWord(rest[0].toStdString()) : std::nullopt;
        if (!request.mode) {
            return refused(QStringLiteral("mode needs one of: ") + modeList() + u'.');
        }
        return request;
    }
    if (command == u"awake") {
        const auto seconds = parseDuration(parser_.value(for_));
        if (!rest.isEmpty() || !seconds) {
            return refused(QStringLiteral("awake needs --for and a duration such as 90s, 45m, 2h "
                                          "or 1h30m (at most a week)."));
        }
        request.action = Action::awake;
        request.seconds = *seconds;
        return request;
    }
    if (command == u"run") {
        if (rest.isEmpty()) {
            return refused(QStringLiteral("run needs a command: stayloom run -- COMMAND [ARG…]"));
        }
        request.action = Action::runCommand;
        for (const QString& word : rest) {
            request.command.push_back(word.toLocal8Bit().toStdString());
        }
        return request;
    }
    if (command == u"hooks") {
        return hooksRequest(rest);
    }
    if (command == u"launch-at-login") {
        if (rest.size() > 1 || (rest.size() == 1 && rest[0] != u"on" && rest[0] != u"off")) {
            return refused(QStringLiteral("launch-at-login takes on, off, or nothing to ask."));
        }
        request.action = Action::launchAtLogin;
        if (!rest.isEmpty()) {
            request.enabled = rest[0] == u"on";
        }
        return request;
    }
    return refused(QStringLiteral("Unknown command “") + command + QStringLiteral("”."));
}

std::optional<double> CommandLine::parseDuration(const QString& text) {
    constexpr double week = 7 * 24 * 3600;
    double total = 0;
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype digits = at;
        // ASCII digits only: QChar::isDigit takes every script's.
        while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9' &&
               digits - at < 7) {
            ++digits;
        }
        if (digits == at || digits >= text.size()) {
            return std::nullopt;
        }
        const double number = text.mid(at, digits - at).toDouble();
        const QChar unit = text[digits];
        const double scale = unit == u'h' ? 3600 : unit == u'm' ? 60 : unit == u's' ? 1 : 0;
        if (scale == 0) {
            return std::nullopt;
        }
        total += number * scale;
        at = digits + 1;
    }
    if (!(total > 0) || total > week) {
        return std::nullopt;
    }
    return total;
}

QString CommandLine::helpText() const {
    QString text = parser_.helpText();
    text += QStringLiteral(
        "\nCommands (all but run and hooks ask the copy that runs for this user):\n"
        "  status [--json]            Status, reason, agents, power, lid and the last run.\n"
        "                             Exit status 0 while running, 3 when nothing runs.\n"
        "  status --quiet             Nothing printed; exit status 0 while keeping awake,\n"
        "                             1 while not, 3 when nothing runs.\n"
        "  events [--json]            A line now and one per change of the status, its\n"
        "                             reason, an agent's state or the mode, until stopped;\n"
        "                             with --json the status keys that changed, and \"at\".\n"
        "  mode                       Print the mode in force.\n"
        "  mode <mode>                Switch the mode as the panel's picker does; <mode> is\n"
        "                             one of ");
    text += modeList();
    text += QStringLiteral(".\n"
                           "  awake --for <duration>     Keep awake (manual) for a while, then "
                           "go back to the\n"
                           "                             mode before, as the tray menu's "
                           "Keep awake for 1 hour.\n"
                           "                             <duration> is whole numbers with s, m "
                           "or h: 90s, 45m,\n"
                           "                             2h, 1h30m; at most a week.\n"
                           "  run -- <command> [arg…]    Keep the computer awake while the command "
                           "runs and\n"
                           "                             return its exit status; works without a "
                           "running copy.\n"
                           "  quit                       Quit, restoring normal sleep when the "
                           "settings say so.\n"
                           "  accept-terms               Accept the terms for a copy that cannot "
                           "ask on a terminal.\n"
                           "  launch-at-login [on|off]   Start at login (a systemd user unit "
                           "without a desktop);\n"
                           "                             alone, print on or off.\n"
                           "  hooks install [agent…]     Connect agents: add Stayloom's hooks to "
                           "their own\n"
                           "                             settings; every agent found when none is "
                           "named.\n"
                           "                             <agent> is one of ");
    text += agentList();
    text += QStringLiteral(".\n"
                           "  hooks remove [agent…]      Take Stayloom's hooks out again, leaving "
                           "the rest.\n"
                           "  hooks status               Each agent: found, connected or not.\n"
                           "  hook <agent> <event>       Run by an agent's own hook: hands the "
                           "event's name and\n"
                           "                             session to the running copy. Prints "
                           "nothing, exits 0.\n"
                           "\nExit status 2 means the words were not understood.\n");
    return text;
}

} // namespace nodwarden::app
