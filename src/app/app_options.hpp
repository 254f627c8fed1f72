#pragma once
// The start of the desktop program: its command line (-A, -I, -M, -O), the
// interface language applied before the message catalogue is bound, and the
// start menu of -M.

#include <string>
#include <string_view>

#include <QDialog>

namespace tess {

class Prompt;

/// What the command line asks for.
struct CommandLine {
  std::string main_image;  ///< -I
  std::string output;      ///< -O: the mosaic's file for the image of -I
  bool about = false;      ///< -A
  bool start_menu = false; ///< -M
};

/// Reads the whole command line text: a dash, one option letter (any case),
/// then an argument either in double quotes or up to the next blank, and the
/// rest is read again. -A and -M take no argument of their own when the text
/// ends or the next option follows. Unknown letters are skipped; -O counts
/// only together with -I.
CommandLine parse_command_line(std::string_view text);

/// The Tile Images List a file manager hands over: the last argument that
/// names a ".tzc" file (any case) and is not the value of a two-letter option
/// such as -I or -O; empty when there is none.
std::string tile_list_argument(int argc, const char* const* argv);

/// The arguments as one command line text: an argument holding a blank is
/// put in double quotes, as the user typed it in a shell.
std::string join_arguments(int argc, const char* const* argv);

/// Applies the interface language `locale` ("de", "fr", ...; empty keeps
/// the environment's choice) and binds the message catalogue of the data
/// folder. Call before any text is translated.
void apply_language(const std::string& locale);

/// The companion program of a start-menu tile type (0 square, 1 rectangle,
/// 2 DSLR, 3 movie): "Tessellarium" + shape word, beside this program.
std::string companion_program(int tile_type);

/// The start menu (-M): four tile types and the tutorial.
class StartMenu : public QDialog {
  Q_OBJECT
 public:
  StartMenu(Prompt& prompt, QWidget* parent = nullptr);

  /// Starts the companion program of `tile_type`: the window closes after
  /// 3 seconds; a program that cannot be started is reported and the menu
  /// stays.
  void start_companion(int tile_type);
  /// Opens the user guide.
  void open_tutorial();

 private:
  Prompt& m_prompt;
};

}  // namespace tess
