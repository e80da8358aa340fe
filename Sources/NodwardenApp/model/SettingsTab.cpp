#include <NodwardenApp/model/SettingsTab.hpp>

#include <QCoreApplication>

namespace nodwarden::app {

std::string_view label(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::general:
        return QT_TRANSLATE_NOOP("SettingsTab", "General");
    case SettingsTab::power:
        return QT_TRANSLATE_NOOP("SettingsTab", "Power");
    case SettingsTab::agents:
        return QT_TRANSLATE_NOOP("SettingsTab", "Agents");
    case SettingsTab::detection:
        return QT_TRANSLATE_NOOP("SettingsTab", "Detection");
    case SettingsTab::stats:
        return QT_TRANSLATE_NOOP("SettingsTab", "Stats");
    case SettingsTab::advanced:
        return QT_TRANSLATE_NOOP("SettingsTab", "Advanced");
    }
    return QT_TRANSLATE_NOOP("SettingsTab", "General");
}

std::string_view symbolName(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::general:
        return "gearshape";
    case SettingsTab::power:
        return "battery.75";
    case SettingsTab::agents:
        return "cpu";
    case SettingsTab::detection:
        return "eye";
    case SettingsTab::stats:
        return "chart.bar";
    case SettingsTab::advanced:
        return "wrench.and.screwdriver";
    }
    return "gearshape";
}

} // namespace nodwarden::app
