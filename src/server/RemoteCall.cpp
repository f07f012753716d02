#include "server/RemoteCall.h"

#include "protocol/TableObject.h"
#include "server/ErrorAnswers.h"
#include "server/transport/TextCut.h"

#include <QString>

namespace krp {

using transport::HttpResponse;

std::uint64_t RunningCalls::add(std::string label)
{
    std::lock_guard lock(mutex_);
    const std::uint64_t number = next_++;
    running_.emplace(number, std::move(label));
    return number;
}

void RunningCalls::remove(std::uint64_t number)
{
    std::lock_guard lock(mutex_);
    running_.erase(number);
}

std::vector<std::string> RunningCalls::labels() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> calls;
    for (const auto& [number, label] : running_)
        calls.push_back(label);
    return calls;
}

RemoteCall::RemoteCall(CallServices& services, Kind kind, std::string name, transport::Respond respond)
    : services_(services), kind_(kind), name_(std::move(name)), respond_(std::move(respond))
{
}

RemoteCall::~RemoteCall()
{
    endTurn();
}

void RemoteCall::method(CallServices& services, const std::string& bearer, std::string method,
                        const protocol::MethodInfo* info, std::optional<std::string> key, std::string body,
                        transport::Respond respond)
{
    std::shared_ptr<RemoteCall> call(new RemoteCall(services, Kind::Method, std::move(method), std::move(respond)));
    call->info_ = info;
    call->key_ = std::move(key);
    call->body_ = std::move(body);
    call->start(bearer);
}

void RemoteCall::provider(CallServices& services, const std::string& bearer, std::string provider,
                          transport::Respond respond)
{
    std::shared_ptr<RemoteCall> call(new RemoteCall(services, Kind::Provider, std::move(provider), std::move(respond)));
    call->start(bearer);
}

void RemoteCall::start(const std::string& bearer)
{
    if (bearer.empty())
        return respond_(answers::unauthorized(answers::kNoBearer));
    session_ = services_.sessions.find(bearer);
    if (!session_)
        return respond_(answers::unauthorized(answers::kNoSession));

    auto self = shared_from_this();
    using Turn = session::SessionManager::Turn;
    switch (services_.sessions.requestTurn(
        *session_, [self] { self->onTurn(); }, [self] { self->onDropped(); })) {
    case Turn::Started:
    case Turn::Queued: return;
    case Turn::Closed: return respond_(answers::unauthorized(answers::kNoSession));
    case Turn::Busy:
        services_.busyLog.note(QStringLiteral("Istunnon kutsuja odottaa jo enimmäismäärä, kutsu torjuttiin (429): ") +
                               QString::fromStdString(label()));
        return respond_(answers::retryLater(429, answers::kSessionBusy, answers::kRetrySessionBusy));
    }
}

void RemoteCall::onDropped()
{
    // The session closed, or the stop began, before the turn came.
    respond_(services_.stopping ? answers::serviceStopping() : answers::unauthorized(answers::kNoSession));
}

void RemoteCall::onTurn()
{
    holdsTurn_ = true;
    // Provider rows were read in full when their query opened, and the methods that need no
    // database only store their arguments: these run here. Every other call goes to a worker,
    // an unknown method's too: only what is known not to wait runs on the I/O thread.
    const bool needsDatabase = kind_ == Kind::Method && (!info_ || info_->database == protocol::DatabaseUse::Needed);
    if (!needsDatabase)
        return finish(run());
    try {
        services_.blocking([self = shared_from_this()] { self->onWorker(); });
    } catch (...) {
        finish(answers::failureAnswer(std::current_exception(), answers::FailedIn::Call));
    }
}

void RemoteCall::onWorker()
{
    if (services_.stopping)
        return finish(answers::serviceStopping());
    const std::uint64_t number = services_.running.add(label());
    HttpResponse answer = run();
    services_.running.remove(number);
    finish(std::move(answer));
}

HttpResponse RemoteCall::run()
{
    try {
        session::CurrentSessionScope scope(session_.get());
        SessionModule& module = *session_->objectAs<SessionModule>();
        if (kind_ == Kind::Method)
            return runMethod(*session_, module);
        db::Query* query = module.provider(name_);
        if (!query)
            return HttpResponse::error(404, "No provider named \"" + transport::cutClientText(name_) + "\".");
        return HttpResponse::json(200, protocol::queryTableJson(*query));
    } catch (...) {
        return answers::failureAnswer(std::current_exception(), answers::FailedIn::Call);
    }
}

HttpResponse RemoteCall::runMethod(session::Session& session, SessionModule& module)
{
    const auto call = [&] { return answers::callAnswer(module.call(name_, body_, DSServer1Error)); };
    if (!key_)
        return call();
    return runKeyedCall(services_.keyed, session, *key_, name_, body_, call);  // remembered for repeats
}

void RemoteCall::finish(HttpResponse answer)
{
    respond_(std::move(answer));
    endTurn();
}

void RemoteCall::endTurn()
{
    if (holdsTurn_.exchange(false))
        services_.sessions.endCall(*session_);
}

std::string RemoteCall::label() const
{
    return name_ + " (" + (session_ ? session_->data("RemoteHost") : std::string()) + ")";
}

}  // namespace krp
