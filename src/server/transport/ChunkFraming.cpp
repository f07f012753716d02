#include "server/transport/ChunkFraming.h"

#include <iterator>

namespace krp::transport {

namespace http = boost::beast::http;

ChunkFraming::ChunkFraming(std::size_t limit)
    : limit_(limit), callback_([this](std::uint64_t size, boost::beast::string_view extensions,
                                      boost::beast::error_code& ec) { count(size, extensions, ec); })
{
}

void ChunkFraming::attach(Parser& parser)
{
    extensionBytes_ = 0;
    exceeded_ = false;
    headFields_ = static_cast<std::size_t>(std::distance(parser.get().begin(), parser.get().end()));
    parser.on_chunk_header(callback_);
}

void ChunkFraming::count(std::uint64_t, boost::beast::string_view extensions, boost::beast::error_code& ec)
{
    extensionBytes_ += extensions.size();
    if (extensionBytes_ > limit_) {
        exceeded_ = true;
        ec = http::error::bad_chunk_extension;
    }
}

bool ChunkFraming::trailerTooLarge(const http::request_header<>& message) const
{
    std::size_t bytes = 0;
    std::size_t index = 0;
    for (const auto& field : message) {
        if (index++ >= headFields_)
            bytes += field.name_string().size() + field.value().size() + 4;  // ": " and CRLF
    }
    return bytes > limit_;
}

}  // namespace krp::transport
