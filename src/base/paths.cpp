#include "base/paths.hpp"

#include <cstdlib>
#include <mutex>

#include <unistd.h>

#include "base/text.hpp"
#include "base/ini_file.hpp"

#ifndef TESS_STAGED_DATA_DIR
#define TESS_STAGED_DATA_DIR ""
#endif

namespace fs = std::filesystem;

namespace tess {
namespace {

fs::path executable_folder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

bool is_folder(const fs::path& p) {
  std::error_code ec;
  return !p.empty() && fs::is_directory(p, ec);
}


fs::path with_slash(fs::path p) {
  std::string s = p.string();
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

std::mutex g_settings_mutex;
std::optional<fs::path> g_settings_folder;

}  // namespace

fs::path data_folder() {
  if (const char* env = std::getenv("TESSELLARIUM_DATA_DIR"); env != nullptr && *env != '\0') return with_slash(env);
  fs::path beside = executable_folder() / ".." / "share" / "tessellarium";
  if (is_folder(beside)) return with_slash(beside.lexically_normal());
  return with_slash(TESS_STAGED_DATA_DIR);
}

EnvLookup process_environment() {
  return [](const char* name) -> std::optional<std::string> {
    const char* v = std::getenv(name);
    if (v == nullptr) return std::nullopt;
    return std::string(v);
  };
}

fs::path resolve_settings_folder(const fs::path& data_dir, const EnvLookup& env) {
  fs::path base;
  IniFile package;
  if (package.load(data_dir / "package.txt") && iequals(package.get("package", "package", ""), "WindowsPortable")) {
    base = with_slash(data_dir) / "Settings/";
  } else if (auto p = env("TESSELLARIUM_CONFIG_PATH"); p && p->size() > 5) {
    base = with_slash(*p);
  } else if (auto x = env("XDG_CONFIG_HOME"); x && !x->empty() && x->front() == '/') {
    base = with_slash(*x) / "Tessellarium/";
  } else if (auto h = env("HOME"); h && !h->empty()) {
    base = with_slash(*h) / ".config/Tessellarium/";
  } else {
    base = with_slash(data_dir) / "Settings/";
  }
  fs::path folder = base / "Tessellarium Standard/";
  std::error_code ec;
  fs::create_directories(folder, ec);
  return folder;
}

fs::path settings_folder() {
  std::lock_guard lock(g_settings_mutex);
  if (!g_settings_folder) g_settings_folder = resolve_settings_folder(data_folder(), process_environment());
  return *g_settings_folder;
}

void reset_settings_folder() {
  std::lock_guard lock(g_settings_mutex);
  g_settings_folder.reset();
}

fs::path resolve_cache_folder(const EnvLookup& env) {
  // Like the settings folder: a relative XDG path is no XDG path at all.
  if (auto x = env("XDG_CACHE_HOME"); x && !x->empty() && x->front() == '/') return with_slash(*x) / "Tessellarium/";
  if (auto h = env("HOME"); h && !h->empty()) return with_slash(*h) / ".cache/Tessellarium/";
  return settings_folder() / "Cache/";
}

fs::path cache_folder() { return resolve_cache_folder(process_environment()); }

fs::path config_file_path() { return settings_folder() / "TessellariumConfig.txt"; }

}  // namespace tess
