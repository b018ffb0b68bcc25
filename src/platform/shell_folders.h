#pragma once
// The per-user shell folders a profile archive captures, and where they are on this system.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"

namespace orvex::platform {

constexpr int CSIDL_DESKTOP = 0;
constexpr int CSIDL_PROGRAMS = 2;
constexpr int CSIDL_PERSONAL = 5;
constexpr int CSIDL_FAVORITES = 6;
constexpr int CSIDL_STARTUP = 7;
constexpr int CSIDL_RECENT = 8;
constexpr int CSIDL_SENDTO = 9;
constexpr int CSIDL_STARTMENU = 11;
constexpr int CSIDL_NETHOOD = 19;
constexpr int CSIDL_APPDATA = 26;
constexpr int CSIDL_PRINTHOOD = 27;
constexpr int CSIDL_LOCAL_APPDATA = 28;
constexpr int CSIDL_COOKIES = 33;
constexpr int CSIDL_PROFILE = 40;
constexpr int CSIDL_FLAG_MASK = 0xFF00;  ///< flag bits (create, no-verify ...), ignored here

/// A per-user shell folder: the name a profile archive gives its top-level folder, and its
/// identifier.
struct ShellFolder {
  std::u16string_view name;
  int csidl;
};

/// The per-user shell folders a profile archive captures, in the order they are searched.
inline constexpr std::array<ShellFolder, 14> kShellFolders = {{
    {u"AppData", CSIDL_APPDATA},
    {u"Cookies", CSIDL_COOKIES},
    {u"Desktop", CSIDL_DESKTOP},
    {u"Favorites", CSIDL_FAVORITES},
    {u"LocalAppData", CSIDL_LOCAL_APPDATA},
    {u"NetHood", CSIDL_NETHOOD},
    {u"Personal", CSIDL_PERSONAL},
    {u"PrintHood", CSIDL_PRINTHOOD},
    {u"ProgramsMenu", CSIDL_PROGRAMS},
    {u"RecentFiles", CSIDL_RECENT},
    {u"SendTo", CSIDL_SENDTO},
    {u"StartMenu", CSIDL_STARTMENU},
    {u"StartupMenu", CSIDL_STARTUP},
    {u"UserProfile", CSIDL_PROFILE},
}};

/// SHGetFolderPathW for the current user: the folder's path without a final separator; the folder
/// need not exist. `token` (a user) and `flags` (current or default location) change nothing
/// here. E_INVALIDARG for an identifier outside the per-user folders the system knows, E_FAIL
/// when the user has no home directory.
HRESULT SHGetFolderPath(int csidl, const void* token, std::uint32_t flags, std::u16string* path);

/// Where there is no live registry, and so no Windows profile, the folder that stands for the
/// user's profile when an archive is imported (its registry files and its shell folders):
/// $XDG_STATE_HOME/OrvexEngine when that variable holds an absolute path, else
/// $HOME/.local/state/OrvexEngine. E_NOTIMPL where there is a live registry.
HRESULT GetProfileStore(std::u16string* store);

}  // namespace orvex::platform
