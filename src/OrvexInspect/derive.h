#pragma once
// Rules derived from an example: a migration XML that turns one profile into another, meant for
// every user's profile. Rules that move, rename or convert what a profile holds are preferred over
// rules that write the example's data, which would replace each user's own, and small rules over
// many (a key tree that moved is one rename, a folder that moved one move). The rules are tried
// before they are written: the registry rules on copies of the documents with the rule processors
// themselves, the file rules on the unpacked tree. What no rule can express, and whatever still
// differs after the rules, is reported with them.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "profiles/profile.h"
#include "rules/migration_rules.h"
#include "transforms/registry/key_rules.h"
#include "transforms/registry/value_rules.h"

namespace orvex {

/// Files larger than this are not written into a rule as Base64.
inline constexpr std::uint64_t kMaxInlineBytes = 1024 * 1024;

/// The derived rules and what they leave undone.
struct DerivedRules {
  std::vector<MigrationRule> rules;           ///< in the order they must run
  std::vector<std::u16string> inexpressible;  ///< what no rule can do, one line each
  std::vector<std::u16string> remaining;      ///< what still differs after the rules, one line each
  /// What they would do in the profiles they were checked with that they do not do in the
  /// example, one line each.
  std::vector<std::u16string> elsewhere;
};

/// A profile archive as the command line names it, and its path.
struct NamedArchive {
  std::u16string name;
  std::u16string path;
};

/// One .reg file on both sides.
struct RegFilePair {
  std::u16string_view name;
  const RegistryDocument* before;
  const RegistryDocument* after;
};

/// A tree that seems to have moved (a key tree or a folder), with how many of its entries say so.
struct MoveCandidate {
  std::u16string source;
  std::u16string destination;
  std::size_t depth = 0;  ///< of the source; a shallower move explains more
  std::size_t votes = 0;
};

/// Whether one of two paths is at or below the other, as its kind of path counts it.
using PathsOverlap = bool (*)(std::u16string_view, std::u16string_view);

/// The candidates worth trying, in the order to try them: most votes first, then the shallowest,
/// then by their paths; moves of a tree into itself and moves whose paths cannot be written in a
/// rule (`writable`) are left out.
std::vector<MoveCandidate> RankedMoves(std::vector<MoveCandidate> candidates,
                                       bool (*writable)(std::u16string_view),
                                       PathsOverlap overlaps);

/// Whether `candidate` touches the source or the destination of a move already chosen.
bool ClashesWithChosen(const MoveCandidate& candidate, std::span<const MoveCandidate> chosen,
                       PathsOverlap overlaps);

/// A key rule or a value rule with the fields that every action reads.
MigrationRule KeyRuleOf(KeyAction action, std::u16string_view source,
                        std::u16string_view destination = {});
MigrationRule ValueRuleOf(ValueAction action, std::u16string_view key, std::u16string_view name);

/// The rules that give the value `name` of `key` the type and bytes of `value`: one set where the
/// type's own word builds them, else a binary set retyped by a convert. False when neither does.
/// They carry the example's data.
bool EncodeValue(std::u16string_view key, std::u16string_view name, const RegistryValueRef& value,
                 std::vector<MigrationRule>* rules);

/// The key and value rules for the .reg files that both sides hold. Every rule acts on every .reg
/// file, so renames are chosen to fit all of them; the rest are derived file by file.
void DeriveRegistryRules(std::span<const RegFilePair> files, std::vector<MigrationRule>* rules,
                         std::vector<std::u16string>* inexpressible);

/// A name in a profile's tree ('/' between its parts) as a derived file rule writes it ('\\'
/// between them), and back.
std::u16string RulePath(std::u16string_view tree_name);
std::u16string TreeName(std::u16string_view rule_path);

/// Two files' lines compared as a multiset ('\n' ends a line; files over kMaxInlineBytes are read
/// that far): how many they share and how many only one holds.
struct LineComparison {
  bool text = false;  ///< neither holds a NUL byte
  std::size_t shared = 0;
  std::size_t only_first = 0;
  std::size_t only_second = 0;
};
[[nodiscard]] HRESULT CompareLines(std::u16string_view first, std::u16string_view second,
                                   LineComparison* comparison);

/// The directory and file rules that turn before's tree into after's; trial picture conversions
/// write into the folder `scratch`, which is made when first needed.
[[nodiscard]] HRESULT DeriveFileRules(const Profile& before, const Profile& after,
                                      std::u16string_view scratch,
                                      std::vector<MigrationRule>* rules,
                                      std::vector<std::u16string>* inexpressible);

/// Derives the rules from `before` to `after` and tries them. The file rules are tried on before's
/// unpacked tree itself, which is then listed again; `scratch` is a folder for trial conversions.
[[nodiscard]] HRESULT DeriveRules(Profile& before, const Profile& after,
                                  std::u16string_view scratch, DerivedRules* derived);

/// Whether a derived rule writes the example's data (a value set, a file created), which in other
/// profiles replaces what the user held.
bool CarriesExampleData(const MigrationRule& rule);

/// Runs the derived rules on the example's before archive and on each of `others` as a migration
/// runs them, and lists in `derived->elsewhere` what they would do there that they do not in the
/// example: a rule that carries the example's data writes over a value or a file that the profile
/// held with data of its own (other than what the rule writes and than what the example held
/// there), a rule fails, the migration would stop. `*unreadable` names an archive of `others`
/// that cannot be read, and why, instead.
[[nodiscard]] HRESULT CheckWithProfiles(std::u16string_view example,
                                        std::span<const NamedArchive> others, DerivedRules* derived,
                                        std::u16string* unreadable);

/// The rules as a migration XML; what they leave undone stands in a comment at the top.
std::u16string MigrationXmlText(const DerivedRules& derived, std::u16string_view before_name,
                                std::u16string_view after_name);

}  // namespace orvex
