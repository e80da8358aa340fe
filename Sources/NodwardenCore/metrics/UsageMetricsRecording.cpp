// Per-tick accounting of the statistics and the run-ledger line of a closed session. Pure: no
// clock is read and nothing is written, so whole days of ticks can be scripted in tests.

#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <NodwardenCore/metrics/CalendarTime.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <utf8proc.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace nodwarden {

namespace {

constexpr std::size_t maxLedgerAgentCharacters = 64;

// Whole seconds towards zero, pinned to the 64-bit range so no value can overflow the conversion.
std::int64_t wholeSeconds(double seconds) {
    if (std::isnan(seconds)) {
        return 0;
    }
    constexpr double limit = 9223372036854774784.0; // the largest double below 2^63
    return static_cast<std::int64_t>(std::clamp(std::trunc(seconds), -limit, limit));
}

// A code point that would break the one-line-per-run layout of the ledger, or hide text.
bool breaksLedgerLine(utf8proc_int32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) || codePoint == 0x2028 ||
           codePoint == 0x2029;
}

// The last non-empty "/"-separated piece of `name`, or "-" when there is none.
std::string_view lastPathPiece(std::string_view name) {
    while (!name.empty() && name.back() == '/') {
        name.remove_suffix(1);
    }
    if (name.empty()) {
        return "-";
    }
    const std::size_t slash = name.rfind('/');
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

// The agent as the ledger writes it: the last piece of a path-like name, double quotes turned
// into apostrophes, at most the first 64 user-perceived characters. Malformed UTF-8 becomes
// U+FFFD and line breaks and other control characters become spaces, so one run always stays
// one line of valid text.
std::string ledgerAgentName(const std::optional<std::string>& agentID) {
    if (!agentID) {
        return "-";
    }
    const std::string valid = UnicodeText::sanitizedUTF8(lastPathPiece(*agentID));
    std::string cleaned;
    cleaned.reserve(valid.size());
    std::size_t characters = 0;
    utf8proc_int32_t previous = -1;
    utf8proc_int32_t breakState = 0;
    std::size_t offset = 0;
    while (offset < valid.size()) {
        utf8proc_int32_t codePoint = 0;
        const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(valid.data() + offset);
        const utf8proc_ssize_t length = utf8proc_iterate(
            bytes, static_cast<utf8proc_ssize_t>(valid.size() - offset), &codePoint);
        if (length <= 0) {
            break; // cannot happen after sanitising; stop rather than loop
        }
        if (previous < 0 || utf8proc_grapheme_break_stateful(previous, codePoint, &breakState)) {
            if (++characters > maxLedgerAgentCharacters) {
                break;
            }
        }
        previous = codePoint;
        if (codePoint == '"') {
            cleaned.push_back('\'');
        } else if (breaksLedgerLine(codePoint)) {
            cleaned.push_back(' ');
        } else {
            cleaned.append(valid, offset, static_cast<std::size_t>(length));
        }
        offset += static_cast<std::size_t>(length);
    }
    return cleaned;
}

std::string_view processText(std::optional<bool> processAlive) {
    if (!processAlive) {
        return "unknown";
    }
    return *processAlive ? "alive" : "gone";
}

} // namespace

UsageMetrics UsageMetrics::recording(UsageMetrics metrics, bool effectiveKeepAwake,
                                     KeepAwakeTrigger triggerRung, SignalStrength signalStrength,
                                     LidState lidState, const std::optional<std::string>& agentID,
                                     double idleGracePeriodSeconds,
                                     std::optional<bool> sessionProcessAlive, Date now) {
    metrics.record(effectiveKeepAwake, triggerRung, signalStrength, lidState, agentID,
                   idleGracePeriodSeconds, sessionProcessAlive, now);
    return metrics;
}

bool UsageMetrics::sameBesideDaysAndLastTick(const UsageMetrics& other) const {
    UsageMetrics mine = withoutDays();
    mine.lastTickAt_ = other.lastTickAt_;
    return mine == other.withoutDays();
}

