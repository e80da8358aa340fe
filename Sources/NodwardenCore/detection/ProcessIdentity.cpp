#include <NodwardenCore/detection/ProcessIdentity.hpp>

#include <NodwardenCore/system/BoundedFileRead.hpp>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include <unistd.h>

namespace nodwarden {

namespace {

std::optional<std::string> readWhole(const std::filesystem::path& path) {
    std::ifstream input(path, std::ios::binary);
    if (!input) {
        return std::nullopt;
    }
    return std::string{std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
}

/// Seconds since boot at which the process started: field 22 of its stat line, counted after the
/// last ")" because the command name may hold spaces and parentheses.
std::optional<double> startTicksSinceBoot(const std::string& stat) {
    const auto close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
        if (index == 22) {
            char* end = nullptr;
            const double ticks = std::strtod(field.c_str(), &end);
            return end != field.c_str() && *end == '\0' ? std::optional<double>(ticks)
                                                        : std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<double> bootTime(const std::filesystem::path& processRoot) {
    std::ifstream input(processRoot / "stat");
    for (std::string line; std::getline(input, line);) {
        if (line.rfind("btime ", 0) == 0) {
            return std::strtod(line.c_str() + 6, nullptr);
        }
    }
    return std::nullopt;
}

std::filesystem::path normalised(const std::filesystem::path& path) {
    std::error_code error;
    auto canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path.lexically_normal() : canonical;
}

/// The interpreter a script's "#!" line names; none for a program that is no script.
std::optional<std::filesystem::path> scriptInterpreter(const std::filesystem::path& program) {
    // The kernel reads no more than this of the line either.
    constexpr std::size_t longestLine = 256;
    const auto head = BoundedFileRead::head(program, longestLine, BoundedFileRead::Links::follow);
    if (!head || !head->bytes.starts_with("#!")) {
        return std::nullopt;
    }
    const std::string_view line = std::string_view(head->bytes).substr(2);
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const auto end = line.find_first_of(" \t\n", start);
    const auto path = line.substr(start, end == std::string_view::npos ? line.npos : end - start);
    if (path.empty() || path.front() != '/') {
        return std::nullopt;
    }
    return std::filesystem::path(path);
}

} // namespace

bool ProcessIdentity::runs(const std::filesystem::path& program) const {
    const auto wanted = normalised(program);
    const auto running = normalised(executable);
    if (running == wanted) {
        return true;
    }
    // Any program can take the script's path as an argument (`tail -f`, an editor): only the
    // interpreter the script names runs it.
    const auto interpreter = scriptInterpreter(program);
    if (!interpreter || normalised(*interpreter) != running) {
        return false;
    }
    for (std::size_t index = 1; index <= 2 && index < arguments.size(); ++index) {
        if (!arguments[index].empty() && normalised(arguments[index]) == wanted) {
            return true;
        }
    }
    return false;
}

std::optional<ProcessIdentity> readProcessIdentity(const std::filesystem::path& processRoot,
                                                   std::int32_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    const auto folder = processRoot / std::to_string(pid);
    std::error_code error;
    auto executable = std::filesystem::read_symlink(folder / "exe", error).string();
    if (error || executable.empty()) {
        return std::nullopt;
    }
    static constexpr std::string_view deletedMark = " (deleted)";
    if (executable.size() > deletedMark.size() &&
        executable.compare(executable.size() - deletedMark.size(), deletedMark.size(),
                           deletedMark) == 0) {
        executable.resize(executable.size() - deletedMark.size());
    }
    ProcessIdentity identity{executable, {}, std::nullopt};
    if (const auto cmdline = readWhole(folder / "cmdline")) {
        std::string argument;
        for (const char c : *cmdline) {
            if (c == '\0') {
                identity.arguments.push_back(std::move(argument));
                argument.clear();
            } else {
                argument += c;
            }
        }
        if (!argument.empty()) {
            identity.arguments.push_back(std::move(argument));
        }
    }
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    const auto stat = readWhole(folder / "stat");
    const auto ticks = stat ? startTicksSinceBoot(*stat) : std::nullopt;
    const auto boot = bootTime(processRoot);
    if (ticks && boot && ticksPerSecond > 0) {
        identity.startedAtUnixSeconds = *boot + *ticks / static_cast<double>(ticksPerSecond);
    }
    return identity;
}

} // namespace nodwarden
