#include "app/app_options.hpp"

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <regex>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "settings/user_state.hpp"
#include "ui/icons.hpp"
#include "ui/main_window.hpp"

namespace tess {
namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

bool takes_no_argument(char letter) { return letter == 'a' || letter == 'm'; }

std::string_view trimmed_front(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  return text;
}

struct TileType {
  const char* label;
  const char* shape;  // the companion program's shape word
};
constexpr TileType kTileTypes[] = {{N_("Square Tiles (1:1)"), "Square"},
                                   {N_("Rectangle Tiles (4:3)"), ""},
                                   {N_("DSLR Tiles (3:2)"), "DSLR"},
                                   {N_("Movie Tiles (16:9)"), "Cinescope"}};

// The locale the environment asks texts in: LC_ALL, LC_MESSAGES, then LANG.
std::string messages_locale_asked() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') return value;
  return {};
}

}  // namespace

CommandLine parse_command_line(std::string_view text) {
  static const std::regex kOption(R"(^\s*\-(\S)\s*(?:(?:["]([^"]+)["])|([^"]\S*))\s*(.*)$)");
  CommandLine line;
  std::string image, output;
  std::string rest(text);
  while (true) {
    const std::string_view front = trimmed_front(rest);
    if (front.size() < 2 || front[0] != '-') break;
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(front[1])));
    // -A and -M stand alone at the end or before the next option; the
    // grammar would otherwise take "-I" as their argument.
    if (takes_no_argument(letter)) {
      const std::string_view after = trimmed_front(front.substr(2));
      if (after.empty() || after.front() == '-') {
        (letter == 'a' ? line.about : line.start_menu) = true;
        rest = std::string(after);
        continue;
      }
    }
    std::smatch match;
    const std::string current(front);
    if (!std::regex_match(current, match, kOption)) break;
    const std::string argument = match[2].matched ? match[2].str() : match[3].str();
    switch (letter) {
      case 'a':
        line.about = true;
        break;
      case 'm':
        line.start_menu = true;
        break;
      case 'i':
        image = argument;
        break;
      case 'o':
        output = argument;
        break;
      default:  // other letters are skipped with their argument
        break;
    }
    rest = match[4].str();
  }
  line.main_image = image;
  if (!image.empty()) line.output = output;
  return line;
}

std::string tile_list_argument(int argc, const char* const* argv) {
  std::string list;
  for (int i = 0; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.empty() || argument.front() == '-') continue;
    // "-I picture", "-O file": the value of an option, not a file to open.
    if (i > 0) {
      const std::string_view previous = argv[i - 1];
      if (previous.size() == 2 && previous[0] == '-' && !takes_no_argument(static_cast<char>(
                                                            std::tolower(static_cast<unsigned char>(previous[1])))))
        continue;
    }
    constexpr std::string_view kListExtension = ".tzc";
    if (argument.size() > kListExtension.size() &&
        iequals(argument.substr(argument.size() - kListExtension.size()), kListExtension))
      list = argument;
  }
  return list;
}

std::string join_arguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 0; i < argc; ++i) {
    if (!text.empty()) text += ' ';
    const std::string argument = argv[i];
    const bool blank = argument.find_first_of(" \t") != std::string::npos || argument.empty();
    text += blank ? "\"" + argument + "\"" : argument;
  }
  return text;
}

