#include "ui/form_style.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <limits>

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

void ShowCentredAndRaised(QWidget* window) {
    if (!window->isVisible())
        CentreOnScreen(window);
    window->show();
    window->raise();
    window->activateWindow();
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int x, int y, int w,
                        int h) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, y, w, h);
    button->setAutoDefault(false);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int x, int y, bool bold) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int w) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(x, y, w, 21);
    edit->setMaxLength(std::numeric_limits<int>::max());
    return edit;
}

} // namespace ferry
