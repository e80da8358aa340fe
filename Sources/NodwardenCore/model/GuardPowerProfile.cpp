#include <NodwardenCore/model/GuardPowerProfile.hpp>

#include <NodwardenCore/system/JSONDecoding.hpp>

#include <nlohmann/json.hpp>

namespace nodwarden {

using nlohmann::json;
using namespace JSONDecoding;

std::optional<GuardPowerProfile> GuardPowerProfile::fromJSON(std::string_view text) {
    return decodeText<GuardPowerProfile>(
        text, [](const json& value) { return decodeGuardPowerProfile(value, "profile"); });
}

std::string GuardPowerProfile::toJSON() const {
    return json(*this).dump();
}

GuardPowerProfile decodeGuardPowerProfile(const json& value, std::string_view what) {
    const json& object = requireObject(value, what);
    return GuardPowerProfile{
        .batteryCutoffPercent =
            readInt(requiredMember(object, "batteryCutoffPercent"), "batteryCutoffPercent"),
        .warningPercent = readInt(requiredMember(object, "warningPercent"), "warningPercent"),
        .idleGracePeriodSeconds =
            readDouble(requiredMember(object, "idleGracePeriodSeconds"), "idleGracePeriodSeconds"),
        .cpuThresholdPercent =
            readDouble(requiredMember(object, "cpuThresholdPercent"), "cpuThresholdPercent"),
        .allowUnlimitedKeepAwake =
            readBool(requiredMember(object, "allowUnlimitedKeepAwake"), "allowUnlimitedKeepAwake"),
        .sleepAfterCompletion =
            readBool(requiredMember(object, "sleepAfterCompletion"), "sleepAfterCompletion"),
        .sleepOnlyIfLidClosed =
            readBool(requiredMember(object, "sleepOnlyIfLidClosed"), "sleepOnlyIfLidClosed"),
    };
}

void to_json(json& value, const GuardPowerProfile& profile) {
    value = json{
        {"batteryCutoffPercent", profile.batteryCutoffPercent},
        {"warningPercent", profile.warningPercent},
        {"idleGracePeriodSeconds", profile.idleGracePeriodSeconds},
        {"cpuThresholdPercent", profile.cpuThresholdPercent},
        {"allowUnlimitedKeepAwake", profile.allowUnlimitedKeepAwake},
        {"sleepAfterCompletion", profile.sleepAfterCompletion},
        {"sleepOnlyIfLidClosed", profile.sleepOnlyIfLidClosed},
    };
}

} // namespace nodwarden
