#pragma once
// A running server container on 127.0.0.1 (a free port) with real TLS, an ERP database in a
// SQLite file, the client registry and the event log on this (the main) thread, and methods
// of the test's own in front of the published ones:
//
//   KaikuTeksti(text) -> text                  echoes a text
//   KaikuTyo(TTyo) -> TTyo                     echoes a record
//   KaikuTyoaikakirjaus(TTyoaikakirjaus) -> TTyoaikakirjaus
//   KaikuKerailyrivit(list) -> list            echoes a list (null stays null)
//   Virhe(message)                             raises an error with that message
//   AvaaTuotelista(n)                          leaves n rows of TUOTTEET open in sqlTuotelista
//   Vuoro(tag) -> integer                      a slow call that counts overlapping calls
//   Odota(ms) -> integer                       waits ms milliseconds; how many times it has run
//   Portti(tag) -> integer                     waits until the test opens `gate` (10 s at most)
#include "TestCertificate.h"
#include "host/SqliteErp.h"

#include "client/KrpClient.h"
#include "db/Database.h"
#include "db/Query.h"
#include "host/ClientRegistry.h"
#include "server/ServerContainerUnit1.h"
#include "methods/ServiceContext.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <functional>
#include <memory>

namespace krp::test {

// An access code that passes every rule of the stored code (21 characters, none 5 times).
inline const QString kPaasykoodi = QStringLiteral("Kz8#Lumi7Varasto5Pda!");
inline const QString kKayttaja = QStringLiteral("MATTI");
inline const QString kSalasana = QStringLiteral("Salainen1");

// Counts the overlapping Vuoro calls (all sessions together).
struct Overlap {
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<int> odotaRuns{0};  // runs of Odota
};

// Holds Portti calls until the test opens it.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int waiting = 0;  // Portti calls inside
    void release()
    {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    // Waits until `count` Portti calls are inside (5 s at most).
    bool waitForInside(int count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return waiting >= count; });
    }
};

class EndpointFixture : public ::testing::Test {
protected:
    // The ERP of the test's own: ASETUS with kPaasykoodi, MYYJAPER with MATTI and TYHJA (empty
    // password), and TUOTTEET with 300 rows.
    EndpointFixture();
    // Another ERP database, e.g. the demo's.
    explicit EndpointFixture(const db::ConnectionSettings& erpDatabase);
    ~EndpointFixture() override;

    // Connects to the running container.
    client::KrpClientOptions clientOptions() const;
    // The connect properties that pass gate 2.
    client::ConnectProperties validClient() const;
    // A client with a session that passed both gates.
    std::unique_ptr<client::KrpClient> openClient();

    void setAccessCode(const std::optional<QString>& code);

    // Runs this thread's event queue until `done` holds (or a generous deadline passes).
    bool pumpUntil(const std::function<bool()>& done);
    void pumpBriefly(int ms = 300);

    // Event-log lines appended since the test began.
    QStringList logLines() const;
    // Index in logLines() of the first line at or after `from` that ends with `message` (the
    // part after the time text); -1 when there is none.
    int findLog(const QString& message, int from = 0) const;
    int countLog(const QString& message) const;
    // Pumps events until such a line appears; its index or -1.
    int waitForLog(const QString& message, int from = 0);

    void restartContainer();
    // A new container with these options (the test methods stay), started on a free port, or on
    // the old one's port when `samePort` (as a restarted program: its clients find it again).
    void replaceContainer(const std::function<void(ServerContainerOptions&)>& adjust, bool samePort = false);

    QTemporaryDir dir;
    SqliteErp erp;
    db::Database database;
    ServiceContext context;
    std::unique_ptr<ClientRegistry> registry;
    Yhteysnakyma view;
    int viewUpdates = 0;
    TestCertificate certificate;
    Overlap overlap;
    Gate gate;
    std::unique_ptr<MethodModule> methods;  // the test's methods in front of the published ones
    std::unique_ptr<TServerContainer1> container;

private:
    void start(const db::ConnectionSettings& erpDatabase);
    ServerContainerOptions containerOptions();
    int logStart_ = 0;
};

}  // namespace krp::test
