#include "AppSupport/Recording.hpp"

namespace stayloom::testing {

std::string contents(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char buffer[512];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, stream)) {
        text.append(buffer, count);
    }
    return text;
}

} // namespace stayloom::testing
