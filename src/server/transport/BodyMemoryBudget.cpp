#include "server/transport/BodyMemoryBudget.h"

#include <algorithm>
#include <utility>

namespace krp::transport {

BodyMemoryBudget::BodyMemoryBudget(std::size_t capacity, std::size_t addressShare, std::function<void()> onLargeRelease,
                                   std::size_t largeLease)
    : capacity_(capacity), addressShare_(addressShare == 0 ? capacity : std::min(addressShare, capacity)),
      onLargeRelease_(std::move(onLargeRelease)), largeLease_(largeLease)
{
}

bool BodyMemoryBudget::take(std::size_t bytes, const std::string& address)
{
    std::lock_guard lock(mutex_);
    if (bytes > capacity_ - inUse_)
        return false;
    const auto held = byAddress_.find(address);
    const std::size_t heldByAddress = held == byAddress_.end() ? 0 : held->second;
    if (bytes > addressShare_ - heldByAddress)
        return false;
    inUse_ += bytes;
    if (bytes > 0)
        byAddress_[address] = heldByAddress + bytes;
    return true;
}

void BodyMemoryBudget::give(std::size_t bytes, const std::string& address, std::size_t largest)
{
    bool giveBack = false;
    {
        std::lock_guard lock(mutex_);
        inUse_ -= std::min(bytes, inUse_);
        const auto held = byAddress_.find(address);
        if (held != byAddress_.end()) {
            held->second -= std::min(bytes, held->second);
            if (held->second == 0)
                byAddress_.erase(held);
        }
        giveBack = largest >= largeLease_ && inUse_ == 0;
    }
    if (giveBack && onLargeRelease_)
        onLargeRelease_();
}

BodyMemoryBudget::Lease BodyMemoryBudget::lease(std::size_t bytes, const std::string& address)
{
    if (!take(bytes, address))
        return {};
    return Lease(this, bytes, address);
}

std::size_t BodyMemoryBudget::inUse() const
{
    std::lock_guard lock(mutex_);
    return inUse_;
}

std::size_t BodyMemoryBudget::inUseBy(const std::string& address) const
{
    std::lock_guard lock(mutex_);
    const auto held = byAddress_.find(address);
    return held == byAddress_.end() ? 0 : held->second;
}

BodyMemoryBudget::Lease::Lease(Lease&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)), size_(std::exchange(other.size_, 0)),
      largest_(std::exchange(other.largest_, 0)), address_(std::move(other.address_))
{
}

BodyMemoryBudget::Lease& BodyMemoryBudget::Lease::operator=(Lease&& other) noexcept
{
    if (this != &other) {
        release();
        budget_ = std::exchange(other.budget_, nullptr);
        size_ = std::exchange(other.size_, 0);
        largest_ = std::exchange(other.largest_, 0);
        address_ = std::move(other.address_);
    }
    return *this;
}

BodyMemoryBudget::Lease::~Lease()
{
    release();
}

bool BodyMemoryBudget::Lease::resize(std::size_t bytes)
{
    if (!budget_)
        return false;
    if (bytes > size_) {
        if (!budget_->take(bytes - size_, address_))
            return false;
    } else if (bytes < size_) {
        budget_->give(size_ - bytes, address_, 0);
    }
    size_ = bytes;
    largest_ = std::max(largest_, bytes);
    return true;
}

void BodyMemoryBudget::Lease::release()
{
    if (!budget_)
        return;
    budget_->give(size_, address_, largest_);
    budget_ = nullptr;
    size_ = 0;
    largest_ = 0;
}

}  // namespace krp::transport
