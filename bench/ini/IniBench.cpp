// Speed of the INI engine against SimpleIni and inih on generated files of about 100 KB, 1 MB
// and 10 MB, a third of whose lines are comments or blank: loading, and loading, changing 100
// values and saving. inih only parses (it keeps nothing, so it cannot save). Prints MB/s per
// run and, at the end, each library's speed as a ratio to SimpleIni's.
// Target: CIniFile faster than SimpleIni on both loading and load-change-save.
//
// The files live in $CORVANE_BENCH_DIR, else /tmp. CIniFile's save flushes the file to the
// disk before it replaces the old one (SimpleIni's does not), so on a real disk the save
// figures include that flush.
//
// glibc gives freed memory back to the system once the free top of the heap passes a limit
// that it moves with the sizes of freed blocks; a library whose working set of a 10 MB file
// lies above that limit then pays for fresh pages in every repetition of the loop, one below
// it does not. The limits are fixed far above the working sets for every library alike, so
// that the loop measures the libraries rather than that heuristic; set
// CORVANE_BENCH_DEFAULT_MALLOC=1 to run with glibc's own behaviour.
#include "console/config/IniFile.h"

// 8-bit text both sides: SimpleIni neither converts nor validates.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <benchmark/benchmark.h>
#include <ini.h>

#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Corpus {
    std::string path;
    std::string output;
    std::size_t bytes = 0;
    std::vector<std::pair<std::string, std::string>> changes; // 100 (section, name) pairs
};

std::string Directory() {
    const char* dir = std::getenv("CORVANE_BENCH_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

// Sections of 20 to 40 lines; of the lines, one third comments or blank, the rest pairs with
// values of 8 to 40 characters.
Corpus Generate(std::size_t target) {
    Corpus corpus;
    const std::string stem = Directory() + "/corvane_ini_bench_" + std::to_string(getpid()) + "_" +
                             std::to_string(target);
    corpus.path = stem + ".ini";
    corpus.output = stem + ".out.ini";
    std::mt19937 random(static_cast<unsigned>(target));
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string text = "// write by Friday, December 04, 2026\r\n";
    text.reserve(target + 4096);
    for (int section = 0; text.size() < target; ++section) {
        const std::string name = "Section" + std::to_string(section);
        text += "[" + name + "]\r\n";
        const int lines = 20 + static_cast<int>(random() % 21);
        for (int line = 0; line < lines; ++line) {
            switch (random() % 6) {
            case 0:
                text += "; comment line " + std::to_string(random()) + "\r\n";
                break;
            case 1:
                text += "\r\n";
                break;
            default: {
                const std::string key = "key" + std::to_string(line);
                text += key + " = " + std::string(8 + random() % 33, 'a' + random() % 26) + "\r\n";
                pairs.emplace_back(name, key);
            }
            }
        }
    }
    std::FILE* file = std::fopen(corpus.path.c_str(), "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
        std::fprintf(stderr, "cannot write %s\n", corpus.path.c_str());
        std::exit(1);
    }
    std::fclose(file);
    corpus.bytes = text.size();
    std::shuffle(pairs.begin(), pairs.end(), random);
    pairs.resize(100);
    corpus.changes = std::move(pairs);
    return corpus;
}

const std::vector<Corpus>& Corpora() {
    static const std::vector<Corpus> corpora = {Generate(100 << 10), Generate(1 << 20),
                                                Generate(10 << 20)};
    return corpora;
}

const Corpus& CorpusFor(const benchmark::State& state) {
    return Corpora()[static_cast<std::size_t>(state.range(0))];
}

void Throughput(benchmark::State& state, const Corpus& corpus) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.bytes));
    state.SetLabel(std::to_string(corpus.bytes >> 10) + " KB");
}

void Load_CIniFile(benchmark::State& state) {
    const Corpus& corpus = CorpusFor(state);
    for (auto _ : state) {
        CIniFile ini;
        ini.SetPath(corpus.path.c_str());
        if (!ini.ReadFile()) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(ini.Keys().data());
    }
    Throughput(state, corpus);
}

void Load_SimpleIni(benchmark::State& state) {
    const Corpus& corpus = CorpusFor(state);
    for (auto _ : state) {
        CSimpleIniCaseA ini(false, true); // 8-bit, duplicate names kept
        if (ini.LoadFile(corpus.path.c_str()) < 0) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(&ini);
    }
    Throughput(state, corpus);
}

