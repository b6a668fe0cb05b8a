// The program's own glyphs, drawn in code so no image files have to travel with it.
#pragma once
#include <QIcon>

namespace tilvorn {

enum class TGlyph { OpenFile, Scan, Clipboard, Printer, Sheet, Print, Save, WebPage, Cancel };

/// A glyph of size × size pixels.
QIcon MakeGlyph(TGlyph glyph, int size = 32);

}  // namespace tilvorn
