// Key and value rules over a large .reg file, named by ORVEX_BENCH_REG (e.g. one made by
// `gen_profile.py --reg-only 60 -o big.reg`); without it nothing runs.
//
// BM_FilePass times what the registry pass does to one file (parse, rules, sort, markers,
// export), once without rules and once with 100 mixed rules, so the two can be compared.
// BM_RulesOnly times the 100 rules alone on the first 1/8, 1/4, 1/2 and all of the file's keys
// and fits the time to the key count: tree deletions and renames visit every key, so the time
// of a rule may grow linearly with the keys, never faster.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/text.h"
#include "regfile/key_order.h"
#include "regfile/reg_reader.h"
#include "regfile/reg_writer.h"
#include "regfile/registry_document.h"
#include "rules/migration_rules.h"
#include "transforms/registry/key_rules.h"
#include "transforms/registry/value_rules.h"

namespace {

namespace fs = std::filesystem;
using orvex::KeyRule;
using orvex::MigrationRule;
using orvex::RegistryDocument;
using orvex::RegistryKeyEntry;
using orvex::RuleKind;
using orvex::ValueRule;

const char* RegPath() { return std::getenv("ORVEX_BENCH_REG"); }

// The output file of this process, next to nothing else.
const fs::path& OutputPath() {
  static const fs::path path =
      fs::temp_directory_path() /
      ("orvex-bench-registry-rules-" + std::to_string(std::random_device()()) + ".reg");
  return path;
}

RegistryDocument Load() {
  RegistryDocument document;
  if (orvex::FAILED(orvex::ParseRegFile(document, orvex::ToUtf16(RegPath())))) std::abort();
  return document;
}

const RegistryDocument& FullDocument() {
  static const RegistryDocument document = Load();
  return document;
}

// The first `count` keys of the file, with the lookup index already built as the reader leaves
// it.
RegistryDocument Prefix(int count) {
  RegistryDocument document;
  for (int i = 0; i < count; ++i) document.AddKey(FullDocument().KeyAt(i));
  static_cast<void>(document.FindKey(u"HKEY_CURRENT_USER"));
  return document;
}

MigrationRule KeyRuleOf(std::u16string action, std::u16string source,
                        std::u16string destination = {}, std::u16string value = {}) {
  MigrationRule rule;
  rule.kind = RuleKind::Key;
  rule.key =
      KeyRule{std::move(action), std::move(destination), std::move(source), std::move(value)};
  return rule;
}

MigrationRule ValueRuleOf(std::u16string action, std::u16string key, std::u16string name) {
  MigrationRule rule;
  rule.kind = RuleKind::Value;
  rule.value.action = std::move(action);
  rule.value.key = std::move(key);
  rule.value.source = std::move(name);
  return rule;
}

// The rule's form of a document path: every other rule names its root in the short form.
std::u16string RulePath(const RegistryKeyEntry& key, int n) {
  constexpr std::u16string_view kLong = u"HKEY_CURRENT_USER\\";
  if (n % 2 == 0 && key.path().starts_with(kLong)) {
    return u"HKCU\\" + std::u16string(key.path().substr(kLong.size()));
  }
  return std::u16string(key.path());
}

// The name of the key's first value, which a rule carries as its own text.
std::u16string FirstName(const RegistryKeyEntry& key) {
  return std::u16string(key.values()[0].name);
}

// 100 rules, ten of each action, on keys spread over the document; every value rule names a
// value that the file has.
std::vector<MigrationRule> MakeRules(const RegistryDocument& document) {
  std::vector<int> valued;
  for (int i = 0; i < document.size(); ++i) {
    if (!document.KeyAt(i).values().empty()) valued.push_back(i);
  }
  if (valued.empty()) std::abort();
  int next = 0;
  auto pick = [&]() -> const RegistryKeyEntry& {
    const std::size_t at = (static_cast<std::size_t>(++next) * 7919) % valued.size();
    return document.KeyAt(valued[at]);
  };
  std::vector<MigrationRule> rules;
  for (int round = 0; round < 10; ++round) {
    const std::u16string n = orvex::ToUtf16(std::to_string(round));
    const RegistryKeyEntry& create = pick();
    rules.push_back(KeyRuleOf(u"create", RulePath(create, round) + u"\\Bench " + n));
    rules.push_back(KeyRuleOf(u"delete", RulePath(pick(), round)));
    const RegistryKeyEntry& renamed = pick();
    rules.push_back(
        KeyRuleOf(u"rename", RulePath(renamed, round), RulePath(renamed, round + 1) + u" Renamed"));
    const RegistryKeyEntry& from = pick();
    rules.push_back(
        KeyRuleOf(u"move_value", RulePath(from, round), RulePath(pick(), round), FirstName(from)));

    MigrationRule added = ValueRuleOf(u"set", RulePath(pick(), round), u"Bench " + n);
    added.value.type = u"string";
    added.value.data = u"Benchmark text " + n;
    rules.push_back(added);

    const RegistryKeyEntry& replaced = pick();
    MigrationRule integer = ValueRuleOf(u"set", RulePath(replaced, round), FirstName(replaced));
    integer.value.type = u"integer";
    integer.value.data = u"12345";
    rules.push_back(integer);

    const RegistryKeyEntry& typed = pick();
    MigrationRule other = ValueRuleOf(u"set", RulePath(typed, round), FirstName(typed));
    switch (round % 4) {
      case 0:
        other.value.type = u"expandable";
        other.value.data = u"%HOME%\\Bench";
        other.value.flags = u"1";
        break;
      case 1:
        other.value.type = u"multi";
        other.value.data = u"first\nsecond\n\nthird";
        break;
      case 2:
        other.value.type = u"binary";
        other.value.data = u"AAECAwQFBgcICQoLDA0ODw==";
        break;
      default:
        other.value.type = u"string";
        other.value.data = u"AppData\\Bench\\settings.ini";
        other.value.flags = u"2";
        break;
    }
    rules.push_back(other);

    const RegistryKeyEntry& converted = pick();
    MigrationRule convert =
        ValueRuleOf(u"convert", RulePath(converted, round), FirstName(converted));
    convert.value.type = u"binary";
    rules.push_back(convert);

    const RegistryKeyEntry& renamed_value = pick();
    MigrationRule rename =
        ValueRuleOf(u"rename", RulePath(renamed_value, round), FirstName(renamed_value));
    rename.value.destination = FirstName(renamed_value) + u" 2";
    rules.push_back(rename);

    const RegistryKeyEntry& deleted = pick();
    rules.push_back(ValueRuleOf(u"delete", RulePath(deleted, round), FirstName(deleted)));
  }
  return rules;
}

void ApplyRules(RegistryDocument& document, const std::vector<MigrationRule>& rules,
                benchmark::State& state) {
  for (const MigrationRule& rule : rules) {
    const orvex::HRESULT hr = rule.kind == RuleKind::Key
                                  ? orvex::ProcessRegistryKey(document, rule.key)
                                  : orvex::ProcessRegistryValue(document, rule.value);
    if (orvex::FAILED(hr)) state.SkipWithError("a rule failed");
  }
}

void BM_FilePass(benchmark::State& state) {
  const bool with_rules = state.range(0) != 0;
  const std::vector<MigrationRule> rules = MakeRules(FullDocument());
  const std::u16string input = orvex::ToUtf16(RegPath());
  const std::u16string output = orvex::ToUtf16(OutputPath().string());
  for (auto _ : state) {
    RegistryDocument document;
    if (orvex::FAILED(orvex::ParseRegFile(document, input))) state.SkipWithError("parse failed");
    if (with_rules) ApplyRules(document, rules, state);
    orvex::SortKeys(document);
    orvex::PlaceImportMarkers(document);
    if (orvex::FAILED(orvex::ExportRegFile(document, output))) state.SkipWithError("export failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(fs::file_size(RegPath())) * state.iterations());
  state.counters["keys"] = FullDocument().size();
  state.counters["rules"] = with_rules ? static_cast<double>(rules.size()) : 0;
}
BENCHMARK(BM_FilePass)
    ->ArgName("rules")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_RulesOnly(benchmark::State& state) {
  const int keys = static_cast<int>(FullDocument().size() * state.range(0) / 8);
  const std::vector<MigrationRule> rules = MakeRules(Prefix(keys));
  for (auto _ : state) {
    state.PauseTiming();
    RegistryDocument document = Prefix(keys);
    state.ResumeTiming();
    ApplyRules(document, rules, state);
    state.PauseTiming();
    document = RegistryDocument();  // freeing the keys is not part of the rules' time
    state.ResumeTiming();
  }
  state.SetComplexityN(keys);
  state.counters["keys"] = keys;
  state.counters["per_rule"] = benchmark::Counter(
      static_cast<double>(rules.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RulesOnly)
    ->ArgName("eighths")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (RegPath() == nullptr) {
    std::printf("bench_registry_rules: ORVEX_BENCH_REG is not set; nothing to measure.\n");
    return 0;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove(OutputPath(), ignored);
  return 0;
}
