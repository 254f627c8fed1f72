#pragma once
// The key/value text files of the program (configuration file, settings file,
// package.txt): sections in brackets, "key = value" lines, names compared
// without regard to case, one value per key, UTF-8 with a byte order mark and
// CR LF line ends.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tess {

class IniFile {
 public:
  IniFile();
  ~IniFile();
  IniFile(IniFile&&) noexcept;
  IniFile& operator=(IniFile&&) noexcept;

  /// Reads the whole file. A missing or unreadable file reads as empty and
  /// returns false.
  [[nodiscard]] bool load(const std::filesystem::path& path);

  /// Writes the whole file (byte order mark, CR LF). The new text goes to a
  /// temporary file beside it that replaces the old one only once every byte
  /// is written, so a full disk never leaves a truncated file behind.
  [[nodiscard]] bool save(const std::filesystem::path& path) const;

  /// Changes the file at `path` in place of the program that may be saving it
  /// at the same moment: under an advisory lock on a hidden ".<name>.lock"
  /// beside it, the file is read again, `change` applied and the result
  /// saved whole, so two programs saving different sections both keep
  /// theirs. A file that exists but cannot be read is never replaced; a
  /// `change` that returns false writes nothing (and update returns true).
  [[nodiscard]] static bool update(const std::filesystem::path& path, const std::function<bool(IniFile&)>& change);

  /// The whole text as save() writes it.
  std::string text() const;
  /// Replaces the content by the parsed text (a leading byte order mark is skipped).
  [[nodiscard]] bool parse(const std::string& text);

  std::optional<std::string> get(const std::string& section, const std::string& key) const;
  std::string get(const std::string& section, const std::string& key, const std::string& fallback) const;
  /// Stores a value; line breaks in it become blanks, since values are single lines.
  void set(const std::string& section, const std::string& key, const std::string& value);
  bool remove_key(const std::string& section, const std::string& key);
  bool remove_section(const std::string& section);
  bool has_section(const std::string& section) const;

  /// Section names and key names, in file order.
  std::vector<std::string> sections() const;
  std::vector<std::string> keys(const std::string& section) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace tess
