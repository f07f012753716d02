#pragma once
// The client registry as the operator console reads it: one row per client, in the connection
// view's order, with the view's time text. The registry itself lives with the window; the
// server only reads the copies it publishes.
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace krp {

struct ClientRow {
    QString id;
    QString sovellus;
    QString viimeksi;
};

struct ClientSnapshot {
    std::vector<ClientRow> rows;
    int kairanetYhteyksia = 0;
};

// Any thread, without waiting: the registry's latest copy.
using ClientSnapshotSource = std::function<std::shared_ptr<const ClientSnapshot>()>;

}  // namespace krp
