#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLineEdit;
class QPushButton;

namespace corvane {

// The account dialogs' "Trusted server" field: the authserv-id of the account's server whose
// Authentication-Results fields decide whether a friendly-list sender counts, with a button
// that proposes the id found at the top of the mail of the last check.
class TrustedServerField final : public QWidget {
    Q_OBJECT
public:
    explicit TrustedServerField(QWidget *parent = nullptr);

    // What the button proposes: the id of the last check, empty when it found none.
    using Proposal = std::function<QString()>;
    void setProposal(Proposal proposal) { m_proposal = std::move(proposal); }

    QString text() const;
    void setText(const QString &id);

    QLineEdit *trustedAuthservEdit;
    QPushButton *proposeAuthservButton; // "Use the last check's"

Q_SIGNALS:
    // Nothing to propose: the user is told why.
    void nothingToPropose(const QString &why);

private:
    void propose();

    Proposal m_proposal;
};

} // namespace corvane
