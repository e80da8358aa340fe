#include <NodwardenLinux/AtspiAccessibilityPlatform.hpp>
#include <NodwardenLinux/LinuxAppIdentity.hpp>

#include <at-spi-2.0/atspi/atspi-constants.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

namespace nodwarden::linuxplatform {

namespace {

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
constexpr const char* textInterface = "org.a11y.atspi.Text";
constexpr const char* registryName = "org.a11y.atspi.Registry";
constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
constexpr const char* nullPath = "/org/a11y/atspi/null";
constexpr std::uint64_t statusTimeoutMicroseconds = 1'000'000;

/// One AT-SPI object: the connection that owns it, its path, and its application's process.
class AtspiElement final : public AccessibilityElementHandle {
public:
    AtspiElement(std::string busName, std::string path, int pid)
        : busName_(std::move(busName)), path_(std::move(path)), pid_(pid) {}
    const std::string& busName() const { return busName_; }
    const std::string& path() const { return path_; }
    int pid() const { return pid_; }

private:
    std::string busName_;
    std::string path_;
    int pid_;
};

using Reference = std::pair<std::string, std::string>;

/// Frees an sd-bus error and message at scope end.
struct CallResult {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int status = 0;
    ~CallResult() {
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
    }
    bool ok() const { return status >= 0; }
    bool timedOut() const {
        return status == -ETIMEDOUT || sd_bus_error_has_name(&error, SD_BUS_ERROR_TIMEOUT) ||
               sd_bus_error_has_name(&error, SD_BUS_ERROR_NO_REPLY);
    }
};

std::string executableBasename(int pid) {
    std::error_code code;
    const auto target =
        std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", code);
    return code ? std::string() : target.filename().string();
}

std::string argumentZeroBasename(int pid) {
    std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), "rb");
    if (file == nullptr) {
        return {};
    }
    std::string argv0;
    for (int c = std::fgetc(file); c != EOF && c != '\0'; c = std::fgetc(file)) {
        argv0 += static_cast<char>(c);
    }
    std::fclose(file);
    return std::filesystem::path(argv0).filename().string();
}

bool isFrameRole(std::uint32_t role) {
    return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG;
}

std::optional<bool> readA11yEnabled(sd_bus* session) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int enabled = 0;
    const int status =
        sd_bus_get_property_trivial(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status",
                                    "IsEnabled", &error, 'b', &enabled);
    sd_bus_error_free(&error);
    if (status < 0) {
        return std::nullopt;
    }
    return enabled != 0;
}

/// Asks the session bus where the accessibility bus is (starting it on demand).
std::optional<std::string> accessibilityBusAddress(sd_bus* session) {
    CallResult call;
    call.status = sd_bus_call_method(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                     "GetAddress", &call.error, &call.reply, "");
    std::optional<std::string> address;
    const char* text = nullptr;
    if (call.ok() && sd_bus_message_read(call.reply, "s", &text) >= 0 && text != nullptr && *text) {
        address = text;
    }
    return address;
}

std::optional<std::string> readStringProperty(sd_bus* bus, const AtspiElement& element,
                                              const char* interface, const char* property,
                                              bool& timedOut) {
    CallResult call;
    call.status = sd_bus_call_method(bus, element.busName().c_str(), element.path().c_str(),
                                     "org.freedesktop.DBus.Properties", "Get", &call.error,
                                     &call.reply, "ss", interface, property);
    timedOut = call.timedOut();
    const char* text = nullptr;
    if (!call.ok() || sd_bus_message_read(call.reply, "v", "s", &text) < 0 || text == nullptr) {
        return std::nullopt;
    }
    return std::string(text);
}

std::optional<std::vector<Reference>> readChildren(sd_bus* bus, const AtspiElement& element,
                                                   bool& timedOut) {
    CallResult call;
    call.status =
        sd_bus_call_method(bus, element.busName().c_str(), element.path().c_str(),
                           accessibleInterface, "GetChildren", &call.error, &call.reply, "");
    timedOut = call.timedOut();
    if (!call.ok() || sd_bus_message_enter_container(call.reply, 'a', "(so)") < 0) {
        return std::nullopt;
    }
    std::vector<Reference> children;
    const char* name = nullptr;
    const char* path = nullptr;
    while (sd_bus_message_read(call.reply, "(so)", &name, &path) > 0) {
        if (name != nullptr && path != nullptr && std::strcmp(path, nullPath) != 0) {
            children.emplace_back(name, path);
        }
    }
    return children;
}

std::optional<std::uint32_t> readRole(sd_bus* bus, const AtspiElement& element) {
    CallResult call;
    call.status = sd_bus_call_method(bus, element.busName().c_str(), element.path().c_str(),
                                     accessibleInterface, "GetRole", &call.error, &call.reply, "");
    std::uint32_t role = 0;
    if (!call.ok() || sd_bus_message_read(call.reply, "u", &role) < 0) {
        return std::nullopt;
    }
    return role;
}

