#include "ui/settings/trustedserverfield.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace corvane {

TrustedServerField::TrustedServerField(QWidget *parent) : QWidget(parent) {
    trustedAuthservEdit = new QLineEdit(this);
    trustedAuthservEdit->setObjectName(u"trustedAuthservEdit"_s);
    trustedAuthservEdit->setPlaceholderText(u"none: every friendly sender counts"_s);
    trustedAuthservEdit->setToolTip(
        u"The name your mail server writes at the start of its Authentication-Results header "
        u"lines. When set, a sender on the friendly list counts only if that server found the "
        u"message authentic (no dmarc=fail, no spf=fail without a matching dkim=pass)."_s);
    proposeAuthservButton = new QPushButton(u"Use the last check's"_s, this);
    proposeAuthservButton->setObjectName(u"proposeAuthservButton"_s);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(trustedAuthservEdit, 1);
    layout->addWidget(proposeAuthservButton);
    connect(proposeAuthservButton, &QPushButton::clicked, this, &TrustedServerField::propose);
}

QString TrustedServerField::text() const {
    return trustedAuthservEdit->text().trimmed();
}

void TrustedServerField::setText(const QString &id) {
    trustedAuthservEdit->setText(id);
}

void TrustedServerField::propose() {
    const QString id = m_proposal ? m_proposal() : QString();
    if (id.isEmpty()) {
        Q_EMIT nothingToPropose(u"The last check found no Authentication-Results header. Check "
                                u"the mailbox first, or type the name your mail server uses."_s);
        return;
    }
    trustedAuthservEdit->setText(id);
}

} // namespace corvane
