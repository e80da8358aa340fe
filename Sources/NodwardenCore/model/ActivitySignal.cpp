#include <NodwardenCore/model/ActivitySignal.hpp>

#include <NodwardenCore/system/JSONDecoding.hpp>

#include <nlohmann/json.hpp>

#include <array>

namespace nodwarden {

using nlohmann::json;
using namespace JSONDecoding;

namespace {

SignalStrength decodeSignalStrength(const json& value, std::string_view key) {
    const auto strength = signalStrengthFromRawValue(readInt(value, key));
    if (!strength) {
        throw DecodingError("\"" + std::string(key) + "\" is not a signal strength from 0 to 3");
    }
    return *strength;
}

DecidingWitness decodeWitness(const json& value, std::string_view key) {
    const auto witness = decidingWitnessFromRawValue(readString(value, key));
    if (!witness) {
        throw DecodingError("\"" + std::string(key) + "\" names no witness");
    }
    return *witness;
}

constexpr std::array<std::string_view, 8> witnessNames = {"record", "files", "hook", "screen",
                                                          "lock",   "cpu",   "run",  "startUp"};
constexpr std::array<DecidingWitness, 8> witnessCases = {
    DecidingWitness::record, DecidingWitness::files,  DecidingWitness::hook,
    DecidingWitness::screen, DecidingWitness::lock,   DecidingWitness::cpu,
    DecidingWitness::run,    DecidingWitness::startUp};

ActivitySignal decodeActivitySignal(const json& value) {
    const json& object = requireObject(value, "signal");
    return ActivitySignal{
        decodeSignalStrength(requiredMember(object, "strength"), "strength"),
        readOptional(object, "appName", readString),
        readString(requiredMember(object, "reason"), "reason"),
        readOptional(object, "matchedText", readString),
        readOptional(object, "sessionCount", readInt),
        readOptional(object, "processPresent", readBool),
        // Signals stored before codes existed carry only their sentence.
        reasonCodeFromRawValue(readOptional(object, "reasonCode", readString).value_or(""))
            .value_or(ReasonCode::unspecified),
        readOptional(object, "reasonDetail", readString).value_or(""),
        readOptional(object, "decidedBy", decodeWitness),
        readOptional(object, "waitingForUser", readBool).value_or(false),
    };
}

} // namespace

// MARK: - SignalStrength

int rawValue(SignalStrength strength) {
    return static_cast<int>(strength);
}

std::optional<SignalStrength> signalStrengthFromRawValue(int raw) {
    if (raw < 0 || raw > 3) {
        return std::nullopt;
    }
    return static_cast<SignalStrength>(raw);
}

bool isActiveWork(SignalStrength strength) {
    return strength >= SignalStrength::weak;
}

// MARK: - DecidingWitness

std::string_view rawValue(DecidingWitness witness) {
    for (std::size_t index = 0; index < witnessCases.size(); ++index) {
        if (witnessCases[index] == witness) {
            return witnessNames[index];
        }
    }
    return "cpu";
}

std::optional<DecidingWitness> decidingWitnessFromRawValue(std::string_view raw) {
    for (std::size_t index = 0; index < witnessNames.size(); ++index) {
        if (witnessNames[index] == raw) {
            return witnessCases[index];
        }
    }
    return std::nullopt;
}

// MARK: - ActivitySignal

ActivitySignal ActivitySignal::none() {
    ActivitySignal signal;
    signal.reason = "No active agent signal";
    signal.reasonCode = ReasonCode::noActiveSignal;
    return signal;
}

std::optional<ActivitySignal> ActivitySignal::fromJSON(std::string_view text) {
    return decodeText<ActivitySignal>(text, decodeActivitySignal);
}

std::string ActivitySignal::toJSON() const {
    return json(*this).dump();
}

// MARK: - JSON building blocks

void to_json(json& value, SignalStrength strength) {
    value = rawValue(strength);
}
void from_json(const json& value, SignalStrength& strength) {
    strength = decodeSignalStrength(value, "strength");
}

void to_json(json& value, const ActivitySignal& signal) {
    value = json::object();
    value["strength"] = signal.strength;
    if (signal.appName) {
        value["appName"] = *signal.appName;
    }
    value["reason"] = signal.reason;
    if (signal.matchedText) {
        value["matchedText"] = *signal.matchedText;
    }
    if (signal.sessionCount) {
        value["sessionCount"] = *signal.sessionCount;
    }
    if (signal.processPresent) {
        value["processPresent"] = *signal.processPresent;
    }
    if (signal.reasonCode != ReasonCode::unspecified) {
        value["reasonCode"] = std::string(rawValue(signal.reasonCode));
    }
    if (!signal.reasonDetail.empty()) {
        value["reasonDetail"] = signal.reasonDetail;
    }
    if (signal.decidedBy) {
        value["decidedBy"] = rawValue(*signal.decidedBy);
    }
    if (signal.waitingForUser) {
        value["waitingForUser"] = true;
    }
}
void from_json(const json& value, ActivitySignal& signal) {
    signal = decodeActivitySignal(value);
}

ActivitySignal strongestSignal(const std::vector<ActivitySignal>& candidates) {
    const ActivitySignal* best = nullptr;
    for (const ActivitySignal& candidate : candidates) {
        if (best == nullptr || rawValue(candidate.strength) > rawValue(best->strength)) {
            best = &candidate;
        }
    }
    return best != nullptr ? *best : ActivitySignal::none();
}

} // namespace nodwarden
