#pragma once

#include "core/rules/rulelists.h"

#include <QDialog>

#include <functional>
#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

// The list-entry dialog: adds an entry to, or changes an entry of, the subject black list, the
// e-mail black list or the friendly list, in the mode set by the command that opens it.
class ListEntryDialog final : public QDialog {
    Q_OBJECT
public:
    enum class Mode {
        None,
        AddSubject,
        EditSubject,
        AddEmail,
        EditEmail,
        AddFriendly,
        EditFriendly
    };
    // The position of the entry selected in a list's view, or -1 when none is.
    using SelectionSource = std::function<qsizetype(ListKind)>;

    explicit ListEntryDialog(RuleLists &lists, QWidget *parent = nullptr);

    // Where edit modes find the entry they change (the Rules and Lists window's selection).
    void setSelectionSource(SelectionSource source) { m_selection = std::move(source); }

    // Sets the title, the texts and the pending mode, fills the fields that are given (the
    // others keep what they hold) and shows the dialog, or brings it forward when shown.
    void openMode(Mode mode, std::optional<QString> entry = std::nullopt,
                  std::optional<QString> description = std::nullopt);
    Mode pendingMode() const { return m_mode; }

    static ListKind targetList(Mode mode);

    QLabel *instructionLabel; // the instruction
    QGroupBox *fieldsBox;     // the frame around the fields
    QLabel *entryLabel;       // the field label, set by the mode
    QLineEdit *entryEdit;     // the entry's caption
    QLabel *descriptionLabel;
    QLineEdit *descriptionEdit; // the description
    QPushButton *okButton;      // "Ok"
    QPushButton *cancelButton;  // "Cancel"

Q_SIGNALS:
    // An entry was added to or changed in a list.
    void listChanged(corvane::ListKind kind);

public Q_SLOTS:
    void acceptEntry();
    void cancelEntry();

protected:
    // Every way of closing empties the fields.
    void done(int result) override;
    void showEvent(QShowEvent *event) override;

private:
    RuleLists &m_lists;
    SelectionSource m_selection;
    Mode m_mode = Mode::None;
    bool m_placed = false;
};

} // namespace corvane
