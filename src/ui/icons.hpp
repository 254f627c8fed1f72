#pragma once
// The pictures of the main window's buttons, drawn with QPainter as simple
// shapes of our own, so the program needs no image files and every picture
// stays sharp at any scale.

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
QIcon button_icon(ButtonPicture picture);

}  // namespace tess
