#include <NodwardenApp/model/ModelSupport.hpp>

#include <NodwardenCore/system/UnicodeText.hpp>

namespace nodwarden::app {

QString shownOnTerminal(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return detail::qstring(UnicodeText::shownOnTerminal(
        std::string_view(bytes.constData(), std::size_t(bytes.size()))));
}

namespace detail {

QString qstring(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace detail
} // namespace nodwarden::app
