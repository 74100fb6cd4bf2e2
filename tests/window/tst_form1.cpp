#include "caretrest.h"
#include "chatsite.h"
#include "fakeplatform.h"
#include "form1.h"
#include "timer.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
Q_DECLARE_METATYPE(FetchResult)

namespace {

FetchResult pageOf(const QStringList &names)
{
    return FetchResult::page(QString::fromUtf8(ChatSite::userListPage(names)));
}

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

class TstForm1 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void freshWindowHasDesignStartValuesAndRowNames();
    void everyCaptionFitsAndRowZeroLinesUpInThePlainFont();
    void tabOrderAltSAndClickedPipLjudRefusal();
    void statusLineSaysWhatThePollFound_data();
    void statusLineSaysWhatThePollFound();
    void listSelectionFollowsTheAlertsAndEndsOnTheLastEntry();
    void listKeptFromThePollBeforeEndsAsAFreshOne_data();
    void listKeptFromThePollBeforeEndsAsAFreshOne();
    void slowFetchShowsTheListEmptyMeanwhile();
    void pageBufferAndNicksTakeMoreThanALineEditLimit();
    void textCursorRestsUntilInput();

private:
    // init() has checked that every control is there under its own name.
    template <typename T = QWidget> T *child(const QString &name) const
    {
        return m_form->findChild<T *>(name);
    }
    QCheckBox *box(const QString &name) const { return child<QCheckBox>(name); }
    Timer *timer1() const { return child<Timer>(u"Timer1"_s); }

    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<Form1> m_form;
};

void TstForm1::init()
{
    m_form.reset();
    m_platform = std::make_unique<FakePlatform>();
    m_form =
        std::make_unique<Form1>(*m_platform, QUrl(u"http://chat.example/login/chat/users.asp"_s));
    m_form->show();
    QApplication::setActiveWindow(m_form.get());
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    QStringList names{u"Frame1"_s,   u"Frame2"_s, u"Frame3"_s,    u"List1"_s,  u"Text1"_s,
                      u"CmdKnapp"_s, u"Combo1"_s, u"lblStatus"_s, u"Timer1"_s, u"Timer2"_s};
    for (int row = 0; row < WatchState::RowCount; ++row)
        for (const QString &name : {u"txtNick"_s, u"chkPopup"_s, u"chkPip"_s, u"ChkLjud"_s})
            names << name + QString::number(row);
    for (const QString &name : names)
        QVERIFY2(m_form->findChild<QObject *>(name), qPrintable(u"no control "_s + name));
}

void TstForm1::freshWindowHasDesignStartValuesAndRowNames()
{
    QCOMPARE(m_form->windowTitle(), u"Vindriks Chatt sökning"_s);
    auto *combo = child<QComboBox>(u"Combo1"_s);
    QStringList choices{combo->currentText(), QString::number(combo->currentIndex())};
    for (int i = 0; i < combo->count(); ++i)
        choices << combo->itemText(i);
    QCOMPARE(choices, (QStringList{u"3"_s, u"-1"_s, u"3"_s, u"5"_s, u"7"_s, u"10"_s, u"15"_s,
                                   u"20"_s, u"30"_s, u"40"_s, u"50"_s, u"60"_s}));
    // Typing "1" must not become "10" by completion.
    combo->setFocus(); // completion works only where the user types
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), u"1"_s);
    QCOMPARE(combo->currentText(), u"1"_s);
    QCOMPARE(child<QPushButton>(u"CmdKnapp"_s)->text(), u"&Starta programmet"_s);
    QVERIFY(!timer1()->isEnabled() && timer1()->interval() == 10'000);
    QVERIFY(child<Timer>(u"Timer2"_s)->isEnabled() && child<Timer>(u"Timer2"_s)->interval() == 500);
    QVERIFY(child(u"Text1"_s)->isHidden());
    // Assistive tools must tell the rows apart.
    const QStringList names{u"txtNick%1"_s, u"chkPopup%1"_s, u"chkPip%1"_s, u"ChkLjud%1"_s};
    const QStringList kinds{u"Nick"_s, u"Popup"_s, u"Pip"_s, u"Ljud"_s};
    for (int row = 0; row < WatchState::RowCount; ++row)
        for (int i = 0; i < 4; ++i)
            QCOMPARE(QAccessible::queryAccessibleInterface(child(names[i].arg(row)))
                         ->text(QAccessible::Name),
                     u"%1, rad %2"_s.arg(kinds[i]).arg(row + 1));
}

