#pragma once
// The answers of a session's last keyed method calls that only read, so that a client that lost
// an answer can ask for it again without the method running twice. Keyed calls that write are
// remembered across sessions and restarts by the KeyedCallJournal instead.
//
//   IdempotencyStore& kept = session.idempotencyStore();
//   const auto found = kept.find(key, method, body);
//   if (found.match == IdempotencyStore::Match::Same) ... answer with *found.answer ...
//   if (found.match == IdempotencyStore::Match::Other) ... 422: the key was used for another call
//   ... run the method ...
//   kept.remember(key, method, body, {status, answerBody});
//
// Keeps the last `kCapacity` keys of the session; the oldest is forgotten first. Calls of one
// session run one at a time, so a repeat finds the answer of a first call that came before it.
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace krp::session {

class IdempotencyStore {
public:
    static constexpr std::size_t kCapacity = 32;
    static constexpr std::size_t kMaxKeyLength = 64;

    struct Answer {
        int status = 0;
        std::string body;
    };

    enum class Match {
        None,   // the key is not kept (never used, or forgotten)
        Same,   // kept for the same method and body: `answer` is its answer
        Other,  // kept for another method or another body
    };

    struct Found {
        Match match = Match::None;
        std::optional<Answer> answer;
    };

    // 1 to 64 characters from A-Z a-z 0-9 - _ . :
    static bool validKey(std::string_view key);

    Found find(std::string_view key, std::string_view method, std::string_view body) const;

    // Keeps the answer of the call under `key`, forgetting the oldest key when full. A key
    // already kept is left as it is.
    void remember(std::string_view key, std::string_view method, std::string_view body, Answer answer);

    std::size_t size() const;

private:
    struct Entry {
        std::string key;
        std::string request;  // the method's name and a digest of the body
        Answer answer;
    };
    static std::string requestOf(std::string_view method, std::string_view body);

    mutable std::mutex mutex_;
    std::deque<Entry> entries_;  // oldest first
};

}  // namespace krp::session
