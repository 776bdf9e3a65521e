// TLS trust for every connection to the relay.
//
// The client trusts exactly the public root certificate authorities compiled
// into the library. They are taken at build time from the build machine's CA
// bundle (the CMake step in this folder writes them into a generated source);
// nothing is read from the operating system's trust store or from the
// environment at run time.
//
// Test binaries may add one more root, their own test CA, through
// test_seam::extra_trusted_root_pem. The library only declares that function,
// weakly: a program that does not define it (every production program) has no
// extra root. The test support code of this folder defines it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace velto::server_tools {

// The compiled-in roots, as concatenated PEM certificates.
std::string_view compiled_root_pem() noexcept;
// How many certificates compiled_root_pem holds.
std::size_t compiled_root_count() noexcept;

struct X509StoreFree {
  void operator()(X509_STORE* s) const noexcept { X509_STORE_free(s); }
};
using X509StorePtr = std::unique_ptr<X509_STORE, X509StoreFree>;

// A new certificate store holding the compiled-in roots (and the test root in
// test binaries).
X509StorePtr new_trust_store();

// The same roots in one store per process, built on first use and shared by
// every connection (stores are only read once built); each call hands out a
// reference of its own.
X509StorePtr shared_trust_store();

// Prepares an OpenSSL client context for the relay: TLS 1.2 or 1.3, peer
// verification against shared_trust_store(), no client certificate.
void configure_tls_client(SSL_CTX* ctx);

// Per connection: server name indication and the check that the certificate
// is for `host` (a DNS name, or an IPv4/IPv6 literal, brackets allowed).
// Returns false when OpenSSL refuses the settings.
bool set_tls_peer_host(SSL* ssl, std::string_view host);

namespace test_seam {
// Defined only by test binaries: one extra trusted root in PEM form, or an
// empty text for none.
[[gnu::weak]] std::string_view extra_trusted_root_pem();
}  // namespace test_seam

}  // namespace velto::server_tools
