#pragma once
// The server's TLS setup: TLS 1.2 or newer, certificate (chain) and unencrypted private key
// from PEM files.
#include <boost/asio/ssl/context.hpp>

#include <string>

namespace krp::transport {

// Throws std::runtime_error whose message names the file and what is wrong with it: missing,
// unreadable, not PEM, key encrypted, or key not belonging to the certificate.
boost::asio::ssl::context makeTlsServerContext(const std::string& certificateFile, const std::string& keyFile);

}  // namespace krp::transport
