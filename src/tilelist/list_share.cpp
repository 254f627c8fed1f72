#include "tilelist/list_share.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <map>

#include "base/fnv_hash.hpp"
#include "base/text.hpp"

namespace tess {

namespace {

/// Spreads every bit of the hash into the low ones that the share takes.
std::uint64_t mixed(std::uint64_t value) {
  value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
  value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
  return value ^ (value >> 31);
}

bool read_number(std::string_view text, int& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc{} && stop == end && !text.empty();
}

std::string share_name(const ListShare& share) { return format("%d/%d", share.index, share.count); }

}  // namespace

bool parse_list_share(std::string_view text, int& index, int& count) {
  const auto slash = text.find('/');
  if (slash == std::string_view::npos) return false;
  int k = 0, n = 0;
  if (!read_number(text.substr(0, slash), k) || !read_number(text.substr(slash + 1), n)) return false;
  if (n < 1 || n > kMostListShares || k < 1 || k > n) return false;
  index = k;
  count = n;
  return true;
}

int list_share_of(std::string_view path, int count) {
  return static_cast<int>(mixed(fnv1a_64(path)) % static_cast<std::uint64_t>(count)) + 1;
}

ListShare keep_list_share(TileImageList& list, int index, int count) {
  ListShare share;
  share.index = index;
  share.count = count;
  share.fingerprint = kFnv1aOffsetBasis;
  std::vector<std::string> others;
  for (const auto& [path, entry] : list.entries()) {
    ++share.scanned;
    const char required = entry.required != 0 ? '\1' : '\0';
    share.fingerprint = fnv1a_64(std::string_view(&required, 1), fnv1a_64(path, share.fingerprint));
    if (list_share_of(path, count) != index) others.emplace_back(path);
  }
  for (const std::string& path : others) (void)list.erase(path);
  return share;
}

std::string merge_list_shares(const std::vector<std::string>& parts, TileImageList& merged,
                              std::vector<std::string>& unusable, Status& part_status) {
  merged.clear();
  unusable.clear();
  part_status = Status();
  ListShare first;
  std::map<int, std::string> given;  // share index -> the part that gave it
  std::uint64_t seen = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string& file = parts[i];
    TileImageList part;
    ListShare share;
    ListLoadResult result = ListLoadResult::unreadable;
    part_status = load_list_file(part, file, &result, &share);
    if (!part_status)
      return result == ListLoadResult::refused ? format("'%s' is a list of another version or grid", file)
                                               : format("'%s' cannot be read as a Tile Images List", file);
    if (share.count == 0) return format("'%s' is a whole list, not a share made with --shard", file);
    if (i == 0) {
      first = share;
      for (const FolderKind kind : {FolderKind::include, FolderKind::exclude, FolderKind::required, FolderKind::video})
        for (const std::string& item : part.folders(kind)) merged.add_folder(kind, item);
      merged.set_black_and_white(part.black_and_white());
    } else {
      const std::string& model = parts.front();
      if (share.count != first.count)
        return format("'%s' is share %s but '%s' is share %s: they split the pictures differently", file,
                      share_name(share), model, share_name(first));
      for (const FolderKind kind : {FolderKind::include, FolderKind::exclude, FolderKind::required, FolderKind::video})
        if (part.folders(kind) != merged.folders(kind))
          return format("'%s' and '%s' were made from different folder sets", file, model);
      if (part.black_and_white() != merged.black_and_white())
        return format("'%s' and '%s' differ in black and white", file, model);
      if (share.scanned != first.scanned || share.fingerprint != first.fingerprint)
        return format("'%s' and '%s' were made from different scans of the folders (%llu and %llu pictures, or "
                      "the pictures changed between them)",
                      file, model, static_cast<unsigned long long>(share.scanned),
                      static_cast<unsigned long long>(first.scanned));
    }
    if (const auto [at, added] = given.emplace(share.index, file); !added)
      return format("share %s is given twice: '%s' and '%s'", share_name(share), at->second, file);
    seen += part.entry_count() + share.unusable.size();
    part.for_each_entry([&merged](FotoInfo& entry) { (void)merged.insert(std::move(entry)); });
    unusable.insert(unusable.end(), share.unusable.begin(), share.unusable.end());
  }
  if (parts.empty()) return "no shares were given";
  for (int index = 1; index <= first.count; ++index)
    if (given.count(index) == 0) return format("share %d/%d is missing", index, first.count);
  // Shares split by path cannot overlap; a count that does not add up means
  // a part was edited after its analysis.
  if (seen != first.scanned || merged.entry_count() + unusable.size() != first.scanned)
    return format("the shares hold %llu pictures but their scan found %llu",
                  static_cast<unsigned long long>(seen), static_cast<unsigned long long>(first.scanned));
  std::sort(unusable.begin(), unusable.end());
  merged.set_changed(true);
  return {};
}

}  // namespace tess
