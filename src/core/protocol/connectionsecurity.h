#pragma once

#include <QString>

#include <optional>

namespace corvane {

// How a mail connection is protected.
enum class ConnectionSecurity {
    None,     // plain TCP throughout
    StartTls, // plain TCP, turned into TLS by STLS (POP3) or STARTTLS (SMTP) before logging in
    Tls,      // TLS from the first byte (POP3 on 995, SMTP on 465)
};

// The setting's stored and shown names: "none", "STLS", "TLS".
QString securityName(ConnectionSecurity security);
// Reads a stored name, in any case ("STARTTLS" is taken for STLS too). An empty text is the
// default of the port: TLS on 995 (POP3) and 465 (SMTP), none on every other port. Nothing for
// any other text.
std::optional<ConnectionSecurity> parseSecurity(const QString &text, quint16 port);
// The security of a port when none is stored.
ConnectionSecurity defaultSecurity(quint16 port);

} // namespace corvane
