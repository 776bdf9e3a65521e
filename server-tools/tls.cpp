#include "server-tools/tls.hpp"

#include <mutex>
#include <vector>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "crypto/error.hpp"

namespace velto::server_tools {

namespace detail {
// Written by the build (tls_roots_data.cpp in the build tree).
extern const std::string_view kCompiledRootPem;
extern const std::size_t kCompiledRootCount;
}  // namespace detail

namespace {

struct X509Free {
  void operator()(X509* x) const noexcept { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

std::vector<X509Ptr> parse_pem_certificates(std::string_view pem) {
  std::vector<X509Ptr> out;
  if (pem.empty()) return out;
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (bio == nullptr) panic("out of memory reading the trusted roots");
  while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) out.emplace_back(x);
  BIO_free(bio);
  ERR_clear_error();  // the end of the input is reported as an error
  return out;
}

// Parsed once; every store takes its own references.
const std::vector<X509Ptr>& compiled_roots() {
  static const std::vector<X509Ptr> roots = [] {
    auto r = parse_pem_certificates(detail::kCompiledRootPem);
    if (r.size() != detail::kCompiledRootCount) panic("the compiled-in root certificates do not parse");
    return r;
  }();
  return roots;
}

}  // namespace

std::string_view compiled_root_pem() noexcept { return detail::kCompiledRootPem; }
std::size_t compiled_root_count() noexcept { return detail::kCompiledRootCount; }

X509StorePtr new_trust_store() {
  X509StorePtr store(X509_STORE_new());
  if (!store) panic("out of memory building the trust store");
  for (const auto& cert : compiled_roots()) X509_STORE_add_cert(store.get(), cert.get());
  if (&test_seam::extra_trusted_root_pem != nullptr) {
    for (const auto& cert : parse_pem_certificates(test_seam::extra_trusted_root_pem()))
      X509_STORE_add_cert(store.get(), cert.get());
  }
  ERR_clear_error();  // a duplicate certificate is reported but harmless
  return store;
}

X509StorePtr shared_trust_store() {
  // Built once (the extra root of a test binary is fixed for its life).
  static const X509StorePtr store = new_trust_store();
  if (X509_STORE_up_ref(store.get()) != 1) panic("the shared trust store refused a reference");
  return X509StorePtr(store.get());
}

void configure_tls_client(SSL_CTX* ctx) {
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  // The context takes ownership of the reference.
  SSL_CTX_set_cert_store(ctx, shared_trust_store().release());
}

bool set_tls_peer_host(SSL* ssl, std::string_view host) {
  std::string name(host);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  // An IP literal is checked against the certificate's IP addresses and sent
  // without SNI (SNI carries host names only).
  if (X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1) return true;
  ERR_clear_error();
  if (SSL_set_tlsext_host_name(ssl, name.c_str()) != 1) return false;
  return X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size()) == 1;
}

}  // namespace velto::server_tools
