#include <NodwardenApp/model/ModelSupport.hpp>

#include <NodwardenApp/model/AppModel.hpp>

#include <QMetaObject>

namespace nodwarden::app::detail {

QString qstring(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

void deliver(const QPointer<AppModel>& guard, std::function<void(AppModel&)> job) {
    AppModel* model = guard.data();
    if (model == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        model,
        [guard, job = std::move(job)] {
            if (AppModel* alive = guard.data()) {
                job(*alive);
            }
        },
        Qt::QueuedConnection);
}

} // namespace nodwarden::app::detail
