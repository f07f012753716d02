#include "LoadGenerator.h"

#include "BenchSetup.h"
#include "ProcessStats.h"
#include "types/UTyypit.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace krp::bench {

namespace net = boost::asio;
namespace ssl = net::ssl;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using net::awaitable;
using net::use_awaitable;
using Clock = std::chrono::steady_clock;

double PhaseResult::percentileMs(double p) const
{
    if (latencyUs.empty())
        return 0;
    // Nearest rank: the smallest value with at least p % of the values at or below it.
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(latencyUs.size())));
    const std::size_t index = std::clamp<std::size_t>(rank, 1, latencyUs.size()) - 1;
    return latencyUs[index] / 1000.0;
}

namespace {

using Response = http::response<http::string_body>;

std::string base64(std::string_view text)
{
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string replaceMark(std::string text, const std::string& mark, std::uint64_t number)
{
    for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at))
        text.replace(at, mark.size(), std::to_string(number));
    return text;
}

// A request as a client of the service sends it, ready for the wire.
std::string httpRequest(std::string_view method, std::string_view path, std::uint16_t port,
                        std::string_view authorization, std::string_view body)
{
    std::string r;
    r.reserve(256 + body.size());
    r.append(method).append(" ").append(path).append(" HTTP/1.1\r\n");
    r.append("Host: 127.0.0.1:").append(std::to_string(port)).append("\r\n");
    if (!authorization.empty())
        r.append("Authorization: ").append(authorization).append("\r\n");
    if (!body.empty())
        r.append("Content-Type: application/json\r\n");
    r.append("Accept-Encoding: deflate, gzip\r\n");
    r.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n\r\n");
    r.append(body);
    return r;
}

std::string sessionOpenRequest(std::uint16_t port)
{
    const std::string credentials = std::string(types::PALVELIMEN_KAYTTAJATUNNUS) + ":" + types::PALVELIMEN_SALASANA;
    const std::string body = std::string("{\"Application\":\"") + BenchAccount::application + "\",\"Token\":\"" +
                             BenchAccount::accessCode + "\",\"ApplicationUserName\":\"" + BenchAccount::user +
                             "\",\"ApplicationPassword\":\"" + BenchAccount::password + "\"}";
    return httpRequest("POST", "/api/v1/session", port, "Basic " + base64(credentials), body);
}

// For a server without sessions: an id of the length the service hands out.
const std::string kMadeUpSessionId(32, 'x');

std::string describe(const Response& r)
{
    std::string body = r.body().substr(0, 200);
    return "HTTP " + std::to_string(r.result_int()) + " " + body;
}

// One client connection: TCP, TLS, then requests one after the other.
class Connection {
public:
    Connection(const net::any_io_executor& executor, ssl::context& tls, std::chrono::milliseconds timeout)
        : stream_(executor, tls), timeout_(timeout)
    {
    }

    awaitable<void> open(tcp::endpoint endpoint)
    {
        auto& lowest = beast::get_lowest_layer(stream_);
        lowest.expires_after(timeout_);
        co_await lowest.async_connect(endpoint, use_awaitable);
        lowest.socket().set_option(tcp::no_delay(true));
        co_await stream_.async_handshake(ssl::stream_base::client, use_awaitable);
        lowest.expires_never();
    }

    // Sends `request` and reads the whole answer into response().
    awaitable<void> exchange(const std::string& request)
    {
        auto& lowest = beast::get_lowest_layer(stream_);
        lowest.expires_after(timeout_);
        co_await net::async_write(stream_, net::buffer(request), use_awaitable);
        response_ = Response{};
        co_await http::async_read(stream_, buffer_, response_, use_awaitable);
        lowest.expires_never();
    }

    const Response& response() const { return response_; }

    // Drops the connection without a TLS close message, as a client that goes away does.
    void close()
    {
        beast::error_code ignored;
        auto& socket = beast::get_lowest_layer(stream_).socket();
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
    }

private:
    beast::ssl_stream<beast::tcp_stream> stream_;
    beast::flat_buffer buffer_;
    Response response_;
    std::chrono::milliseconds timeout_;
};

