#include "server/transport/TlsServerContext.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace krp::transport {
namespace {

const char* const kTls12Ciphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

// The most recent OpenSSL error of this thread as text, the queue emptied.
std::string takeOpensslError()
{
    unsigned long last = 0;
    while (const unsigned long e = ERR_get_error())
        last = e;
    if (last == 0)
        return "tuntematon OpenSSL-virhe";
    char text[256];
    ERR_error_string_n(last, text, sizeof text);
    return text;
}

// `what` is "Varmennetiedosto" or "Avaintiedosto".
void requireReadableFile(const std::string& path, const char* what)
{
    if (path.empty())
        throw std::runtime_error(std::string(what) + "n nimeä ei ole annettu.");
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status))
        throw std::runtime_error(std::string(what) + "a \"" + path + "\" ei löydy.");
    if (std::filesystem::is_directory(status))
        throw std::runtime_error(std::string(what) + " \"" + path + "\" on hakemisto.");
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        const int error = errno;
        throw std::runtime_error(std::string(what) + "a \"" + path + "\" ei voi lukea: " + std::strerror(error));
    }
    std::fclose(f);
}

// Refuses to ask for a pass phrase: the key must be stored unencrypted.
int noPassphrase(char*, int, int, void*)
{
    return 0;
}

using PrivateKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

PrivateKey readPrivateKey(const std::string& path)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "r"), &BIO_free);
    if (!bio)
        throw std::runtime_error("Avaintiedostoa \"" + path + "\" ei voi lukea: " + takeOpensslError());
    PrivateKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, &noPassphrase, nullptr), &EVP_PKEY_free);
    if (!key)
        throw std::runtime_error("Avaintiedosto \"" + path +
                                 "\" ei kelpaa: siinä pitää olla salaamaton PEM-muotoinen "
                                 "yksityinen avain (" +
                                 takeOpensslError() + ").");
    return key;
}

}  // namespace

boost::asio::ssl::context makeTlsServerContext(const std::string& certificateFile, const std::string& keyFile)
{
    requireReadableFile(certificateFile, "Varmennetiedosto");
    requireReadableFile(keyFile, "Avaintiedosto");
    ERR_clear_error();

    boost::asio::ssl::context context(boost::asio::ssl::context::tls_server);
    SSL_CTX* ctx = context.native_handle();
    if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1)
        throw std::runtime_error("TLS-asetuksia ei voitu tehdä: " + takeOpensslError());
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    // An idle connection gives its TLS record buffers back until its next record.
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    // TLS 1.2: ephemeral elliptic-curve key exchange and AEAD ciphers only (forward secrecy,
    // no CBC, no SHA-1 MACs), for RSA and ECDSA certificates alike. TLS 1.3 keeps OpenSSL's
    // suites, which all have both.
    if (SSL_CTX_set_cipher_list(ctx, kTls12Ciphers) != 1)
        throw std::runtime_error("TLS-asetuksia ei voitu tehdä: " + takeOpensslError());
    // Key exchange on the elliptic curves only, for both versions: a finite-field group costs
    // the server some hundred times the work of X25519 per handshake, for a client that pays
    // nothing to ask for it again and again.
    if (SSL_CTX_set1_groups_list(ctx, "X25519:P-256:P-384") != 1)
        throw std::runtime_error("TLS-asetuksia ei voitu tehdä: " + takeOpensslError());
    // A client that reconnects resumes its session from a ticket instead of a full handshake.
    // The ticket carries the session, so the server keeps none: no cache that grows with every
    // handshake and is walked now and then to drop the expired.
    SSL_CTX_clear_options(ctx, SSL_OP_NO_TICKET);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    // TLS 1.3: one ticket per handshake (OpenSSL's default is two); a terminal resumes one
    // connection at a time, and a resumed connection gets a fresh ticket.
    SSL_CTX_set_num_tickets(ctx, 1);
    SSL_CTX_set_default_passwd_cb(ctx, &noPassphrase);

    if (SSL_CTX_use_certificate_chain_file(ctx, certificateFile.c_str()) != 1)
        throw std::runtime_error("Varmennetiedosto \"" + certificateFile +
                                 "\" ei kelpaa: siinä pitää olla PEM-muotoinen varmenne (" + takeOpensslError() + ").");

    const PrivateKey key = readPrivateKey(keyFile);
    if (SSL_CTX_use_PrivateKey(ctx, key.get()) != 1 || SSL_CTX_check_private_key(ctx) != 1)
        throw std::runtime_error("Avaintiedoston \"" + keyFile + "\" avain ei kuulu varmenteeseen \"" +
                                 certificateFile + "\" (" + takeOpensslError() + ").");
    return context;
}

}  // namespace krp::transport
