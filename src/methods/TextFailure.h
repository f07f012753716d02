#pragma once
// The common ending of a method that reports failure in its result: the result is the
// method's own failure text (ending in "Syy: ") followed by the error's message, and the same
// text goes to the event log after the time text and the method's tag (" Tag: ").
#include "methods/MethodError.h"
#include "methods/MethodSupport.h"
#include <QString>
#include <exception>

namespace krp {

inline QString reportTextFailure(const QString& failureText, const QString& tag, const QString& reason)
{
    const QString result = failureText + reason;
    logFailure(tag, result);
    return result;
}

inline QString reportTextFailure(const QString& failureText, const QString& tag, const std::exception& e)
{
    return reportTextFailure(failureText, tag, messageOf(e));
}

}  // namespace krp
