#include <NodwardenApp/model/FileReplacement.hpp>

#include <NodwardenCore/system/AtomicFile.hpp>

#include <QFile>

#include <array>
#include <filesystem>
#include <string_view>
#include <utility>

namespace nodwarden::app::FileReplacement {

namespace {

std::filesystem::perms permissionsOf(QFileDevice::Permissions permissions) {
    using std::filesystem::perms;
    perms mode = perms::none;
    const std::array<std::pair<QFileDevice::Permission, perms>, 12> bits{{
        {QFileDevice::ReadOwner, perms::owner_read},
        {QFileDevice::WriteOwner, perms::owner_write},
        {QFileDevice::ExeOwner, perms::owner_exec},
        {QFileDevice::ReadUser, perms::owner_read},
        {QFileDevice::WriteUser, perms::owner_write},
        {QFileDevice::ExeUser, perms::owner_exec},
        {QFileDevice::ReadGroup, perms::group_read},
        {QFileDevice::WriteGroup, perms::group_write},
        {QFileDevice::ExeGroup, perms::group_exec},
        {QFileDevice::ReadOther, perms::others_read},
        {QFileDevice::WriteOther, perms::others_write},
        {QFileDevice::ExeOther, perms::others_exec},
    }};
    for (const auto& [permission, bit] : bits) {
        if (permissions.testFlag(permission)) {
            mode |= bit;
        }
    }
    return mode;
}

} // namespace

bool write(const QString& path, const QByteArray& bytes, QFileDevice::Permissions permissions) {
    try {
        AtomicFile::write(std::filesystem::path(QFile::encodeName(path).toStdString()),
                          std::string_view(bytes.constData(), std::size_t(bytes.size())),
                          permissionsOf(permissions));
    } catch (const std::filesystem::filesystem_error&) {
        return false;
    }
    return true;
}

} // namespace nodwarden::app::FileReplacement