bool hasState(sd_bus* bus, const AtspiElement& element, unsigned state) {
    CallResult call;
    call.status = sd_bus_call_method(bus, element.busName().c_str(), element.path().c_str(),
                                     accessibleInterface, "GetState", &call.error, &call.reply, "");
    const void* words = nullptr;
    size_t size = 0;
    if (!call.ok() || sd_bus_message_read_array(call.reply, 'u', &words, &size) < 0) {
        return false;
    }
    const auto index = state / 32;
    if (size < (index + 1) * sizeof(std::uint32_t)) {
        return false;
    }
    std::uint32_t word = 0;
    std::memcpy(&word, static_cast<const char*>(words) + index * sizeof(std::uint32_t),
                sizeof word);
    return (word >> (state % 32)) & 1u;
}

std::optional<std::string> readText(sd_bus* bus, const AtspiElement& element, int maxCharacters,
                                    bool& timedOut) {
    CallResult count;
    count.status = sd_bus_call_method(bus, element.busName().c_str(), element.path().c_str(),
                                      "org.freedesktop.DBus.Properties", "Get", &count.error,
                                      &count.reply, "ss", textInterface, "CharacterCount");
    timedOut = count.timedOut();
    std::int32_t length = 0;
    if (!count.ok() || sd_bus_message_read(count.reply, "v", "i", &length) < 0 || length <= 0) {
        return std::nullopt; // not a text element, or empty
    }
    // A terminal exposes its whole scrollback; what an agent shows now is at the end.
    const std::int32_t start = length > maxCharacters ? length - maxCharacters : 0;
    CallResult text;
    text.status =
        sd_bus_call_method(bus, element.busName().c_str(), element.path().c_str(), textInterface,
                           "GetText", &text.error, &text.reply, "ii", start, length);
    timedOut = text.timedOut();
    const char* contents = nullptr;
    if (!text.ok() || sd_bus_message_read(text.reply, "s", &contents) < 0 || contents == nullptr) {
        return std::nullopt;
    }
    return std::string(contents);
}

int processOf(sd_bus* bus, const std::string& busName) {
    CallResult call;
    call.status = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                     &call.error, &call.reply, "s", busName.c_str());
    std::uint32_t pid = 0;
    if (!call.ok() || sd_bus_message_read(call.reply, "u", &pid) < 0) {
        return 0;
    }
    return static_cast<int>(pid);
}

/// Marks the kept accessibility state as out of date when org.a11y.Status changes.
int noteStatusChanged(sd_bus_message* /*message*/, void* userdata, sd_bus_error* /*error*/) {
    *static_cast<bool*>(userdata) = true;
    return 0;
}

} // namespace

AtspiAccessibilityPlatform::AtspiAccessibilityPlatform() = default;

AtspiAccessibilityPlatform::~AtspiAccessibilityPlatform() {
    sd_bus_flush_close_unref(bus_);
    sd_bus_slot_unref(statusWatch_);
    sd_bus_flush_close_unref(session_);
}

sd_bus* AtspiAccessibilityPlatform::sessionBus() {
    if (session_ != nullptr && sd_bus_is_open(session_) > 0) {
        return session_;
    }
    statusWatch_ = sd_bus_slot_unref(statusWatch_);
    session_ = sd_bus_flush_close_unref(session_);
    enabled_.reset();
    sd_bus* session = nullptr;
    if (sd_bus_open_user(&session) < 0) {
        return nullptr;
    }
    sd_bus_set_method_call_timeout(session, statusTimeoutMicroseconds);
    // The change arrives as a queued message, taken in at the next question: nothing wakes for it.
    if (sd_bus_match_signal(session, &statusWatch_, "org.a11y.Bus", "/org/a11y/bus",
                            "org.freedesktop.DBus.Properties", "PropertiesChanged",
                            noteStatusChanged, &statusChanged_) < 0) {
        statusWatch_ = nullptr;
    }
    session_ = session;
    return session_;
}

sd_bus* AtspiAccessibilityPlatform::accessibilityBus() {
    if (bus_ != nullptr && sd_bus_is_open(bus_) > 0) {
        return bus_;
    }
    bus_ = sd_bus_flush_close_unref(bus_);
    sd_bus* session = sessionBus();
    const auto address =
        session != nullptr ? accessibilityBusAddress(session) : std::optional<std::string>();
    if (!address) {
        return nullptr;
    }
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) {
        return nullptr;
    }
    if (sd_bus_set_address(bus, address->c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
        sd_bus_start(bus) < 0) {
        sd_bus_flush_close_unref(bus);
        return nullptr;
    }
    sd_bus_set_method_call_timeout(bus, static_cast<std::uint64_t>(callTimeout.count()) * 1000);
    bus_ = bus;
    return bus_;
}

bool AtspiAccessibilityPlatform::isHung(int pid) {
    const auto it = hungUntil_.find(pid);
    if (it == hungUntil_.end()) {
        return false;
    }
    if (std::chrono::steady_clock::now() >= it->second) {
        hungUntil_.erase(it);
        return false;
    }
    return true;
}

void AtspiAccessibilityPlatform::noteFailure(int pid, bool timedOut) {
    if (timedOut && pid > 0) {
        hungUntil_[pid] = std::chrono::steady_clock::now() + hungBackoff;
    }
}

