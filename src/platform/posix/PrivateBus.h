// A connection of this program's own to the session bus: to the one the environment names at
// the moment it is made (the session may have been started after this program), or to a given
// address. It leaves Qt's shared connection alone and is closed when it goes.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <optional>
#include <string>

namespace platform {

class PrivateBus {
  public:
    // `address` empty: the bus DBUS_SESSION_BUS_ADDRESS names now.
    explicit PrivateBus(const std::string& address = {});
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool connected() const { return bus_ && bus_->isConnected(); }
    // Only while connected().
    QDBusConnection& bus() { return *bus_; }
    const std::string& address() const { return address_; }

  private:
    std::string address_;
    QString name_;
    std::optional<QDBusConnection> bus_;
};

}  // namespace platform