awaitable<std::string> openSession(Connection& c, std::uint16_t port)
{
    const std::string request = sessionOpenRequest(port);
    co_await c.exchange(request);
    const Response& r = c.response();
    if (r.result_int() != 200)
        throw std::runtime_error("session opening answered " + describe(r));
    rapidjson::Document d;
    d.Parse(r.body().data(), r.body().size());
    if (d.HasParseError() || !d.IsObject() || !d.HasMember("session") || !d["session"].IsString())
        throw std::runtime_error("session opening answered " + describe(r));
    co_return std::string(d["session"].GetString(), d["session"].GetStringLength());
}

awaitable<void> closeSession(Connection& c, std::uint16_t port, std::string session)
{
    const std::string request = httpRequest("DELETE", "/api/v1/session", port, "Bearer " + session, {});
    co_await c.exchange(request);
    if (c.response().result_int() != 204)
        throw std::runtime_error("session close answered " + describe(c.response()));
}

awaitable<void> callOnce(Connection& c, const std::string& request, std::string expected)
{
    co_await c.exchange(request);
    if (c.response().result_int() != 200 || c.response().body() != expected)
        throw std::runtime_error("unexpected answer " + describe(c.response()));
}

tcp::endpoint loopback(std::uint16_t port)
{
    return {net::ip::make_address_v4("127.0.0.1"), port};
}

// What the clients of one phase share with the controlling thread.
struct RunState {
    explicit RunState(unsigned clients) : latencies(clients) {}

    std::atomic<bool> measuring{false};
    std::atomic<bool> stopping{false};
    std::atomic<std::uint64_t> measured{0};
    std::atomic<std::uint64_t> errors{0};
    std::vector<std::vector<float>> latencies;  // one list per client, written by it only

    std::mutex mutex;
    std::condition_variable changed;
    unsigned ready = 0;
    unsigned finished = 0;
    std::string firstError;

    void markReady()
    {
        std::lock_guard lock(mutex);
        ++ready;
        changed.notify_all();
    }
    void markFinished()
    {
        std::lock_guard lock(mutex);
        ++finished;
        changed.notify_all();
    }
    void fail(const std::string& what)
    {
        errors.fetch_add(1);
        std::lock_guard lock(mutex);
        if (firstError.empty())
            firstError = what;
    }
    void record(unsigned client, Clock::duration took)
    {
        if (!measuring.load(std::memory_order_relaxed))
            return;
        latencies[client].push_back(
            static_cast<float>(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count()) / 1000.0f);
        measured.fetch_add(1, std::memory_order_relaxed);
    }
    // Waits until `condition` holds (under the lock) or `timeout` passes.
    template <class Condition>
    bool waitFor(std::chrono::milliseconds timeout, Condition condition)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, condition);
    }
};

}  // namespace

struct LoadGenerator::Impl {
    explicit Impl(unsigned threadCount) : tls(ssl::context::tls_client)
    {
        tls.set_verify_mode(ssl::verify_none);  // the server's certificate is self-signed
        SSL_CTX_set_min_proto_version(tls.native_handle(), TLS1_2_VERSION);
        for (unsigned i = 0; i < std::max(1u, threadCount); ++i) {
            contexts.push_back(std::make_unique<net::io_context>(1));
            guards.push_back(net::make_work_guard(*contexts.back()));
        }
        for (auto& io : contexts)
            threads.emplace_back([&io] { io->run(); });
    }

    ~Impl()
    {
        guards.clear();
        for (auto& io : contexts)
            io->stop();
        for (auto& t : threads)
            t.join();
    }

    net::io_context& io(unsigned client) { return *contexts[client % contexts.size()]; }

