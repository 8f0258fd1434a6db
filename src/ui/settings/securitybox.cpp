#include "ui/settings/securitybox.h"

#include "core/protocol/connectionsecurity.h"

#include <QComboBox>
#include <QLineEdit>

using namespace Qt::StringLiterals;

namespace corvane {

QComboBox *createSecurityBox(const QString &objectName, QWidget *parent) {
    auto *box = new QComboBox(parent);
    box->setObjectName(objectName);
    box->addItem(u"None (plain text)"_s, securityName(ConnectionSecurity::None));
    box->addItem(u"STLS (secured after connecting, usually port 110)"_s,
                 securityName(ConnectionSecurity::StartTls));
    box->addItem(u"TLS (secured from the start, usually port 995)"_s,
                 securityName(ConnectionSecurity::Tls));
    box->setToolTip(u"How the connection to the POP3 server is protected. With STLS or TLS the "
                    u"password is only sent once the server has proved who it is."_s);
    return box;
}

namespace {
// Set once the user picks an item; then typing a port no longer changes the choice.
constexpr char kChosen[] = "securityChosen";
} // namespace

void showSecurity(QComboBox *box, const QString &stored, const QString &portText) {
    box->setProperty(kChosen, !stored.trimmed().isEmpty());
    bool ok = false;
    const uint port = portText.trimmed().toUInt(&ok);
    const std::optional<ConnectionSecurity> security =
        parseSecurity(stored, ok && port <= 65535 ? quint16(port) : quint16(0));
    box->setCurrentIndex(box->findData(securityName(security.value_or(ConnectionSecurity::None))));
}

QString chosenSecurity(const QComboBox *box) {
    return box->currentData().toString();
}

void followWithPort(QComboBox *box, QLineEdit *port) {
    QObject::connect(port, &QLineEdit::textEdited, box, [box, port] {
        if (!box->property(kChosen).toBool()) {
            showSecurity(box, QString(), port->text());
            box->setProperty(kChosen, false);
        }
    });
    QObject::connect(box, &QComboBox::activated, port, [box, port] {
        box->setProperty(kChosen, true);
        const QString text = port->text().trimmed();
        const bool tls = chosenSecurity(box) == securityName(ConnectionSecurity::Tls);
        if (tls && text == u"110"_s)
            port->setText(u"995"_s);
        else if (!tls && text == u"995"_s)
            port->setText(u"110"_s);
    });
}

} // namespace corvane
