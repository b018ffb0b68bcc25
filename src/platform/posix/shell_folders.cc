// Linux only: where the per-user shell folders live on this system.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/posix/native_path.h"
#include "platform/shell_folders.h"
#include "platform/text.h"

namespace orvex::platform {
namespace {

// A home of "/" must not give "//Desktop".
std::string WithoutDoubleRoot(std::string path) {
  if (path.starts_with("//")) path.erase(0, 1);
  return path;
}

// $HOME, else the password database's entry; empty when neither names an absolute path.
std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(posix::WithoutFinalSlashes(home));
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
    return {};
  }
  return std::string(posix::WithoutFinalSlashes(found->pw_dir));
}

// An XDG base directory variable counts only when it holds an absolute path.
std::string XdgDirectory(const char* variable, const std::string& home, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return std::string(posix::WithoutFinalSlashes(value));
  return home + fallback;
}

}  // namespace

HRESULT SHGetFolderPath(int csidl, const void* /*token*/, std::uint32_t /*flags*/,
                        std::u16string* path) {
  if (path == nullptr) return E_INVALIDARG;
  const int folder = csidl & ~CSIDL_FLAG_MASK;
  const auto* known = std::find_if(kShellFolders.begin(), kShellFolders.end(),
                                   [&](const ShellFolder& f) { return f.csidl == folder; });
  if (known == kShellFolders.end()) return E_INVALIDARG;
  const std::string home = HomeDirectory();
  if (home.empty()) return E_FAIL;
  std::string result;
  switch (folder) {
    case CSIDL_PROFILE:
      result = home;
      break;
    case CSIDL_DESKTOP:
      result = home + "/Desktop";
      break;
    case CSIDL_PERSONAL:
      result = home + "/Documents";
      break;
    case CSIDL_APPDATA:
      result = XdgDirectory("XDG_CONFIG_HOME", home, "/.config");
      break;
    case CSIDL_LOCAL_APPDATA:
      result = XdgDirectory("XDG_DATA_HOME", home, "/.local/share");
      break;
    default:  // folders without a place of their own here sit under $HOME by their name
      result = home + "/" + ToUtf8(known->name);
      break;
  }
  *path = ToUtf16(WithoutDoubleRoot(std::move(result)));
  return S_OK;
}

HRESULT GetProfileStore(std::u16string* store) {
  // The store sits with the user's other folders: no home, no store.
  const std::string home = HomeDirectory();
  if (home.empty()) return E_FAIL;
  const std::string state = XdgDirectory("XDG_STATE_HOME", home, "/.local/state");
  *store = ToUtf16(WithoutDoubleRoot(state + "/OrvexEngine"));
  return S_OK;
}

}  // namespace orvex::platform
