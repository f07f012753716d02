#include "ServiceController.h"

#include "DatabaseConnection.h"
#include "platform/ServiceNotify.h"

namespace krp {

namespace {

bool decimalInteger(const QString& text, int* value)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (ok)
        *value = v;
    return ok;
}

}  // namespace

ServiceController::ServiceController(DatabaseConnection& database) : database_(database) {}

void ServiceController::setRemoteService(RemoteService* service)
{
    service_ = service ? service : &nullService_;
}

bool ServiceController::start(const QString& tietokanta, int tietokannanTyyppi, const QString& portti)
{
    if (service_->isStarted())
        return false;
    platform::notifyStatus("odottaa tietokantaa");
    try {
        database_.open(tietokanta, tietokannanTyyppi);
    } catch (const std::exception& e) {
        throw DatabaseConnectError(e.what());
    }
    const int port = porttinumero(portti);
    service_->start(port);
    platform::notifyReady("palvelee");  // only now does the service listen
    return true;
}

void ServiceController::stop()
{
    service_->stop();
    database_.close();
    if (onStopped)
        onStopped();
}

bool ServiceController::kaynnistyykoAutomaattisesti(const QString& tietokanta, const QString& portti)
{
    int port = 0;
    if (!decimalInteger(portti, &port))
        port = 0;
    return !tietokanta.trimmed().isEmpty() && port > 0;
}

int ServiceController::porttinumero(const QString& portti)
{
    int port = 0;
    if (!decimalInteger(portti, &port))
        throw PortError(QStringLiteral("'%1' is not a valid integer value").arg(portti).toStdString());
    if (port < 1 || port > 65535)
        throw PortError(QStringLiteral("Portti %1 ei kelpaa: portin on oltava välillä 1–65535.").arg(port).toStdString());
    return port;
}

}  // namespace krp