    // Lets the clients run, counts the middle part and stops them.
    PhaseResult control(const std::shared_ptr<RunState>& state, unsigned clients, const Limits& limits,
                        const PhaseHooks& hooks)
    {
        PhaseResult result;
        result.concurrency = clients;
        const auto setupTime = limits.timeout * 3;
        if (!state->waitFor(setupTime, [&] { return state->ready == clients; }))
            state->fail("clients not ready in time");

        const auto warmupEnd = Clock::now() + limits.warmup;
        while (Clock::now() < warmupEnd &&
               !state->waitFor(std::chrono::milliseconds(10), [&] { return state->finished == clients; })) {}

        if (hooks.onStart)
            hooks.onStart();
        const double cpu0 = ownCpuSeconds();
        const auto t0 = Clock::now();
        state->measuring = true;
        while (Clock::now() - t0 < limits.duration && state->measured.load() < limits.maxOperations) {
            if (state->waitFor(std::chrono::milliseconds(5), [&] { return state->finished == clients; }))
                break;
        }
        state->measuring = false;
        const auto t1 = Clock::now();
        const double cpu1 = ownCpuSeconds();
        if (hooks.onEnd)
            hooks.onEnd();
        state->stopping = true;
        if (!state->waitFor(setupTime, [&] { return state->finished == clients; }))
            state->fail("clients did not finish in time");

        result.seconds = std::chrono::duration<double>(t1 - t0).count();
        result.generatorCpuSeconds = cpu1 - cpu0;
        std::lock_guard lock(state->mutex);
        for (auto& list : state->latencies)
            result.latencyUs.insert(result.latencyUs.end(), list.begin(), list.end());
        std::sort(result.latencyUs.begin(), result.latencyUs.end());
        result.operations = result.latencyUs.size();
        result.errors = state->errors.load();
        result.firstError = state->firstError;
        return result;
    }

    ssl::context tls;
    std::vector<std::unique_ptr<net::io_context>> contexts;
    std::vector<net::executor_work_guard<net::io_context::executor_type>> guards;
    std::vector<std::thread> threads;
};

namespace {

awaitable<void> callingClient(std::shared_ptr<RunState> state, ssl::context& tls, unsigned client, Endpoint endpoint,
                              Call call, Limits limits)
{
    bool ready = false;
    try {
        const auto executor = co_await net::this_coro::executor;
        Connection c(executor, tls, limits.timeout);
        co_await c.open(loopback(endpoint.port));
        // (no co_await inside a conditional expression: GCC 12 miscompiles it)
        std::string session = kMadeUpSessionId;
        if (endpoint.sessions)
            session = co_await openSession(c, endpoint.port);
        const std::string body = replaceMark(call.body, "{i}", client);
        const bool numbered = body.find("{n}") != std::string::npos;
        std::string request = httpRequest("POST", call.path, endpoint.port, "Bearer " + session, body);
        state->markReady();
        ready = true;
        for (std::uint64_t n = 0; !state->stopping.load(std::memory_order_relaxed); ++n) {
            if (numbered)
                request =
                    httpRequest("POST", call.path, endpoint.port, "Bearer " + session, replaceMark(body, "{n}", n));
            const auto t0 = Clock::now();
            co_await callOnce(c, request, call.expectedBody);
            state->record(client, Clock::now() - t0);
        }
        if (endpoint.sessions)
            co_await closeSession(c, endpoint.port, session);
        c.close();
    } catch (const std::exception& e) {
        state->fail(e.what());
    }
    if (!ready)
        state->markReady();
    state->markFinished();
}

awaitable<void> sessionOpeningClient(std::shared_ptr<RunState> state, ssl::context& tls, unsigned client,
                                     Endpoint endpoint, Limits limits, LoadGenerator::AfterOpening after)
{
    state->markReady();
    try {
        const auto executor = co_await net::this_coro::executor;
        const std::string request = sessionOpenRequest(endpoint.port);
        while (!state->stopping.load(std::memory_order_relaxed)) {
            const auto t0 = Clock::now();
            Connection c(executor, tls, limits.timeout);
            co_await c.open(loopback(endpoint.port));
            if (!endpoint.sessions) {
                co_await c.exchange(request);
                if (c.response().result_int() != 200)
                    throw std::runtime_error("the opening's request answered " + describe(c.response()));
                state->record(client, Clock::now() - t0);
                c.close();
                continue;
            }
            const std::string session = co_await openSession(c, endpoint.port);
            state->record(client, Clock::now() - t0);
            if (after == LoadGenerator::AfterOpening::Close)
                co_await closeSession(c, endpoint.port, session);
            c.close();
        }
    } catch (const std::exception& e) {
        state->fail(e.what());
    }
    state->markFinished();
}

class HeldSessions final : public IdleSessions {
public:
    explicit HeldSessions(unsigned count) : state(std::make_shared<RunState>(0)), slots(count) {}
    ~HeldSessions() override { closeConnections(); }

    std::size_t opened() const override { return openedCount.load(); }
    std::uint64_t errors() const override { return state->errors.load(); }
    std::string firstError() const override
    {
        std::lock_guard lock(state->mutex);
        return state->firstError;
    }