// Whatever the desktop's font, no control is smaller than its caption needs,
// and row 0, inside "Personer", is one with rows 1 to 7 on the window.
void TstForm1::everyCaptionFitsAndRowZeroLinesUpInThePlainFont()
{
    for (QWidget *control : m_form->findChildren<QWidget *>()) {
        if (control->objectName().isEmpty() || control->isHidden())
            continue;
        const QSize needed = control->minimumSizeHint();
        QVERIFY2(control->width() >= needed.width() && control->height() >= needed.height(),
                 qPrintable(control->objectName()));
    }
    for (const QString &option : {u"chkPopup"_s, u"chkPip"_s, u"ChkLjud"_s}) {
        QCheckBox *zero = box(option + u'0');
        QCheckBox *one = box(option + u'1');
        QCOMPARE(zero->mapTo(m_form.get(), QPoint()).x(), one->x());
        QCOMPARE(zero->mapTo(m_form.get(), QPoint()).y(), child(u"txtNick0"_s)->y());
        QCOMPARE(zero->font(), one->font());
    }
    QVERIFY(child(u"Frame2"_s)->font().bold() && !box(u"chkPip0"_s)->font().bold());
}

void TstForm1::tabOrderAltSAndClickedPipLjudRefusal()
{
    // Disabled options are skipped by Tab; Timer2 enables them once a row has a nick.
    for (int row = 1; row < WatchState::RowCount; ++row)
        QTest::keyClicks(child(u"txtNick%1"_s.arg(row)), u"n"_s);
    QTRY_VERIFY_WITH_TIMEOUT(box(u"ChkLjud7"_s)->isEnabled(), 2000);
    QStringList expected{u"List1"_s};
    for (int row = 0; row < WatchState::RowCount; ++row)
        expected << u"txtNick%1"_s.arg(row);
    expected << u"CmdKnapp"_s;
    for (int row = 0; row < WatchState::RowCount; ++row)
        expected << u"chkPopup%1"_s.arg(row) << u"chkPip%1"_s.arg(row) << u"ChkLjud%1"_s.arg(row);
    expected << u"Combo1"_s << u"List1"_s;
    child(u"List1"_s)->setFocus();
    QStringList visited;
    while (visited.size() < expected.size()) {
        QWidget *control = QApplication::focusWidget();
        QVERIFY(control);
        QTest::keyClick(control, Qt::Key_Tab);
        // The interval box's own line edit holds the focus for it.
        while (control->objectName().isEmpty() && control->parentWidget())
            control = control->parentWidget();
        visited << control->objectName();
    }
    QCOMPARE(visited, expected);

    auto *button = child<QPushButton>(u"CmdKnapp"_s);
    QTest::keyClick(m_form.get(), Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(button->text(), u"&Stoppa programmet"_s);
    QVERIFY(timer1()->isEnabled() && timer1()->isRunning());
    QTest::keyClick(m_form.get(), Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(button->text(), u"&Starta programmet"_s);
    QVERIFY(!timer1()->isEnabled() && !timer1()->isRunning());
    QVERIFY(m_platform->calls.isEmpty()); // no poll before a whole interval

    for (const QString &name : {u"chkPopup4"_s, u"ChkLjud4"_s, u"chkPip4"_s}) // click on the tick
        QTest::mouseClick(box(name), Qt::LeftButton, {}, QPoint(6, box(name)->height() / 2));
    QCOMPARE(m_platform->calls, QStringList{u"message OBS!|Kan ej ha både pip och ljud"_s});
    QVERIFY(box(u"chkPopup4"_s)->isChecked() && box(u"ChkLjud4"_s)->isChecked());
    QVERIFY(!box(u"chkPip4"_s)->isChecked());
}

void TstForm1::statusLineSaysWhatThePollFound_data()
{
    QTest::addColumn<FetchResult>("fetched");
    QTest::addColumn<QString>("status"); // after "Senaste kontroll HH:MM:SS: "
    QTest::newRow("nobody") << pageOf({}) << u"ingen online"_s;
    QTest::newRow("one") << pageOf({u"Åsa"_s}) << u"1 person online"_s;
    QTest::newRow("three") << pageOf({u"Åsa"_s, u"Bo"_s, u"Åsa"_s}) << u"3 personer online"_s;
    // Never to be mistaken for an empty chat.
    QTest::newRow("failure") << FetchResult::failure(FetchResult::Error::HttpStatus, 503)
                             << u"kunde inte nå chattsidan – servern svarade med HTTP-status 503"_s;
}

void TstForm1::statusLineSaysWhatThePollFound()
{
    QFETCH(FetchResult, fetched);
    QFETCH(QString, status);
    m_platform->fetchAnswers << fetched;
    Q_EMIT timer1()->ticked();
    const QString shown = child<QLabel>(u"lblStatus"_s)->text();
    static const QRegularExpression when(u"^Senaste kontroll \\d\\d:\\d\\d:\\d\\d: "_s);
    QVERIFY2(when.match(shown).hasMatch() && shown.endsWith(u": "_s + status), qPrintable(shown));
}

void TstForm1::listSelectionFollowsTheAlertsAndEndsOnTheLastEntry()
{
    m_platform->fetchAnswers << pageOf({u"Bo"_s, u"Anna"_s, u"Cia"_s, u"Anna"_s, u"anna"_s});
    child<QLineEdit>(u"txtNick2"_s)->setText(u"Anna"_s);
    box(u"chkPopup2"_s)->setChecked(true);
    auto *list = child<QListWidget>(u"List1"_s);
    auto selectedDuringAlert = std::make_shared<QList<int>>();
    m_platform->onMessage = [list, selectedDuringAlert](const QString &, const QString &) {
        QCoreApplication::processEvents(); // as the real box's event loop does
        *selectedDuringAlert << list->currentRow();
    };
    Q_EMIT timer1()->ticked();
    QCOMPARE(*selectedDuringAlert, (QList<int>{1, 3}));
    QCOMPARE(list->count(), 5);
    QCoreApplication::processEvents(); // the list shows the walk's last step once the loop runs
    QCOMPARE(list->currentRow(), 4);
}

namespace {

// The list as the user sees it: entries, selection, scroll position.
QString shown(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return u"%1 | row %2 | at %3,%4"_s.arg(texts.join(u','))
        .arg(list->currentRow())
        .arg(list->verticalScrollBar()->value())
        .arg(list->horizontalScrollBar()->value());
}

} // namespace

void TstForm1::listKeptFromThePollBeforeEndsAsAFreshOne_data()
{
    QTest::addColumn<bool>("scrollToTop"); // the user scrolls between the polls
    QTest::addColumn<int>("alertOn");      // entry announced in a box, or -1
    QTest::addColumn<bool>("renameOne");   // the second page has another name in one place
    QTest::addColumn<bool>("repainted");
    QTest::newRow("same names: nothing to paint") << false << -1 << false << false;
    QTest::newRow("same names, scrolled away") << true << -1 << false << true;
    QTest::newRow("same names, alert near the top") << false << 2 << false << true;
    QTest::newRow("one name replaced") << false << -1 << true << true;
}

// A poll that brings the names already listed keeps them rather than filling
// the list again; what the user sees, during an alert and after, must be what
// a freshly filled list shows.
void TstForm1::listKeptFromThePollBeforeEndsAsAFreshOne()
{
    QFETCH(bool, scrollToTop);
    QFETCH(int, alertOn);
    QFETCH(bool, renameOne);
    QFETCH(bool, repainted);
    QStringList names; // more than the list can show at once
    for (int i = 0; i < 60; ++i)
        names << u"Namn%1"_s.arg(i);
    QStringList second = names;
    if (renameOne)
        second[30] = u"Namn99"_s; // as long as the name it replaces

    // Each window records what its list shows during each alert and after the poll.
    const auto pollAndRecord = [&](Form1 &form, FakePlatform &platform, QStringList &seen) {
        auto *list = form.findChild<QListWidget *>(u"List1"_s);
        form.findChild<QLineEdit *>(u"txtNick0"_s)
            ->setText(alertOn < 0 ? QString() : names[alertOn]);
        form.findChild<QCheckBox *>(u"chkPopup0"_s)->setChecked(true);
        auto alerts = std::make_shared<QStringList>();
        platform.onMessage = [list, alerts](const QString &, const QString &) {
            QCoreApplication::processEvents();
            *alerts << shown(list);
        };
        platform.fetchAnswers << pageOf(second);
        Q_EMIT form.findChild<Timer *>(u"Timer1"_s)->ticked();
        QCoreApplication::processEvents();
        seen = *alerts << shown(list);
    };

    FakePlatform freshPlatform;
    Form1 fresh(freshPlatform, QUrl(u"http://chat.example/login/chat/users.asp"_s));
    fresh.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fresh));
    QStringList expected;
    pollAndRecord(fresh, freshPlatform, expected);
    fresh.close();

    auto *list = child<QListWidget>(u"List1"_s);
    m_platform->fetchAnswers << pageOf(names);
    Q_EMIT timer1()->ticked();
    if (scrollToTop)
        list->verticalScrollBar()->setValue(0);
    QCoreApplication::processEvents();
    PaintCounter counter;
    list->viewport()->installEventFilter(&counter);
    QStringList seen;
    pollAndRecord(*m_form, *m_platform, seen);
    QCOMPARE(seen, expected);
    QCOMPARE(counter.paints > 0, repainted);
}

