#include "ServerContainerService.h"

#include <QDir>

namespace krp {

ServerContainerOptions containerOptions(const Asetukset& a)
{
    ServerContainerOptions options;
    options.maxSessions = static_cast<std::size_t>(a.palvelunRajat.istuntojaEnintaan);
    options.maxSessionsPerAddress = static_cast<std::size_t>(a.palvelunRajat.istuntojaOsoitteesta);
    options.maxWaitingCalls = static_cast<std::size_t>(a.palvelunRajat.odottaviaKutsujaIstunnossa);
    options.stopDeadline = std::chrono::seconds(a.palvelunRajat.pysaytyksenAikarajaSekuntia);
    options.maxConnectionsPerAddress = static_cast<std::size_t>(a.rajat.yhteyksiaOsoitteesta);
    options.maxConnections = static_cast<std::size_t>(a.rajat.yhteyksiaEnintaan);
    options.handshakeTimeout = std::chrono::seconds(a.rajat.katteluaikaS);
    options.maxBodyMemoryBytes = static_cast<std::size_t>(a.rajat.runkojenMuistiMt) * 1024 * 1024;
    options.loginThrottle.failures = static_cast<unsigned>(a.rajat.kirjautumisvirheita);
    options.loginThrottle.longestLock = std::chrono::seconds(a.rajat.estoEnintaanS);
    options.keyedCallJournal = QDir::toNativeSeparators(a.toistot.tiedosto).toStdString();
    options.keyedCallsKeptFor = std::chrono::hours(a.toistot.sailytysTunteina);
    options.metricsReaders = addressList(a.metriikanLukijat.toStdString());
    options.consoleReaders = addressList(a.konsolinOsoitteet.toStdString());
    return options;
}

ServerContainerService::ServerContainerService(const Asetukset& asetukset, db::Database& database,
                                               ClientRegistry::ViewSink showView)
    : registry_(std::move(showView))
{
    context_.database = &database;
    context_.sisaiseenSelvitykseenTuoterivienNimet = asetukset.sisaisenSelvityksenErikoiskasittely;
    context_.ping = [this](const QString& sovellus, const QString& clientid) {
        registry_.postPing(sovellus, clientid);
    };
    context_.sovellusSuljetaan = [this](const QString& sovellus, const QString& clientid) {
        registry_.postSovellusSuljetaan(sovellus, clientid);
    };
    ServerContainerOptions options = containerOptions(asetukset);
    options.clients = [this] { return registry_.snapshot(); };
    container_ = std::make_unique<TServerContainer1>(context_, asetukset.hakemisto, options);
    registry_.startStaleTimer();
}

ServerContainerService::~ServerContainerService()
{
    container_->stop();
}

void ServerContainerService::start(int port)
{
    container_->setPort(port);
    container_->start();
}

}  // namespace krp
