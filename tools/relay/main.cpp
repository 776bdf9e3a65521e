// velto_relay: the local relay server.
//
//   velto_relay --cert FILE --key FILE [--listen ADDRESS] [--port N] [--api-key KEY]
//
// Serves room creation and the room websockets over TLS until SIGINT or
// SIGTERM. Prints "listening on ADDRESS:PORT" once it accepts connections
// (with --port 0, the default, the system picks a free port).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <pthread.h>

#include "tools/relay/server/relay_server.hpp"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: velto_relay --cert FILE --key FILE [--listen ADDRESS] [--port N] [--api-key KEY]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  velto::relay::RelayConfig config;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return usage();
    const std::string value = argv[++i];
    if (arg == "--cert") {
      config.cert_file = value;
    } else if (arg == "--key") {
      config.key_file = value;
    } else if (arg == "--listen") {
      config.address = value;
    } else if (arg == "--port") {
      char* end = nullptr;
      const unsigned long port = std::strtoul(value.c_str(), &end, 10);
      if (end == value.c_str() || *end != '\0' || port > 65535) return usage();
      config.port = static_cast<std::uint16_t>(port);
    } else if (arg == "--api-key") {
      config.api_key = value;
    } else {
      return usage();
    }
  }
  if (config.cert_file.empty() || config.key_file.empty()) return usage();

  // Signals are taken by sigwait below, not by the server's thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  velto::relay::RelayServer server(config);
  if (auto started = server.start(); !started) {
    std::fprintf(stderr, "velto_relay: %s\n", started.error().c_str());
    return 1;
  }
  std::printf("listening on %s:%u\n", config.address.c_str(), static_cast<unsigned>(server.port()));
  std::fflush(stdout);
  int sig = 0;
  sigwait(&signals, &sig);
  server.stop();
  return 0;
}
