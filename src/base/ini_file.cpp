#include "base/ini_file.hpp"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <list>
#include <sstream>
#include <string_view>

// Debian's SimpleIni keeps its template bodies behind SI_IMPLEMENTATION and its
// default converter needs a header Debian does not ship: take it header-only,
// without conversion (values stay raw UTF-8 bytes).
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include "base/file_lock.hpp"
#include "base/file_sink.hpp"

namespace tess {

struct IniFile::Impl {
  CSimpleIniA ini{/*isUtf8=*/true, /*multiKey=*/false, /*multiLine=*/false};
};

namespace {

// A section line that lost its "]" (a hand edit, another program's file)
// names its section by the rest of the line. Left to the parser, the line
// would be skipped but its start kept as the section name of the next key:
// a name spanning two lines, which every save would write one line longer
// and which would take keys out of the section they were written in.
std::string close_section_lines(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + at, end - at);
    std::size_t first = at == 0 && line.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (first < line.size() && (line[first] == ' ' || line[first] == '\t')) ++first;
    out.append(line);
    if (first < line.size() && line[first] == '[' && line.find(']', first) == std::string_view::npos) out += ']';
    if (end < text.size()) out += text[end];
    at = end + 1;
  }
  return out;
}

}  // namespace

IniFile::IniFile() : m_impl(std::make_unique<Impl>()) {}
IniFile::~IniFile() = default;
IniFile::IniFile(IniFile&&) noexcept = default;
IniFile& IniFile::operator=(IniFile&&) noexcept = default;

bool IniFile::load(const std::filesystem::path& path) {
  m_impl->ini.Reset();
  m_impl->ini.SetUnicode(true);
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return false;
  return parse(buffer.str());
}

bool IniFile::parse(const std::string& text) {
  m_impl->ini.Reset();
  m_impl->ini.SetUnicode(true);
  const std::string closed = close_section_lines(text);
  SI_Error rc = m_impl->ini.LoadData(closed.data(), closed.size());
  m_impl->ini.SetUnicode(true);  // a file without byte order mark is still written with one
  return rc >= 0;
}

std::string IniFile::text() const {
  std::string raw;
  m_impl->ini.Save(raw, /*addSignature=*/true);
  std::string out;
  out.reserve(raw.size() + raw.size() / 16);
  for (char c : raw) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// The configuration is synced before the rename: losing it would lose every setting.
bool IniFile::save(const std::filesystem::path& path) const { return write_file_atomically(path, text(), true); }

bool IniFile::update(const std::filesystem::path& path, const std::function<bool(IniFile&)>& change) {
  // Without a lock (a folder that takes no new file) the save below fails
  // the same way, and says so.
  const FileLock lock(path);
  IniFile ini;
  std::error_code ec;
  if (!ini.load(path) && std::filesystem::exists(path, ec)) return false;
  if (!change(ini)) return true;
  return ini.save(path);
}

std::optional<std::string> IniFile::get(const std::string& section, const std::string& key) const {
  const char* v = m_impl->ini.GetValue(section.c_str(), key.c_str(), nullptr);
  if (v == nullptr) return std::nullopt;
  return std::string(v);
}

std::string IniFile::get(const std::string& section, const std::string& key, const std::string& fallback) const {
  return get(section, key).value_or(fallback);
}

void IniFile::set(const std::string& section, const std::string& key, const std::string& value) {
  std::string single = value;
  for (char& c : single)
    if (c == '\r' || c == '\n') c = ' ';
  m_impl->ini.SetValue(section.c_str(), key.c_str(), single.c_str());
}

bool IniFile::remove_key(const std::string& section, const std::string& key) {
  return m_impl->ini.Delete(section.c_str(), key.c_str());
}

bool IniFile::remove_section(const std::string& section) { return m_impl->ini.Delete(section.c_str(), nullptr); }

bool IniFile::has_section(const std::string& section) const {
  return m_impl->ini.GetSection(section.c_str()) != nullptr;
}

std::vector<std::string> IniFile::sections() const {
  CSimpleIniA::TNamesDepend names;
  m_impl->ini.GetAllSections(names);
  names.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> out;
  for (const auto& n : names) out.emplace_back(n.pItem);
  return out;
}

std::vector<std::string> IniFile::keys(const std::string& section) const {
  CSimpleIniA::TNamesDepend names;
  m_impl->ini.GetAllKeys(section.c_str(), names);
  names.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> out;
  for (const auto& n : names) out.emplace_back(n.pItem);
  return out;
}

}  // namespace tess
