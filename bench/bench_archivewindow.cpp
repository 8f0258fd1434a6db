// The saved e-mails window on an archive of 5,000 copies: the time until the list has been
// read to its end, and the time until its first rows show. The list is read on a worker
// thread, so the window answers meanwhile. Runs offscreen.

#include "benchmain.h"
#include "core/records/archivecopies.h"
#include "ui/records/savedemailswindow.h"
#include "ui/shell/prompts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
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

// An archive folder of `count` copies of a typical spam message (about 6 KB each, a header of
// twenty lines).
class Archive {
public:
    explicit Archive(int count) {
        QRandomGenerator rng(5);
        QByteArray body;
        for (int line = 0; line < 80; ++line)
            body += QByteArray(70, char('a' + rng.bounded(26))) + "\r\n";
        for (int i = 0; i < count; ++i) {
            QByteArray copy;
            for (int r = 0; r < 14; ++r)
                copy += "Received: from relay" + QByteArray::number(r) +
                        ".example.net by mx.example.org; Tue, 1 Dec 2026 10:00:00 +0000\r\n";
            copy += "From: Offers " + QByteArray::number(i) +
                    " <offers@deals.example>\r\n"
                    "To: Me <me@example.net>\r\n"
                    "Subject: =?UTF-8?Q?Gro=C3=9Fe_Angebote_" +
                    QByteArray::number(i) +
                    "?=\r\n"
                    "Date: Tue, 1 Dec 2026 10:00:00 +0000\r\n"
                    "Message-ID: <" +
                    QByteArray::number(i) +
                    "@deals.example>\r\n"
                    "\r\n" +
                    body + ".\r\n";
            QFile file(QDir(m_dir.path()).filePath(u"Offer %1.eml"_s.arg(i)));
            if (!file.open(QIODevice::WriteOnly) || file.write(copy) != copy.size())
                qFatal("cannot write the archive");
        }
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

void BM_ReadWholeArchive(benchmark::State &state) {
    const Archive archive(int(state.range(0)));
    SilentPrompts prompts;
    SavedEmailsWindow window(archive.path(), prompts);
    window.show();
    QApplication::processEvents();
    for (auto _ : state) {
        window.scanArchive();
        while (window.scanning())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (window.archiveNames().size() != state.range(0))
            state.SkipWithError("not every copy was listed");
    }
}
BENCHMARK(BM_ReadWholeArchive)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();

// From Refresh to the first rows on the screen.
void BM_FirstRowsShown(benchmark::State &state) {
    const Archive archive(int(state.range(0)));
    SilentPrompts prompts;
    SavedEmailsWindow window(archive.path(), prompts);
    window.show();
    QApplication::processEvents();
    for (auto _ : state) {
        window.scanArchive();
        while (window.copyList->model()->rowCount() == 0)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        window.copyList->repaint();
        state.PauseTiming();
        while (window.scanning())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstRowsShown)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reading alone, on one thread, without the window.
void BM_ReadCopies(benchmark::State &state) {
    const Archive archive(int(state.range(0)));
    for (auto _ : state) {
        const QStringList names = archiveCopyNames(archive.path());
        for (const QString &name : names)
            benchmark::DoNotOptimize(readArchiveCopy(archive.path(), name));
    }
}
BENCHMARK(BM_ReadCopies)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return corvane::bench::runBenchmarks(argc, argv);
}
