#pragma once
// The memory that request bodies may hold at once across all connections, and the share of it
// that the connections of one client address may hold. A connection leases the size of a body
// before reading it (and the size it may unpack to before decompressing it); a lease that does
// not fit is refused, and the request answered 503.
//
//   BodyMemoryBudget budget(256 << 20, 64 << 20);
//   BodyMemoryBudget::Lease lease = budget.lease(contentLength, "10.0.0.7");
//   if (!lease) -> 503
//   lease.resize(bigger)   // false when it does not fit; the lease keeps its old size
//   // the lease gives its bytes back when it goes
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace krp::transport {

class BodyMemoryBudget {
public:
    // `addressShare`: the most the leases of one address may hold together (0: the whole
    // capacity). `onLargeRelease` runs (on the releasing thread) when a lease of at least
    // `largeLease` bytes is given back and nothing else is leased: the moment to hand freed
    // memory back to the operating system.
    explicit BodyMemoryBudget(std::size_t capacity, std::size_t addressShare = 0,
                              std::function<void()> onLargeRelease = {}, std::size_t largeLease = 1024 * 1024);

    class Lease {
    public:
        Lease() = default;
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&& other) noexcept;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease();

        explicit operator bool() const { return budget_ != nullptr; }
        std::size_t size() const { return size_; }
        // Grows or shrinks the lease; false (and unchanged) when growing does not fit.
        bool resize(std::size_t bytes);
        void release();

    private:
        friend class BodyMemoryBudget;
        Lease(BodyMemoryBudget* budget, std::size_t size, std::string address)
            : budget_(budget), size_(size), largest_(size), address_(std::move(address))
        {
        }
        BodyMemoryBudget* budget_ = nullptr;
        std::size_t size_ = 0;
        std::size_t largest_ = 0;
        std::string address_;
    };

    // An empty (false) lease when `bytes` does not fit beside what is leased, in all or by
    // the leases of `address`.
    Lease lease(std::size_t bytes, const std::string& address = {});

    std::size_t capacity() const { return capacity_; }
    std::size_t addressShare() const { return addressShare_; }
    std::size_t inUse() const;
    std::size_t inUseBy(const std::string& address) const;

private:
    bool take(std::size_t bytes, const std::string& address);
    void give(std::size_t bytes, const std::string& address, std::size_t largest);

    const std::size_t capacity_;
    const std::size_t addressShare_;
    const std::function<void()> onLargeRelease_;
    const std::size_t largeLease_;
    mutable std::mutex mutex_;
    std::size_t inUse_ = 0;
    std::unordered_map<std::string, std::size_t> byAddress_;  // addresses holding a lease
};

}  // namespace krp::transport
