#include "server-tools/tests/support/test_pki.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "server-tools/tls.hpp"

namespace velto::server_tools {

// The trust seam of tls.hpp: this process trusts the test CA, made here on
// the first look at the trust roots if no test has made it yet (the text
// lives as long as the process).
std::string_view test_seam::extra_trusted_root_pem() { return testing::test_pki().ca_pem; }

namespace testing {

int run_command(const std::string& command) {
  const int rc = std::system(command.c_str());
  return rc;
}

namespace {

void must(const std::string& command) {
  if (run_command(command + " >/dev/null 2>&1") != 0) {
    std::fprintf(stderr, "test PKI: command failed: %s\n", command.c_str());
    std::abort();
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void make_ca(const std::string& dir, const std::string& name, const std::string& cn) {
  must("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj '/CN=" + cn + "'" +
       " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign" +
       " -keyout " + dir + "/" + name + ".key -out " + dir + "/" + name + ".crt");
}

ServerCertificate make_server(const std::string& dir, const std::string& ca, const std::string& name) {
  const std::string base = dir + "/" + name;
  {
    std::ofstream ext(base + ".ext");
    ext << "basicConstraints=CA:FALSE\n"
           "keyUsage=critical,digitalSignature\n"
           "extendedKeyUsage=serverAuth\n"
           "subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost\n";
  }
  must("openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj '/CN=localhost' -keyout " +
       base + ".key -out " + base + ".csr");
  must("openssl x509 -req -in " + base + ".csr -CA " + dir + "/" + ca + ".crt -CAkey " + dir + "/" + ca +
       ".key -CAcreateserial -days 2 -extfile " + base + ".ext -out " + base + ".crt");
  return {base + ".crt", base + ".key"};
}

TestPki create() {
  std::string templ = (std::filesystem::temp_directory_path() / "velto-pki-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) {
    std::perror("test PKI: mkdtemp");
    std::abort();
  }
  TestPki pki;
  pki.dir = templ;
  make_ca(pki.dir, "ca", "Velto Test CA");
  make_ca(pki.dir, "other-ca", "Untrusted Test CA");
  pki.trusted = make_server(pki.dir, "ca", "server");
  pki.untrusted = make_server(pki.dir, "other-ca", "other-server");
  pki.ca_pem = read_file(pki.dir + "/ca.crt");
  return pki;
}

struct Cleanup {
  std::string dir;
  ~Cleanup() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

}  // namespace

const TestPki& test_pki() {
  static const TestPki pki = create();
  static const Cleanup cleanup{pki.dir};
  return pki;
}

}  // namespace testing
}  // namespace velto::server_tools
