#include <NodwardenApp/model/SettingsStore.hpp>

#include <NodwardenApp/model/StoredDocument.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>

#include <QSettings>

#include <exception>

namespace nodwarden::app::SettingsStore {

namespace {

QString keyString(std::string_view key) {
    return QString::fromUtf8(key.data(), qsizetype(key.size()));
}

} // namespace

AppMode loadMode(QSettings& defaults) {
    const QVariant value = defaults.value(keyString(StoredKeys::mode));
    if (!value.isValid()) {
        return AppMode::off;
    }
    return appModeFromRawValue(value.toString().toStdString()).value_or(AppMode::off);
}

GuardSettings loadSettings(QSettings& defaults) {
    if (const auto stored = StoredDocument::read(defaults, keyString(StoredKeys::settings))) {
        if (auto settings = GuardSettings::fromJSON(
                std::string_view(stored->constData(), std::size_t(stored->size())))) {
            return *std::move(settings);
        }
    }
    return GuardSettings::defaults();
}

void saveMode(QSettings& defaults, AppMode mode) {
    const std::string_view raw = rawValue(mode);
    defaults.setValue(keyString(StoredKeys::mode),
                      QString::fromUtf8(raw.data(), qsizetype(raw.size())));
}

void saveSettings(QSettings& defaults, const GuardSettings& settings, FileLogger& logger) {
    std::string json;
    try {
        json = settings.toJSON();
    } catch (const std::exception&) {
        // Text that is not valid UTF-8 cannot be encoded; the stored settings stay as they were.
        return;
    }
    StoredDocument::replace(
        defaults, keyString(StoredKeys::settings), QByteArray(json.data(), qsizetype(json.size())),
        [](std::string_view text) { return GuardSettings::fromJSON(text).has_value(); }, logger);
}

} // namespace nodwarden::app::SettingsStore
