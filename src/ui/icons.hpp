#pragma once
// The pictures of the main window's buttons, drawn with QPainter as simple
// shapes of our own, so the program needs no image files and every picture
// stays sharp at any scale. Where the desktop's icon theme has an icon of the
// same meaning, that one is shown, so the program looks like its neighbours.

#include <QIcon>

namespace tess {

/// The button pictures the main window shows.
enum class ButtonPicture {
  settings_load,
  settings_add,
  settings_remove,
  image_add,
  image_remove,
  image_remove_all,
  tile_images,
  options,
  create_mosaic,
  create_mosaic_stop,
  help,
  language,
  about,
};

/// The picture as an icon with 16, 24, 32 and 48 pixel renderings.
QIcon drawn_icon(ButtonPicture picture);

/// The icon theme's icon where the desktop has one for the button's meaning
/// (help, about, stop), else our drawn picture.
QIcon button_icon(ButtonPicture picture);

/// The program's icon from the icon theme (an installed program has it
/// there), else the drawn mosaic picture.
QIcon application_icon();

}  // namespace tess