void apply_language(const std::string& locale) {
  if (!locale.empty()) {
    ::setenv("LANGUAGE", locale.c_str(), 1);
  } else if (const char* language = std::getenv("LANGUAGE"); language == nullptr || *language == '\0') {
    // A locale the system has not generated (LANG=de_DE.UTF-8 where only
    // C.UTF-8 exists) still names the user's language: its catalogue is
    // chosen through LANGUAGE, which gettext reads under C.UTF-8 below.
    const std::string asked = messages_locale_asked();
    if (!asked.empty() && asked != "C" && asked != "POSIX" && asked.rfind("C.", 0) != 0) {
      if (locale_t probe = ::newlocale(LC_MESSAGES_MASK, asked.c_str(), nullptr); probe != nullptr)
        ::freelocale(probe);
      else
        ::setenv("LANGUAGE", asked.substr(0, asked.find_first_of(".@")).c_str(), 1);
    }
  }
  init_text_from_data_folder();
  // gettext ignores LANGUAGE under the plain C locale; C.UTF-8 is present on
  // every system and lets the chosen catalogue speak.
  const char* messages = std::setlocale(LC_MESSAGES, nullptr);
  if (messages == nullptr || std::strcmp(messages, "C") == 0 || std::strcmp(messages, "POSIX") == 0)
    std::setlocale(LC_MESSAGES, "C.UTF-8");
}

std::string companion_program(int tile_type) {
  if (tile_type < 0 || tile_type >= static_cast<int>(std::size(kTileTypes))) return {};
  const QString folder = QCoreApplication::applicationDirPath();
  return (folder.isEmpty() ? std::string{} : folder.toStdString() + "/") + "Tessellarium" +
         kTileTypes[tile_type].shape;
}

StartMenu::StartMenu(Prompt& prompt, QWidget* parent) : QDialog(parent), m_prompt(prompt) {
  setObjectName(QStringLiteral("StartMenu"));
  setWindowTitle(QStringLiteral("Tessellarium"));
  auto* text = new QLabel(qt(tess::tr("Please select a Tile Type or the Tutorial for more information.")));
  text->setWordWrap(true);
  auto* grid = new QGridLayout;
  int missing = 0;
  for (int i = 0; i < static_cast<int>(std::size(kTileTypes)); ++i) {
    auto* button = new QPushButton(button_icon(ButtonPicture::create_mosaic), qt(tess::tr(kTileTypes[i].label)));
    button->setObjectName(QStringLiteral("tileType%1").arg(i));
    button->setIconSize(QSize(32, 32));
    button->setMinimumHeight(56);
    connect(button, &QPushButton::clicked, this, [this, i] { start_companion(i); });
    // A tile type whose program is not installed is shown, but not offered.
    const std::string program = companion_program(i);
    const QFileInfo file(qt(program));
    if (!file.isFile() || !file.isExecutable()) {
      button->setEnabled(false);
      ++missing;
      button->setToolTip(qt(format(tess::tr("This tile type needs the program '%s', which is not installed."), program)));
    }
    grid->addWidget(button, i / 2, i % 2);
  }
  auto* tutorial = new QPushButton(button_icon(ButtonPicture::help), qt(tess::tr("Tutorial")));
  tutorial->setObjectName(QStringLiteral("tutorial"));
  tutorial->setIconSize(QSize(24, 24));
  connect(tutorial, &QPushButton::clicked, this, &StartMenu::open_tutorial);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addLayout(grid);
  if (missing > 0) {
    auto* note = new QLabel(qt(tess::tr("The tile types shown in grey need programs that are not installed.")));
    note->setObjectName(QStringLiteral("missingNote"));
    note->setWordWrap(true);
    layout->addWidget(note);
  }
  layout->addWidget(tutorial);
}

void StartMenu::start_companion(int tile_type) {
  const std::string program = companion_program(tile_type);
  if (program.empty() || !QProcess::startDetached(qt(program), {})) {
    m_prompt.message(format(tess::tr("Unable to run '%s'. Please reinstall Tessellarium!"), program), Icon::error);
    return;
  }
  // The companion takes over; this menu leaves once it had time to appear.
  setEnabled(false);
  QTimer::singleShot(3000, this, &QDialog::accept);
}

void StartMenu::open_tutorial() {
  const UserState state;
  open_user_guide(state.get_text("Locale"), desktop_shell_actions().open_path, m_prompt);
}

}  // namespace tess
