#include "report/ldap/libldap/TlsHandshake.h"

#include <lber.h>
#include <ldap.h>

// libldap's own handshake step, exported by every libldap since 2.4: what ldap_install_tls runs in
// a loop. ldap_install_tls itself cannot serve a poll loop on libldap 2.5: it waits inside (or,
// with a network timeout and no CONNECT_ASYNC, spins on EAGAIN), and once it has given up it
// refuses to be called again on the same session. One step returns 0 when the handshake is complete
// and the host name checked, 1 while it waits for the socket (the Sockbuf says which way), -1 on
// failure.
extern "C" int ldap_pvt_tls_connect(LDAP* ld, Sockbuf* sb, const char* host);

namespace quindral {

TlsProgress StepTlsHandshake(LDAP* ld, const std::string& host) {
    Sockbuf* buffer = nullptr;
    if (ldap_get_option(ld, LDAP_OPT_SOCKBUF, &buffer) != LDAP_OPT_SUCCESS || buffer == nullptr) {
        return TlsProgress::Failed;
    }
    switch (ldap_pvt_tls_connect(ld, buffer, host.c_str())) {
    case 0:
        return TlsProgress::Done;
    case 1:
        return ber_sockbuf_ctrl(buffer, LBER_SB_OPT_NEEDS_WRITE, nullptr) != 0
                   ? TlsProgress::WantWrite
                   : TlsProgress::WantRead;
    default:
        return TlsProgress::Failed;
    }
}

} // namespace quindral
