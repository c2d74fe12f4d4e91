#include "ui/form_style.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace ferry {

namespace {

void InstallSubstitutes() {
    static bool done = false;
    if (done)
        return;
    done = true;
    // Faces with the narrow widths of the originals first; the last resort is always there.
    const QStringList narrow = {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica"),
                                QStringLiteral("DejaVu Sans")};
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), narrow);
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), narrow);
}

} // namespace

QFont FormFont(const QString& family) {
    InstallSubstitutes();
    QFont font(family);
    font.setPixelSize(11);
    font.setStyleHint(QFont::SansSerif);
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
