#pragma once

#include "core/settings/foundsettings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

// The servers of a large provider, known in advance for the domains of its addresses, so that
// its users need not look anything up.
struct ServerPreset {
    QString provider;    // the provider's name as shown to the user
    QStringList domains; // the address domains it serves, lower case
    MailServer incoming; // POP3
    MailServer outgoing; // SMTP submission
    // What the user must know before signing in.
    QString note;
};

// The program's own table.
const QList<ServerPreset> &builtInServerPresets();

// The preset among presets that serves domain (compared without case); nothing when none does.
std::optional<ServerPreset> presetForDomain(const QList<ServerPreset> &presets,
                                            const QString &domain);

} // namespace corvane
