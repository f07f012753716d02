#pragma once
// A method call that carries an Idempotency-Key, run at most once.
//
// A call of a method that writes is claimed in the journal (flushed to disk) before it runs and
// its answer recorded after it, under the ERP user of the session: a repeat of the key by the
// same user in any session, also after a restart, gets the recorded answer
// (Idempotent-Replayed: true), or 409 with Idempotent-Outcome: unknown when the call started
// but its answer was never recorded (the server stopped while it ran), or 409 with
// Idempotent-Outcome: in-progress when it is still running elsewhere after a wait. A call of a
// method that only reads is kept in its session, as the session's last keyed calls.
// The same key with another method or body is answered 422; nothing runs. An answer that asks
// for a repeat later (503: the database did not answer, nothing ran to its end) is not kept:
// the repeat runs again.
#include "protocol/MethodRegistry.h"
#include "server/session/KeyedCallJournal.h"
#include "server/session/Session.h"
#include "server/transport/HttpMessage.h"

#include <functional>
#include <string>
#include <string_view>

namespace krp {

struct KeyedCalls {
    // nullptr: every keyed call is kept in its session only.
    session::KeyedCallJournal* journal = nullptr;
    // Whether a method may change the database.
    std::function<bool(std::string_view method)> writes;
};

// The session data under which the ERP user of a session is kept.
inline constexpr const char* kSessionUserData = "ApplicationUserName";

// Runs `run` for the keyed call of `method` with `body` in `session`, or answers without it.
transport::HttpResponse runKeyedCall(const KeyedCalls& keyed, session::Session& session, const std::string& key,
                                     const std::string& method, const std::string& body,
                                     const std::function<transport::HttpResponse()>& run);

}  // namespace krp
