// The window and its dialogs laid out from the templates' table
// (res/controls.def), as Windows lays out a dialog template: dialog units
// turned into pixels by the font's average character width and height.
#pragma once

#include <QFont>
#include <QMap>
#include <QRect>
#include <QWidget>

#include <vector>

#include "linux/templates.h"

namespace window {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int cx, int cy) const { return {X(x), Y(y), X(cx), Y(cy)}; }
  int AverageWidth() const { return averageWidth_; }
  int Height() const { return height_; }

 private:
  int averageWidth_;
  int height_;
};

// The font the templates ask for (10 pt of a sans face): the desktop's
// own sans family, and the desktop's size where a user asked for more.
QFont TemplateFont();

// The controls of a template, made as children of parent at their places,
// in template order (the tab order). Group boxes lie under the controls
// they hold; radio buttons of one group (WS_GROUP starts one) exclude each
// other and no others. By id; the unaddressed ones are not in the map.
QMap<int, QWidget*> PlaceControls(const std::vector<linuxhost::TemplateControl>& controls, QWidget& parent,
                                  const DialogUnits& units);

// The size of a template's client area in pixels.
QSize TemplateSize(int cx, int cy, const DialogUnits& units);

}  // namespace window
