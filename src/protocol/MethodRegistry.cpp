#include "MethodRegistry.h"

#include "shared/JsonText.h"

#include <limits>

namespace krp::protocol {

CallResult errorResult(int status, std::string_view message)
{
    return CallResult{status, transport::errorBody(message), {}};
}

namespace detail {

std::string jsonKindOf(const rapidjson::Value& v)
{
    return std::string(types::jsonKind(v));
}

QString readText(const rapidjson::Value& v)
{
    if (!v.IsString())
        throw types::RecordJsonError("expected a string, got " + jsonKindOf(v));
    return QString::fromUtf8(v.GetString(), static_cast<qsizetype>(v.GetStringLength()));
}

std::int32_t readInteger(const rapidjson::Value& v)
{
    if (!v.IsNumber() || v.IsDouble())
        throw types::RecordJsonError("expected an integer without fraction or exponent, got " + jsonKindOf(v));
    if (!v.IsInt()) {
        const std::string text = v.IsInt64() ? std::to_string(v.GetInt64()) : std::to_string(v.GetUint64());
        throw types::RecordJsonError(text + " is outside the 32-bit range -2147483648..2147483647");
    }
    return v.GetInt();
}

bool readBoolean(const rapidjson::Value& v)
{
    if (!v.IsBool())
        throw types::RecordJsonError("expected true or false, got " + jsonKindOf(v));
    return v.GetBool();
}

void writeText(types::JsonWriter& w, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    w.String(utf8.constData(), static_cast<rapidjson::SizeType>(utf8.size()));
}

const rapidjson::Value* argumentsOf(rapidjson::Document& document, std::string_view body, const MethodInfo& method,
                                    CallResult& refusal)
{
    try {
        types::parseJson(document, body);
    } catch (const types::RecordJsonError& e) {
        refusal = errorResult(kStatusBadRequest, method.name + ": the request body is " + e.what());
        return nullptr;
    }
    if (!document.IsArray()) {
        refusal = errorResult(kStatusBadRequest, method.name +
                                                     ": the request body must be a JSON array of the "
                                                     "arguments, got " +
                                                     jsonKindOf(document));
        return nullptr;
    }
    if (document.Size() != method.parameters.size()) {
        std::string names;
        for (const auto& p : method.parameters)
            names += (names.empty() ? "" : ", ") + p.name;
        refusal =
            errorResult(kStatusBadRequest, method.name + " takes " + std::to_string(method.parameters.size()) +
                                               " argument(s) (" + names + "), got " + std::to_string(document.Size()));
        return nullptr;
    }
    return &document;
}

CallResult runGuarded(const std::function<std::string()>& call, const MethodErrorHandler& onError)
{
    std::string message;
    std::exception_ptr failure;
    try {
        return CallResult{kStatusOk, call(), {}};
    } catch (const std::exception& e) {
        message = e.what();
        failure = std::current_exception();
    } catch (...) {
        message = "unknown error";
        failure = std::current_exception();
    }
    if (onError) {
        try {
            onError(QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())));
        } catch (...) {
            // A failing log must not change the answer the client gets.
        }
    }
    CallResult result = errorResult(kStatusMethodFailed, message);
    result.failure = failure;
    return result;
}

}  // namespace detail

}  // namespace krp::protocol
