#pragma once
// The journal of keyed calls that write: a call's key is recorded, flushed to disk, before the
// call runs, and its answer after it, in a SQLite file of the server's own (never in the ERP
// database). A repeat of the key by the same user finds it in any session, also after the
// server was killed and started again:
//
//   KeyedCallJournal journal({"/var/lib/krpalvelin/toistot.sqlite", std::chrono::hours(24)});
//   const auto claim = journal.claim(user, key, method, body);
//   switch (claim.outcome) {
//   case Outcome::Run:       answer = run(); journal.finish(user, key, answer); break;
//   case Outcome::Answered:  ... claim.answer, replayed ...
//   case Outcome::Unknown:   ... started, never answered: the server stopped while it ran ...
//   case Outcome::Other:     ... 422: the key names another call ...
//   case Outcome::InProgress ... still running elsewhere after the wait ...
//   }
//
// At most one disk flush per claimed call: claims are committed with synchronous=FULL on a
// connection of their own, those arriving together in one transaction (one flush for the
// batch); answers with synchronous=NORMAL (they reach the disk with the next claim's flush or
// the checkpoint; a process killed in between loses nothing, only a machine losing power can
// lose an answer, and then the repeat is told the outcome is unknown rather than run twice).
//
// The file is checked when it opens (PRAGMA quick_check). A damaged file, or one that cannot
// be opened, is moved aside and a fresh journal started; problem() says what happened. When
// not even a fresh file can be made, the journal lives in memory and says so. Entries older
// than `keepFor` are pruned when the journal opens and then at most every ten minutes.
//
// Thread-safe; claim and finish run on the worker that runs the call, never on an I/O thread.
#include "server/session/IdempotencyStore.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace soci {
class session;
}

namespace krp::session {

struct KeyedCallJournalOptions {
    std::string file;  // empty: a journal in memory, for the life of the object
    std::chrono::hours keepFor{24};
    // How long a repeat waits for the same key still running in another session.
    std::chrono::milliseconds waitForRunning{std::chrono::seconds(60)};
};

// The journal could not record a claim (a disk failure): the call must not run.
class JournalUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class KeyedCallJournal {
public:
    using Answer = IdempotencyStore::Answer;

    enum class Outcome {
        Run,         // recorded now: run the call, then finish()
        Answered,    // answered before: `answer` is the answer
        Unknown,     // started before and never answered: it may or may not have taken effect
        InProgress,  // running in another session still after the wait
        Other,       // the key was used by this user for another method or body
    };
    struct Claim {
        Outcome outcome = Outcome::Run;
        Answer answer;
    };

    enum class State {
        Opened,    // an existing journal, checked sound
        Created,   // there was none: a new one
        Replaced,  // the file was damaged or could not be opened: moved aside, a new one
        InMemory,  // no file could be used: kept in memory only (or asked for so)
    };

    explicit KeyedCallJournal(KeyedCallJournalOptions options);
    ~KeyedCallJournal();
    KeyedCallJournal(const KeyedCallJournal&) = delete;
    KeyedCallJournal& operator=(const KeyedCallJournal&) = delete;

    State state() const { return state_; }
    // What went wrong at the start (damage, the name the damaged file was moved to, an open
    // failure); empty when the journal opened or was created without trouble.
    const std::string& problem() const { return problem_; }
    const std::string& file() const { return options_.file; }

    // Throws JournalUnavailable when the claim cannot be recorded.
    Claim claim(std::string_view user, std::string_view key, std::string_view method, std::string_view body);
    // Records the answer of a call claimed with Outcome::Run. Never throws: an answer that
    // cannot be recorded leaves the key unanswered, and its repeat is told the outcome is unknown.
    void finish(std::string_view user, std::string_view key, const Answer& answer) noexcept;

    // Removes the entries older than keepFor; returns how many.
    std::size_t prune();
    // Entries kept (for tests and the benchmark).
    std::size_t size();

private:
    void open();
    void openFile(const std::string& file);
    void moveAside(const std::string& why);
    void pruneIfDue();
    struct PendingClaim {
        std::string user, key, method, digest;
        long long started = 0;
    };
    static void writeClaims(soci::session& sql, const std::vector<PendingClaim>& claims);
    soci::session& writer();
    std::unique_lock<std::mutex> readerLock();

    KeyedCallJournalOptions options_;
    State state_ = State::Opened;
    std::string problem_;

    std::mutex mutex_;  // the state below; lookups
    std::condition_variable finished_;
    std::mutex writerMutex_;                 // every write: claims, answers, pruning
    std::unique_ptr<soci::session> sql_;     // lookups (and everything in memory)
    std::unique_ptr<soci::session> writer_;  // every write of a file journal
    // Claims waiting for their flush, in batches numbered from 1: every claim made while a batch
    // is flushed joins the next one, which its first claimer then flushes.
    std::vector<PendingClaim> pending_;
    std::uint64_t nextBatch_ = 1;
    std::uint64_t flushedBatch_ = 0;
    bool flushing_ = false;
    std::condition_variable flushed_;
    std::map<std::uint64_t, std::string> failedBatches_;     // what failed, by batch
    std::set<std::pair<std::string, std::string>> running_;  // (user, key) of calls running now
    std::chrono::steady_clock::time_point lastPrune_;        // under the writer's mutex
};

}  // namespace krp::session
