#pragma once

#include <QStringList>

#include <functional>
#include <optional>
#include <string>

class QCoreApplication;

namespace nodwarden::app {

/// The language the user reads, found as gettext finds it, and the program's catalogues for it.
namespace UserLanguage {

/// An environment variable's value; none when it is unset.
using Environment = std::function<std::optional<std::string>(const char* name)>;

/// The process's own environment.
Environment processEnvironment();

/// The languages to try, best first, as gettext picks them: the messages locale is the first set
/// of `LC_ALL`, `LC_MESSAGES` and `LANG`; when it is the "C" or "POSIX" locale (or none) the
/// program speaks its own English and `LANGUAGE` is ignored, otherwise `LANGUAGE`'s colon-separated
/// list comes first and the messages locale after it. Each entry keeps its region ("de_AT") and
/// is followed by its bare language ("de"); encodings and modifiers ("de_DE.UTF-8@euro") are
/// dropped.
QStringList preferredLanguages(const Environment& environment);

/// Installs into `application` the catalogue of the first preferred language that has one (the
/// program's own, built into it, and Qt's for the same language where the system has it), and
/// makes that language the default for numbers and dates. Returns the language installed; none
/// when the program speaks English.
std::optional<QString> install(QCoreApplication& application, const Environment& environment);

} // namespace UserLanguage
} // namespace nodwarden::app
