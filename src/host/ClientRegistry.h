#pragma once
// The registry of client applications that reported themselves with Ping. It lives on the
// window's (main) thread: remote calls hand their work over without waiting, the work runs in
// hand-over order a few milliseconds later, and the connection view is rebuilt from it at most a few times a second.
#include "server/operations/ClientSnapshot.h"

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

namespace krp {

// One tracked client.
struct TYhteys {
    QString id;
    QString sovellus;
    QString osoite;  // never set by this system; stays empty
    QDateTime viimeksi_yhteydessa;
};

// Owning list of TYhteys in insertion order, at most one entry per id.
class TYhteydet {
public:
    // First entry whose id equals `id` exactly (case-sensitive); `sovellus` takes no part.
    TYhteys* EtsiYhteys(const QString& id, const QString& sovellus);
    TYhteys& add(const QString& id, const QString& sovellus);
    void remove(const TYhteys* entry);
    void clear();
    // Removes every entry last seen more than one hour from `now` (either direction); an entry
    // exactly one hour old stays. Returns how many were removed.
    int PoistaVanhentuneet(const QDateTime& now);
    const std::vector<std::unique_ptr<TYhteys>>& items() const { return items_; }
    int count() const { return static_cast<int>(items_.size()); }

private:
    std::vector<std::unique_ptr<TYhteys>> items_;
    QHash<QString, TYhteys*> byId_;
};

// The view's content: one line per entry and the number of "Kairanet" clients.
struct Yhteysnakyma {
    QStringList lines;
    int kairanetYhteyksia = 0;
};
Yhteysnakyma buildYhteysnakyma(const TYhteydet& yhteydet);

class ClientRegistry : public QObject {
    Q_OBJECT
public:
    using ViewSink = std::function<void(const Yhteysnakyma&)>;

    // Create on the main thread. `sink` shows the view (memo lines and counter).
    explicit ClientRegistry(ViewSink sink, QObject* parent = nullptr);

    // Any thread; returns at once. The work runs on the main thread in hand-over order.
    void postPing(const QString& sovellus, const QString& clientid);
    void postSovellusSuljetaan(const QString& sovellus, const QString& clientid);

    // Main thread.
    TYhteydet& Yhteydet() { return yhteydet_; }
    void PaivitaYhteysnakyma();  // rebuild the view now
    void clear();                // Stop: empty the registry and rebuild the view
    void removeStale();          // PoistaVanhentuneet, then rebuild the view
    // Starts the once-a-minute removal of clients that vanished without SovellusSuljetaan.
    void startStaleTimer(int intervalMs = 60 * 1000);
    // Pending hand-overs not yet run (for tests and load checks).
    int pendingWork() const;

    // Any thread: the registry as of the view's last rebuild. The main thread publishes a new
    // copy with every rebuild; a reader never waits for the main thread.
    std::shared_ptr<const ClientSnapshot> snapshot() const;

private:
    struct Work {
        bool ping;
        QString sovellus;
        QString clientid;
    };
    void post(Work work);
    void drain();
    void scheduleViewRefresh();

    ViewSink sink_;
    TYhteydet yhteydet_;
    mutable QMutex snapshotMutex_;  // snapshot_
    std::shared_ptr<const ClientSnapshot> snapshot_ = std::make_shared<ClientSnapshot>();
    mutable QMutex mutex_;
    std::vector<Work> pending_;
    QTimer drainTimer_;
    QTimer refreshTimer_;
    QTimer staleTimer_;
};

}  // namespace krp
