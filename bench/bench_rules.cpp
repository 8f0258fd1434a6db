// Classification and list-file speed at the sizes a shared master list reaches.

#include "benchmain.h"
#include "core/rules/listfile.h"
#include "core/rules/rulelists.h"
#include "core/screening/classify.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <array>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane;
using namespace Qt::StringLiterals;

namespace {

// Word-like strings of random lower-case letters.
QString randomWord(QRandomGenerator &rng, int minLength, int maxLength) {
    QString w;
    const int length = minLength + rng.bounded(maxLength - minLength + 1);
    for (int i = 0; i < length; ++i)
        w += QChar(u'a' + rng.bounded(26));
    return w;
}

RuleLists makeLists(int entries, QRandomGenerator &rng) {
    RuleLists lists;
    QList<RuleEntry> subjects, emails, friends;
    for (int i = 0; i < entries; ++i) {
        subjects.append({randomWord(rng, 4, 10) + u' ' + randomWord(rng, 3, 8), {u"spam"_s}});
        emails.append({u"@"_s + randomWord(rng, 5, 12) + u".example"_s, {u"spammer"_s}});
        friends.append({randomWord(rng, 4, 9) + u"@friends.example"_s, {QString()}});
        lists.XandY.add(randomWord(rng, 4, 8), {randomWord(rng, 4, 8), QString()});
    }
    lists.SubjectBlack.assign(subjects);
    lists.EmailBlack.assign(emails);
    lists.Friendly.assign(friends);
    return lists;
}

struct Message {
    QString subject, sender, headers;
};

// Ordinary mail: a subject of a few words, a sender with a display name, a dozen Received
// lines; one message in five quotes an entry of the subject or e-mail black list.
QList<Message> makeMessages(int count, const RuleLists &lists, QRandomGenerator &rng) {
    QList<Message> messages;
    for (int i = 0; i < count; ++i) {
        QString headers;
        for (int h = 0; h < 12; ++h)
            headers += u"Received: from relay%1.example.net by mx.example.org; Thu, 10 Dec 2026 "
                       u"11:25:00 +0000\r\n"_s.arg(h);
        if (i % 3 == 0)
            headers += u"X-Spam-Score: 1.%1\r\n"_s.arg(i % 10);
        QString subject = u"Re: "_s;
        for (int w = rng.bounded(3, 8); w > 0; --w)
            subject += randomWord(rng, 2, 9) + u' ';
        QString sender = randomWord(rng, 3, 8) + u' ' + randomWord(rng, 4, 10) + u" <"_s +
                         randomWord(rng, 4, 10) + u"@mail.example.org>"_s;
        if (i % 10 == 3)
            subject += lists.SubjectBlack.at(rng.bounded(lists.SubjectBlack.size())).Caption;
        if (i % 10 == 7 && !lists.EmailBlack.isEmpty())
            sender = u"x <y"_s + lists.EmailBlack.at(rng.bounded(lists.EmailBlack.size())).Caption +
                     u'>';
        messages.append({subject, sender, headers});
    }
    return messages;
}

constexpr int kMessagesPerBatch = 10'000;

void BM_ClassifyMessages(benchmark::State &state) {
    QRandomGenerator rng(42);
    const RuleLists lists = makeLists(static_cast<int>(state.range(0)), rng);
    const QList<Message> messages = makeMessages(kMessagesPerBatch, lists, rng);
    Classifier classifier;
    classifier.ClassifyMessage(lists, {}, {}, {}); // compile the lists outside the timing
    for (auto _ : state) {
        int spam = 0;
        for (const Message &m : messages)
            spam +=
                classifier.ClassifyMessage(lists, m.subject, m.sender, m.headers) == RowMark::Spam;
        benchmark::DoNotOptimize(spam);
    }
    state.SetItemsProcessed(state.iterations() * messages.size());
    state.SetLabel("10,000 messages a batch");
}
BENCHMARK(BM_ClassifyMessages)->Arg(100)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The floor for the classifier: the same messages, each read once and nothing more. Every
// code unit of subject and sender is folded, turned into the bytes the classifier matches and
// looked up in a 256-entry table (an automaton with a single state), and the header is searched
// for the spam score label, as the classifier does with rule 4 ticked. A classifier whose list
// entries cost nothing would run at this speed; the ratio of the two is what the lists cost.
void BM_ClassifyFloor(benchmark::State &state) {
    QRandomGenerator rng(42);
    const RuleLists lists = makeLists(static_cast<int>(state.range(0)), rng);
    const QList<Message> messages = makeMessages(kMessagesPerBatch, lists, rng);
    std::array<std::uint8_t, 256> table{};
    table['$'] = table['!'] = 1;
    const auto scan = [&table](const QString &text) {
        std::uint8_t found = 0;
        for (QChar qc : text) {
            char16_t u = qc.unicode();
            if (u >= u'A' && u <= u'Z')
                u += 32;
            if (u < 0x80) {
                found |= table[u];
            } else if (u < 0x800) {
                found |= table[0xC0 | (u >> 6)];
                found |= table[0x80 | (u & 0x3F)];
            } else {
                found |= table[0xE0 | (u >> 12)];
                found |= table[0x80 | ((u >> 6) & 0x3F)];
                found |= table[0x80 | (u & 0x3F)];
            }
        }
        return found;
    };
    for (auto _ : state) {
        int found = 0;
        for (const Message &m : messages)
            found += scan(m.sender) + scan(m.subject) + spamScore(m.headers).value_or(0);
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * messages.size());
    state.SetLabel("one pass over the same texts");
}
BENCHMARK(BM_ClassifyFloor)->Arg(100)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// Compiling all four lists: what the first message after loading them pays.
void BM_CompileAllLists(benchmark::State &state) {
    QRandomGenerator rng(7);
    const RuleLists lists = makeLists(static_cast<int>(state.range(0)), rng);
    for (auto _ : state) {
        Classifier classifier;
        benchmark::DoNotOptimize(classifier.ClassifyMessage(lists, u"s"_s, u"f"_s, {}));
    }
    state.SetLabel("four lists");
}
BENCHMARK(BM_CompileAllLists)->Arg(100'000)->Unit(benchmark::kMillisecond);

// Compiling the lists: what the first message after a change of a list pays.
void BM_CompileLists(benchmark::State &state) {
    QRandomGenerator rng(7);
    RuleLists lists = makeLists(static_cast<int>(state.range(0)), rng);
    Classifier classifier;
    for (auto _ : state) {
        lists.Friendly.add(u"x"_s, {}); // invalidates the compiled lists
        benchmark::DoNotOptimize(classifier.ClassifyMessage(lists, u"s"_s, u"f"_s, {}));
    }
}
BENCHMARK(BM_CompileLists)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_ClassifyReference(benchmark::State &state) {
    QRandomGenerator rng(42);
    const RuleLists lists = makeLists(static_cast<int>(state.range(0)), rng);
    const QList<Message> messages = makeMessages(100, lists, rng);
    for (auto _ : state)
        for (const Message &m : messages)
            benchmark::DoNotOptimize(
                ClassifyMessageReference(lists, m.subject, m.sender, m.headers));
    state.SetItemsProcessed(state.iterations() * messages.size());
}
BENCHMARK(BM_ClassifyReference)->Arg(10'000)->Unit(benchmark::kMillisecond);

void BM_SaveListFile(benchmark::State &state) {
    QRandomGenerator rng(1);
    const RuleLists lists = makeLists(100'000, rng);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"blsubj.dat"_s);
    for (auto _ : state)
        SaveListFile(lists.SubjectBlack, path, true);
}
BENCHMARK(BM_SaveListFile)->Unit(benchmark::kMillisecond);

void BM_LoadListFile(benchmark::State &state) {
    QRandomGenerator rng(1);
    const RuleLists lists = makeLists(100'000, rng);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"blsubj.dat"_s);
    SaveListFile(state.range(0) ? lists.SubjectBlack : lists.XandY, path, true);
    for (auto _ : state) {
        RuleList list(state.range(0) ? RuleList::Order::ByCaption : RuleList::Order::Insertion);
        LoadListFile(list, path);
        benchmark::DoNotOptimize(list.size());
    }
    state.SetLabel(state.range(0) ? "100,000 entries, sorted list" : "100,000 x-and-y entries");
}
BENCHMARK(BM_LoadListFile)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// A file whose entries are out of order: the sorted list must sort them on loading.
void BM_LoadUnsortedIntoSortedList(benchmark::State &state) {
    QRandomGenerator rng(1);
    RuleList shuffled;
    for (int i = 0; i < 100'000; ++i)
        shuffled.add(randomWord(rng, 8, 24), {u"spam"_s});
    QTemporaryDir dir;
    const QString path = dir.filePath(u"blsubj.dat"_s);
    SaveListFile(shuffled, path, true);
    for (auto _ : state) {
        RuleList list(RuleList::Order::ByCaption);
        LoadListFile(list, path);
        benchmark::DoNotOptimize(list.size());
    }
}
BENCHMARK(BM_LoadUnsortedIntoSortedList)->Unit(benchmark::kMillisecond);

// Start-up with four lists of 100,000 entries: corvane-cli classify reads the four list files
// of a data directory, compiles them and classifies one message. Reports the wall time of the
// whole process and its peak resident memory.
void BM_StartupFourLists(benchmark::State &state) {
    const QByteArray cli =
        qgetenv("CORVANE_CLI").isEmpty() ? QByteArray(CORVANE_CLI_PATH) : qgetenv("CORVANE_CLI");
    QRandomGenerator rng(3);
    RuleLists lists = makeLists(100'000, rng);
    // CORVANE_BENCH_DATA_DIR keeps the data directory there, to look at it with other tools.
    QTemporaryDir temporary;
    const QString kept = qEnvironmentVariable("CORVANE_BENCH_DATA_DIR");
    const QDir dir(kept.isEmpty() ? temporary.path() : kept);
    if (!kept.isEmpty())
        dir.mkpath(u"."_s);
    for (ListKind kind : kAllListKinds)
        SaveListFile(lists.list(kind), dir.filePath(listFileName(kind)), true);
    lists = RuleLists();
    // The peak a child reports starts from the resident size of the process it was forked
    // from: give the memory of the lists back first, and fork rather than share the memory (a
    // child that shares it starts from this process's own peak).
    malloc_trim(0);
    const QByteArray dataDir = QDir::toNativeSeparators(dir.path()).toLocal8Bit();
    std::array<const char *, 9> argv = {cli.constData(),     "classify",        "--data-dir",
                                        dataDir.constData(), "--subject",       "hello there",
                                        "--sender",          "a <b@c.example>", nullptr};
    long peakKiB = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            execv(argv[0], const_cast<char *const *>(argv.data()));
            _exit(127);
        }
        if (pid < 0) {
            state.SkipWithError("cannot start corvane-cli");
            return;
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("corvane-cli classify failed");
            return;
        }
        peakKiB = std::max(peakKiB, usage.ru_maxrss);
    }
    state.counters["peak_MiB"] = static_cast<double>(peakKiB) / 1024.0;
    state.SetLabel("corvane-cli classify, four lists of 100,000 entries");
}
BENCHMARK(BM_StartupFourLists)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    return corvane::bench::runBenchmarks(argc, argv);
}
