// The window's artwork, drawn in code: the seventeen 16 x 16 folder images, the program icon,
// the two banners of the main window and the picture of the About box.
#pragma once

#include <array>

#include <QIcon>
#include <QPixmap>
#include <QSize>

class QPainter;
class QRect;

namespace app {

inline constexpr int kFolderImageCount = 17;
inline constexpr int kFolderImageSize = 16;

// The icon resource behind each image index, in image-list order.
inline constexpr std::array<int, kFolderImageCount> kFolderImageResources = {
    156, 157, 139, 149, 151, 140, 141, 142, 152, 143, 153, 144, 145, 154, 146, 148, 147};

// The 16 x 16 picture of an icon resource of the folder image list (a plain folder for an
// unknown resource).
QPixmap FolderImagePixmap(int iconResource);

// Icon 128: the program icon, at 16, 32 and 48 pixels.
QIcon ProgramIcon();

// Bitmaps 132 and 133, the left and right banners of the main window, and 135, the About
// picture, painted to fill rect.
void PaintLeftBanner(QPainter& painter, const QRect& rect);
void PaintRightBanner(QPainter& painter, const QRect& rect);
void PaintAboutPicture(QPainter& painter, const QRect& rect);

}  // namespace app
