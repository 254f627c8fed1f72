// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/help_format.hpp"

#include <algorithm>
#include <sstream>

#include "base/text.hpp"
#include "base/version.hpp"

namespace tess {
namespace {

// Descriptions start in this column, as in the help of the GNU tools; the
// text is wrapped to fit 80 columns.
constexpr std::size_t kDescriptionColumn = 30;
constexpr std::size_t kLineWidth = 79;

// A command's examples ride in its footer, the one text CLI11 keeps for a
// command besides its description: a first line naming the command (a
// sub-command inherits its parent's footer when it is added), then one
// "command<TAB>what" line an example.
constexpr char kExamplesMark = '\x1e';

// `text` as lines of at most kLineWidth columns, the first starting at
// column `first`, the others indented to `indent`.
std::string wrapped(const std::string& text, std::size_t first, std::size_t indent) {
  std::string out;
  std::size_t column = first;
  std::istringstream words(text);
  std::string word;
  bool line_start = true;
  while (words >> word) {
    if (!line_start && column + 1 + word.size() > kLineWidth) {
      out += '\n' + std::string(indent, ' ');
      column = indent;
      line_start = true;
    }
    if (!line_start) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    line_start = false;
  }
  return out;
}

// "  NAME         description", the description at its column or on the next line.
std::string help_row(const std::string& name, const std::string& description) {
  std::string row = name;
  if (row.size() + 2 <= kDescriptionColumn) {
    row += std::string(kDescriptionColumn - row.size(), ' ');
  } else {
    row += '\n' + std::string(kDescriptionColumn, ' ');
  }
  return row + wrapped(description, kDescriptionColumn, kDescriptionColumn) + '\n';
}

std::string option_names(const CLI::Option& option) {
  std::string names;
  for (const std::string& name : option.get_snames()) names += "-" + name + ", ";
  if (names.empty()) names = "    ";
  std::string longs;
  for (const std::string& name : option.get_lnames()) longs += (longs.empty() ? "--" : ", --") + name;
  names += longs;
  if (const std::string word = value_word(option); !word.empty()) names += "=" + word;
  return names;
}

std::string positional_usage(const CLI::Option& option) {
  const bool many = option.get_expected_max() >= CLI::detail::expected_max_vector_size;
  const std::string name = option.get_name(true, false);
  if (option.get_required()) return many ? name + "..." : name;
  return many ? "[" + name + "]..." : "[" + name + "]";
}

// The description as a sentence.
std::string sentence(std::string text) {
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

}  // namespace

void set_examples(CLI::App& command, const std::vector<HelpExample>& examples) {
  std::string footer = std::string(1, kExamplesMark) + command.get_name() + '\n';
  for (const HelpExample& example : examples) footer += example.command + '\t' + example.what + '\n';
  command.footer(footer);
}

std::vector<HelpExample> examples_of(const CLI::App& command) {
  std::vector<HelpExample> examples;
  std::istringstream lines(command.get_footer());
  std::string line;
  if (!std::getline(lines, line) || line != std::string(1, kExamplesMark) + command.get_name()) return examples;
  while (std::getline(lines, line))
    if (const auto tab = line.find('\t'); tab != std::string::npos)
      examples.push_back({line.substr(0, tab), line.substr(tab + 1)});
  return examples;
}

std::string value_word(const CLI::Option& option) {
  if (option.get_type_size() == 0) return {};
  // CLI11 adds its checks' descriptions after a colon; the word before them is ours.
  std::string word = option.get_type_name();
  return word.substr(0, word.find(':'));
}

std::vector<std::string> value_choices(const CLI::Option& option) {
  std::vector<std::string> choices;
  const std::string word = value_word(option);
  if (word.find('|') == std::string::npos) return choices;
  std::size_t start = 0;
  for (std::size_t bar = word.find('|'); ; bar = word.find('|', start)) {
    choices.push_back(word.substr(start, bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return choices;
}

std::vector<const CLI::Option*> shown_options(const CLI::App& command) {
  std::vector<const CLI::Option*> options =
      command.get_options([](const CLI::Option* option) { return option->nonpositional() && !option->get_group().empty(); });
  // The help flag comes last, as in the GNU tools.
  std::stable_partition(options.begin(), options.end(),
                        [&command](const CLI::Option* option) { return option != command.get_help_ptr(); });
  return options;
}

std::vector<const CLI::Option*> positional_arguments(const CLI::App& command) {
  return command.get_options([](const CLI::Option* option) { return option->get_positional(); });
}

std::vector<const CLI::App*> sub_commands(const CLI::App& command) {
  return command.get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty() && !sub->get_disabled(); });
}

std::string command_path(const CLI::App& command) {
  std::string path = command.get_name();
  for (const CLI::App* parent = command.get_parent(); parent != nullptr; parent = parent->get_parent())
    path = parent->get_name() + " " + path;
  return path;
}

std::string usage_arguments(const CLI::App& command) {
  if (!sub_commands(command).empty())
    return command.get_parent() == nullptr ? "[OPTION]... COMMAND [ARG]..." : "COMMAND [ARG]...";
  std::string usage = "[OPTION]...";
  for (const CLI::Option* positional : positional_arguments(command)) usage += " " + positional_usage(*positional);
  return usage;
}

std::string bug_report_address() { return kBugReportAddress; }

std::string GnuHelpFormatter::make_help(const CLI::App* app, std::string name, CLI::AppFormatMode) const {
  const std::string path = name.empty() ? command_path(*app) : name;
  std::string out = "Usage: " + path + " " + usage_arguments(*app) + "\n";
  out += wrapped(sentence(app->get_description()), 0, 0) + "\n";

  if (const auto positionals = positional_arguments(*app); !positionals.empty()) {
    out += "\nArguments:\n";
    for (const CLI::Option* positional : positionals)
      out += help_row("  " + positional_usage(*positional), positional->get_description());
  }
  if (const auto options = shown_options(*app); !options.empty()) {
    out += "\nOptions:\n";
    for (const CLI::Option* option : options) out += help_row("  " + option_names(*option), option->get_description());
  }
  if (const auto subs = sub_commands(*app); !subs.empty()) {
    out += "\nCommands:\n";
    for (const CLI::App* sub : subs) out += help_row("  " + sub->get_name(), sub->get_description());
    out += "\n" + wrapped(format("Run '%s COMMAND --help' for the options of each command.", path), 0, 0) + "\n";
  }
  if (const auto examples = examples_of(*app); !examples.empty()) {
    out += "\nExamples:\n";
    for (const HelpExample& example : examples)
      out += "  " + example.command + "\n      " + wrapped(example.what, 6, 6) + "\n";
  }
  if (const std::string address = bug_report_address(); !address.empty())
    out += "\nReport bugs to: " + address + "\n";
  return out;
}

std::size_t edit_distance(const std::string& a, const std::string& b) {
  // Optimal string alignment: Levenshtein's distance with the swap of two
  // neighbours as one edit, the commonest slip of a typist ("mosiac").
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

std::string unknown_command(const CLI::App& app, int argc, const char* const* argv) {
  const CLI::App* current = &app;
  bool help = false;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--") break;
    help = help || word == "-h" || word == "--help";
    if (word.starts_with('-')) continue;  // the commands that hold others take flags only
    const auto subs = sub_commands(*current);
    if (subs.empty()) break;  // the rest belongs to a command that takes arguments
    const auto known = std::find_if(subs.begin(), subs.end(), [&word](const CLI::App* sub) { return sub->check_name(word); });
    if (known != subs.end()) {
      current = *known;
      continue;
    }
    // The nearest command when it is a slip away: one edit for a short
    // name, two for a longer one, or the start of one command only.
    const CLI::App* nearest = nullptr;
    std::size_t best = word.size() >= 5 ? 2 : 1;
    int starting = 0;
    const CLI::App* started = nullptr;
    for (const CLI::App* sub : subs) {
      if (const std::size_t distance = edit_distance(word, sub->get_name()); distance <= best) {
        if (nearest == nullptr || distance < best) nearest = sub;
        best = distance;
      }
      if (word.size() >= 2 && sub->get_name().starts_with(word)) ++starting, started = sub;
    }
    if (nearest == nullptr && starting == 1) nearest = started;
    const std::string what = current == &app ? "command" : current->get_name() + " command";
    if (nearest != nullptr) return format("unknown %s '%s'; did you mean '%s'?", what, word, nearest->get_name());
    return format("unknown %s '%s' (try '%s --help')", what, word, command_path(*current));
  }
  // A command that holds others, given none of them.
  if (const auto subs = sub_commands(*current); current != &app && !subs.empty() && !help) {
    std::string names;
    for (const CLI::App* sub : subs) names += (names.empty() ? "" : ", ") + sub->get_name();
    return format("'%s' needs one of its commands: %s (try '%s --help')", command_path(*current), names,
                  command_path(*current));
  }
  return {};
}

}  // namespace tess
