// A session bus of a test's own (a private dbus-daemon), and stand-ins for a desktop's services
// served on it from a thread of their own: the code under test blocks the test's thread on its
// calls. Needs no display.
#pragma once

#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QString>
#include <QThread>
#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/Launch.h"
#include "support/Wait.h"

class TestBus {
  public:
    using Objects = std::vector<std::pair<QString, QObject*>>;

    TestBus() {
        static int argc = 1;
        static char name[] = "test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
        std::istringstream out(
            Capture("dbus-daemon --session --fork --print-address=1 --print-pid=1"));
        std::getline(out, address_);
        out >> daemon_;
    }
    ~TestBus() {
        if (service_) {
            service_->quit();
            service_->wait();
        }
        if (daemon_ > 0) kill(daemon_, SIGTERM);
    }
    TestBus(const TestBus&) = delete;
    TestBus& operator=(const TestBus&) = delete;

    // Empty when no daemon started.
    const std::string& address() const { return address_; }
    // A connection of the code under test's, by a name of its own.
    QDBusConnection Connect(const QString& name) const {
        return QDBusConnection::connectToBus(QString::fromStdString(address_), name);
    }

    // Serves `objects` (each at its path, moved to the service's thread) under the well-known
    // name `service`; false when the name was not taken.
    bool Serve(const QString& service, const Objects& objects) {
        service_ = std::make_unique<Service>(QString::fromStdString(address_), service, objects);
        for (const auto& o : objects) o.second->moveToThread(service_.get());
        service_->start();
        return WaitUntil([&] { return service_->registered(); }, std::chrono::seconds(5));
    }

  private:
    class Service : public QThread {
      public:
        Service(QString address, QString name, Objects objects)
            : address_(std::move(address)), name_(std::move(name)), objects_(std::move(objects)) {}
        void run() override {
            const QString connection = QStringLiteral("service ") + name_;
            {
                QDBusConnection bus = QDBusConnection::connectToBus(address_, connection);
                for (const auto& o : objects_)
                    bus.registerObject(o.first, o.second,
                                      QDBusConnection::ExportAllSlots |
                                          QDBusConnection::ExportAllProperties);
                registered_ = bus.registerService(name_);
                exec();
                bus.unregisterService(name_);
            }
            QDBusConnection::disconnectFromBus(connection);
        }
        bool registered() const { return registered_; }

      private:
        QString address_, name_;
        Objects objects_;
        std::atomic<bool> registered_{false};
    };

    std::string address_;
    pid_t daemon_ = 0;
    std::unique_ptr<Service> service_;
};
