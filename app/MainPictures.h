// The main window's pictures, drawn in code: tab icons, the decorative
// picture of each tab and the two image buttons in their normal and pressed look.
#pragma once

class QImage;

enum class TTabMotif { Search, List, Download, Browse };

QImage DrawTabIcon(TTabMotif motif, int size);
QImage DrawTabPicture(TTabMotif motif, int width, int height);
QImage DrawInfoButton(int size, bool pressed);
QImage DrawExitButton(int size, bool pressed);
