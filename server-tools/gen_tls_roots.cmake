# Writes the compiled-in trusted roots: every certificate of the build
# machine's CA bundle, as one PEM text in a C++ source.
#   cmake -DBUNDLE=<ca bundle> -DOUT=<generated .cpp> -P gen_tls_roots.cmake
if(NOT EXISTS "${BUNDLE}")
  message(FATAL_ERROR "CA bundle not found: ${BUNDLE} (install ca-certificates)")
endif()
file(READ "${BUNDLE}" bundle)
string(REGEX MATCHALL "-----BEGIN CERTIFICATE-----[^-]+-----END CERTIFICATE-----" certs "${bundle}")
list(LENGTH certs count)
if(count EQUAL 0)
  message(FATAL_ERROR "no certificate in ${BUNDLE}")
endif()
string(JOIN "\n" pem ${certs})
file(WRITE "${OUT}.tmp"
"// Generated at build time from ${BUNDLE}; do not edit.
#include <cstddef>
#include <string_view>

namespace velto::server_tools::detail {
extern const std::string_view kCompiledRootPem;
extern const std::size_t kCompiledRootCount;
const std::string_view kCompiledRootPem = R\"velto_pem(${pem}
)velto_pem\";
const std::size_t kCompiledRootCount = ${count};
}  // namespace velto::server_tools::detail
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
