#pragma once

#include <string>

typedef struct ldap LDAP;

namespace quindral {

enum class TlsProgress { Done, WantRead, WantWrite, Failed };

// Takes an ldaps:// session's TLS handshake as far as its non-blocking socket allows, without
// waiting: call again when the socket is ready as asked. The server's certificate is checked as
// libldap checks it (TLS_REQCERT, TLS_CACERT and the rest of its TLS configuration, and the host
// name against the certificate), and the session then speaks LDAP over TLS.
TlsProgress StepTlsHandshake(LDAP* ld, const std::string& host);

} // namespace quindral
