#pragma once
// File-system primitives shared by the rule processors, the working area and the run. Each
// reports one result and never logs: a missing object is no error where the caller only wants it
// gone, and S_FALSE marks an outcome that is not a failure but not the ordinary one either.

#include <cstdint>
#include <string_view>

#include "common/result.h"

namespace orvex {

/// Whether something bears the name, and its attribute word. ERROR_FILE_NOT_FOUND and
/// ERROR_PATH_NOT_FOUND are answered with `*exists` false.
[[nodiscard]] HRESULT GetPathAttributes(std::u16string_view path, bool* exists,
                                        std::uint32_t* attributes = nullptr);

/// As GetPathAttributes; S_FALSE when the name exists and is a directory.
[[nodiscard]] HRESULT FileExists(std::u16string_view path, bool* exists,
                                 std::uint32_t* attributes = nullptr);

/// As GetPathAttributes; S_FALSE when the name exists and is not a directory.
[[nodiscard]] HRESULT DirectoryExists(std::u16string_view path, bool* exists,
                                      std::uint32_t* attributes = nullptr);

/// Creates a directory and every missing parent; S_OK when it exists already.
[[nodiscard]] HRESULT CreateDirectoryPath(std::u16string_view path);

/// Readies a file to be deleted or replaced whatever its attributes, leaving it where it is: the
/// attributes that would refuse it are cleared. S_OK with `*exists` false when nothing bears the
/// name, ERROR_ACCESS_DENIED for a directory.
[[nodiscard]] HRESULT PrepareFileForReplacement(std::u16string_view path, bool* exists);

/// Deletes a file whatever its attributes; S_OK when nothing bears the name.
[[nodiscard]] HRESULT ForceDeleteFile(std::u16string_view path);

/// Empties and removes a directory tree (with `delete_files` and `recursive`); S_OK when nothing
/// bears the name.
[[nodiscard]] HRESULT DeleteDirectoryTree(std::u16string_view path, bool delete_files,
                                          bool recursive);

/// Removes a large tree that is of no further use (a working area) as DeleteDirectoryTree does,
/// its parts on one thread per processor; what cannot be removed stays.
void RemoveLargeTree(std::u16string_view path);

/// CopyPath's answer for a tree copied onto itself or into one of its own subdirectories, which
/// would otherwise keep copying what it has just created. Nothing is copied.
constexpr HRESULT kCopyIntoItself = E_INVALIDARG;

/// Copies a file or a whole tree, merging into an existing destination directory; S_OK when the
/// source does not exist, S_FALSE when a destination file exists and `overwrite` is off.
[[nodiscard]] HRESULT CopyPath(std::u16string_view source, std::u16string_view destination,
                               bool overwrite);

/// Moves a file or a directory, creating the destination's missing parents; S_FALSE when the
/// destination exists and `replace_existing` is off.
[[nodiscard]] HRESULT MovePath(std::u16string_view source, std::u16string_view destination,
                               bool replace_existing, bool allow_copy);

/// Whether two full paths name one file: an existing file by its identity, however it is reached
/// (links, "..", letter case); two names not taken yet by their folders' identities and their last
/// components compared ignoring case, since the file made under either would be found by the other.
bool NameOneFile(std::u16string_view a, std::u16string_view b);

/// The path a file the user names is read by: a symbolic link is followed there, where every open
/// refuses links. The path itself when it leads nowhere; the step that reads it says why.
std::u16string PathToOpen(std::u16string_view path);

/// Whether the full path `path` names the existing directory `directory` or lies anywhere below
/// it, however either is reached.
bool LiesWithin(std::u16string_view path, std::u16string_view directory);

}  // namespace orvex
