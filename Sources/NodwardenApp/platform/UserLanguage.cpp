#include <NodwardenApp/platform/UserLanguage.hpp>

#include <NodwardenApp/model/SourceLanguage.hpp>

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

#include <cstdlib>

namespace nodwarden::app::UserLanguage {

namespace {

/// "de_DE.UTF-8@euro" → "de_DE"; empty for nothing.
QString withoutEncoding(const std::string& value) {
    QString name = QString::fromStdString(value);
    for (const QChar stop : {u'.', u'@'}) {
        if (const qsizetype at = name.indexOf(stop); at >= 0) {
            name.truncate(at);
        }
    }
    return name.trimmed();
}

void appendWithLanguage(QStringList& into, const QString& name) {
    if (name.isEmpty()) {
        return;
    }
    if (!into.contains(name)) {
        into.append(name);
    }
    if (const qsizetype underscore = name.indexOf(u'_'); underscore > 0) {
        const QString language = name.left(underscore);
        if (!into.contains(language)) {
            into.append(language);
        }
    }
}

/// The program's catalogues are built into it under this prefix (qt_add_translations).
constexpr auto catalogueFolder = ":/i18n";

} // namespace

Environment processEnvironment() {
    return [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    };
}

QStringList preferredLanguages(const Environment& environment) {
    std::string messages;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const auto value = environment(name); value && !value->empty()) {
            messages = *value;
            break;
        }
    }
    const QString locale = withoutEncoding(messages);
    if (locale.isEmpty() || locale == u"C" || locale == u"POSIX") {
        return {};
    }
    QStringList languages;
    if (const auto list = environment("LANGUAGE")) {
        for (const QString& entry : QString::fromStdString(*list).split(u':', Qt::SkipEmptyParts)) {
            appendWithLanguage(languages, withoutEncoding(entry.toStdString()));
        }
    }
    appendWithLanguage(languages, locale);
    return languages;
}

std::optional<QString> install(QCoreApplication& application, const Environment& environment) {
    for (const QString& language : preferredLanguages(environment)) {
        // English is the program's own language: asked for before any catalogue, it wins.
        if (language == u"en" || language.startsWith(u"en_")) {
            return std::nullopt;
        }
        auto* own = new SteppingAsideTranslator(&application);
        if (!own->load(QStringLiteral("stayloom_") + language,
                       QString::fromLatin1(catalogueFolder))) {
            delete own;
            continue;
        }
        QCoreApplication::installTranslator(own);
        auto* qt = new SteppingAsideTranslator(&application);
        if (qt->load(QStringLiteral("qtbase_") + language,
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(qt);
        } else {
            delete qt;
        }
        QLocale::setDefault(QLocale(language));
        return language;
    }
    return std::nullopt;
}

} // namespace nodwarden::app::UserLanguage
