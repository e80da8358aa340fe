#pragma once

#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace stayloom::testing {

/// A moment given as a UTC calendar time, as a `Date`.
inline nodwarden::Date utcDate(int year, int month, int day, int hour = 0, int minute = 0,
                               double second = 0) {
    std::tm civil{};
    civil.tm_year = year - 1900;
    civil.tm_mon = month - 1;
    civil.tm_mday = day;
    civil.tm_hour = hour;
    civil.tm_min = minute;
    return nodwarden::dateFromUnixTime(static_cast<double>(timegm(&civil)) + second);
}

/// A well-formed account longer than `bytes`: one day credited to a crowd of agents.
inline std::string crowdedAccountJSON(std::size_t bytes) {
    std::string agents;
    for (int index = 0; agents.size() <= bytes; ++index) {
        agents += (index == 0 ? "\"agent " : ",\"agent ") + std::to_string(index) + "\":1";
    }
    return R"({"installDate":786000000.25,"days":{"2025-01-01":{"protectedSeconds":1,)"
           R"("keptAwakeSeconds":0,"manualSeconds":0,"pluggedInUnlimitedSeconds":0,)"
           R"("sessionsSaved":0,"totalSessions":0,"protectedSecondsByAgent":{)" +
           agents + R"(},"sessionsByAgent":{}}}})";
}

/// Sets TZ for the whole test program before any test runs (and before the statistics capture
/// the zone on their first day key).
struct ProgramTimeZone {
    explicit ProgramTimeZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
};

/// One scripted tick: when it happens and what the application reports for it. The defaults
/// describe an agent working with the lid closed while the machine is held awake for it.
struct Tick {
    double at = 0; ///< seconds after the script's start
    nodwarden::SignalStrength signal = nodwarden::SignalStrength::strong;
    nodwarden::LidState lid = nodwarden::LidState::closed;
    nodwarden::KeepAwakeTrigger rung = nodwarden::KeepAwakeTrigger::activeSignal;
    bool keepAwake = true;
    std::optional<bool> processAlive = std::nullopt;
    std::optional<std::string> agent = std::string("Claude Code");
};

/// Ticks every `step` seconds from `from` up to and including `to`, all like `pattern`.
inline std::vector<Tick> ticksEvery(double step, double from, double to, Tick pattern = {}) {
    std::vector<Tick> ticks;
    for (double at = from; at <= to + 1e-9; at += step) {
        pattern.at = at;
        ticks.push_back(pattern);
    }
    return ticks;
}

inline std::vector<Tick> operator+(std::vector<Tick> first, const std::vector<Tick>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

/// Feeds the ticks to `recording`, one after the other, relative to `start`.
inline nodwarden::UsageMetrics play(nodwarden::UsageMetrics metrics, const std::vector<Tick>& ticks,
                                    nodwarden::Date start, double idleGrace = 90) {
    for (const Tick& tick : ticks) {
        metrics = nodwarden::UsageMetrics::recording(std::move(metrics), tick.keepAwake, tick.rung,
                                                     tick.signal, tick.lid, tick.agent, idleGrace,
                                                     tick.processAlive, start + tick.at);
    }
    return metrics;
}

/// Decodes a document that the test expects to be valid.
inline nodwarden::UsageMetrics accountFrom(const nlohmann::json& document) {
    auto decoded = nodwarden::UsageMetrics::fromJSON(document.dump());
    if (!decoded) {
        throw std::runtime_error("test document does not decode: " + document.dump());
    }
    return *decoded;
}

/// A day bucket document with every key, zero unless given.
inline nlohmann::json bucketJSON(double protectedSeconds = 0, double keptAwake = 0,
                                 double manual = 0, double plugged = 0, long saved = 0,
                                 long total = 0,
                                 nlohmann::json protectedByAgent = nlohmann::json::object(),
                                 nlohmann::json sessionsByAgent = nlohmann::json::object()) {
    return {{"protectedSeconds", protectedSeconds},
            {"keptAwakeSeconds", keptAwake},
            {"manualSeconds", manual},
            {"pluggedInUnlimitedSeconds", plugged},
            {"sessionsSaved", saved},
            {"totalSessions", total},
            {"protectedSecondsByAgent", std::move(protectedByAgent)},
            {"sessionsByAgent", std::move(sessionsByAgent)}};
}

} // namespace stayloom::testing