void TstForm1::slowFetchShowsTheListEmptyMeanwhile()
{
    auto *list = child<QListWidget>(u"List1"_s);
    m_platform->fetchAnswers << pageOf({u"Bo"_s, u"Åsa"_s}) << pageOf({u"Bo"_s, u"Åsa"_s});
    Q_EMIT timer1()->ticked();
    QCOMPARE(list->count(), 2);
    auto whileWaiting = std::make_shared<QList<qsizetype>>();
    Form1 *form = m_form.get();
    m_platform->onFetch = [form, list, whileWaiting] {
        *whileWaiting << form->onlineCount(); // the engine's view: empty at once
        QTest::qWait(300);
        *whileWaiting << list->count(); // and on screen once the fetch is slow
    };
    Q_EMIT timer1()->ticked();
    QCOMPARE(*whileWaiting, (QList<qsizetype>{0, 0}));
    QCOMPARE(list->count(), 2);
}

void TstForm1::pageBufferAndNicksTakeMoreThanALineEditLimit()
{
    QString text = u"rad 1\r\n\trad 2\u2029\u0000"_s;
    while (text.size() <= 40'000)
        text += ChatSite::userLink(u"Åsa"_s);
    m_form->setPage(text);
    QVERIFY(m_form->page() == text);
    const QString nick(40'000, u'x');
    child<QLineEdit>(u"txtNick0"_s)->setText(nick);
    QVERIFY(m_form->nick(0) == nick);
}

// Left alone, the text cursor stops blinking and stays shown; a key, a click
// or coming back to the window starts the blink again.
void TstForm1::textCursorRestsUntilInput()
{
    auto *nick = child<QLineEdit>(u"txtNick0"_s);
    nick->setFocus();
    PaintCounter counter; // a blinking cursor paints its field every half period
    nick->installEventFilter(&counter);
    const auto paintsOver = [&counter](int ms) {
        counter.paints = 0;
        QTest::qWait(ms);
        return counter.paints;
    };
    const auto blinksThenRests = [&] { // resting, but for the one paint that shows it solid
        return paintsOver(200) >= 3 &&
               QTest::qWaitFor([] { return QApplication::cursorFlashTime() == 0; }, 5000) &&
               paintsOver(300) <= 1;
    };
    QApplication::setCursorFlashTime(40);
    {
        CaretRest rest(300ms);
        QVERIFY2(blinksThenRests(), "blinks at first, then rests");
        QTest::keyClick(nick, Qt::Key_Right);
        QVERIFY2(blinksThenRests(), "a key wakes it");
        QTest::mouseClick(nick, Qt::LeftButton);
        QVERIFY2(blinksThenRests(), "a click wakes it");
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(m_form.get(), &activate);
        QVERIFY2(blinksThenRests(), "coming back to the window wakes it");
    }
    QCOMPARE(QApplication::cursorFlashTime(), 40); // the desktop's own blink given back
}

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