void Load_inih(benchmark::State& state) {
    const Corpus& corpus = CorpusFor(state);
    for (auto _ : state) {
        long pairs = 0;
        auto handler = [](void* user, const char*, const char*, const char*) -> int {
            ++*static_cast<long*>(user);
            return 1;
        };
        // A positive result is the first line inih did not take (the stamp line); it parses on.
        if (ini_parse(corpus.path.c_str(), handler, &pairs) < 0) {
            state.SkipWithError("parse failed");
        }
        benchmark::DoNotOptimize(pairs);
    }
    Throughput(state, corpus);
}

void LoadChangeSave_CIniFile(benchmark::State& state) {
    const Corpus& corpus = CorpusFor(state);
    for (auto _ : state) {
        CIniFile ini;
        ini.SetPath(corpus.path.c_str());
        ini.ReadFile();
        for (const auto& change : corpus.changes) {
            ini.SetValue(change.first.c_str(), change.second.c_str(), "changed value", false);
        }
        if (!ini.WriteFile(corpus.output.c_str())) {
            state.SkipWithError("write failed");
        }
    }
    Throughput(state, corpus);
}

void LoadChangeSave_SimpleIni(benchmark::State& state) {
    const Corpus& corpus = CorpusFor(state);
    for (auto _ : state) {
        CSimpleIniCaseA ini(false, true);
        ini.LoadFile(corpus.path.c_str());
        for (const auto& change : corpus.changes) {
            ini.SetValue(change.first.c_str(), change.second.c_str(), "changed value");
        }
        if (ini.SaveFile(corpus.output.c_str()) < 0) {
            state.SkipWithError("write failed");
        }
    }
    Throughput(state, corpus);
}

// Keeps each benchmark's speed for the ratio table: the median when the runs are repeated
// (--benchmark_repetitions, advisable on a busy machine), else the single run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const auto it = run.counters.find("bytes_per_second");
            if ((single || median) && it != run.counters.end() && !run.error_occurred) {
                // "Load_CIniFile/2/..." -> operation, library, size index
                const std::string name = run.run_name.function_name;
                const std::size_t underscore = name.find('_');
                const int size = std::atoi(run.run_name.args.c_str());
                const std::string op = name.substr(0, underscore);
                speeds_[{op, size}][name.substr(underscore + 1)] = it->second.value;
            }
        }
    }

    void PrintRatios() const {
        static const char* const kSizes[] = {"100 KB", "1 MB", "10 MB"};
        std::printf("\n%-24s %-10s %10s %12s\n", "operation", "library", "MB/s", "x SimpleIni");
        for (const auto& group : speeds_) {
            const auto base = group.second.find("SimpleIni");
            for (const auto& library : group.second) {
                const double ratio =
                    base != group.second.end() ? library.second / base->second : 0.0;
                const std::string op =
                    group.first.first + " " + kSizes[std::min(group.first.second, 2)];
                std::printf("%-24s %-10s %10.1f %12.2f\n", op.c_str(), library.first.c_str(),
                            library.second / 1e6, ratio);
            }
        }
    }

private:
    std::map<std::pair<std::string, int>, std::map<std::string, double>> speeds_;
};

// Loading is timed in processor time (the file sits in the cache; other work on a busy
// machine does not count); load-change-save in wall-clock time, so that the savers' disk work
// counts. At least a second of runs each.
void Loads(benchmark::internal::Benchmark* b) {
    b->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(1.0);
}
void Saves(benchmark::internal::Benchmark* b) {
    b->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
}

} // namespace

BENCHMARK(Load_CIniFile)->Apply(Loads);
BENCHMARK(Load_SimpleIni)->Apply(Loads);
BENCHMARK(Load_inih)->Apply(Loads);
BENCHMARK(LoadChangeSave_CIniFile)->Apply(Saves);
BENCHMARK(LoadChangeSave_SimpleIni)->Apply(Saves);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
#ifdef __GLIBC__
    if (std::getenv("CORVANE_BENCH_DEFAULT_MALLOC") == nullptr) {
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
    }
#endif
    Corpora();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    for (const Corpus& corpus : Corpora()) {
        std::remove(corpus.path.c_str());
        std::remove(corpus.output.c_str());
    }
    benchmark::Shutdown();
    return 0;
}
