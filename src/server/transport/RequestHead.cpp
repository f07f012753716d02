#include "server/transport/RequestHead.h"

#include "shared/NoCase.h"
#include "server/transport/TextCut.h"

namespace krp::transport {

namespace http = boost::beast::http;

namespace {

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Whether the last coding of every Transfer-Encoding line taken together is "chunked".
bool endsInChunked(const http::request_header<>& head)
{
    std::string_view last;
    for (const auto& field : head) {
        if (field.name() != http::field::transfer_encoding)
            continue;
        std::string_view value = field.value();
        const auto comma = value.rfind(',');
        const std::string_view tail = trimmed(comma == std::string_view::npos ? value : value.substr(comma + 1));
        last = tail.substr(0, tail.find(';'));
        last = trimmed(last);
    }
    return equalsNoCase(last, "chunked");
}

}  // namespace

HeadVerdict checkRequestHead(const http::request_header<>& head, bool chunked)
{
    HeadVerdict verdict;
    if (head.version() >= 11 && head.count(http::field::host) != 1) {
        verdict.refusal = HttpResponse::error(400, "HTTP/1.1-pyynnössä pitää olla täsmälleen yksi Host-otsake.");
        return verdict;
    }
    if (head.find(http::field::transfer_encoding) != head.end() && (!chunked || !endsInChunked(head))) {
        verdict.refusal =
            HttpResponse::error(400, "Transfer-Encoding-otsakkeen viimeisen koodauksen pitää olla chunked.");
        return verdict;
    }
    const auto coding = parseContentEncoding(head[http::field::content_encoding]);
    if (!coding) {
        verdict.refusal = HttpResponse::error(415, "Pyynnön Content-Encoding \"" +
                                                       cutClientText(head[http::field::content_encoding]) +
                                                       "\" ei ole tuettu; käytä deflate tai gzip.");
        return verdict;
    }
    verdict.coding = *coding;
    return verdict;
}

std::string originForm(std::string_view target)
{
    std::string_view rest;
    if (startsWithNoCase(target, "https://"))
        rest = target.substr(8);
    else if (startsWithNoCase(target, "http://"))
        rest = target.substr(7);
    else
        return std::string(target);
    const auto pathStart = rest.find_first_of("/?");
    if (pathStart == std::string_view::npos)
        return "/";
    if (rest[pathStart] == '?')
        return "/" + std::string(rest.substr(pathStart));
    return std::string(rest.substr(pathStart));
}

HttpRequest requestOfHead(const http::request_header<>& head)
{
    HttpRequest request;
    request.method = std::string(head.method_string());
    request.target = originForm(head.target());
    for (const auto& field : head)
        request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    return request;
}

}  // namespace krp::transport
