#include <NodwardenApp/model/SettingsTab.hpp>

namespace nodwarden::app {

std::string_view label(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::general:
        return "General";
    case SettingsTab::power:
        return "Power";
    case SettingsTab::agents:
        return "Agents";
    case SettingsTab::detection:
        return "Detection";
    case SettingsTab::stats:
        return "Stats";
    case SettingsTab::advanced:
        return "Advanced";
    }
    return "General";
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