UsageMetrics UsageMetrics::withoutDays() const {
    UsageMetrics copy(installDate_);
    copy.longestProtectedRunSeconds_ = longestProtectedRunSeconds_;
    copy.longestProtectedRunAgent_ = longestProtectedRunAgent_;
    copy.longestProtectedRunDate_ = longestProtectedRunDate_;
    copy.sessionStartedAt_ = sessionStartedAt_;
    copy.sessionQualified_ = sessionQualified_;
    copy.sessionAgentID_ = sessionAgentID_;
    copy.sessionRunSeconds_ = sessionRunSeconds_;
    copy.lastTickAt_ = lastTickAt_;
    copy.lastActiveSignalAt_ = lastActiveSignalAt_;
    copy.wakeGapTicksDropped_ = wakeGapTicksDropped_;
    copy.lastRun_ = lastRun_;
    copy.lastCloseReason_ = lastCloseReason_;
    copy.sessionProtectedSeconds_ = sessionProtectedSeconds_;
    copy.sessionKeptAwakeSeconds_ = sessionKeptAwakeSeconds_;
    return copy;
}

bool UsageMetrics::record(bool effectiveKeepAwake, KeepAwakeTrigger triggerRung,
                          SignalStrength signalStrength, LidState lidState,
                          const std::optional<std::string>& agentID, double idleGracePeriodSeconds,
                          std::optional<bool> sessionProcessAlive, Date now) {
    UsageMetrics& m = *this;
    // A time that is not a number would poison `lastTickAt` and with it every later tick (and
    // could not even be saved), so such a tick is ignored altogether.
    if (!std::isfinite(now)) {
        return false;
    }
    if (!m.lastTickAt_) {
        m.lastTickAt_ = now;
        return false;
    }
    const double elapsed = now - *m.lastTickAt_;
    const Date previousTick = *m.lastTickAt_;
    m.lastTickAt_ = now;

    if (!(elapsed > 0) || elapsed > maxClampedElapsed) {
        if (elapsed > maxClampedElapsed) {
            ++m.wakeGapTicksDropped_;
        }
        return m.closeSession(previousTick, SessionCloseReason::interrupted);
    }

    const std::string today = dayKey(now);
    auto [slot, isNewDay] = m.days_.try_emplace(today);
    DayBucket& bucket = slot->second;
    bool daysChanged = isNewDay;
    const bool protectedTick = effectiveKeepAwake &&
                               triggerRung == KeepAwakeTrigger::activeSignal &&
                               lidState == LidState::closed;
    if (effectiveKeepAwake &&
        m.countKeptAwake(bucket, triggerRung, protectedTick, agentID, elapsed, today)) {
        daysChanged = true;
    }
    if (!protectedTick) {
        m.sessionRunSeconds_ = 0;
    }
    if (m.followSession(signalStrength, protectedTick, agentID, idleGracePeriodSeconds,
                        sessionProcessAlive, now)) {
        daysChanged = true;
    }
    return daysChanged;
}

bool UsageMetrics::countKeptAwake(DayBucket& bucket, KeepAwakeTrigger triggerRung,
                                  bool protectedTick, const std::optional<std::string>& agentID,
                                  double elapsed, const std::string& today) {
    // Every counted rung adds a positive elapsed time to the bucket.
    switch (triggerRung) {
    case KeepAwakeTrigger::manual:
        bucket.manualSeconds += elapsed;
        break;
    case KeepAwakeTrigger::pluggedInUnlimited:
        bucket.pluggedInUnlimitedSeconds += elapsed;
        break;
    case KeepAwakeTrigger::activeSignal:
        if (protectedTick) {
            bucket.protectedSeconds += elapsed;
            sessionProtectedSeconds_ += elapsed;
            if (agentID) {
                bucket.protectedSecondsByAgent[*agentID] += elapsed;
            }
            sessionRunSeconds_ += elapsed;
            if (sessionRunSeconds_ > longestProtectedRunSeconds_) {
                longestProtectedRunSeconds_ = sessionRunSeconds_;
                longestProtectedRunAgent_ = agentID;
                longestProtectedRunDate_ = today;
            }
        } else {
            bucket.keptAwakeSeconds += elapsed;
            sessionKeptAwakeSeconds_ += elapsed;
        }
        break;
    case KeepAwakeTrigger::none:
    case KeepAwakeTrigger::idleGrace:
        return false;
    }
    return true;
}

