#include "BenchServer.h"

#include "LoopbackPort.h"

#include "db/Database.h"
#include "db/Query.h"
#include "log/EventLog.h"
#include "host/ClientRegistry.h"
#include "server/ServerContainerUnit1.h"
#include "methods/ServiceContext.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

namespace krp::bench {

namespace {

void say(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int runBenchServer(int argc, char** argv, const BenchServerOptions& options)
{
    QCoreApplication app(argc, argv);
    EventLog log;
    EventLog::setInstance(&log);

    db::Database database;
    database.open(db::parseDatabaseField(
        QStringLiteral("sqlite:") + QString::fromStdString((options.directory / "erp.sqlite").string()),
        QString(), QString()));

    // The window would show the view; here it is built and dropped.
    ClientRegistry registry([](const Yhteysnakyma&) {});

    ServiceContext context;
    context.database = &database;
    context.ping = [&registry](const QString& sovellus, const QString& clientid) {
        registry.postPing(sovellus, clientid);
    };
    context.sovellusSuljetaan = [&registry](const QString& sovellus, const QString& clientid) {
        registry.postSovellusSuljetaan(sovellus, clientid);
    };

    ServerContainerOptions containerOptions;
    containerOptions.address = "127.0.0.1";
    containerOptions.maxConnections = options.maxConnections;
    // Every load client connects from loopback: one address may hold them all.
    containerOptions.maxConnectionsPerAddress = options.maxConnections;
    if (options.workerThreads > 0)
        containerOptions.workerThreads = options.workerThreads;
    TServerContainer1 container(context, QString::fromStdString(options.directory.string()), containerOptions);
    try {
        container.setPort(freeLoopbackPort());
        container.start();
    } catch (const std::exception& e) {
        say(std::string("failed ") + e.what());
        return 1;
    }
    say("listening " + std::to_string(container.listeningPort()));

    std::thread commands([&] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (line == "status") {
                QMetaObject::invokeMethod(&app, [&] {
                    say("status log=" + std::to_string(log.lineCount()) +
                        " clients=" + std::to_string(registry.Yhteydet().count()) +
                        " pending=" + std::to_string(registry.pendingWork()) +
                        " sessions=" + std::to_string(container.sessions().size()));
                }, Qt::QueuedConnection);
            } else if (line == "quit") {
                break;
            }
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });

    const int rc = app.exec();
    container.stop();
    database.close();
    commands.join();
    return rc;
}

int runBenchServerCommand(const char* program, int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s serve DIR [--max-connections N] [--workers N]\n", program);
        return 2;
    }
    BenchServerOptions options;
    options.directory = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--max-connections")
            options.maxConnections = std::stoul(argv[i + 1]);
        else if (std::string(argv[i]) == "--workers")
            options.workerThreads = static_cast<unsigned>(std::stoul(argv[i + 1]));
    }
    return runBenchServer(argc, argv, options);
}

}  // namespace krp::bench
