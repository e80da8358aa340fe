#include <NodwardenCore/GuardPowerProfile.hpp>

#include <NodwardenCore/JSONDecoding.hpp>

#include <nlohmann/json.hpp>

namespace nodwarden {

using nlohmann::json;
using namespace JSONDecoding;

GuardPowerProfile::GuardPowerProfile(int batteryCutoffPercent_, int warningPercent_,
                                     double idleGracePeriodSeconds_, double cpuThresholdPercent_,
                                     bool allowUnlimitedKeepAwake_, bool sleepAfterCompletion_,
                                     bool sleepOnlyIfLidClosed_)
    : batteryCutoffPercent(batteryCutoffPercent_), warningPercent(warningPercent_),
      idleGracePeriodSeconds(idleGracePeriodSeconds_), cpuThresholdPercent(cpuThresholdPercent_),
      allowUnlimitedKeepAwake(allowUnlimitedKeepAwake_),
      sleepAfterCompletion(sleepAfterCompletion_), sleepOnlyIfLidClosed(sleepOnlyIfLidClosed_) {}

std::optional<GuardPowerProfile> GuardPowerProfile::fromJSON(std::string_view text) {
    return decodeText<GuardPowerProfile>(
        text, [](const json& value) { return decodeGuardPowerProfile(value, "profile"); });
}

std::string GuardPowerProfile::toJSON() const {
    return json(*this).dump();
}

GuardPowerProfile decodeGuardPowerProfile(const json& value, std::string_view what) {
    const json& object = requireObject(value, what);
    return GuardPowerProfile(
        readInt(requiredMember(object, "batteryCutoffPercent"), "batteryCutoffPercent"),
        readInt(requiredMember(object, "warningPercent"), "warningPercent"),
        readDouble(requiredMember(object, "idleGracePeriodSeconds"), "idleGracePeriodSeconds"),
        readDouble(requiredMember(object, "cpuThresholdPercent"), "cpuThresholdPercent"),
        readBool(requiredMember(object, "allowUnlimitedKeepAwake"), "allowUnlimitedKeepAwake"),
        readBool(requiredMember(object, "sleepAfterCompletion"), "sleepAfterCompletion"),
        readBool(requiredMember(object, "sleepOnlyIfLidClosed"), "sleepOnlyIfLidClosed"));
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
