#pragma once

#include "Support/TemporaryDirectory.hpp"

#include <NodwardenCore/system/FileLogger.hpp>

#include <QSettings>

#include <memory>

namespace stayloom::testing {

/// A settings file in a temporary folder, reopened as the next launch would read it, and a log.
class SettingsFile {
public:
    SettingsFile() : logger(folder.path() / "Nodwarden.log") {}

    std::unique_ptr<QSettings> open() const {
        return std::make_unique<QSettings>(
            QString::fromStdString((folder.path() / "defaults.ini").string()),
            QSettings::IniFormat);
    }
    void store(const char* key, const QVariant& value) const {
        open()->setValue(QString::fromUtf8(key), value);
    }

    TemporaryDirectory folder;
    nodwarden::FileLogger logger;
};

} // namespace stayloom::testing