bool UsageMetrics::followSession(SignalStrength signalStrength, bool protectedTick,
                                 const std::optional<std::string>& agentID,
                                 double idleGracePeriodSeconds,
                                 std::optional<bool> sessionProcessAlive, Date now) {
    if (isActiveWork(signalStrength)) {
        lastActiveSignalAt_ = now;
        if (!sessionStartedAt_) {
            sessionStartedAt_ = now;
            sessionQualified_ = false;
            sessionAgentID_ = agentID;
        }
        if (protectedTick) {
            sessionQualified_ = true;
        }
    } else if (lastActiveSignalAt_ && sessionStartedAt_) {
        if (now - *lastActiveSignalAt_ >= idleGracePeriodSeconds) {
            return closeSession(now, SessionCloseReason::idle);
        }
        if (sessionProcessAlive == false) {
            return closeSession(now, SessionCloseReason::vanished);
        }
    }
    return false;
}

bool UsageMetrics::closeSession(Date now, SessionCloseReason reason) {
    if (!sessionStartedAt_) {
        return false;
    }
    DayBucket& bucket = days_[dayKey(now)];
    bucket.totalSessions += 1;
    if (sessionQualified_) {
        bucket.sessionsSaved += 1;
        if (sessionAgentID_) {
            bucket.sessionsByAgent[*sessionAgentID_] += 1;
        }
    }
    lastCloseReason_ = reason;
    if (sessionProtectedSeconds_ + sessionKeptAwakeSeconds_ > 0) {
        const Date start = *sessionStartedAt_;
        const double worked = std::max(lastActiveSignalAt_.value_or(start) - start, 0.0);
        lastRun_.emplace(sessionAgentID_, now, worked, sessionProtectedSeconds_,
                         sessionKeptAwakeSeconds_, reason == SessionCloseReason::idle);
    }
    sessionStartedAt_.reset();
    sessionAgentID_.reset();
    lastActiveSignalAt_.reset();
    sessionQualified_ = false;
    sessionRunSeconds_ = 0;
    sessionProtectedSeconds_ = 0;
    sessionKeptAwakeSeconds_ = 0;
    return true;
}

std::string UsageMetrics::runLogLine(const UsageMetrics& session, SessionCloseReason closeReason,
                                     Date closedAt, std::optional<bool> processAlive,
                                     std::optional<std::int64_t> sessionFileAgeSeconds,
                                     LidState lidState) {
    std::string started = "-";
    std::int64_t worked = 0;
    if (session.sessionStartedAt_) {
        const Date start = *session.sessionStartedAt_;
        started = CalendarTime::iso8601UTC(start);
        worked = wholeSeconds(std::max(session.lastActiveSignalAt_.value_or(start) - start, 0.0));
    }
    std::string line;
    line.reserve(256);
    line += "ts=";
    line += CalendarTime::iso8601UTC(closedAt);
    line += " agent=\"";
    line += ledgerAgentName(session.sessionAgentID_);
    line += "\" started=";
    line += started;
    line += " worked_s=";
    line += std::to_string(worked);
    line += " protected_s=";
    line += std::to_string(wholeSeconds(session.sessionProtectedSeconds_));
    line += " kept_awake_s=";
    line += std::to_string(wholeSeconds(session.sessionKeptAwakeSeconds_));
    line += " close=";
    line += rawValue(closeReason);
    line += " process_at_close=";
    line += processText(processAlive);
    line += " session_file_age_s=";
    line += sessionFileAgeSeconds ? std::to_string(*sessionFileAgeSeconds) : std::string("-");
    line += " lid=";
    line += rawValue(lidState);
    return line;
}

} // namespace nodwarden
