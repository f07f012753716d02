#pragma once
// What a chunked body may carry besides its data, held to the head limit: the chunk
// extensions of one body together, and its trailer fields together. The parser holds a whole
// chunk-size line, and the whole trailer section, in its read buffer before it reads them; a
// read buffer of at most twice the head limit (readBufferLimit) bounds those first.
//
//   ChunkFraming framing(options.maxHeaderBytes);
//   framing.attach(parser);          // before the body is read; counts its extensions
//   ... parser.put(...) fails      -> framing.exceeded(): answer 431
//   framing.trailerTooLarge(parser.get()) after the body: answer 431
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace krp::transport {

class ChunkFraming {
public:
    using Parser = boost::beast::http::request_parser<boost::beast::http::string_body>;

    explicit ChunkFraming(std::size_t limit);
    ChunkFraming(const ChunkFraming&) = delete;
    ChunkFraming& operator=(const ChunkFraming&) = delete;

    // The most a connection's read buffer holds for a head limit of `headLimit`.
    static std::size_t readBufferLimit(std::size_t headLimit) { return 2 * headLimit; }

    // Starts counting for a new request on `parser` (which keeps a reference to this object,
    // so it must outlive the parser's reading), after its head was read: the fields the head
    // has now are not trailer fields.
    void attach(Parser& parser);

    // The chunk extensions read went past the limit (the parser stopped with an error).
    bool exceeded() const { return exceeded_; }
    // The trailer fields that came after the body, beyond the head's own, are past the limit.
    bool trailerTooLarge(const boost::beast::http::request_header<>& message) const;

private:
    void count(std::uint64_t size, boost::beast::string_view extensions, boost::beast::error_code& ec);

    const std::size_t limit_;
    std::size_t extensionBytes_ = 0;
    std::size_t headFields_ = 0;
    bool exceeded_ = false;
    std::function<void(std::uint64_t, boost::beast::string_view, boost::beast::error_code&)> callback_;
};

}  // namespace krp::transport