std::vector<RunningApplication> AtspiAccessibilityPlatform::runningApplications() {
    std::lock_guard lock(mutex_);
    std::vector<RunningApplication> applications;
    sd_bus* bus = accessibilityBus();
    if (bus == nullptr) {
        return applications;
    }
    bool timedOut = false;
    const AtspiElement desktop(registryName, rootPath, 0);
    const auto apps = readChildren(bus, desktop, timedOut);
    if (!apps) {
        return applications;
    }
    for (const auto& [busName, path] : *apps) {
        const int pid = processOf(bus, busName);
        if (isHung(pid)) {
            continue;
        }
        const AtspiElement root(busName, path, pid);
        const auto accessibleName =
            readStringProperty(bus, root, accessibleInterface, "Name", timedOut);
        noteFailure(pid, timedOut);

        RunningApplication running;
        running.processIdentifier = pid;
        std::optional<LinuxAppIdentity> identity;
        const std::string exe = executableBasename(pid);
        for (const auto& candidate :
             {exe, argumentZeroBasename(pid), accessibleName.value_or(std::string())}) {
            if (!candidate.empty() && (identity = identityForLinuxName(candidate))) {
                break;
            }
        }
        if (identity) {
            running.bundleIdentifier = identity->bundleIdentifier;
            running.localizedName = identity->name;
        } else {
            if (!exe.empty()) {
                running.bundleIdentifier = exe;
            }
            running.localizedName = accessibleName;
        }
        running.element = std::make_shared<const AtspiElement>(busName, path, pid);
        applications.push_back(std::move(running));
    }
    return applications;
}

std::optional<AccessibilityValue>
AtspiAccessibilityPlatform::copyAttribute(const AccessibilityElement& element,
                                          std::string_view attribute) {
    const auto* handle = dynamic_cast<const AtspiElement*>(element.get());
    if (handle == nullptr) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    const int pid = handle->pid();
    sd_bus* bus = isHung(pid) ? nullptr : accessibilityBus();
    if (bus == nullptr) {
        return std::nullopt;
    }
    bool timedOut = false;
    auto finish = [&](std::optional<std::string> text) -> std::optional<AccessibilityValue> {
        noteFailure(pid, timedOut);
        return text ? std::optional<AccessibilityValue>(std::move(*text)) : std::nullopt;
    };

    if (attribute == AccessibilityAttribute::title) {
        return finish(readStringProperty(bus, *handle, accessibleInterface, "Name", timedOut));
    }
    if (attribute == AccessibilityAttribute::description) {
        return finish(
            readStringProperty(bus, *handle, accessibleInterface, "Description", timedOut));
    }
    if (attribute == AccessibilityAttribute::value) {
        return finish(readText(bus, *handle, maxTextCharacters, timedOut));
    }
    if (attribute != AccessibilityAttribute::children &&
        attribute != AccessibilityAttribute::windows &&
        attribute != AccessibilityAttribute::focusedWindow) {
        return std::nullopt; // help text and anything else have no AT-SPI counterpart
    }
    const auto children = readChildren(bus, *handle, timedOut);
    noteFailure(pid, timedOut);
    if (!children) {
        return std::nullopt;
    }
    std::vector<AccessibilityElement> elements;
    for (const auto& [busName, path] : *children) {
        auto child = std::make_shared<const AtspiElement>(busName, path, pid);
        if (attribute != AccessibilityAttribute::children) {
            const auto role = readRole(bus, *child);
            if (!role || !isFrameRole(*role)) {
                continue;
            }
            if (attribute == AccessibilityAttribute::focusedWindow) {
                if (hasState(bus, *child, ATSPI_STATE_ACTIVE)) {
                    return AccessibilityValue(AccessibilityElement(std::move(child)));
                }
                continue;
            }
        }
        elements.push_back(std::move(child));
    }
    if (attribute == AccessibilityAttribute::focusedWindow) {
        return std::nullopt;
    }
    return AccessibilityValue(std::move(elements));
}

bool AtspiAccessibilityPlatform::isProcessTrusted() {
    std::lock_guard lock(mutex_);
    sd_bus* session = sessionBus();
    if (session == nullptr) {
        return false;
    }
    // Takes in what arrived since (the change signal), without waiting.
    while (sd_bus_process(session, nullptr) > 0) {
    }
    const auto now = std::chrono::steady_clock::now();
    if (enabled_ && !statusChanged_ && now - enabledReadAt_ < trustRefresh) {
        return *enabled_;
    }
    statusChanged_ = false;
    enabled_ = readA11yEnabled(session).value_or(false);
    enabledReadAt_ = now;
    return *enabled_;
}

void AtspiAccessibilityPlatform::promptForTrust() {
    std::lock_guard lock(mutex_);
    sd_bus* session = sessionBus();
    if (session == nullptr) {
        return;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_set_property(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status", "IsEnabled",
                        &error, "b", 1);
    sd_bus_error_free(&error);
    statusChanged_ = true;
}

} // namespace nodwarden::linuxplatform
