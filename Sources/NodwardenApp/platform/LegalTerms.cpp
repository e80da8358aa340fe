#include <NodwardenApp/platform/LegalTerms.hpp>

namespace nodwarden::app::LegalTerms {

const std::array<Point, 2>& points() {
    static const std::array<Point, 2> all{{
        {"lock.shield.fill", "Private by design",
         "Never opens your files. It looks at process command lines and CPU, at the names and "
         "modification times of your agents' session files, and — only if you grant "
         "Accessibility — at the on-screen text of the agent apps you enable and of the "
         "terminals we support. A command line can include a prompt you passed on it, and "
         "on-screen text includes whatever is visible in that window, your code included: both "
         "are matched against status phrases on your Mac and discarded on the spot, never stored "
         "and never sent. Nothing about your work leaves your Mac. There are no analytics or "
         "telemetry of any kind, and this build makes no network connections at all, not even "
         "an update check."},
        {"exclamationmark.triangle.fill", "Use it responsibly",
         "Preventing sleep can add heat and battery use. Don't run a closed-lid Mac under load "
         "in a bag or enclosed space — you use it at your own risk."},
    }};
    return all;
}

const std::array<Document, 3>& documents() {
    static const std::array<Document, 3> all{{
        {"EULA", "/eula.html"},
        {"Privacy Policy", "/privacy.html"},
        {"Terms", "/terms.html"},
    }};
    return all;
}

std::string address(std::string_view base, const Document& document) {
    while (!base.empty() && base.back() == '/') {
        base.remove_suffix(1);
    }
    return std::string(base) + std::string(document.path);
}

std::string terminalText(std::string_view base) {
    std::string text;
    text += heading;
    text += "\n";
    text += tagline;
    text += "\n";
    for (const Point& point : points()) {
        text += "\n";
        text += point.title;
        text += "\n";
        text += point.paragraph;
        text += "\n";
    }
    text += "\nBy answering “y”, you accept our\n";
    for (const Document& document : documents()) {
        text += "  ";
        text += document.title;
        text += ": ";
        text += address(base, document);
        text += "\n";
    }
    return text;
}

} // namespace nodwarden::app::LegalTerms
