#pragma once

#include <QString>

class QComboBox;
class QLineEdit;
class QWidget;

namespace corvane {

// The choice of an account's connection security in the account dialogs: "None", "STLS" and
// "TLS", each with what it means. The item data is the stored name (securityName()).
QComboBox *createSecurityBox(const QString &objectName, QWidget *parent);
// Shows a stored value; an empty one shows the default of the port the text names, and then
// follows the port as it is typed until the user picks an item (followWithPort).
void showSecurity(QComboBox *box, const QString &stored, const QString &portText);
// The stored name of the chosen item.
QString chosenSecurity(const QComboBox *box);
// Keeps the port field and the choice in step: picking TLS moves a port of 110 to 995 and
// picking none or STLS moves 995 back to 110; typing a port shows that port's default while
// the user has not picked an item.
void followWithPort(QComboBox *box, QLineEdit *port);

} // namespace corvane
