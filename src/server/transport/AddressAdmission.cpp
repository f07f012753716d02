#include "server/transport/AddressAdmission.h"

#include <iterator>

namespace krp::transport {

namespace {
// Past this many remembered report times, those older than the interval are forgotten.
constexpr std::size_t kReportMemory = 4096;
}  // namespace

AddressAdmission::AddressAdmission(std::size_t total, std::size_t perAddress, std::chrono::seconds reportInterval)
    : total_(total), perAddress_(perAddress), reportInterval_(reportInterval)
{
}

AddressAdmission::Decision AddressAdmission::admit(const std::string& address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    Decision d;
    auto it = perAddressOpen_.find(address);
    const std::size_t fromAddress = it == perAddressOpen_.end() ? 0 : it->second;
    if (open_ < total_ && fromAddress < perAddress_) {
        d.admitted = true;
        ++open_;
        if (it == perAddressOpen_.end())
            perAddressOpen_.emplace(address, 1);
        else
            ++it->second;
        return d;
    }
    d.addressFull = fromAddress >= perAddress_;

    if (lastReported_.size() >= kReportMemory) {
        for (auto r = lastReported_.begin(); r != lastReported_.end();)
            r = now - r->second >= reportInterval_ ? lastReported_.erase(r) : std::next(r);
    }
    auto [reported, first] = lastReported_.try_emplace(address, now);
    if (first || now - reported->second >= reportInterval_) {
        reported->second = now;
        d.report = true;
    }
    return d;
}

void AddressAdmission::release(const std::string& address)
{
    std::lock_guard lock(mutex_);
    auto it = perAddressOpen_.find(address);
    if (it == perAddressOpen_.end())
        return;
    --open_;
    if (--it->second == 0)
        perAddressOpen_.erase(it);
}

std::size_t AddressAdmission::open() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

std::size_t AddressAdmission::openFrom(const std::string& address) const
{
    std::lock_guard lock(mutex_);
    const auto it = perAddressOpen_.find(address);
    return it == perAddressOpen_.end() ? 0 : it->second;
}

}  // namespace krp::transport
