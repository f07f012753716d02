#include "shared/ContentCoding.h"

#include "shared/NoCase.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <stdexcept>

namespace krp::transport {
namespace {

constexpr int zlibWindowBits = 15;       // zlib header and Adler-32 trailer
constexpr int gzipWindowBits = 15 + 16;  // gzip header and CRC-32 trailer

std::string_view trim(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The q value of one Accept-Encoding element ("gzip;q=0.5"); nullopt when malformed.
std::optional<double> qualityOf(std::string_view parameters)
{
    double q = 1.0;
    while (!parameters.empty()) {
        const auto semicolon = parameters.find(';');
        const auto parameter = trim(parameters.substr(0, semicolon));
        parameters = semicolon == std::string_view::npos ? std::string_view{} : parameters.substr(semicolon + 1);
        const auto equals = parameter.find('=');
        if (equals == std::string_view::npos)
            continue;
        if (!equalsNoCase(trim(parameter.substr(0, equals)), "q"))
            continue;
        const auto value = trim(parameter.substr(equals + 1));
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), q);
        if (ec != std::errc{} || end != value.data() + value.size() || q < 0.0 || q > 1.0)
            return std::nullopt;
    }
    return q;
}

int windowBitsOf(ContentCoding coding)
{
    return coding == ContentCoding::Gzip ? gzipWindowBits : zlibWindowBits;
}

}  // namespace

std::optional<ContentCoding> parseContentEncoding(std::string_view headerValue)
{
    const auto value = trim(headerValue);
    if (value.empty() || equalsNoCase(value, "identity"))
        return ContentCoding::Identity;
    if (equalsNoCase(value, "deflate"))
        return ContentCoding::Deflate;
    if (equalsNoCase(value, "gzip") || equalsNoCase(value, "x-gzip"))
        return ContentCoding::Gzip;
    return std::nullopt;
}

std::string_view contentCodingName(ContentCoding coding)
{
    switch (coding) {
    case ContentCoding::Deflate: return "deflate";
    case ContentCoding::Gzip: return "gzip";
    case ContentCoding::Identity: break;
    }
    return {};
}

ContentCoding chooseResponseCoding(std::string_view acceptEncoding)
{
    std::optional<double> deflate, gzip, star;
    while (!acceptEncoding.empty()) {
        const auto comma = acceptEncoding.find(',');
        const auto element = acceptEncoding.substr(0, comma);
        acceptEncoding = comma == std::string_view::npos ? std::string_view{} : acceptEncoding.substr(comma + 1);
        const auto semicolon = element.find(';');
        const auto name = trim(element.substr(0, semicolon));
        const auto q =
            qualityOf(semicolon == std::string_view::npos ? std::string_view{} : element.substr(semicolon + 1));
        if (name.empty() || !q)
            continue;  // a malformed element says nothing
        if (equalsNoCase(name, "deflate"))
            deflate = *q;
        else if (equalsNoCase(name, "gzip") || equalsNoCase(name, "x-gzip"))
            gzip = gzip ? std::max(*gzip, *q) : *q;
        else if (name == "*")
            star = *q;
    }
    const auto accepted = [&](const std::optional<double>& named) {
        return named ? *named > 0.0 : (star && *star > 0.0);
    };
    if (accepted(deflate))
        return ContentCoding::Deflate;
    if (accepted(gzip))
        return ContentCoding::Gzip;
    return ContentCoding::Identity;
}

std::string compress(std::string_view data, ContentCoding coding)
{
    if (coding == ContentCoding::Identity)
        return std::string(data);
    if (data.size() > std::numeric_limits<uInt>::max())
        throw std::length_error("compress: body too large for one zlib call");

    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBitsOf(coding), 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib: deflateInit2 failed");
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    const auto produced = z.total_out;
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("zlib: deflate did not finish");
    out.resize(produced);
    return out;
}

DecodeResult decompress(std::string_view data, ContentCoding coding, std::size_t maxOutput)
{
    if (coding == ContentCoding::Identity || data.empty()) {
        if (data.size() > maxOutput)
            return {DecodeStatus::TooLarge, {}};
        return {DecodeStatus::Ok, std::string(data)};
    }

    if (data.size() > std::numeric_limits<uInt>::max())
        return {DecodeStatus::TooLarge, {}};
    z_stream z{};
    if (inflateInit2(&z, windowBitsOf(coding)) != Z_OK)
        throw std::runtime_error("zlib: inflateInit2 failed");
    struct End {
        z_stream* z;
        ~End() { inflateEnd(z); }
    } end{&z};

    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());

    std::string out;
    constexpr std::size_t chunk = 64 * 1024;
    for (;;) {
        // One byte of room past the limit tells an exact fit from an overflow.
        const std::size_t left = maxOutput - out.size();
        const std::size_t room = left >= chunk ? chunk : left + 1;
        const std::size_t before = out.size();
        out.resize(before + room);
        z.next_out = reinterpret_cast<Bytef*>(out.data() + before);
        z.avail_out = static_cast<uInt>(room);
        const int rc = inflate(&z, Z_NO_FLUSH);
        out.resize(before + (room - z.avail_out));
        if (out.size() > maxOutput)
            return {DecodeStatus::TooLarge, {}};
        if (rc == Z_STREAM_END) {
            if (z.avail_in == 0)
                return {DecodeStatus::Ok, std::move(out)};
            if (coding != ContentCoding::Gzip)
                return {DecodeStatus::Corrupt, {}};
            if (inflateReset(&z) != Z_OK)  // the next gzip member
                return {DecodeStatus::Corrupt, {}};
            continue;
        }
        if (rc == Z_OK)
            continue;
        // Z_BUF_ERROR with input left over cannot happen here (there is always room);
        // with no input left it means the stream was cut short.
        return {DecodeStatus::Corrupt, {}};
    }
}

}  // namespace krp::transport
