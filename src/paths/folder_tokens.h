#pragma once
// Folder tokens: rule paths begin with the name of a per-user shell folder (AppData\Vendor,
// Desktop\Report.lnk). A token either expands to the folder's real location for the current user,
// or anchors the rule path inside the unpacked profile archive, which holds one top-level
// directory per captured shell folder.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "common/windows_names.h"
#include "platform/shell_folders.h"

namespace orvex {

/// The folder tokens and the shell-folder identifiers (CSIDL numbers) they stand for, in the
/// order they are searched: the platform's per-user shell folders.
inline constexpr const auto& FolderTokenTable = platform::kShellFolders;

/// The folder identifier of the token named exactly `name` (case-sensitive), or -1.
[[nodiscard]] int LookupFolderToken(std::u16string_view name);

/// The path without its last component: S_OK with a non-empty parent, S_FALSE when there is
/// none (a single component, a root alone), E_INVALIDARG for invalid characters (< > " | and
/// U+0001 to U+001F) or a malformed root. `*parent` is emptied first.
[[nodiscard]] HRESULT GetParentPath(std::u16string_view path, std::u16string* parent);

/// Whether the first component of a relative path is a folder token.
[[nodiscard]] bool IsFolderTokenPath(std::u16string_view path);

/// Replaces the folder token that begins `path` by the current user's folder for it; the rest
/// of the path stays as written. E_INVALIDARG when the path does not begin with a token or the
/// folder is unknown here; other shell-folder failures pass through. `user_token` and
/// `folder_type_flags` go to the shell-folder service (none and 0 in this system).
[[nodiscard]] HRESULT ExpandFolderToken(std::u16string* path, const void* user_token = nullptr,
                                        std::uint32_t folder_type_flags = 0);

/// How rebasing a rule path ended; each refusal is reported differently by the rule processors.
enum class RebaseOutcome {
  kRebased,        ///< `path` lies inside the folder of the rule path's token
  kNotTokenPath,   ///< the rule path does not begin with a folder token (E_INVALIDARG)
  kUnfitName,      ///< a component is a name Windows cannot give a file (`name`; S_FALSE)
  kResolveFailed,  ///< making the path absolute failed (`result` says why)
  kOutsideFolder,  ///< the resolved `path` leaves the folder of its token (E_INVALIDARG)
};

/// The result of RebaseRulePath.
struct RebasedPath {
  RebaseOutcome outcome = RebaseOutcome::kNotTokenPath;
  HRESULT result = E_INVALIDARG;       ///< S_OK when rebased, else the result to return
  std::u16string path;                 ///< the resolved path (rebased or outside)
  std::size_t file_name_position = 0;  ///< where the final component of `path` begins
  WindowsNameStatus name = WindowsNameStatus::kAccepted;  ///< why a component is unfit
};

/// Turns a token-rooted rule path into an absolute path inside `archive_directory`: the token
/// check, the names of its components as written (other than "." and ".."), resolution against
/// the archive directory, then containment (the path equals the token's folder in the archive
/// directory or continues it after a separator, compared case-sensitively).
[[nodiscard]] RebasedPath RebaseRulePath(std::u16string_view rule_path,
                                         std::u16string_view archive_directory);

}  // namespace orvex
