#include "platform/posix/PrivateBus.h"

#include <atomic>
#include <cstdlib>

namespace platform {

PrivateBus::PrivateBus(const std::string& address) : address_(address) {
    if (address_.empty()) {
        const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (!env || !*env) return;
        address_ = env;
    }
    static std::atomic<int> serial{0};
    name_ = QStringLiteral("penrika-private-bus-%1").arg(++serial);
    bus_.emplace(QDBusConnection::connectToBus(QString::fromStdString(address_), name_));
}

PrivateBus::~PrivateBus() {
    if (!bus_) return;
    bus_.reset();
    QDBusConnection::disconnectFromBus(name_);
}

}  // namespace platform
