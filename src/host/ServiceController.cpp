#include "ServiceController.h"

#include "DatabaseConnection.h"
#include "platform/core/ServiceNotify.h"

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

bool ServiceController::start(const QString& tietokanta, int tietokannanTyyppi, const QString& portti, StartBy by)
{
    if (service_->isStarted())
        return false;
    platform::notifyStatus("odottaa tietokantaa");
    if (by == StartBy::Automatic && database_.isOpen() && !afterConnectPassed_)
        database_.close();  // left open by a failed operator's Start: this start runs all of it
    if (!database_.isOpen()) {
        afterConnectPassed_ = false;
        try {
            database_.connect(tietokanta, tietokannanTyyppi);
        } catch (const std::exception& e) {
            throw DatabaseConnectError(e.what());
        }
        try {
            database_.afterConnect();
        } catch (const std::exception& e) {
            if (by == StartBy::Automatic)
                database_.close();
            throw AfterConnectError(e.what());
        }
        afterConnectPassed_ = true;
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
        throw PortError(
            QStringLiteral("Portti %1 ei kelpaa: portin on oltava välillä 1–65535.").arg(port).toStdString());
    return port;
}

}  // namespace krp
