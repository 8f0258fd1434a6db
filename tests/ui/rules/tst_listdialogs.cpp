// The list-entry dialog and the X-and-Y dialog: every mode's title and target list, OK and
// Cancel, the pending mode, edits of the selected entry (and of none).

#include "ui/rules/listentrydialog.h"
#include "ui/rules/wordpairdialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;

using Mode4 = ListEntryDialog::Mode;
Q_DECLARE_METATYPE(ListEntryDialog::Mode)

namespace {

void ok(QDialog &dialog) {
    dialog.findChild<QPushButton *>(u"okButton"_s)->click();
}

} // namespace

class TestListDialogs final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addModes_data() {
        QTest::addColumn<Mode4>("mode");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("list");
        QTest::newRow("subject") << Mode4::AddSubject << u"Add Subject To Blacklist"_s
                                 << u"Subject to blacklist (can be whole subject, or part of "
                                    u"subject)"_s
                                 << int(ListKind::SubjectBlack);
        QTest::newRow("email") << Mode4::AddEmail << u"Add Email To Blacklist"_s
                               << u"Email to add in blacklist (can be whole email, or @domain)"_s
                               << int(ListKind::EmailBlack);
        QTest::newRow("friendly") << Mode4::AddFriendly << u"Add A Friendly Email"_s
                                  << u"Email to add in the friendly list (can be whole email, "
                                     u"or @domain)"_s
                                  << int(ListKind::Friendly);
    }
    void addModes() {
        QFETCH(Mode4, mode);
        RuleLists lists;
        const RuleLists before = lists;
        ListEntryDialog dialog(lists);
        dialog.openMode(mode, u"Spam King <king@spam.example>"_s);
        QFETCH(QString, title);
        QCOMPARE(dialog.windowTitle(), title);
        QFETCH(QString, label);
        QCOMPARE(dialog.entryLabel->text(), label);
        QTest::keyClicks(dialog.descriptionEdit, u"  why  "_s);
        ok(dialog);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.pendingMode(), Mode4::None);
        QFETCH(int, list);
        for (const ListKind k : kAllListKinds) {
            if (k != ListKind(list)) {
                QCOMPARE(lists.list(k).entries(), before.list(k).entries());
                continue;
            }
            QCOMPARE(lists.list(k).size(), before.list(k).size() + 1);
            // Taken exactly as typed: nothing trimmed.
            QVERIFY(lists.list(k).entries().contains(
                RuleEntry{u"Spam King <king@spam.example>"_s, {u"  why  "_s}}));
        }
    }

    void emptyFieldsAddAnEmptyEntry() {
        RuleLists lists;
        ListEntryDialog dialog(lists);
        dialog.openMode(Mode4::AddSubject);
        ok(dialog);
        QCOMPARE(lists.SubjectBlack.size(), 14);
        QVERIFY(lists.SubjectBlack.entries().contains(RuleEntry{QString(), {QString()}}));
    }

    void onlyTheLastOpeningIsApplied() {
        RuleLists lists;
        ListEntryDialog dialog(lists);
        dialog.openMode(Mode4::AddSubject, u"first"_s);
        dialog.cancelButton->click(); // Cancel empties the fields and changes nothing
        QVERIFY(dialog.entryEdit->text().isEmpty());
        dialog.openMode(Mode4::AddEmail);
        QTest::keyClicks(dialog.entryEdit, u"@spam.example"_s);
        // Opened again while shown: new mode and title, unfilled fields keep their text.
        dialog.openMode(Mode4::AddFriendly, std::nullopt, u"family"_s);
        QCOMPARE(dialog.windowTitle(), u"Add A Friendly Email"_s);
        QCOMPARE(dialog.entryEdit->text(), u"@spam.example"_s);
        ok(dialog);
        QCOMPARE(lists.SubjectBlack.size(), 13);
        QVERIFY(lists.EmailBlack.isEmpty());
        QCOMPARE(lists.Friendly.entries(), (QList<RuleEntry>{{u"@spam.example"_s, {u"family"_s}}}));
        // Closing by the title bar empties the fields as well.
        dialog.openMode(Mode4::AddSubject, u"typed"_s);
        dialog.close();
        QVERIFY(dialog.entryEdit->text().isEmpty() && dialog.descriptionEdit->text().isEmpty());
    }

    void editChangesTheSelectedEntry_data() {
        QTest::addColumn<Mode4>("mode");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("list");
        QTest::newRow("subject") << Mode4::EditSubject << u"Edit Subject In The Blacklist"_s
                                 << int(ListKind::SubjectBlack);
        QTest::newRow("email") << Mode4::EditEmail << u"Edit Email In The Blacklist"_s
                               << int(ListKind::EmailBlack);
        QTest::newRow("friendly") << Mode4::EditFriendly << u"Edit A Friendly Email"_s
                                  << int(ListKind::Friendly);
    }
    void editChangesTheSelectedEntry() {
        QFETCH(Mode4, mode);
        QFETCH(int, list);
        const auto kind = ListKind(list);
        RuleLists lists;
        RuleList &target = lists.list(kind);
        target.add(u"mmm"_s, {u"middle"_s});
        const qsizetype selected = target.add(u"zzz"_s, {u"last"_s, u"extra"_s});
        ListEntryDialog dialog(lists);
        dialog.setSelectionSource([&](ListKind k) { return k == kind ? selected : -1; });
        dialog.openMode(mode, u"zzz"_s, u"last"_s);
        QFETCH(QString, title);
        QCOMPARE(dialog.windowTitle(), title);
        dialog.entryEdit->setText(u"aaa"_s);
        dialog.descriptionEdit->setText(u"now first"_s);
        const qsizetype size = target.size();
        ok(dialog);
        QCOMPARE(target.size(), size);
        // The first sub-item changes, any further one stays; a sorted list re-sorts.
        const RuleEntry changed{u"aaa"_s, {u"now first"_s, u"extra"_s}};
        QVERIFY(target.entries().contains(changed));
        if (target.isSorted())
            QCOMPARE(target.at(0), changed);
        else
            QCOMPARE(target.at(selected), changed);
    }

    void editWithNothingSelectedChangesNothing() {
        RuleLists lists;
        ListEntryDialog dialog(lists);
        dialog.openMode(Mode4::EditSubject, u"Re: Details"_s, u"Virus"_s);
        dialog.entryEdit->setText(u"changed"_s);
        ok(dialog);
        QCOMPARE(lists.SubjectBlack.entries(), RuleLists().SubjectBlack.entries());
        QVERIFY(!dialog.isVisible());

        RuleLists other;
        other.SubjectBlack.add(u"bare"_s, {}); // read from a file without a description
        const qsizetype at = other.SubjectBlack.entries().indexOf(RuleEntry{u"bare"_s, {}});
        ListEntryDialog edit(other);
        edit.setSelectionSource([&](ListKind) { return at; });
        edit.openMode(Mode4::EditSubject, u"bare"_s);
        edit.descriptionEdit->setText(u"now described"_s);
        ok(edit);
        QVERIFY(other.SubjectBlack.entries().contains(RuleEntry{u"bare"_s, {u"now described"_s}}));
    }

    void xandy() {
        RuleLists lists;
        lists.XandY.add(u"free"_s, {u"shop"_s, u"Offers"_s});
        lists.XandY.add(u"cheap"_s, {u"pills"_s}); // written elsewhere: no description
        qsizetype selected = 0;
        WordPairDialog dialog(lists);
        dialog.setSelectionSource([&] { return selected; });
        QCOMPARE(dialog.windowTitle(), u"Subject x and y to blacklist"_s);

        dialog.openMode(WordPairDialog::Mode::EditXY, u"free"_s, u"shop"_s, u"Offers"_s);
        QCOMPARE(dialog.windowTitle(), u"Subject x and y to edit in blacklist"_s);
        QCOMPARE(dialog.okButton->text(), u"Edit Item"_s);
        ok(dialog);
        QCOMPARE(lists.XandY.at(0), (RuleEntry{u"free"_s, {u"shop"_s, u"Offers"_s}}));

        selected = 1;
        dialog.openMode(WordPairDialog::Mode::EditXY, u"cheap"_s, u"pills"_s);
        dialog.descriptionEdit->setText(u"Pharmacy"_s);
        ok(dialog);
        QCOMPARE(lists.XandY.at(1), (RuleEntry{u"cheap"_s, {u"pills"_s, u"Pharmacy"_s}}));

        // Opened for adding after an edit: the add caption, and an entry appended.
        dialog.openMode(WordPairDialog::Mode::AddXY, u"Great offers"_s);
        QCOMPARE(dialog.okButton->text(), u"Add Item"_s);
        QCOMPARE(dialog.windowTitle(), u"Subject x and y to blacklist"_s);
        QVERIFY(dialog.secondWordEdit->text().isEmpty());
        QTest::keyClicks(dialog.secondWordEdit, u"today"_s);
        ok(dialog);
        QCOMPARE(lists.XandY.size(), 3);
        QCOMPARE(lists.XandY.at(2), (RuleEntry{u"Great offers"_s, {u"today"_s, QString()}}));

        // A pair with an empty word would never match: it is refused, and the dialog says
        // which word is missing beside the words, staying open.
        for (const auto &[first, second] :
             {std::pair{u"cheap"_s, QString()}, std::pair{QString(), u"pills"_s}}) {
            dialog.openMode(WordPairDialog::Mode::AddXY, first, second);
            dialog.okButton->click();
            QCOMPARE(lists.XandY.size(), 3);
            QVERIFY(dialog.isVisible());
            const auto *error = dialog.findChild<QLabel *>(u"wordsError"_s);
            QVERIFY(error && error->isVisibleTo(&dialog));
            QVERIFY2(error->text().contains(first.isEmpty() ? u"first"_s : u"second"_s),
                     qPrintable(error->text()));
            dialog.cancelButton->click();
        }

        // Cancel changes nothing and empties the fields.
        dialog.openMode(WordPairDialog::Mode::AddXY, u"x"_s, u"y"_s, u"z"_s);
        dialog.cancelButton->click();
        QCOMPARE(lists.XandY.size(), 3);
        QVERIFY(dialog.firstWordEdit->text().isEmpty() && dialog.descriptionEdit->text().isEmpty());
    }
};

QTEST_MAIN(TestListDialogs)
#include "tst_listdialogs.moc"
