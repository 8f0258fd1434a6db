// The Rules and Lists window with lists of 100,000 entries: showing them, typing into a filter
// box, deleting an entry and editing one in place. Runs offscreen.

#include "benchmain.h"
#include "ui/rules/listentrydialog.h"
#include "ui/rules/ruleswindow.h"
#include "ui/rules/wordpairdialog.h"
#include "ui/shell/prompts.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTreeView>

#include <benchmark/benchmark.h>

using namespace corvane;
using namespace Qt::StringLiterals;

namespace {

class SilentPrompts final : public Prompts {
public:
    QMessageBox::StandardButton show(QWidget *, Icon, const QString &, const QString &,
                                     QMessageBox::StandardButtons) override {
        return QMessageBox::Ok;
    }
};

QString randomWord(QRandomGenerator &rng, int length) {
    QString w;
    for (int i = 0; i < length; ++i)
        w += QChar(u'a' + rng.bounded(26));
    return w;
}

struct Window {
    explicit Window(int entries)
        : entryDialog(lists), pairDialog(lists), rules(lists, prompts, &entryDialog, &pairDialog) {
        QRandomGenerator rng(13);
        QList<RuleEntry> subjects;
        for (int i = 0; i < entries; ++i)
            subjects.append({randomWord(rng, 6) + u' ' + randomWord(rng, 5), {u"spam"_s}});
        lists.SubjectBlack.assign(subjects);
        rules.showWindow();
        QApplication::processEvents();
    }
    RuleLists lists;
    SilentPrompts prompts;
    ListEntryDialog entryDialog;
    WordPairDialog pairDialog;
    RulesWindow rules;
};

void BM_ShowList(benchmark::State &state) {
    Window w(int(state.range(0)));
    for (auto _ : state) {
        w.rules.refreshAll();
        w.rules.subjectList->repaint();
    }
}
BENCHMARK(BM_ShowList)->Arg(100000)->Unit(benchmark::kMillisecond);

// One keystroke in the filter box narrows 100,000 rows, and the next widens them again.
void BM_FilterKeystroke(benchmark::State &state) {
    Window w(int(state.range(0)));
    for (auto _ : state) {
        w.rules.subjectFilter->setText(u"ab"_s);
        w.rules.subjectList->repaint();
        w.rules.subjectFilter->setText(u"a"_s);
        w.rules.subjectList->repaint();
    }
}
BENCHMARK(BM_FilterKeystroke)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_DeleteEntry(benchmark::State &state) {
    Window w(int(state.range(0)));
    for (auto _ : state) {
        w.rules.subjectList->setCurrentIndex(w.rules.subjectList->model()->index(500, 0));
        w.rules.deleteEntry(ListKind::SubjectBlack);
        w.lists.SubjectBlack.add(u"refill"_s, {});
    }
}
BENCHMARK(BM_DeleteEntry)->Arg(100000)->Unit(benchmark::kMillisecond);

// Editing a caption in place moves the entry across the sorted list.
void BM_EditInPlace(benchmark::State &state) {
    Window w(int(state.range(0)));
    QAbstractItemModel *model = w.rules.subjectList->model();
    bool toEnd = true;
    for (auto _ : state) {
        const int row = toEnd ? 0 : model->rowCount() - 1;
        model->setData(model->index(row, 0), toEnd ? u"zzzzzz"_s : u"aaaaaa"_s);
        toEnd = !toEnd;
    }
}
BENCHMARK(BM_EditInPlace)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return corvane::bench::runBenchmarks(argc, argv);
}
