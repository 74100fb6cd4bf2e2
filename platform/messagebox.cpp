// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "messagebox.h"

#include "desktopsession.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStyle>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <memory>
#include <optional>

namespace {

// The box sizes itself to its text, leaving 50 px beside the title for the
// title bar's buttons. Window managers draw the title in bold beside a window
// icon and three buttons, so a title longer than the text (the alert's own
// headline) came out cut. Room for all of them:
void makeRoomForTitle(QMessageBox &box, const QString &title)
{
    QFont bold = QApplication::font("QMdiSubWindowTitleBar");
    bold.setBold(true);
    const int buttons = 4 * box.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const int needed = QFontMetrics(bold).horizontalAdvance(title) + buttons;
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    const int buttonsAt = grid ? grid->indexOf(box.findChild<QDialogButtonBox *>()) : -1;
    if (buttonsAt >= 0) {
        // In the buttons' row, so the box grows no taller.
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(buttonsAt, &row, &column, &rows, &columns);
        grid->addItem(new QSpacerItem(needed, 0, QSizePolicy::Fixed, QSizePolicy::Fixed), row, 0, 1,
                      grid->columnCount());
    }
}

// While a box waits that is not modal, the program's other windows take no
// input, as behind a modal box; and one of them that the user turns to hands
// the keyboard on to the box.
class InputHold : public QObject
{
public:
    explicit InputHold(QWidget &box) : m_box(box) { qApp->installEventFilter(this); }
    ~InputHold() override { qApp->removeEventFilter(this); }
    InputHold(const InputHold &) = delete;
    InputHold &operator=(const InputHold &) = delete;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!watched->isWidgetType() || static_cast<QWidget *>(watched)->window() == &m_box)
            return false;
        switch (event->type()) {
        case QEvent::WindowActivate:
            m_box.raise();
            m_box.activateWindow();
            return false;
        case QEvent::Close:
            event->ignore(); // an accepted close that is filtered out still closes
            return true;
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::Drop:
            return true;
        default:
            return event->isInputEvent();
        }
    }

private:
    QWidget &m_box;
};

// On every workspace: where the user is now, and still there after a switch.
// Window managers place a new window by their own rules otherwise; kwin put an
// alert on the program's workspace.
void showOnEveryWorkspace(const QWidget &box)
{
    // Offscreen answers for X11 too, with no connection.
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    static constexpr char name[] = "_NET_WM_DESKTOP";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name),
                              nullptr),
        &free);
    const std::unique_ptr<xcb_query_tree_reply_t, decltype(&free)> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, xcb_window_t(box.winId())),
                             nullptr),
        &free);
    if (!atom || !tree)
        return;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = xcb_window_t(box.winId());
    message.type = atom->atom;
    message.data.data32[0] = 0xFFFFFFFF; // every workspace
    message.data.data32[1] = 1;          // asked for by an application
    xcb_send_event(connection, 0, tree->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(connection);
}

} // namespace

void MessageBox::show(const QString &text, const QString &title, QWidget *window)
{
    // Qt's X11 plugin gives the keyboard to every modal window it shows, so a
    // box for a user in another program is not modal at all. Wayland has no
    // such box: a window shown there takes the keyboard and comes up where
    // the compositor says, so it is at least modal over the program's window.
    const bool userIsHere = QApplication::activeWindow() != nullptr ||
                            QGuiApplication::platformName().startsWith(u"wayland");
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, window);
    // Names come from a web page; "<b>Bo</b>" must be shown as typed, not rendered.
    box.setTextFormat(Qt::PlainText);
    makeRoomForTitle(box, title);
    std::optional<InputHold> hold;
    if (!userIsHere) {
        box.setModal(false); // a message box is modal unless told
        // A window of its own, not a dialog: window managers keep a dialog
        // with the program's window, minimized with it (kwin) and on its
        // workspace.
        box.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
        box.setAttribute(Qt::WA_ShowWithoutActivating);
        hold.emplace(box);
    }
    DesktopSession::nameWindowClass(box);
    QEventLoop answered;
    QObject::connect(&box, &QDialog::finished, &answered, &QEventLoop::quit);
    box.show();
    if (!userIsHere) {
        showOnEveryWorkspace(box);
        QApplication::alert(&box); // until it is activated
    }
    answered.exec();
}
