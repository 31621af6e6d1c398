#include "Vessora/App/SystemdBusServiceManager.hpp"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QVariantMap>

namespace vessora {
namespace {

constexpr int callTimeoutMilliseconds = 5000;

std::string property(const QVariantMap& properties, const char* name) {
    return properties.value(name).toString().toStdString();
}

} // namespace

SystemdBusServiceManager::SystemdBusServiceManager(std::string unit,
                                                   std::optional<QDBusConnection> bus)
    : unit_(unit), bus_(std::move(bus)), commands_(std::move(unit)) {}

QString SystemdBusServiceManager::unitPath(const std::string& unit) {
    static const char hex[] = "0123456789abcdef";
    QString path = "/org/freedesktop/systemd1/unit/";
    if (unit.empty())
        return path + "_";
    for (std::size_t index = 0; index < unit.size(); ++index) {
        const auto byte = static_cast<unsigned char>(unit[index]);
        const bool letter = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
        const bool digit = byte >= '0' && byte <= '9';
        if (letter || (digit && index > 0)) {
            path += QChar(byte);
        } else {
            path += '_';
            path += QChar(hex[byte >> 4]);
            path += QChar(hex[byte & 0xf]);
        }
    }
    return path;
}

ServiceStatus SystemdBusServiceManager::status() {
    const QDBusConnection bus = bus_ ? *bus_ : QDBusConnection::systemBus();
    if (!bus.isConnected())
        return ServiceStatus::notFound;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.systemd1", unitPath(unit_),
                                                       "org.freedesktop.DBus.Properties", "GetAll");
    call << QString("org.freedesktop.systemd1.Unit");
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeoutMilliseconds);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return ServiceStatus::notFound;
    const QVariant answer = reply.arguments().front();
    if (!answer.canConvert<QDBusArgument>())
        return ServiceStatus::notFound;
    const auto properties = qdbus_cast<QVariantMap>(answer.value<QDBusArgument>());
    return SystemdServiceManager::statusFromStates(property(properties, "LoadState"),
                                                   property(properties, "UnitFileState"),
                                                   property(properties, "ActiveState"));
}

void SystemdBusServiceManager::registerService() {
    commands_.registerService();
}

void SystemdBusServiceManager::unregisterService() {
    commands_.unregisterService();
}

void SystemdBusServiceManager::openApproval() {
    commands_.openApproval();
}

} // namespace vessora
