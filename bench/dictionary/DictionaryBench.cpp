// Load and lookup speed of the configuration dictionary on generated files of about 100 KB,
// 1 MB and 10 MB, against a map of std::unordered_map keyed by lower-cased names, filled by
// inih. Targets: loading at least as fast as inih into maps; lookups within 1.2x of the maps.
#include "corvanelib/log/dictionary/ConfigDictionary.h"

#include <benchmark/benchmark.h>
#include <ini.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

using namespace corvanelib;

namespace {

using Section = std::unordered_map<std::string, std::string>;
using Maps = std::unordered_map<std::string, Section>;

struct Corpus {
    std::string path;
    // (section, key) pairs as the file writes them (mixed case), in a shuffled order.
    std::vector<std::pair<std::string, std::string>> probes;
};

// Sections of 40 keys with values of 16 to 48 characters, until `bytes` are written.
Corpus Generate(std::size_t bytes) {
    Corpus corpus;
    corpus.path = "/tmp/cvn_dictionary_bench_" + std::to_string(static_cast<long>(getpid())) + "_" +
                  std::to_string(bytes) + ".ini";
    std::mt19937 random(static_cast<unsigned>(bytes));
    std::string text;
    text.reserve(bytes + 4096);
    for (int s = 0; text.size() < bytes; ++s) {
        const std::string section = "Section_" + std::to_string(s) + "_Name";
        text += "; settings of group " + std::to_string(s) + "\n[" + section + "]\n";
        for (int k = 0; k < 40; ++k) {
            const std::string key = "Option" + std::to_string(k) + "Key";
            std::string value(16 + random() % 33, 'v');
            for (char& c : value) {
                c = static_cast<char>('a' + random() % 26);
            }
            text += key + " = " + value + "\n";
            corpus.probes.emplace_back(section, key);
        }
    }
    std::shuffle(corpus.probes.begin(), corpus.probes.end(), random);
    std::FILE* f = std::fopen(corpus.path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return corpus;
}

std::unordered_map<std::size_t, Corpus>& Corpora() {
    static std::unordered_map<std::size_t, Corpus> corpora;
    return corpora;
}

void RemoveCorpora() {
    for (const auto& corpus : Corpora()) {
        std::remove(corpus.second.path.c_str());
    }
}

const Corpus& CorpusOf(std::size_t bytes) {
    auto& corpora = Corpora();
    auto it = corpora.find(bytes);
    if (it == corpora.end()) {
        it = corpora.emplace(bytes, Generate(bytes)).first;
    }
    return it->second;
}

void LowerInto(std::string& out, const char* text) {
    out.assign(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
}

int InihHandler(void* user, const char* section, const char* name, const char* value) {
    auto& maps = *static_cast<Maps*>(user);
    std::string lowerSection;
    std::string lowerName;
    LowerInto(lowerSection, section);
    LowerInto(lowerName, name);
    maps[lowerSection].emplace(std::move(lowerName), value); // first key wins, as ours
    return 1;
}

void LoadMaps(const Corpus& corpus, Maps& maps) {
    if (ini_parse(corpus.path.c_str(), &InihHandler, &maps) != 0) {
        std::abort();
    }
}

void BM_LoadDictionary(benchmark::State& state) {
    const Corpus& corpus = CorpusOf(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        ConfigDictionary d;
        if (LoadIfChanged(d, corpus.path.c_str()) != kLoadOk) {
            state.SkipWithError("load failed");
        }
        benchmark::DoNotOptimize(d.sections.count);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_LoadDictionaryWithAllocator(benchmark::State& state) {
    const Corpus& corpus = CorpusOf(static_cast<std::size_t>(state.range(0)));
    BlockAllocator allocator;
    for (auto _ : state) {
        ConfigDictionary d;
        d.allocator = &allocator;
        LoadIfChanged(d, corpus.path.c_str());
        benchmark::DoNotOptimize(d.sections.count);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_LoadInihIntoMaps(benchmark::State& state) {
    const Corpus& corpus = CorpusOf(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        Maps maps;
        LoadMaps(corpus, maps);
        benchmark::DoNotOptimize(maps.size());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_LookupDictionary(benchmark::State& state) {
    const Corpus& corpus = CorpusOf(static_cast<std::size_t>(state.range(0)));
    ConfigDictionary d(corpus.path.c_str());
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& probe = corpus.probes[i];
        const ConfigKeyEntry* entry =
            FindEntry(FindSection(d, probe.first.c_str()), probe.second.c_str());
        benchmark::DoNotOptimize(entry);
        if (++i == corpus.probes.size()) {
            i = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LookupMaps(benchmark::State& state) {
    const Corpus& corpus = CorpusOf(static_cast<std::size_t>(state.range(0)));
    Maps maps;
    LoadMaps(corpus, maps);
    std::string section;
    std::string key;
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& probe = corpus.probes[i];
        LowerInto(section, probe.first.c_str());
        LowerInto(key, probe.second.c_str());
        const std::string* value = nullptr;
        const auto s = maps.find(section);
        if (s != maps.end()) {
            const auto k = s->second.find(key);
            if (k != s->second.end()) {
                value = &k->second;
            }
        }
        benchmark::DoNotOptimize(value);
        if (++i == corpus.probes.size()) {
            i = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

constexpr long kSmall = 100 * 1024;
constexpr long kMedium = 1024 * 1024;
constexpr long kLarge = 10 * 1024 * 1024;

BENCHMARK(BM_LoadDictionary)->Arg(kSmall)->Arg(kMedium)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadDictionaryWithAllocator)
    ->Arg(kSmall)
    ->Arg(kMedium)
    ->Arg(kLarge)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadInihIntoMaps)
    ->Arg(kSmall)
    ->Arg(kMedium)
    ->Arg(kLarge)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupDictionary)->Arg(kSmall)->Arg(kMedium)->Arg(kLarge);
BENCHMARK(BM_LookupMaps)->Arg(kSmall)->Arg(kMedium)->Arg(kLarge);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemoveCorpora();
    return 0;
}
