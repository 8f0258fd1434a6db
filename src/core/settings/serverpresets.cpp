#include "core/settings/serverpresets.h"

using namespace Qt::StringLiterals;

namespace corvane {

const QList<ServerPreset> &builtInServerPresets() {
    // The two largest webmail providers. Both take POP3 only over TLS and refuse an account's
    // ordinary password from a mail program: one wants an app password (or OAuth), the other
    // OAuth alone.
    static const QList<ServerPreset> presets{
        {u"Gmail"_s,
         {u"gmail.com"_s, u"googlemail.com"_s},
         {u"pop.gmail.com"_s, 995, ConnectionSecurity::Tls},
         {u"smtp.gmail.com"_s, 465, ConnectionSecurity::Tls},
         u"POP3 must be switched on in the account's web settings first. Sign in with OAuth, "
         u"or with an app password made in the account's security settings: the account's "
         u"own password is refused."_s},
        {u"Outlook.com"_s,
         {u"outlook.com"_s, u"hotmail.com"_s, u"live.com"_s, u"msn.com"_s, u"hotmail.co.uk"_s,
          u"hotmail.fr"_s, u"hotmail.de"_s, u"hotmail.it"_s, u"hotmail.es"_s, u"live.co.uk"_s,
          u"live.fr"_s, u"live.de"_s, u"live.nl"_s, u"outlook.fr"_s, u"outlook.de"_s},
         {u"outlook.office365.com"_s, 995, ConnectionSecurity::Tls},
         {u"smtp-mail.outlook.com"_s, 587, ConnectionSecurity::StartTls},
         u"POP3 must be switched on in the account's web settings first. The provider accepts "
         u"sign-in with OAuth only."_s},
    };
    return presets;
}

std::optional<ServerPreset> presetForDomain(const QList<ServerPreset> &presets,
                                            const QString &domain) {
    const QString d = domain.toLower();
    for (const ServerPreset &preset : presets) {
        if (preset.domains.contains(d))
            return preset;
    }
    return std::nullopt;
}

} // namespace corvane
