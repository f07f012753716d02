#pragma once
// What the transport decides as soon as the head of a request is in, before any body byte is
// read: framing it cannot read safely, content codings it cannot undo, and the head as the
// application sees it.
#include "shared/ContentCoding.h"
#include "server/transport/HttpMessage.h"

#include <boost/beast/http/message.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace krp::transport {

struct HeadVerdict {
    std::optional<HttpResponse> refusal;  // answer this and close the connection
    ContentCoding coding = ContentCoding::Identity;
};

// Refused: an HTTP/1.1 request without a Host header or with more than one (400), a
// Transfer-Encoding whose last coding is not "chunked" (400: the body's end could not be found,
// and what follows would be read as the next request), and a Content-Encoding other than
// deflate or gzip (415). `chunked` is the parser's own reading of the framing.
HeadVerdict checkRequestHead(const boost::beast::http::request_header<>& head, bool chunked);

// The target in origin form: an absolute-form target ("https://host:1/api/v1/session?x")
// becomes its path and query ("/api/v1/session?x"); any other target stays as it is.
std::string originForm(std::string_view target);

// The head as the application sees it (no body yet).
HttpRequest requestOfHead(const boost::beast::http::request_header<>& head);

}  // namespace krp::transport
