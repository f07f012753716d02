#include "server/KeyedCall.h"

#include "log/ClientText.h"
#include "log/EventLog.h"
#include "server/ErrorAnswers.h"

#include <QString>

namespace krp {

using transport::HttpResponse;

namespace {

HttpResponse replayed(const session::IdempotencyStore::Answer& answer)
{
    HttpResponse r = HttpResponse::json(answer.status, answer.body);
    r.headers.emplace_back("Idempotent-Replayed", "true");
    return r;
}

HttpResponse otherCall()
{
    return HttpResponse::error(422, "This Idempotency-Key was used for another call (another method or body).");
}

HttpResponse outcomeUnknown(const std::string& method, const std::string& key)
{
    HttpResponse r = HttpResponse::error(
        409, "Kutsun tulos epävarma: palvelin pysähtyi, kun kutsu " + method + " avaimella " + key +
                 " oli kesken, eikä sen vastausta ehditty tallentaa. Palvelin ei aja kutsua uudelleen. Tarkista "
                 "ERP:stä, jäikö muutos voimaan (esimerkiksi kirjatut rivit), ennen kuin lähetät sen uudella "
                 "avaimella.");
    r.headers.emplace_back("Idempotent-Outcome", "unknown");
    return r;
}

HttpResponse stillRunning(const std::string& key)
{
    HttpResponse r = HttpResponse::error(
        409,
        "Kutsu avaimella " + key + " on yhä kesken toisessa istunnossa; toista se hetken kuluttua samalla avaimella.");
    r.headers.emplace_back("Idempotent-Outcome", "in-progress");
    answers::addRetryAfter(r, answers::kRetryInProgress);
    return r;
}

HttpResponse journalUnavailable(const std::string& reason)
{
    return answers::retryLater(503,
                               "Toistojen kirjanpitoon ei voitu kirjoittaa (" + reason +
                                   "); kutsua ei ajettu. Yritä hetken kuluttua uudelleen samalla avaimella.",
                               answers::kRetryJournal);
}

// The call's answer; an error it raises is answered as every failure of a write is.
HttpResponse answerOf(const std::function<HttpResponse()>& run)
{
    try {
        return run();
    } catch (...) {
        return answers::failureAnswer(std::current_exception(), answers::FailedIn::Call);
    }
}

HttpResponse inSession(session::Session& session, const std::string& key, const std::string& method,
                       const std::string& body, const std::function<HttpResponse()>& run)
{
    using session::IdempotencyStore;
    IdempotencyStore& kept = session.idempotencyStore();
    const auto found = kept.find(key, method, body);
    if (found.match == IdempotencyStore::Match::Other)
        return otherCall();
    if (found.match == IdempotencyStore::Match::Same)
        return replayed(*found.answer);
    HttpResponse r = run();
    if (r.status != 503)
        kept.remember(key, method, body, {r.status, r.body});
    return r;
}

}  // namespace

HttpResponse runKeyedCall(const KeyedCalls& keyed, session::Session& session, const std::string& key,
                          const std::string& method, const std::string& body, const std::function<HttpResponse()>& run)
{
    if (!keyed.journal || !keyed.writes || !keyed.writes(method))
        return inSession(session, key, method, body, run);

    using Outcome = session::KeyedCallJournal::Outcome;
    const std::string user = session.data(kSessionUserData);
    session::KeyedCallJournal::Claim claim;
    try {
        claim = keyed.journal->claim(user, key, method, body);
    } catch (const session::JournalUnavailable& e) {
        TekstiLokiin(QStringLiteral("Toistojen kirjanpitoon ei voitu kirjoittaa, kutsu %1 torjuttiin (503): %2")
                         .arg(QString::fromStdString(method), QString::fromUtf8(e.what())));
        return journalUnavailable(e.what());
    }
    switch (claim.outcome) {
    case Outcome::Answered: return replayed(claim.answer);
    case Outcome::Other: return otherCall();
    case Outcome::InProgress: return stillRunning(key);
    case Outcome::Unknown:
        TekstiLokiin(QStringLiteral("Toistettu kutsu, jonka tulos on epävarma (palvelin pysähtyi sen aikana): %1, "
                                    "käyttäjä \"%2\", avain %3. Kutsua ei ajettu uudelleen.")
                         .arg(QString::fromStdString(method), logSafe(QString::fromStdString(user)),
                              QString::fromStdString(key)));
        return outcomeUnknown(method, key);
    case Outcome::Run: break;
    }
    HttpResponse r = answerOf(run);
    keyed.journal->finish(user, key, {r.status, r.body});
    return r;
}

}  // namespace krp
