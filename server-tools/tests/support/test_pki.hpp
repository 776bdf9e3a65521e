// Test certificates, made with the openssl command in a fresh temporary
// folder once per test process:
// - the test CA, which test binaries trust through the library's trust seam
//   (linking this file defines test_seam::extra_trusted_root_pem);
// - a server certificate from it for 127.0.0.1, ::1 and localhost;
// - a second CA that nothing trusts, with its own server certificate, for the
//   cases where the relay must not be trusted.
#pragma once

#include <string>

namespace velto::server_tools::testing {

struct ServerCertificate {
  std::string cert_file;  // PEM chain
  std::string key_file;   // PEM private key
};

struct TestPki {
  std::string dir;
  std::string ca_pem;
  ServerCertificate trusted;    // issued by the trusted test CA
  ServerCertificate untrusted;  // issued by a CA nobody trusts
};

// Creates the certificates on first use and makes this process trust the test
// CA. Fails the process (with a message) when the openssl command fails.
const TestPki& test_pki();

// Runs a shell command; returns its exit status.
int run_command(const std::string& command);

}  // namespace velto::server_tools::testing