    void closeConnections() override
    {
        // Each connection is closed and freed on its own thread.
        std::atomic<std::size_t> left{0};
        std::mutex m;
        std::condition_variable done;
        for (auto& slot : slots) {
            if (!slot.connection)
                continue;
            if (slot.io->get_executor().running_in_this_thread()) {
                slot.connection->close();
                slot.connection.reset();
                continue;
            }
            ++left;
            net::post(*slot.io, [&, connection = std::move(slot.connection)]() mutable {
                connection->close();
                connection.reset();
                std::lock_guard lock(m);
                if (--left == 0)
                    done.notify_all();
            });
        }
        std::unique_lock lock(m);
        done.wait(lock, [&] { return left == 0; });
    }

    struct Slot {
        net::io_context* io = nullptr;
        std::unique_ptr<Connection> connection;
    };
    std::shared_ptr<RunState> state;
    std::atomic<unsigned> next{0};
    std::atomic<std::size_t> openedCount{0};
    std::vector<Slot> slots;
};

awaitable<void> idleSessionOpener(std::shared_ptr<HeldSessions> keep, net::io_context& io, ssl::context& tls,
                                  Endpoint endpoint, bool keepConnections, Limits limits)
{
    HeldSessions& held = *keep;
    const std::string check =
        "[\"avain\",\"" + std::string(BenchAccount::user) + "\",\"" + BenchAccount::password + "\"]";
    const auto executor = co_await net::this_coro::executor;
    std::unique_ptr<Connection> shared;  // without keepConnections: this client's one connection
    for (;;) {
        const unsigned i = held.next.fetch_add(1);
        if (i >= held.slots.size())
            break;
        try {
            std::unique_ptr<Connection> own;
            if (keepConnections || !shared) {
                own = std::make_unique<Connection>(executor, tls, limits.timeout);
                co_await own->open(loopback(endpoint.port));
            }
            if (!keepConnections && own)
                shared = std::move(own);
            Connection& c = keepConnections ? *own : *shared;
            if (!endpoint.sessions) {
                co_await c.exchange(httpRequest("GET", "/api/v1/ei-ole", endpoint.port, {}, {}));
                const int status = c.response().result_int();
                if (status != 404 && status != 200)
                    throw std::runtime_error("GET answered " + describe(c.response()));
            } else {
                const std::string session = co_await openSession(c, endpoint.port);
                const std::string bearer = "Bearer " + session;
                const std::string checkRequest =
                    httpRequest("POST", "/api/v1/methods/TarkistaKayttooikeus", endpoint.port, bearer, check);
                co_await callOnce(c, checkRequest, "{\"result\":true}");
                const std::string pingRequest = httpRequest("POST", "/api/v1/methods/Ping", endpoint.port, bearer,
                                                            "[\"Kairanet\",\"bench-idle-" + std::to_string(i) + "\"]");
                co_await callOnce(c, pingRequest, "{\"result\":null}");
            }
            held.openedCount.fetch_add(1);
            if (keepConnections) {
                held.slots[i].io = &io;
                held.slots[i].connection = std::move(own);
            }
        } catch (const std::exception& e) {
            held.state->fail(e.what());
            shared.reset();
        }
    }
    if (shared)
        shared->close();
    held.state->markFinished();
}

}  // namespace

LoadGenerator::LoadGenerator(unsigned threads) : impl_(std::make_unique<Impl>(threads)) {}

LoadGenerator::~LoadGenerator() = default;

unsigned LoadGenerator::threads() const
{
    return static_cast<unsigned>(impl_->contexts.size());
}

PhaseResult LoadGenerator::runCalls(const Endpoint& endpoint, const Call& call, unsigned concurrency,
                                    const Limits& limits, const PhaseHooks& hooks)
{
    auto state = std::make_shared<RunState>(concurrency);
    for (unsigned i = 0; i < concurrency; ++i)
        net::co_spawn(impl_->io(i), callingClient(state, impl_->tls, i, endpoint, call, limits), net::detached);
    return impl_->control(state, concurrency, limits, hooks);
}

PhaseResult LoadGenerator::runSessionOpens(const Endpoint& endpoint, unsigned concurrency, const Limits& limits,
                                           const PhaseHooks& hooks, AfterOpening after)
{
    auto state = std::make_shared<RunState>(concurrency);
    for (unsigned i = 0; i < concurrency; ++i)
        net::co_spawn(impl_->io(i), sessionOpeningClient(state, impl_->tls, i, endpoint, limits, after), net::detached);
    return impl_->control(state, concurrency, limits, hooks);
}

