#include "settings/advanced_options.hpp"

#include <algorithm>
#include <vector>


#include "base/ini_file.hpp"
#include "base/text.hpp"
#include "settings/configuration.hpp"
#include "settings/units.hpp"

namespace tess {
namespace {


constexpr UnitCode kBare = kUnitBareNumber;
constexpr UnitCode kMegabyte = kUnitMegabyte;
constexpr UnitCode kProcesses = kUnitProcesses;
constexpr UnitCode kFrames = kUnitFrames;
constexpr UnitCode kPercent = kUnitPercent;

const std::vector<OptionChoice> kNoYes = {{N_("No"), "0"}, {N_("Yes"), "1"}};

std::vector<std::string> memory_max_offers() {
  std::vector<std::string> v = {"50", "100", "200", "300"};
  for (int mb = 500; mb <= 3000; mb += 250) v.push_back(std::to_string(mb));
  return v;
}

std::vector<std::string> video_frame_offers() {
  std::vector<std::string> v;
  for (const char* base : {"MIN", "MAX", "AVG"}) {
    for (int f : {1, 2, 3, 4, 5, 10}) v.push_back(std::string(base) + "*" + std::to_string(f));
  }
  for (const char* n : {"100", "500", "1000"}) v.emplace_back(n);
  return v;
}

const std::vector<std::string> kChannelOffers = {"0", "1", "10", "20", "40", "60", "80", "100"};

std::string label_of(std::size_t index, const char* word);

// The lines about the choices of "Tile Area Priority".
std::string area_choice_help(std::size_t index) {
  const std::string small = label_of(index, "CENTER_SMALL");
  return format(tr("'%s' - all tiles have the same priority."), label_of(index, "AVERAGE")) + "\n" +
         format(tr("'%s' - Priority will grow from %d%% at the edge to %d%% at the center."), small, 100, 150) + "\n" +
         format(tr("'%s' - Like '%s' but the priority reaches %d%% for a wider central area."),
                label_of(index, "CENTER_WIDE"), small, 140) +
         "\n" +
         format(tr("'%s' - Priority will grow from %d%% at the center to %d%% at the edge."), label_of(index, "EDGE"),
                100, 150) +
         "\n" +
         format(tr("'%s' - Priority will be defined by a grayscale image, ranging from White (lowest priority) to "
                   "Black (highest priority)."),
                label_of(index, "CUSTOM_PRIORITY"));
}

// The lines about the choices of "Tile Size Priority".
std::string size_choice_help(std::size_t index) {
  return format(tr("'%s' - smaller tiles will get a lower priority."), label_of(index, "LOWER")) + "\n" +
         format(tr("'%s' - smaller tiles will get a much lower priority."), label_of(index, "LOWEST")) + "\n" +
         format(tr("'%s' - smaller tiles will get a higher priority."), label_of(index, "HIGHER"));
}

// The lines about the choices of "Tile Split".
std::string split_choice_help(std::size_t index) {
  return format(tr("'%s' - split first tiles with higher Tile Priority and Qualty. The two attributes are merged."),
                label_of(index, "PRIORITY_AND_QUALITY")) +
         "\n" +
         format(tr("'%s' - split tiles with higher Tile Priority. When same priority then quality is considered."),
                label_of(index, "PRIORITY")) +
         "\n" + format(tr("'%s' - split tiles with lower quality, e.g. worse match."), label_of(index, "QUALITY")) +
         "\n" + format(tr("'%s' - automatically selects the optimal Tile split selection."), label_of(index, "AUTO"));
}

// One option of the table: its fixed description and its help, the lines
// that say what it does and, for some, a line about each choice.
struct OptionEntry {
  AdvancedOptionInfo info;
  const char* help;  ///< message id
  std::string (*choice_help)(std::size_t index) = nullptr;
};

// The options of the "Options" group: processes, memory, priorities.
std::vector<OptionEntry> general_entries() {
  return {
      {{N_("Options"), N_("Process Count"), "", "Options.ThreadCount", "0", kProcesses, {},
       {"-1", "0", "1", "2", "3", "4", "5", "6", "7", "8"}},
       N_("Parallel Execution of some tasks in Tessellarium:\n"
          " 0  - Detect automatically the number of CPU's\n"
          " 1  - Use a single process only (no parallel execution).\n"
          " >0 - Use that number of processes / Parallel Execution.\n"
          " -1 - Replace this value with the detected number of CPU's.")},
      {{N_("Options"), N_("Memory Block"), N_("MByte"), "Options.MemoryBlockSizeMB", "200", kMegabyte, {},
       {"50", "100", "200", "300"}},
       N_("Allocated Memory when building the final Mosaic (in megabytes). Use a lower value if you get an "
          "Out of memory error message.")},
      {{N_("Options"), N_("Max Memory"), N_("MByte"), "Options.MemoryMaxSizeMB", "1500", kMegabyte, {},
       memory_max_offers()},
       N_("Approximate value for Maximum Allocated Memory. Use a lower value if you get a crash / Out of "
          "memory error message.")},
      // Apart from "Max Memory", which sizes the candidate lists: this one
      // bounds the pictures being decoded at once. 0 is a quarter of the
      // memory available when the program starts.
      {{N_("Options"), N_("Decoding Memory"), N_("MByte"), "Options.DecodeMemoryMaxSizeMB", "0", kMegabyte, {},
       {"0", "250", "500", "1000", "2000", "4000"}},
       N_("Memory for decoding pictures (in megabytes), shared by every process of a mosaic or a tile list "
          "analysis. A picture waits while the others take it; a picture larger than all of it is refused with "
          "an Out of memory error message. 0 - use a quarter of the memory available when Tessellarium "
          "starts.")},
      {{N_("Options"), N_("Priority"), "", "Options.Priority", "LOWEST", kBare,
       {{N_("lowest"), "IDLE"},
        {N_("very low"), "LOWEST"},
        {N_("low"), "BELOW_NORMAL"},
        {N_("normal"), "NORMAL"},
        {N_("high"), "ABOVE_NORMAL"},
        {N_("highest"), "HIGHEST"}},
       {}},
       N_("Process Priority. If you want Tessellarium to run in the background then use a value of VERY "
          "LOW/LOWEST.")},
      {{N_("Options"), N_("Mosaic Preview"), "", "Options.MosaicFastPreview", "0", kBare, kNoYes, {}},
       N_("Shows an (ugly) Mosaic Preview at low quality. Values No or Yes.")},
      {{N_("Options"), N_("Tile List Load"), "", "Options.TileListLoad", "0", kBare, kNoYes, {}},
       N_("If Yes then the list of used Tiles will be loaded from the special file with suffix 'Tile "
          "List.txt'. This feature is enabled when selecting the 'Faster' Processing.")},
      {{N_("Options"), N_("Tile List Save"), "", "Options.TileListSave", "0", kBare, kNoYes, {}},
       N_("If Yes then the list of used Tiles will be saved in the special file with suffix 'Tile List.txt'. "
          "This feature is enabled when selecting the 'Faster' Processing.")},
      {{N_("Options"), N_("Final Action"), "", "Options.FinalAction", "ask", kBare,
       {{N_("nothing"), "nothing"}, {N_("open folder"), "openfolder"}, {N_("ask"), "ask"}},
       {}},
       N_("What to do after the Mosaic is completed: Open the destination folder, nothing or ask each time "
          "what to do.")},
      {{N_("Options"), N_("Tile Area Priority"), "", "Options.TilePriorityArea", "CENTER_WIDE", kBare,
       {{N_("average"), "AVERAGE"},
        {N_("center small"), "CENTER_SMALL"},
        {N_("center wide"), "CENTER_WIDE"},
        {N_("center strong"), "CENTER_STRONG"},
        {N_("edge"), "EDGE"},
        {N_("custom"), "CUSTOM_PRIORITY"}},
       {}},
       N_("Tile Priority based on location. Specify which area of the Mosaic should get the highest Tile "
          "quality."), area_choice_help},
      {{N_("Options"), N_("Tile Size Priority"), "", "Options.TilePrioritySize", "LOWER", kBare,
       {{N_("average"), "AVERAGE"}, {N_("lower"), "LOWER"}, {N_("lowest"), "LOWEST"}, {N_("higher"), "HIGHER"}},
       {}},
       N_("Tile Priority based on the tile size. Specify the priority of smaller Tiles."), size_choice_help},
      // Kept under a key of its own: sharing option 9's key would make each
      // of the two overwrite the other.
      {{N_("Options"), N_("Tile Split"), "", "Options.TileSplit", "AUTO", kBare,
       {{N_("auto"), "AUTO"},
        {N_("priority and quality"), "PRIORITY_AND_QUALITY"},
        {N_("priority"), "PRIORITY"},
        {N_("quality"), "QUALITY"}},
       {}},
       N_("Tile Split selection. Determines which tiles will be selected for splitting in 2 or 4 smaller "
          "tiles for an improved mosaic quality."), split_choice_help},
  };
}

// Image comparison, files, web pages, video mosaics and video extraction.
std::vector<OptionEntry> other_entries() {
  return {
      {{N_("Image Compare"), N_("Red Priority"), "", "ImageCompare.ProrityRed", "1", kBare, {}, kChannelOffers},
       N_("The Priority of the three Color Channels Red, Green and Blue. Change these values to give more "
          "weight to Red, Green or Blue. If for example you want to take into account the sensitivity of the "
          "human eye then try Red=30, Green=59 and Blue=11.")},
      {{N_("Image Compare"), N_("Green Priority"), "", "ImageCompare.ProrityGreen", "1", kBare, {}, kChannelOffers},
       N_("The Priority of the three Color Channels Red, Green and Blue. Change these values to give more "
          "weight to Red, Green or Blue. If for example you want to take into account the sensitivity of the "
          "human eye then try Red=30, Green=59 and Blue=11.")},
      {{N_("Image Compare"), N_("Blue Priority"), "", "ImageCompare.ProrityBlue", "1", kBare, {}, kChannelOffers},
       N_("The Priority of the three Color Channels Red, Green and Blue. Change these values to give more "
          "weight to Red, Green or Blue. If for example you want to take into account the sensitivity of the "
          "human eye then try Red=30, Green=59 and Blue=11.")},
      {{N_("Image Compare"), N_("Medium Detail"), "", "ImageCompare.MediumDetail", "-1", kPercent, {},
       {"-1", "0", "25", "50", "75", "100"}},
       N_("Priority of the medium details when comparing images. -1 leaves the 'Image Detail' parameter in "
          "charge; a value from 0 to 100 forces the priority of the medium details.")},
      {{N_("File"), N_("Native File Open"), "", "File.NativeFileOpen", "1", kBare, kNoYes, {}},
       N_("If Yes then on OS X the native file dialog will be used.")},
      {{N_("WebPage"), N_("WebPage Copy Tiles"), "", "WebPage.DontCopyTiles", "1", kBare, kNoYes, {}},
       N_("Whether the tile images of a web mosaic are copied into its 'tiles' sub-folder (Yes) or linked at "
          "their location (No).")},
      {{N_("DivarAdadir"), N_("Video Frames"), "", "DivarAdadir.FrameCountFromVideoTile", "MAX*2", kFrames, {},
       video_frame_offers()},
       N_("Length of a video mosaic in frames: a number, or relative to the video tiles: MIN, MAX or AVG, "
          "each optionally followed by '*' and a factor.")},
      {{N_("DivarAdadir"), N_("Video Frame Rate"), N_("/sec."), "DivarAdadir.FrameRateFromVideoTile", "FREQ", kBare,
       {},
       {"FREQ", "MIN", "MAX", "10", "25", "29.97", "30", "MIN*2", "MIN*3", "MAX*2", "MAX*3", "FREQ*2", "FREQ*3"}},
       N_("Frame rate of a video mosaic: a number, or relative to the video tiles: MIN, MAX or FREQ (the "
          "most frequent frame rate), each optionally followed by '*' and a factor.")},
      {{N_("DivarAdadir"), N_("Default Frames"), "", "DivarAdadir.FrameCountFromImage", "10", kFrames, {},
       {"50", "100", "200", "300", "500", "1000"}},
       N_("Number of frames of a video mosaic that uses no video tiles.")},
      {{N_("DivarAdadir"), N_("Default Frame Rate"), N_("/sec."), "DivarAdadir.FrameRateFromImage", "10", kBare, {},
       {"10", "25", "29.97", "30"}},
       N_("Frame rate of a video mosaic that uses no video tiles.")},
      {{N_("DivarAdadir"), N_("Reverse Loop"), "", "DivarAdadir.ReverseLoop", "ALL", kBare,
       {{N_("none"), "NONE"}, {N_("necessary"), "NECESSARY"}, {N_("all"), "ALL"}},
       {}},
       N_("Reverse loop of video tiles: ALL plays every video tile forward then backward, NECESSARY only the "
          "tiles shorter than the video mosaic, NONE none.")},
      {{N_("DivarAdadir"), N_("Codec"), N_("FourCC"), "DivarAdadir.FourCC", "uncompressed", kBare, {},
       {"uncompressed", "XVID", "DIVX"}},
       N_("The FourCC of the codec used for video mosaics and extracted video clips (case-sensitive), or "
          "'uncompressed'.")},
      {{N_("Extract Video"), N_("Minimum"), "", "Extract.MinFrameCount", "30", kFrames, {}, {"15", "30", "60", "100"}},
       N_("The Minimum number of Frames for each extracted Video Tile.")},
      {{N_("Extract Video"), N_("Maximum"), "", "Extract.MaxFrameCount", "400", kFrames, {},
       {"100", "200", "400", "600", "1000", "2000"}},
       N_("The Maximum number of Frames for each extracted Video Tile.")},
      {{N_("Extract Video"), N_("Video Threshold"), "", "Extract.VideoTileThreshold", "1000", kBare, {},
       {"50", "100", "150", "200", "300", "500", "1000", "1500", "2000", "3000", "5000"}},
       N_("Scene change threshold when extracting video tiles: a lower value cuts more often. Suggested "
          "values: 50 to 5000.")},
      {{N_("Extract Video"), N_("Static Video Threshold"), "", "Extract.StaticVideoTileThreshold", "150", kBare, {},
       {}},
       N_("Threshold below which consecutive frames count as static when extracting video tiles.")},
      {{N_("Extract Video"), N_("Minimum Static"), "", "Extract.MinimumFrameCountForStaticVideoTile", "50", kFrames,
       {}, {}},
       N_("Minimum number of static frames that make a static video tile.")},
      {{N_("Extract Video"), N_("Static Videos"), "", "Extract.ExtractStaticVideo", "0", kBare, kNoYes, {}},
       N_("If Yes then the Video Clips will be extracted and saved in a separate folder. Usually static "
          "Video Tiles aren't very interesting.")},
  };
}

std::array<OptionEntry, kAdvancedOptionCount> make_entries() {
  std::vector<OptionEntry> entries = general_entries();
  for (OptionEntry& entry : other_entries()) entries.push_back(std::move(entry));
  std::array<OptionEntry, kAdvancedOptionCount> table;
  std::move(entries.begin(), entries.end(), table.begin());
  return table;
}


const std::array<OptionEntry, kAdvancedOptionCount>& option_entries() {
  static const std::array<OptionEntry, kAdvancedOptionCount> entries = make_entries();
  return entries;
}

std::string label_of(std::size_t index, const char* word) {
  for (const auto& c : advanced_option_table()[index].keywords)
    if (std::string(c.word) == word) return tr(c.label);
  return word;
}

// The body of each option's help, before the factory-default line: what it
// does, then what each of its choices does where the table says.
std::string help_body(std::size_t index) {
  const OptionEntry& option = option_entries()[index];
  std::string body = tr(option.help);
  if (option.choice_help != nullptr) body += "\n" + option.choice_help(index);
  return body;
}

}  // namespace

const std::array<AdvancedOptionInfo, kAdvancedOptionCount>& advanced_option_table() {
  static const std::array<AdvancedOptionInfo, kAdvancedOptionCount> table = [] {
    std::array<AdvancedOptionInfo, kAdvancedOptionCount> infos;
    for (std::size_t i = 0; i < infos.size(); ++i) infos[i] = option_entries()[i].info;
    return infos;
  }();
  return table;
}

std::string advanced_option_help(std::size_t index) {
  if (index >= kAdvancedOptionCount) return {};
  return help_body(index) + "\n" + tr("Default factory value") + ": " +
         advanced_option_table()[index].factory_default;
}

std::optional<std::size_t> find_advanced_option(const std::string& key) {
  const auto& table = advanced_option_table();
  for (std::size_t i = 0; i < table.size(); ++i)
    if (iequals(key, table[i].key)) return i;
  return std::nullopt;
}

std::optional<std::string> normalise_advanced_value(std::size_t index, const std::string& text) {
  if (index >= kAdvancedOptionCount) return std::nullopt;
  if (text.find_first_of("\r\n") != std::string::npos) return std::nullopt;
  const auto& info = advanced_option_table()[index];
  if (info.keywords.empty()) return text;
  // A stored word as it is written comes first: some words are also another
  // word's label in other letters ("LOWEST" is stored for "very low", while
  // "lowest" labels IDLE). Then the labels, then the words in any letters.
  for (const auto& c : info.keywords)
    if (text == c.word) return std::string(c.word);
  for (const auto& c : info.keywords)
    if (iequals(text, c.label) || iequals(text, tr(c.label))) return std::string(c.word);
  for (const auto& c : info.keywords)
    if (iequals(text, c.word)) return std::string(c.word);
  return std::nullopt;
}

void AdvancedOptions::initialise(bool force, std::size_t index, const IniFile& config) {
  std::string& value = m_values.at(index);
  if (!force && !value.empty()) return;
  const auto& info = advanced_option_table()[index];
  value = config.get(kDefaultValuesSection, info.key, info.factory_default);
}

void AdvancedOptions::initialise_all(bool force, const IniFile& config) {
  for (std::size_t i = 0; i < kAdvancedOptionCount; ++i) initialise(force, i, config);
}

void AdvancedOptions::initialise_all(bool force, const ConfigFile& config) { initialise_all(force, config.read()); }

bool AdvancedOptions::save_defaults(const ConfigFile& config) const {
  std::vector<std::pair<std::string, std::string>> values;
  const auto& table = advanced_option_table();
  for (std::size_t i = 0; i < kAdvancedOptionCount; ++i) values.emplace_back(table[i].key, m_values[i]);
  return config.set_all(kDefaultValuesSection, values);
}

std::string AdvancedOptions::value(const std::string& key) const {
  auto index = find_advanced_option(key);
  return index ? m_values[*index] : std::string();
}

}  // namespace tess
