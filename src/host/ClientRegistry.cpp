#include "ClientRegistry.h"

#include "log/DateTimeText.h"

#include <QMutexLocker>
#include <algorithm>
#include <cstdlib>

namespace krp {

namespace {
// The view is rebuilt at most this often under a stream of pings.
constexpr int kViewRefreshMs = 250;
// How long handed-over work gathers before the main thread runs it.
constexpr int kHandOverMs = 20;
constexpr qint64 kOneHourMs = 60LL * 60 * 1000;
}  // namespace

TYhteys* TYhteydet::EtsiYhteys(const QString& id, const QString& /*sovellus*/)
{
    return byId_.value(id, nullptr);
}

TYhteys& TYhteydet::add(const QString& id, const QString& sovellus)
{
    auto entry = std::make_unique<TYhteys>();
    entry->id = id;
    entry->sovellus = sovellus;
    TYhteys& ref = *entry;
    items_.push_back(std::move(entry));
    byId_.insert(id, &ref);
    return ref;
}

void TYhteydet::remove(const TYhteys* entry)
{
    auto it = std::find_if(items_.begin(), items_.end(), [&](const auto& p) { return p.get() == entry; });
    if (it == items_.end())
        return;
    byId_.remove((*it)->id);
    items_.erase(it);
}

void TYhteydet::clear()
{
    byId_.clear();
    items_.clear();
}

int TYhteydet::PoistaVanhentuneet(const QDateTime& now)
{
    const auto before = items_.size();
    auto stale = [&](const std::unique_ptr<TYhteys>& e) {
        return std::llabs(e->viimeksi_yhteydessa.msecsTo(now)) > kOneHourMs;
    };
    for (const auto& e : items_) {
        if (stale(e))
            byId_.remove(e->id);
    }
    items_.erase(std::remove_if(items_.begin(), items_.end(), stale), items_.end());
    return static_cast<int>(before - items_.size());
}

Yhteysnakyma buildYhteysnakyma(const TYhteydet& yhteydet)
{
    Yhteysnakyma view;
    view.lines.reserve(yhteydet.count());
    const QString gap(5, QLatin1Char(' '));
    for (const auto& e : yhteydet.items()) {
        if (e->sovellus == QLatin1String("Kairanet"))
            ++view.kairanetYhteyksia;
        view.lines.append(e->id + gap + e->sovellus + gap + dateTimeText(e->viimeksi_yhteydessa));
    }
    return view;
}

ClientRegistry::ClientRegistry(ViewSink sink, QObject* parent) : QObject(parent), sink_(std::move(sink))
{
    drainTimer_.setSingleShot(true);
    drainTimer_.setInterval(kHandOverMs);
    connect(&drainTimer_, &QTimer::timeout, this, &ClientRegistry::drain);
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(kViewRefreshMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &ClientRegistry::PaivitaYhteysnakyma);
    connect(&staleTimer_, &QTimer::timeout, this, &ClientRegistry::removeStale);
}

void ClientRegistry::postPing(const QString& sovellus, const QString& clientid)
{
    post({true, sovellus, clientid});
}

void ClientRegistry::postSovellusSuljetaan(const QString& sovellus, const QString& clientid)
{
    post({false, sovellus, clientid});
}

void ClientRegistry::post(Work work)
{
    bool wake;
    {
        QMutexLocker lock(&mutex_);
        wake = pending_.empty();  // else the main thread has been asked already
        pending_.push_back(std::move(work));
    }
    // The main thread gathers what is handed over for kHandOverMs and then runs it all: a
    // stream of pings wakes it a few dozen times a second, not once or twice per ping.
    if (wake)
        QMetaObject::invokeMethod(
            this, [this] { drainTimer_.start(); }, Qt::QueuedConnection);
}

void ClientRegistry::drain()
{
    std::vector<Work> batch;
    {
        QMutexLocker lock(&mutex_);
        batch.swap(pending_);
    }
    // One time for the whole batch: it is taken within milliseconds of every ping in it, and
    // reading the local time also checks the system's time-zone file.
    const QDateTime now = batch.empty() ? QDateTime() : QDateTime::currentDateTime();
    for (Work& w : batch) {
        TYhteys* entry = yhteydet_.EtsiYhteys(w.clientid, w.sovellus);
        if (w.ping) {
            if (!entry)
                entry = &yhteydet_.add(w.clientid, w.sovellus);
            entry->viimeksi_yhteydessa = now;
        } else if (entry) {
            yhteydet_.remove(entry);
        }
    }
    if (!batch.empty())
        scheduleViewRefresh();
}

void ClientRegistry::scheduleViewRefresh()
{
    if (!refreshTimer_.isActive())
        refreshTimer_.start();
}

void ClientRegistry::PaivitaYhteysnakyma()
{
    refreshTimer_.stop();
    const Yhteysnakyma view = buildYhteysnakyma(yhteydet_);
    auto copy = std::make_shared<ClientSnapshot>();
    copy->rows.reserve(yhteydet_.items().size());
    for (const auto& e : yhteydet_.items())
        copy->rows.push_back({e->id, e->sovellus, dateTimeText(e->viimeksi_yhteydessa)});
    copy->kairanetYhteyksia = view.kairanetYhteyksia;
    {
        QMutexLocker lock(&snapshotMutex_);
        snapshot_ = std::move(copy);
    }
    if (sink_)
        sink_(view);
}

std::shared_ptr<const ClientSnapshot> ClientRegistry::snapshot() const
{
    QMutexLocker lock(&snapshotMutex_);
    return snapshot_;
}

void ClientRegistry::clear()
{
    {
        QMutexLocker lock(&mutex_);
        pending_.clear();
    }
    yhteydet_.clear();
    PaivitaYhteysnakyma();
}

void ClientRegistry::removeStale()
{
    yhteydet_.PoistaVanhentuneet(QDateTime::currentDateTime());
    PaivitaYhteysnakyma();
}

void ClientRegistry::startStaleTimer(int intervalMs)
{
    staleTimer_.start(intervalMs);
}

int ClientRegistry::pendingWork() const
{
    QMutexLocker lock(&mutex_);
    return static_cast<int>(pending_.size());
}

}  // namespace krp
