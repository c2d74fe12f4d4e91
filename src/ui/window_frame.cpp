#include "ui/window_frame.h"

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef FERRY_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace ferry {

namespace {

class Unminimiser : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowStateChange) {
            auto* window = static_cast<QWidget*>(watched);
            if (window->isVisible() && window->isMinimized())
                QTimer::singleShot(0, window, [window] {
                    if (!window->isVisible() || !window->isMinimized())
                        return;
                    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
                    window->show();
                    window->raise();
                    window->activateWindow();
                });
        }
        return false;
    }
};

} // namespace

void KeepFromMinimising(QWidget* window) {
    window->installEventFilter(new Unminimiser(window));
}

void OfferNoFrameButtons(QWidget* window) {
#ifdef FERRY_HAVE_XCB
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !window)
        return;
    xcb_connection_t* connection = x11->connection();
    if (!connection)
        return;
    static const char kName[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(kName), kName), nullptr);
    if (!atom)
        return;
    // Motif hints: flags, functions, decorations, input mode, status. Functions: move
    // only; decorations: border and title, so no button at all.
    constexpr uint32_t kFunctionsAndDecorations = 0x1 | 0x2;
    constexpr uint32_t kMove = 0x4;
    constexpr uint32_t kBorderAndTitle = 0x2 | 0x8;
    const uint32_t hints[5] = {kFunctionsAndDecorations, kMove, kBorderAndTitle, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(window->winId()), atom->atom, atom->atom, 32, 5,
                        hints);
    std::free(atom);
    xcb_flush(connection);
#else
    (void)window;
#endif
}

} // namespace ferry
