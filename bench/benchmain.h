#pragma once

// The main of every benchmark program: runs the benchmarks the command line selects and exits
// non-zero when one of them reported an error (SkipWithError: it could not run, for example
// without the test servers, or its own checks failed), so that a script never takes an error
// for a result.

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace corvane::bench {

// Shows the runs with the reporter that --benchmark_format names (console or json) and notes
// whether any of them reported an error.
class ErrorNotingReporter final : public benchmark::BenchmarkReporter {
public:
    explicit ErrorNotingReporter(std::string_view format) {
        if (format == "json")
            m_shown = std::make_unique<benchmark::JSONReporter>();
        else // console; the library's CSV reporter is deprecated
            m_shown = std::make_unique<benchmark::ConsoleReporter>(
                isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                      : benchmark::ConsoleReporter::OO_Tabular);
    }

    bool failed() const { return m_failed; }

    bool ReportContext(const Context &context) override { return m_shown->ReportContext(context); }
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs)
            m_failed = m_failed || run.error_occurred;
        m_shown->ReportRuns(runs);
    }
    void Finalize() override { m_shown->Finalize(); }

private:
    std::unique_ptr<benchmark::BenchmarkReporter> m_shown;
    bool m_failed = false;
};

// Exit code 0 when every benchmark ran, 1 when one reported an error, 2 for an unknown option.
inline int runBenchmarks(int argc, char **argv) {
    std::string_view format = "console";
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--benchmark_format=", 19) == 0)
            format = argv[i] + 19;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    ErrorNotingReporter reporter(format);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.failed() ? 1 : 0;
}

} // namespace corvane::bench
