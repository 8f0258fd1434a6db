// The Rules and Lists window with lists of 100,000 entries: showing them, typing into a filter
// box, deleting an entry and editing one in place. Runs offscreen.

#include "benchmain.h"
#include "ui/rules/listentrydialog.h"
#include "ui/rules/tform1.h"
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
        : form4(lists), form5(lists), form1(lists, prompts, &form4, &form5) {
        QRandomGenerator rng(13);
        QList<RuleEntry> subjects;
        for (int i = 0; i < entries; ++i)
            subjects.append({randomWord(rng, 6) + u' ' + randomWord(rng, 5), {u"spam"_s}});
        lists.SubjectBlack.assign(subjects);
        form1.showWindow();
        QApplication::processEvents();
    }
    RuleLists lists;
    SilentPrompts prompts;
    ListEntryDialog form4;
    WordPairDialog form5;
    TForm1 form1;
};

void BM_ShowList(benchmark::State &state) {
    Window w(int(state.range(0)));
    for (auto _ : state) {
        w.form1.refreshAll();
        w.form1.lvblsubj->repaint();
    }
}
BENCHMARK(BM_ShowList)->Arg(100000)->Unit(benchmark::kMillisecond);

// One keystroke in the filter box narrows 100,000 rows, and the next widens them again.
void BM_FilterKeystroke(benchmark::State &state) {
    Window w(int(state.range(0)));
    for (auto _ : state) {
        w.form1.edFilterSubj->setText(u"ab"_s);
        w.form1.lvblsubj->repaint();
        w.form1.edFilterSubj->setText(u"a"_s);
        w.form1.lvblsubj->repaint();
    }
}
BENCHMARK(BM_FilterKeystroke)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_DeleteEntry(benchmark::State &state) {
    Window w(int(state.range(0)));
    for (auto _ : state) {
        w.form1.lvblsubj->setCurrentIndex(w.form1.lvblsubj->model()->index(500, 0));
        w.form1.DeleteClick(ListKind::SubjectBlack);
        w.lists.SubjectBlack.add(u"refill"_s, {});
    }
}
BENCHMARK(BM_DeleteEntry)->Arg(100000)->Unit(benchmark::kMillisecond);

// Editing a caption in place moves the entry across the sorted list.
void BM_EditInPlace(benchmark::State &state) {
    Window w(int(state.range(0)));
    QAbstractItemModel *model = w.form1.lvblsubj->model();
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
