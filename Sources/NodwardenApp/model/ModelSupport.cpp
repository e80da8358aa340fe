#include <NodwardenApp/model/ModelSupport.hpp>

namespace nodwarden::app::detail {

QString qstring(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace nodwarden::app::detail
