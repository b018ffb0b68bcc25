#pragma once
// Linux only: the listings that letter-case matching reads, kept while a NameCacheScope is open
// so that creating many new names in one directory does not read that directory once per name.

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace orvex::platform::posix {

/// Opens and closes a NameCacheScope; the listings are dropped when the last one closes.
void EnterNameCacheScope();
void LeaveNameCacheScope();

/// Whether a NameCacheScope is open.
bool NameCacheActive();

/// The entry of `directory` (whose stat is `st`) equal to `name` ignoring case, first in name
/// order, answered from the kept listing (read when missing or when the directory's modification
/// time moved); empty if there is none.
std::string CachedCaseVariant(const std::string& directory, const struct stat& st,
                              std::string_view name);

/// Tells the kept listing of the parent that this layer created `native`.
void NoteNameAdded(const std::string& native);

/// Tells the kept listing of the parent that this layer removed `native`.
void NoteNameRemoved(const std::string& native);

/// Drops the kept listing of a directory that is about to be removed, so that a new directory
/// given the same inode starts from a fresh read.
void ForgetDirectory(const struct stat& directory);

/// The key under which names that are equal ignoring case meet: the full case folding, as
/// FileNamesEqualIgnoreCase compares.
std::string FoldedName(std::string_view name);

}  // namespace orvex::platform::posix
