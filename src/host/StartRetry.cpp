#include "StartRetry.h"

#include "ServiceController.h"
#include "log/EventLog.h"

namespace krp {

StartRetry::StartRetry(std::function<void()> attempt, std::function<void()> onDue) : attempt_(std::move(attempt))
{
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, this, [onDue = std::move(onDue)] { onDue(); });
}

void StartRetry::setIntervals(std::chrono::milliseconds retry, std::chrono::milliseconds logEvery)
{
    retryInterval_ = retry;
    logInterval_ = logEvery;
}

void StartRetry::begin()
{
    end();
    retrying_ = true;
    failures_ = 0;
    lastOpened_ = false;
    tryNow();
}

void StartRetry::tryNow()
{
    if (!retrying_)
        return;
    try {
        attempt_();
    } catch (const DatabaseConnectError& e) {
        const bool opened = dynamic_cast<const AfterConnectError*>(&e) != nullptr;
        const auto now = std::chrono::steady_clock::now();
        const QString syy = QString::fromUtf8(e.what());
        const int sekunnit = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(retryInterval_).count());
        // The first failure, and a failure of the other kind than the last one logged, are
        // said at once; repeats at most once per log interval.
        if (++failures_ == 1 || opened != lastOpened_) {
            TekstiLokiin(opened
                             ? QStringLiteral("Tietokantayhteys avautui, mutta sen tarkistukset epäonnistuivat, joten "
                                              "palvelua ei käynnistetty. Yritetään uudelleen %1 s välein; palvelu "
                                              "käynnistyy, kun tarkistukset menevät läpi. Virhe: %2")
                                   .arg(sekunnit)
                                   .arg(syy)
                             : QStringLiteral("Tietokantaan ei saatu yhteyttä, joten palvelua ei voitu käynnistää. "
                                              "Yritetään uudelleen %1 s välein; palvelu käynnistyy, kun tietokanta "
                                              "avautuu. Virhe: %2")
                                   .arg(sekunnit)
                                   .arg(syy));
            lastLogged_ = now;
        } else if (now - lastLogged_ >= logInterval_) {
            TekstiLokiin(opened ? QStringLiteral("Tietokannan tarkistukset epäonnistuvat yhä (%1 yritystä). Virhe: %2")
                                      .arg(failures_)
                                      .arg(syy)
                                : QStringLiteral("Tietokantaan ei vieläkään saatu yhteyttä (%1 yritystä). Virhe: %2")
                                      .arg(failures_)
                                      .arg(syy));
            lastLogged_ = now;
        }
        lastOpened_ = opened;
        timer_.start(retryInterval_);
        return;
    } catch (...) {
        end();
        throw;
    }
    const bool afterFailures = failures_ > 0;
    end();
    if (afterFailures)
        TekstiLokiin(QStringLiteral("Tietokantayhteys avautui ja sen tarkistukset menivät läpi, palvelu käynnistyi."));
}

void StartRetry::end()
{
    timer_.stop();
    retrying_ = false;
}

}  // namespace krp
