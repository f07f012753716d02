#pragma once
// Who may open a connection: at most a share of connections per client address beside a
// higher total, so that one host holding its whole share cannot lock out the others.
//
//   AddressAdmission admission(4096, 64);
//   const auto d = admission.admit("10.0.0.7");
//   if (!d.admitted) { if (d.report) log(...); close; }
//   ...
//   admission.release("10.0.0.7");   // once for every admitted connection
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace krp::transport {

class AddressAdmission {
public:
    using Clock = std::chrono::steady_clock;

    // `reportInterval`: a refusal of one address is reported at most this often.
    AddressAdmission(std::size_t total, std::size_t perAddress,
                     std::chrono::seconds reportInterval = std::chrono::minutes(1));

    struct Decision {
        bool admitted = false;
        bool addressFull = false;  // refused for the address's share (else for the total)
        bool report = false;       // the first refusal of this address within the interval
    };

    Decision admit(const std::string& address, Clock::time_point now = Clock::now());
    void release(const std::string& address);

    std::size_t open() const;
    std::size_t openFrom(const std::string& address) const;

private:
    const std::size_t total_;
    const std::size_t perAddress_;
    const std::chrono::seconds reportInterval_;
    mutable std::mutex mutex_;
    std::size_t open_ = 0;
    std::unordered_map<std::string, std::size_t> perAddressOpen_;
    std::unordered_map<std::string, Clock::time_point> lastReported_;
};

}  // namespace krp::transport