std::pair<int, std::string> LoadGenerator::get(std::uint16_t port, const std::string& path,
                                               std::chrono::milliseconds timeout)
{
    auto answer = std::make_shared<std::promise<std::pair<int, std::string>>>();
    auto future = answer->get_future();
    auto fetch = [](std::shared_ptr<std::promise<std::pair<int, std::string>>> answer, ssl::context& tls,
                    std::uint16_t port, std::string path, std::chrono::milliseconds timeout) -> awaitable<void> {
        try {
            Connection c(co_await net::this_coro::executor, tls, timeout);
            co_await c.open(loopback(port));
            // Without Accept-Encoding: the body comes as it is.
            co_await c.exchange("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n");
            c.close();
            answer->set_value({c.response().result_int(), c.response().body()});
        } catch (...) {
            answer->set_exception(std::current_exception());
        }
    };
    net::co_spawn(impl_->io(0), fetch(answer, impl_->tls, port, path, timeout), net::detached);
    if (future.wait_for(timeout * 2) != std::future_status::ready)
        throw std::runtime_error("GET " + path + " did not finish in time");
    return future.get();
}

std::vector<std::string> LoadGenerator::openSessions(std::uint16_t port, unsigned count,
                                                     std::chrono::milliseconds timeout)
{
    using Ids = std::vector<std::string>;
    auto answer = std::make_shared<std::promise<Ids>>();
    auto future = answer->get_future();
    auto open = [](std::shared_ptr<std::promise<Ids>> answer, ssl::context& tls, std::uint16_t port, unsigned count,
                   std::chrono::milliseconds timeout) -> awaitable<void> {
        try {
            Connection c(co_await net::this_coro::executor, tls, timeout);
            co_await c.open(loopback(port));
            Ids ids;
            for (unsigned i = 0; i < count; ++i)
                ids.push_back(co_await openSession(c, port));
            c.close();
            answer->set_value(std::move(ids));
        } catch (...) {
            answer->set_exception(std::current_exception());
        }
    };
    net::co_spawn(impl_->io(0), open(answer, impl_->tls, port, count, timeout), net::detached);
    if (future.wait_for(timeout + std::chrono::milliseconds(100) * count) != std::future_status::ready)
        throw std::runtime_error("opening " + std::to_string(count) + " sessions did not finish in time");
    return future.get();
}

void LoadGenerator::closeSessions(std::uint16_t port, const std::vector<std::string>& ids,
                                  std::chrono::milliseconds timeout)
{
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    auto close = [](std::shared_ptr<std::promise<void>> done, ssl::context& tls, std::uint16_t port,
                    std::vector<std::string> ids, std::chrono::milliseconds timeout) -> awaitable<void> {
        try {
            Connection c(co_await net::this_coro::executor, tls, timeout);
            co_await c.open(loopback(port));
            for (const std::string& id : ids)
                co_await closeSession(c, port, id);
            c.close();
            done->set_value();
        } catch (...) {
            done->set_exception(std::current_exception());
        }
    };
    net::co_spawn(impl_->io(0), close(done, impl_->tls, port, ids, timeout), net::detached);
    if (future.wait_for(timeout + std::chrono::milliseconds(100) * ids.size()) != std::future_status::ready)
        throw std::runtime_error("closing " + std::to_string(ids.size()) + " sessions did not finish in time");
    future.get();
}

std::shared_ptr<IdleSessions> LoadGenerator::openIdleSessions(const Endpoint& endpoint, unsigned count,
                                                              unsigned parallel, bool keepConnections,
                                                              const Limits& limits)
{
    auto held = std::make_shared<HeldSessions>(count);
    parallel = std::max(1u, std::min(parallel, count));
    for (unsigned i = 0; i < parallel; ++i) {
        net::io_context& io = impl_->io(i);
        net::co_spawn(io, idleSessionOpener(held, io, impl_->tls, endpoint, keepConnections, limits), net::detached);
    }
    const auto deadline = limits.timeout * 3 + std::chrono::milliseconds(50) * count;
    if (!held->state->waitFor(deadline, [&] { return held->state->finished == parallel; }))
        throw std::runtime_error("opening the idle sessions did not finish in time");
    return held;
}

}  // namespace krp::bench
