#include "app/PowerOff.h"

#include <QDBusConnection>
#include <QDBusInterface>

namespace {

// Asks systemd-logind to power the machine off. Open sessions are not asked for
// confirmation (interactive false); when logind refuses or is not there the
// computer simply stays on.
class TLogindShutdown : public IShutdown {
public:
    void PowerOff() override {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected()) return;
        QDBusInterface manager("org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", bus);
        if (!manager.isValid()) return;
        manager.setTimeout(10000);
        manager.call("PowerOff", false);
    }
};

}  // namespace

std::unique_ptr<IShutdown> MakeSystemShutdown() { return std::make_unique<TLogindShutdown>(); }
