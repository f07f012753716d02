#include "server/transport/HttpMessage.h"

#include "shared/JsonText.h"
#include "shared/NoCase.h"

#include <algorithm>
#include <cstdio>

namespace krp::transport {

std::string_view HttpRequest::header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (equalsNoCase(key, name))
            return value;
    }
    return {};
}

HttpResponse HttpResponse::json(int status, std::string body)
{
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

HttpResponse HttpResponse::error(int status, std::string_view message)
{
    return json(status, errorBody(message));
}

}  // namespace krp::transport
