// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_docs.hpp"

#include <cctype>
#include <functional>
#include <regex>

#include "base/version.hpp"
#include "cli/help_format.hpp"

namespace tess {
namespace {

// ---- What an option's value is, for the shells ----------------------------

enum class ValueKind { none, file, folder, choice };

ValueKind value_kind(const CLI::Option& option) {
  const std::string word = value_word(option);
  if (word.find('|') != std::string::npos) return ValueKind::choice;
  if (word == "DIR") return ValueKind::folder;
  for (const char* files : {"FILE", "PATH", "IMAGE", "VIDEO", "LIST", "PARTS"})
    if (word == files) return ValueKind::file;
  return ValueKind::none;
}

// What the positional arguments of a command take: files when any of them does.
ValueKind arguments_kind(const CLI::App& command) {
  for (const CLI::Option* positional : positional_arguments(command))
    if (value_kind(*positional) == ValueKind::file) return ValueKind::file;
  return ValueKind::none;
}

bool repeatable(const CLI::Option& option) {
  return option.get_expected_max() >= CLI::detail::expected_max_vector_size;
}

// Every command from the top, each before the commands under it.
void each_command(const CLI::App& command, const std::function<void(const CLI::App&)>& visit) {
  visit(command);
  for (const CLI::App* sub : sub_commands(command)) each_command(*sub, visit);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::vector<std::string> option_flags(const CLI::Option& option) {
  std::vector<std::string> flags;
  for (const std::string& name : option.get_snames()) flags.push_back("-" + name);
  for (const std::string& name : option.get_lnames()) flags.push_back("--" + name);
  return flags;
}

std::string joined(const std::vector<std::string>& words, const std::string& between) {
  std::string out;
  for (const std::string& word : words) out += (out.empty() ? "" : between) + word;
  return out;
}

// ---- roff --------------------------------------------------------------------

// Text as roff shows it literally: hyphens that are minus signs (options
// are copied from the page), backslashes, and no line taken for a request.
std::string roff(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  std::string lines;
  std::size_t start = 0;
  while (start <= out.size()) {
    const std::size_t end = std::min(out.find('\n', start), out.size());
    std::string line = out.substr(start, end - start);
    if (!line.empty() && (line[0] == '.' || line[0] == '\'')) line = "\\&" + line;
    lines += line;
    if (end < out.size()) lines += '\n';
    start = end + 1;
  }
  return lines;
}

// A usage such as "[OPTION]... IMAGE..." with its words in italics.
std::string roff_usage(const std::string& usage) {
  static const std::regex kWord("[A-Z][A-Z.]*");
  return std::regex_replace(roff(usage), kWord, "\\fI$&\\fR");
}

std::string roff_option(const CLI::Option& option) {
  std::vector<std::string> names;
  for (const std::string& flag : option_flags(option)) names.push_back("\\fB" + roff(flag) + "\\fR");
  std::string text = joined(names, ", ");
  if (const std::string word = value_word(option); !word.empty()) text += "=\\fI" + roff(word) + "\\fR";
  return text;
}

std::string lower_first(std::string text) {
  // "Build a mosaic" reads "build a mosaic" after the page's name; a name
  // such as "Tile Images List" keeps its capitals past the first word.
  if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
      std::islower(static_cast<unsigned char>(text[1])))
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

std::string sentence(std::string text) {
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

std::string options_section(const CLI::App& command) {
  std::string out;
  for (const CLI::Option* positional : positional_arguments(command))
    out += ".TP\n\\fI" + roff(positional->get_name(true, false)) + "\\fR" + (repeatable(*positional) ? "..." : "") +
           "\n" + roff(sentence(positional->get_description())) + "\n";
  for (const CLI::Option* option : shown_options(command))
    out += ".TP\n" + roff_option(*option) + "\n" + roff(sentence(option->get_description())) + "\n";
  return out;
}

std::string synopsis_line(const CLI::App& command) {
  return ".B " + roff(command_path(command)) + "\n" + roff_usage(usage_arguments(command)) + "\n";
}

void gather_examples(const CLI::App& command, std::vector<HelpExample>& examples) {
  for (const HelpExample& example : examples_of(command)) examples.push_back(example);
  for (const CLI::App* sub : sub_commands(command)) gather_examples(*sub, examples);
}

constexpr const char* kProgramDescription =
    ".B tessellarium\n"
    "cuts a main image into cells and puts into every cell the best matching\n"
    "picture of a Tile Images List, a catalogue of photos or short video clips\n"
    "analysed once into small colour signatures and kept in a\n"
    ".B .tzc\n"
    "file. It reads and changes the same settings as the desktop program,\n"
    ".BR tessellarium\\-gui (1).\n"
    "Every command prints its own options with\n"
    ".BR \\-\\-help .\n";

constexpr const char* kExitStatus =
    ".SH \"EXIT STATUS\"\n"
    ".TP\n.B 0\nEverything asked for was done.\n"
    ".TP\n.B 1\nThe job failed or was stopped (Ctrl+C); an\n.B error:\nline on standard error says why.\n"
    ".TP\n.B 2\nThe command line or its input could not be used, and nothing was done; an\n"
    ".B error:\nline on standard error says why.\n";

constexpr const char* kEnvironment =
    ".SH ENVIRONMENT\n"
    ".TP\n.B TESSELLARIUM_CONFIG_PATH\n"
    "Folder of the settings and the configuration, instead of\n"
    ".IR $XDG_CONFIG_HOME/Tessellarium .\n"
    ".TP\n.B XDG_CONFIG_HOME\n"
    "Where the settings folder\n.I Tessellarium\nis kept (an absolute path; default\n.IR ~/.config ).\n"
    ".TP\n.B XDG_CACHE_HOME\n"
    "Where the cache folder\n.I Tessellarium\nis kept: the lists that\n.B mosaic \\-\\-tiles\n"
    "makes of folders (an absolute path; default\n.IR ~/.cache ).\n"
    ".TP\n.B XDG_RUNTIME_DIR\n"
    "Where the locks are kept that stop two runs writing the same mosaic at once\n"
    "(else in the cache folder).\n"
    ".TP\n.B HOME\n"
    "The home folder the default settings and cache folders are in.\n"
    ".TP\n.B TESSELLARIUM_DATA_DIR\n"
    "Data folder (message catalogues, user guide, web viewer, example list)\n"
    "instead of\n.I ../share/tessellarium\nbeside the program.\n"
    ".TP\n.BR LANGUAGE \", \" LC_ALL \", \" LC_MESSAGES \", \" LANG\n"
    "Language of the messages.\n";

constexpr const char* kFiles =
    ".SH FILES\n"
    ".TP\n.I ~/.config/Tessellarium/Tessellarium Standard/TessellariumConfig.txt\n"
    "The advanced options' default values, as\n.B tessellarium config\nshows and changes them.\n"
    ".TP\n.I ~/.config/Tessellarium/Tessellarium Standard/TessellariumSettings12x9.txt\n"
    "The named mosaic settings of\n.BR \"tessellarium settings\" ,\n"
    "shared with the desktop program.\n"
    ".TP\n.I ~/.cache/Tessellarium/Tile Lists/\n"
    "The Tile Images Lists that\n.B mosaic \\-\\-tiles\nkeeps of its folders.\n"
    ".TP\n.I *.tzc\n"
    "A Tile Images List: the pictures' folders and their analysis.\n";

}  // namespace

std::string man_page_name(const CLI::App& command) { return replaced(command_path(command), " ", "-") + ".1"; }

std::string man_page(const CLI::App& command, const std::string& date) {
  const bool top = command.get_parent() == nullptr;
  const std::string page = replaced(command_path(command), " ", "-");
  std::string upper = page;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  std::string out = ".\\\" Made from the program's command definitions when it was built: edit those, not this page.\n";
  out += ".TH " + roff(upper) + " 1 \"" + date + "\" \"Tessellarium " + kVersionText + "\" \"User Commands\"\n";
  out += ".SH NAME\n" + roff(page) + " \\- " + roff(lower_first(command.get_description())) + "\n";

  const auto subs = sub_commands(command);
  out += ".SH SYNOPSIS\n";
  if (top || subs.empty()) {
    out += synopsis_line(command);
  } else {
    for (std::size_t i = 0; i < subs.size(); ++i) out += (i > 0 ? ".br\n" : "") + synopsis_line(*subs[i]);
  }

  out += ".SH DESCRIPTION\n";
  if (top) out += kProgramDescription + std::string(".PP\n");
  out += roff(sentence(command.get_description())) + "\n";

  if (top) {
    out += ".SH COMMANDS\n";
    for (const CLI::App* sub : subs)
      out += ".TP\n.BR " + roff(man_page_name(*sub).substr(0, man_page_name(*sub).size() - 2)) + " (1)\n" +
             roff(sentence(sub->get_description())) + "\n";
    out += ".SH OPTIONS\n" + options_section(command);
  } else if (subs.empty()) {
    out += ".SH OPTIONS\n" + options_section(command);
  } else {
    out += ".SH OPTIONS\n" + options_section(command) + ".SH COMMANDS\n";
    for (const CLI::App* sub : subs) {
      out += ".SS \"" + roff(command_path(*sub)) + "\"\n" + roff(sentence(sub->get_description())) + "\n";
      out += options_section(*sub);
    }
  }

  std::vector<HelpExample> examples;
  if (top) {
    for (const HelpExample& example : examples_of(command)) examples.push_back(example);
  } else {
    gather_examples(command, examples);
  }
  if (!examples.empty()) {
    out += ".SH EXAMPLES\n";
    for (const HelpExample& example : examples)
      out += ".PP\n.EX\n" + roff(example.command) + "\n.EE\n" + roff(example.what) + "\n";
  }
  out += kExitStatus;
  out += kEnvironment;
  out += kFiles;
  if (const std::string address = bug_report_address(); !address.empty())
    out += ".SH \"REPORTING BUGS\"\nReport bugs to: " + roff(address) + "\n";
  out += ".SH \"SEE ALSO\"\n";
  if (!top) out += ".BR tessellarium (1),\n";
  out += ".BR tessellarium\\-gui (1)\n";
  return out;
}

// ---- bash --------------------------------------------------------------------

std::string bash_completion(const CLI::App& app) {
  std::vector<std::string> nodes, file_values, folder_values, free_values, choice_cases, node_cases;
  each_command(app, [&](const CLI::App& command) {
    const std::string node = command_path(command);
    if (&command != &app) nodes.push_back("\"" + node + "\"");
    std::vector<std::string> flags, commands;
    for (const CLI::Option* option : shown_options(command)) {
      for (const std::string& flag : option_flags(*option)) {
        flags.push_back(flag);
        if (value_word(*option).empty()) continue;
        const std::string key = "\"" + node + " " + flag + "\"";
        switch (value_kind(*option)) {
          case ValueKind::file: file_values.push_back(key); break;
          case ValueKind::folder: folder_values.push_back(key); break;
          case ValueKind::none: free_values.push_back(key); break;
          case ValueKind::choice:
            choice_cases.push_back("        " + key + ") mapfile -t COMPREPLY < <(compgen -W \"" +
                                   joined(value_choices(*option), " ") + "\" -- \"$cur\"); return ;;\n");
            break;
        }
      }
    }
    for (const CLI::App* sub : sub_commands(command)) commands.push_back(sub->get_name());
    node_cases.push_back("        \"" + node + "\") options=\"" + joined(flags, " ") + "\" commands=\"" +
                         joined(commands, " ") + "\" files=" +
                         (arguments_kind(command) == ValueKind::file ? "yes" : "no") + " ;;\n");
  });
  std::string out =
      "# bash completion for tessellarium                         -*- shell-script -*-\n"
      "# Made from the program's command definitions when it was built.\n\n"
      "_tessellarium() {\n"
      "    local cur=${COMP_WORDS[COMP_CWORD]} prev=\n"
      "    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
      "    # bash splits \"--list=FILE\" at the \"=\": the value follows it.\n"
      "    if [[ $cur == = ]]; then\n"
      "        cur=\n"
      "    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then\n"
      "        prev=${COMP_WORDS[COMP_CWORD - 2]}\n"
      "    fi\n"
      "    # The command the words so far name.\n"
      "    local node=tessellarium i\n"
      "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
      "        case \"$node ${COMP_WORDS[i]}\" in\n"
      "        " + joined(nodes, " | ") + ")\n"
      "            node=\"$node ${COMP_WORDS[i]}\" ;;\n"
      "        esac\n"
      "    done\n"
      "    # The value of the option before the cursor.\n"
      "    case \"$node $prev\" in\n";
  if (!file_values.empty())
    out += "        " + joined(file_values, " | ") + ")\n            mapfile -t COMPREPLY < <(compgen -f -- \"$cur\"); return ;;\n";
  if (!folder_values.empty())
    out += "        " + joined(folder_values, " | ") + ")\n            mapfile -t COMPREPLY < <(compgen -d -- \"$cur\"); return ;;\n";
  for (const std::string& choice : choice_cases) out += choice;
  if (!free_values.empty()) out += "        " + joined(free_values, " | ") + ")\n            COMPREPLY=(); return ;;\n";
  out += "    esac\n"
         "    local options= commands= files=no\n"
         "    case $node in\n";
  for (const std::string& node_case : node_cases) out += node_case;
  out += "    esac\n"
         "    if [[ $cur == -* ]]; then\n"
         "        mapfile -t COMPREPLY < <(compgen -W \"$options\" -- \"$cur\")\n"
         "    elif [[ -n $commands ]]; then\n"
         "        mapfile -t COMPREPLY < <(compgen -W \"$commands\" -- \"$cur\")\n"
         "    elif [[ $files == yes ]]; then\n"
         "        mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
         "    else\n"
         "        COMPREPLY=()\n"
         "    fi\n"
         "}\n"
         "complete -o filenames -F _tessellarium tessellarium\n";
  return out;
}

// ---- zsh ---------------------------------------------------------------------

namespace {

std::string zsh_quoted(const std::string& text) { return replaced(text, "'", "'\\''"); }

std::string zsh_description(const std::string& text) {
  std::string out = replaced(text, "\\", "\\\\");
  out = replaced(out, "[", "\\[");
  out = replaced(out, "]", "\\]");
  return zsh_quoted(out);
}

std::string zsh_action(const CLI::Option& option) {
  switch (value_kind(option)) {
    case ValueKind::file: return "_files";
    case ValueKind::folder: return "_files -/";
    case ValueKind::choice: return "(" + joined(value_choices(option), " ") + ")";
    case ValueKind::none: break;
  }
  return " ";
}

std::string zsh_function(const CLI::App& command) { return "_" + replaced(command_path(command), " ", "_"); }

std::string zsh_option_spec(const CLI::Option& option) {
  const std::vector<std::string> flags = option_flags(option);
  const std::string description = "[" + zsh_description(option.get_description()) + "]";
  const bool help = option.get_lnames() == std::vector<std::string>{"help"} ||
                    option.get_lnames() == std::vector<std::string>{"version"};
  std::string prefix;
  if (help) prefix = "(- *)";  // nothing else goes with --help or --version
  else if (flags.size() > 1) prefix = "(" + joined(flags, " ") + ")";
  if (repeatable(option)) prefix = "*";
  std::string names = flags.size() > 1 ? "'" + prefix + "'{" + joined(flags, ",") + "}'" : "'" + prefix + flags[0];
  if (value_word(option).empty()) return names + description + "'";
  return names + "=" + description + ":" + zsh_quoted(value_word(option)) + ":" + zsh_quoted(zsh_action(option)) + "'";
}

}  // namespace

std::string zsh_completion(const CLI::App& app) {
  std::string out =
      "#compdef tessellarium\n"
      "# zsh completion for tessellarium, made from the program's command definitions when it was built.\n";
  each_command(app, [&](const CLI::App& command) {
    out += "\n" + zsh_function(command) + "() {\n";
    std::vector<std::string> specs;
    for (const CLI::Option* option : shown_options(command)) specs.push_back(zsh_option_spec(*option));
    const auto subs = sub_commands(command);
    if (subs.empty()) {
      int position = 1;
      for (const CLI::Option* positional : positional_arguments(command)) {
        const std::string where = repeatable(*positional) ? "*" : std::to_string(position++);
        specs.push_back("'" + where + ":" + zsh_quoted(positional->get_name(true, false)) + ":" +
                        zsh_quoted(zsh_action(*positional)) + "'");
      }
      out += "  _arguments -s -S \\\n    " + joined(specs, " \\\n    ") + "\n}\n";
      return;
    }
    specs.push_back("'1:command:->command'");
    specs.push_back("'*::argument:->argument'");
    out += "  local curcontext=$curcontext state line\n"
           "  _arguments -C \\\n    " + joined(specs, " \\\n    ") + "\n"
           "  case $state in\n"
           "    command)\n"
           "      local -a commands=(\n";
    for (const CLI::App* sub : subs)
      out += "        '" + sub->get_name() + ":" + zsh_quoted(replaced(sub->get_description(), ":", "\\:")) + "'\n";
    out += "      )\n"
           "      _describe -t commands command commands ;;\n"
           "    argument)\n"
           "      case $words[1] in\n";
    for (const CLI::App* sub : subs) out += "        " + sub->get_name() + ") " + zsh_function(*sub) + " ;;\n";
    out += "      esac ;;\n"
           "  esac\n"
           "}\n";
  });
  out += "\n"
         "if [[ $funcstack[1] == _tessellarium ]]; then\n"
         "  _tessellarium \"$@\"\n"
         "else\n"
         "  compdef _tessellarium tessellarium\n"
         "fi\n";
  return out;
}

// ---- fish --------------------------------------------------------------------

namespace {

std::string fish_quoted(const std::string& text) {
  return "'" + replaced(replaced(text, "\\", "\\\\"), "'", "\\'") + "'";
}

}  // namespace

std::string fish_completion(const CLI::App& app) {
  std::vector<std::string> nodes;
  each_command(app, [&](const CLI::App& command) {
    if (&command != &app) nodes.push_back(fish_quoted(command_path(command)));
  });
  std::string out =
      "# fish completion for tessellarium, made from the program's command definitions when it was built.\n\n"
      "# The command the words so far name.\n"
      "function __tessellarium_command\n"
      "    set -l node tessellarium\n"
      "    for word in (commandline -opc)[2..-1]\n"
      "        switch \"$node $word\"\n"
      "            case " + joined(nodes, " ") + "\n"
      "                set node \"$node $word\"\n"
      "        end\n"
      "    end\n"
      "    echo $node\n"
      "end\n\n"
      "function __tessellarium_is\n"
      "    test (__tessellarium_command) = \"$argv[1]\"\n"
      "end\n\n"
      "complete -c tessellarium -f\n";
  each_command(app, [&](const CLI::App& command) {
    const std::string when = "complete -c tessellarium -n " + fish_quoted("__tessellarium_is " + fish_quoted(command_path(command)));
    out += "\n";
    for (const CLI::App* sub : sub_commands(command))
      out += when + " -a " + sub->get_name() + " -d " + fish_quoted(sub->get_description()) + "\n";
    for (const CLI::Option* option : shown_options(command)) {
      std::string line = when;
      for (const std::string& name : option->get_snames()) line += " -s " + name;
      for (const std::string& name : option->get_lnames()) line += " -l " + name;
      if (!value_word(*option).empty()) {
        switch (value_kind(*option)) {
          case ValueKind::file: line += " -r -F"; break;
          case ValueKind::folder: line += " -x -a '(__fish_complete_directories)'"; break;
          case ValueKind::choice: line += " -x -a " + fish_quoted(joined(value_choices(*option), " ")); break;
          case ValueKind::none: line += " -x"; break;
        }
      }
      out += line + " -d " + fish_quoted(option->get_description()) + "\n";
    }
    if (sub_commands(command).empty() && arguments_kind(command) == ValueKind::file) out += when + " -F\n";
  });
  return out;
}

}  // namespace tess
