#include "server/session/IdempotencyStore.h"

#include "server/session/BodyDigest.h"

#include <algorithm>

namespace krp::session {

bool IdempotencyStore::validKey(std::string_view key)
{
    if (key.empty() || key.size() > kMaxKeyLength)
        return false;
    return std::all_of(key.begin(), key.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.' || c == ':';
    });
}

std::string IdempotencyStore::requestOf(std::string_view method, std::string_view body)
{
    return std::string(method) + '\n' + bodyDigest(body);
}

IdempotencyStore::Found IdempotencyStore::find(std::string_view key, std::string_view method,
                                               std::string_view body) const
{
    const std::string request = requestOf(method, body);
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.key == key; });
    if (it == entries_.end())
        return {};
    if (it->request != request)
        return {Match::Other, std::nullopt};
    return {Match::Same, it->answer};
}

void IdempotencyStore::remember(std::string_view key, std::string_view method, std::string_view body, Answer answer)
{
    Entry entry{std::string(key), requestOf(method, body), std::move(answer)};
    std::lock_guard lock(mutex_);
    if (std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.key == key; }))
        return;
    if (entries_.size() == kCapacity)
        entries_.pop_front();
    entries_.push_back(std::move(entry));
}

std::size_t IdempotencyStore::size() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace krp::session
