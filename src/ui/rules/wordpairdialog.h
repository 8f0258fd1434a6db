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

// The X-and-Y dialog: adds a pair of subject words to the X-and-Y list, or changes a pair.
class WordPairDialog final : public QDialog {
    Q_OBJECT
public:
    enum class Mode { None, AddXY, EditXY };
    // The position of the entry selected in the X-and-Y list's view, or -1 when none is.
    using SelectionSource = std::function<qsizetype()>;

    explicit WordPairDialog(RuleLists &lists, QWidget *parent = nullptr);

    void setSelectionSource(SelectionSource source) { m_selection = std::move(source); }

    // Sets the title, the button caption and the pending mode, fills the fields that are given
    // and shows the dialog, or brings it forward when shown.
    void openMode(Mode mode, std::optional<QString> first = std::nullopt,
                  std::optional<QString> second = std::nullopt,
                  std::optional<QString> description = std::nullopt);
    Mode pendingMode() const { return m_mode; }

    QLabel *instructionLabel; // the instruction
    QGroupBox *fieldsBox;
    QLabel *wordsLabel;
    QLineEdit *firstWordEdit;  // the first word (the entry's caption)
    QLineEdit *secondWordEdit; // the second word
    QLabel *wordsError;        // beside the two words: which one is missing, hidden when none is
    QLabel *descriptionLabel;
    QLineEdit *descriptionEdit; // the description
    QPushButton *okButton;      // "Add Item" or "Edit Item"
    QPushButton *cancelButton;  // "Cancel"

Q_SIGNALS:
    void listChanged(corvane::ListKind kind);

public Q_SLOTS:
    void acceptPair();
    void cancelPair();

protected:
    void done(int result) override;
    void showEvent(QShowEvent *event) override;

private:
    RuleLists &m_lists;
    SelectionSource m_selection;
    Mode m_mode = Mode::None;
    bool m_placed = false;
};

} // namespace corvane
