#include "server/transport/BodyMemoryBudget.h"

#include <algorithm>
#include <utility>

namespace krp::transport {

BodyMemoryBudget::BodyMemoryBudget(std::size_t capacity, std::function<void()> onLargeRelease,
                                   std::size_t largeLease)
    : capacity_(capacity), onLargeRelease_(std::move(onLargeRelease)), largeLease_(largeLease)
{
}

bool BodyMemoryBudget::take(std::size_t bytes)
{
    std::lock_guard lock(mutex_);
    if (bytes > capacity_ - inUse_)
        return false;
    inUse_ += bytes;
    return true;
}

void BodyMemoryBudget::give(std::size_t bytes, std::size_t largest)
{
    bool giveBack = false;
    {
        std::lock_guard lock(mutex_);
        inUse_ -= std::min(bytes, inUse_);
        giveBack = largest >= largeLease_ && inUse_ == 0;
    }
    if (giveBack && onLargeRelease_)
        onLargeRelease_();
}

BodyMemoryBudget::Lease BodyMemoryBudget::lease(std::size_t bytes)
{
    if (!take(bytes))
        return {};
    Lease l(this, bytes);
    l.largest_ = bytes;
    return l;
}

std::size_t BodyMemoryBudget::inUse() const
{
    std::lock_guard lock(mutex_);
    return inUse_;
}

BodyMemoryBudget::Lease::Lease(Lease&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      largest_(std::exchange(other.largest_, 0))
{
}

BodyMemoryBudget::Lease& BodyMemoryBudget::Lease::operator=(Lease&& other) noexcept
{
    if (this != &other) {
        release();
        budget_ = std::exchange(other.budget_, nullptr);
        size_ = std::exchange(other.size_, 0);
        largest_ = std::exchange(other.largest_, 0);
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
        if (!budget_->take(bytes - size_))
            return false;
    } else if (bytes < size_) {
        budget_->give(size_ - bytes, 0);
    }
    size_ = bytes;
    largest_ = std::max(largest_, bytes);
    return true;
}

void BodyMemoryBudget::Lease::release()
{
    if (!budget_)
        return;
    budget_->give(size_, largest_);
    budget_ = nullptr;
    size_ = 0;
    largest_ = 0;
}

}  // namespace krp::transport
