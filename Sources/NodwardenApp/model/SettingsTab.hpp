#pragma once

#include <array>
#include <string_view>

namespace nodwarden::app {

/// The tabs of the settings window, in display order.
enum class SettingsTab { general, power, agents, detection, stats, advanced };

/// Every tab, in display order.
inline constexpr std::array<SettingsTab, 6> settingsTabAllCases = {
    SettingsTab::general,   SettingsTab::power, SettingsTab::agents,
    SettingsTab::detection, SettingsTab::stats, SettingsTab::advanced};

/// "General", "Power", "Agents", "Detection", "Stats", "Advanced".
std::string_view label(SettingsTab tab);
/// The symbol-image name shown beside the tab's label.
std::string_view symbolName(SettingsTab tab);

} // namespace nodwarden::app
