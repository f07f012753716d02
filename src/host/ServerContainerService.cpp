#include "ServerContainerService.h"

namespace krp {

ServerContainerService::ServerContainerService(TfrmKRPalvelin& window, const QString& certificateDir,
                                               ServerContainerOptions options)
    : window_(window),
      registry_([&window](const Yhteysnakyma& view) { window.PaivitaYhteysnakyma(view.lines, view.kairanetYhteyksia); })
{
    context_.database = &window.FDYhteysPaaruutu().database();
    context_.sisaiseenSelvitykseenTuoterivienNimet = window.sisaiseen_selvitykseen_tuoterivien_nimet;
    context_.ping = [this](const QString& sovellus, const QString& clientid) { registry_.postPing(sovellus, clientid); };
    context_.sovellusSuljetaan = [this](const QString& sovellus, const QString& clientid) {
        registry_.postSovellusSuljetaan(sovellus, clientid);
    };
    // [Palvelu] Metriikan_lukijat: addresses besides loopback that may read GET /metrics.
    options.metricsReaders = addressList(
        window.Ini().readString(QStringLiteral("Palvelu"), QStringLiteral("Metriikan_lukijat"), QString()).toStdString());
    // [Palvelu] Konsolin_osoitteet: the addresses that may read the operator console; an empty
    // value turns the console off.
    options.consoleReaders = addressList(window.Ini()
                                             .readString(QStringLiteral("Palvelu"), QStringLiteral("Konsolin_osoitteet"),
                                                         QString::fromLatin1(kDefaultConsoleReaders))
                                             .toStdString());
    options.clients = [this] { return registry_.snapshot(); };
    container_ = std::make_unique<TServerContainer1>(context_, certificateDir, options);
    // Stop empties the registry and its view; clients that vanished without saying goodbye
    // leave the view an hour after their last Ping.
    window.setOnRegistryReset([this] { registry_.clear(); });
    registry_.startStaleTimer();
}

ServerContainerService::~ServerContainerService()
{
    container_->stop();
    window_.setOnRegistryReset({});
}

void ServerContainerService::start(int port)
{
    container_->setPort(port);
    container_->start();
}

}  // namespace krp
