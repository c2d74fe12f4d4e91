#include "ui/form_style.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace ferry {

namespace {

// The face to draw with: the named one where the system has it, else the first face of the
// same narrow widths, else the system's default sans-serif.
QString FaceFor(const QString& family) {
    if (QFontDatabase::hasFamily(family))
        return family;
    for (const char* narrow : {"Liberation Sans", "Arial", "Nimbus Sans", "Helvetica"}) {
        const QString face = QString::fromLatin1(narrow);
        if (QFontDatabase::hasFamily(face))
            return face;
    }
    return family;
}

} // namespace

QFont FormFont(const QString& family) {
    const QString face = FaceFor(family);
    QFont font(face);
    font.setPixelSize(11);
    font.setStyleHint(QFont::SansSerif);
    // The stand-in faces run a few per cent wider than the originals' 8-point faces; narrowed
    // to match, the captions fit the places the windows give them.
    if (face != family)
        font.setStretch(93);
    return font;
}

void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize frame = window->frameGeometry().size();
    window->move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
}

} // namespace ferry
