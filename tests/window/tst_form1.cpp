// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "caretrest.h"
#include "chatsite.h"
#include "fakeplatform.h"
#include "form1.h"
#include "timer.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextDocument>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Error = FetchResult::Error;
Q_DECLARE_METATYPE(FetchResult)

namespace {

FetchResult pageOf(const QStringList &names)
{
    return FetchResult::page(QString::fromUtf8(ChatSite::userListPage(names)));
}

// The list as the user sees it: entries and selection.
QString shown(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return u"%1 | row %2"_s.arg(texts.join(u',')).arg(list->currentRow());
}

const QStringList FirstNames{u"Bo"_s, u"Åsa"_s, u"Cia"_s, u"Eva"_s, u"eva"_s};
const QString FirstShown = u"Bo,Åsa,Cia,Eva,eva | row 4"_s;

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
    void init()
    {
        m_form.reset();
        m_platform = std::make_unique<FakePlatform>();
        m_form = std::make_unique<Form1>(*m_platform, QUrl(u"http://chat.example/"_s));
        m_form->show();
        QApplication::setActiveWindow(m_form.get());
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }

    void freshWindowHasItsStartValues()
    {
        QCOMPARE(m_form->windowTitle(), u"Vindriks Chatt sökning"_s);
        auto *combo = child<QComboBox>(u"Combo1"_s);
        QStringList choices{combo->currentText(), QString::number(combo->currentIndex())};
        for (int i = 0; i < combo->count(); ++i)
            choices << combo->itemText(i);
        QCOMPARE(choices.join(u' '), u"3 -1 3 5 7 10 15 20 30 40 50 60"_s);
        combo->setFocus(); // completion works only where the user types
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), u"1"_s);
        QCOMPARE(combo->currentText(), u"1"_s); // not "10"
        QVERIFY(!timer1()->isEnabled() && timer1()->interval() == 10'000);
        QVERIFY(child<Timer>(u"Timer2"_s)->isEnabled() &&
                child<Timer>(u"Timer2"_s)->interval() == 500);
        // Assistive tools must tell the rows apart.
        for (const auto &[name, kind] : {std::pair{u"txtNick7"_s, u"Nick"_s},
                                         {u"chkPopup7"_s, u"Popup"_s},
                                         {u"chkPip7"_s, u"Pip"_s},
                                         {u"ChkLjud7"_s, u"Ljud"_s}})
            QCOMPARE(QAccessible::queryAccessibleInterface(child(name))->text(QAccessible::Name),
                     kind + u", rad 8"_s);
    }

    // Whatever the desktop's font, no control is smaller than its caption needs,
    // and row 0, inside "Personer", is one with rows 1 to 7 on the window.
    void everyCaptionFitsAndRowZeroLinesUpInThePlainFont()
    {
        for (QWidget *control : m_form->findChildren<QWidget *>()) {
            const QSize needed = control->minimumSizeHint();
            QVERIFY2(
                control->objectName().isEmpty() || control->isHidden() ||
                    (control->width() >= needed.width() && control->height() >= needed.height()),
                qPrintable(control->objectName()));
        }
        for (const QString &option : {u"chkPopup"_s, u"chkPip"_s, u"ChkLjud"_s}) {
            QCheckBox *zero = box(option + u'0');
            QCOMPARE(zero->mapTo(m_form.get(), QPoint()),
                     QPoint(box(option + u'1')->x(), child(u"txtNick0"_s)->y()));
            QCOMPARE(zero->font(), box(option + u'1')->font());
        }
        QVERIFY(child(u"Frame2"_s)->font().bold() && !box(u"chkPip0"_s)->font().bold());
    }

    void tabGoesListNicksButtonOptionsInterval()
    {
        QStringList expected{u"List1"_s};
        for (int row = 0; row < WatchState::RowCount; ++row)
            expected << u"txtNick%1"_s.arg(row);
        expected << u"CmdKnapp"_s;
        for (int row = 0; row < WatchState::RowCount; ++row)
            expected << u"chkPopup%1"_s.arg(row) << u"chkPip%1"_s.arg(row)
                     << u"ChkLjud%1"_s.arg(row);
        expected << u"Combo1"_s << u"List1"_s;
        QStringList chain; // the controls Tab can reach, in the order it reaches them
        for (QWidget *control = child(u"List1"_s); chain.size() < expected.size();
             control = control->nextInFocusChain()) {
            if ((control->focusPolicy() & Qt::TabFocus) && !control->objectName().isEmpty())
                chain << control->objectName();
        }
        QCOMPARE(chain, expected);
    }

    void secondOfPipAndLjudClickedIsRefused_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("Pip, then Ljud") << u"chkPip4"_s << u"ChkLjud4"_s;
        QTest::newRow("Ljud, then Pip") << u"ChkLjud4"_s << u"chkPip4"_s;
    }

    // Popup combines with either; of Pip and Ljud the one ticked first stays.
    void secondOfPipAndLjudClickedIsRefused()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        for (const QString &name : {u"chkPopup4"_s, first, second}) // click on the tick
            QTest::mouseClick(box(name), Qt::LeftButton, {}, QPoint(6, box(name)->height() / 2));
        QCOMPARE(m_platform->calls, QStringList{u"message OBS!|Kan ej ha både pip och ljud"_s});
        QVERIFY(box(u"chkPopup4"_s)->isChecked() && box(first)->isChecked() &&
                !box(second)->isChecked());
    }

    void statusLineSaysWhatThePollFound_data()
    {
        QTest::addColumn<FetchResult>("fetched");
        QTest::addColumn<QString>("says"); // after "Senaste kontroll HH:MM:SS: "
        QTest::addColumn<QString>("tip");  // as the tooltip shows it
        QTest::newRow("three") << pageOf({u"Åsa"_s, u"Bo"_s, u"Åsa"_s}) << u"3 personer online"_s
                               << QString();
        // Never to be mistaken for an empty chat; the transport's words, often
        // English and sometimes markup, are for the tooltip only, as they came.
        const auto failed = [](const char *row, Error error, const QString &detail,
                               const QString &reason) {
            QTest::newRow(row) << FetchResult::failure(error, 503, detail)
                               << u"kunde inte nå chattsidan – "_s + reason << detail;
        };
        failed("failure without a detail", Error::HttpStatus, {},
               u"servern svarade med HTTP-status 503"_s);
        failed("plain detail with & and quotes", Error::Network,
               u"Error transferring http://chat.example/?a=1&b=2 - server replied: \"Not Found\""_s,
               u"nätverksfel"_s);
        failed("plain detail with < on its own", Error::Network, u"1 < 2"_s, u"nätverksfel"_s);
        failed("detail that looks like markup", Error::Certificate, u"SSL: <b>x</b>"_s,
               u"certifikatet kunde inte verifieras"_s);
        // Whom to ask: the proxy, by host and port, whenever the fetch went through one.
        const auto viaProxy = [](FetchResult fetched) {
            fetched.proxy = u"proxy.example:3128"_s;
            return fetched;
        };
        QTest::newRow("one, through a proxy")
            << viaProxy(pageOf({u"Åsa"_s})) << u"1 person online"_s
            << u"via proxyservern proxy.example:3128"_s;
        QTest::newRow("a proxy that wants a login")
            << viaProxy(FetchResult::failure(Error::ProxyLogin, 407, u"Proxy <login>"_s))
            << u"kunde inte nå chattsidan – proxyservern kräver inloggning"_s
            << u"Proxy <login>\nvia proxyservern proxy.example:3128"_s;
    }

    // Each poll's line and tooltip replace those of the failure before it.
    void statusLineSaysWhatThePollFound()
    {
        QFETCH(FetchResult, fetched);
        QFETCH(QString, says);
        QFETCH(QString, tip);
        m_platform->fetchAnswers << FetchResult::failure(Error::Timeout, 0, u"förra"_s) << fetched;
        Q_EMIT timer1()->ticked();
        Q_EMIT timer1()->ticked();
        static const QRegularExpression when(u"^Senaste kontroll \\d\\d:\\d\\d:\\d\\d: "_s);
        QVERIFY2(when.match(status()).hasMatch() && status().endsWith(u": "_s + says),
                 qPrintable(status()));
        const QString raw = child<QLabel>(u"lblStatus"_s)->toolTip();
        QTextDocument shown; // as Qt shows a tooltip: rich text only if it looks like it
        Qt::mightBeRichText(raw) ? shown.setHtml(raw) : shown.setPlainText(raw);
        QCOMPARE(shown.toPlainText(), tip);
    }

    void listShowsEachPollOnceItsPageIsRead_data()
    {
        QTest::addColumn<FetchResult>("second");
        QTest::addColumn<QStringList>("underAlerts"); // what each alert box finds behind it
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("repainted");
        QTest::newRow("same names: nothing to paint")
            << pageOf(FirstNames) << QStringList() << FirstShown << false;
        const QString dan = u"Bo,Dan,Cia,Dan,dan | row %1"_s;
        QTest::newRow("names replaced by ones as long, one twice announced")
            << pageOf({u"Bo"_s, u"Dan"_s, u"Cia"_s, u"Dan"_s, u"dan"_s})
            << QStringList{dan.arg(1), dan.arg(3)} << dan.arg(4) << true;
        for (const int at : {0, 2, 4}) { // the first, a middle or the last name in capitals
            QStringList names = FirstNames;
            names[at] = names[at].toUpper();
            QTest::addRow("name %d changed", at)
                << pageOf(names) << QStringList() << names.join(u',') + u" | row 4"_s << true;
        }
        QTest::newRow("a failure leaves it empty")
            << FetchResult::failure(Error::Timeout) << QStringList() << u" | row -1"_s << true;
    }

    // The list is never emptied while the page is fetched, and is filled afresh
    // only when the names differ; an alert box finds this poll's names behind
    // it, with the announced one selected, and the walk ends on the last entry.
    void listShowsEachPollOnceItsPageIsRead()
    {
        QFETCH(FetchResult, second);
        QFETCH(QStringList, underAlerts);
        QFETCH(QString, after);
        QFETCH(bool, repainted);
        auto *list = child<QListWidget>(u"List1"_s);
        m_platform->fetchAnswers << pageOf(FirstNames) << second;
        timer1()->setEnabled(true); // watching
        Q_EMIT timer1()->ticked();
        child<QLineEdit>(u"txtNick2"_s)->setText(u"Dan"_s);
        box(u"chkPopup2"_s)->setChecked(true);
        QCoreApplication::processEvents();
        PaintCounter counter;
        list->viewport()->installEventFilter(&counter);
        auto seen = std::make_shared<QStringList>(); // while fetching, then under each alert box
        m_platform->onFetch = [list, seen] {
            QCoreApplication::processEvents(); // as the real fetch's event loop does
            *seen << shown(list);
        };
        m_platform->onMessage = [list, seen](const QString &, const QString &) {
            QCoreApplication::processEvents();
            *seen << shown(list);
        };
        Q_EMIT timer1()->ticked();
        QCoreApplication::processEvents();
        QCOMPARE(*seen, QStringList{FirstShown} + underAlerts);
        QCOMPARE(shown(list), after);
        QCOMPARE(counter.paints > 0, repainted);
    }

    void closingOrStoppingMidPoll_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<bool>("underTheBox"); // else during the fetch
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("says");
        const QString fetch = u"fetch http://chat.example/"_s;
        const QString box =
            u"message Personen du söker har kommit in|Bo har kommit in på Vindriks chatt"_s;
        QTest::newRow("closing ends the poll")
            << true << false << QStringList{fetch, u"cancel"_s} << QString();
        QTest::newRow("closing under the box")
            << true << true << QStringList{fetch, box, u"cancel"_s} << QString();
        // The poll shows what it found, as a stopped program keeps it, and alerts no more.
        QTest::newRow("stopped during the fetch")
            << false << false << QStringList{fetch} << u": 1 person online"_s;
        QTest::newRow("stopped under the box")
            << false << true << QStringList{fetch, box} << u": 1 person online"_s;
    }
    void closingOrStoppingMidPoll()
    {
        QFETCH(bool, close);
        QFETCH(bool, underTheBox);
        QFETCH(QStringList, calls);
        QFETCH(QString, says);
        child<QLineEdit>(u"txtNick0"_s)->setText(u"Bo"_s);
        box(u"chkPopup0"_s)->setChecked(true);
        box(u"chkPip0"_s)->setChecked(true);
        auto *button = child<QPushButton>(u"CmdKnapp"_s);
        QTest::keyClick(m_form.get(), Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY_WITH_TIMEOUT(button->text() == u"&Stoppa programmet"_s && timer1()->isRunning(),
                                 2000);
        m_platform->fetchAnswers << pageOf({u"Bo"_s});
        const auto act = [this, close, button] { close ? void(m_form->close()) : button->click(); };
        if (underTheBox)
            m_platform->onMessage = [act](const QString &, const QString &) { act(); };
        else
            m_platform->onFetch = act;
        Q_EMIT timer1()->ticked();
        QCOMPARE(m_platform->calls, calls);
        QVERIFY2(says.isEmpty() ? status().isEmpty() : status().endsWith(says),
                 qPrintable(status()));
    }

    void pageBufferAndNicksTakeMoreThanALineEditLimit()
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
    // or coming back to the window hands the blink back to the desktop, and the
    // rest counts from the latest input.
    void textCursorRestsUntilInput()
    {
        QApplication::setCursorFlashTime(-1);
        const int desktop = QApplication::cursorFlashTime(); // the theme's own rate
        QVERIFY(desktop >= 2);
        QApplication::setCursorFlashTime(40); // the application's own, to be given back
        auto *nick = child<QLineEdit>(u"txtNick0"_s);
        nick->setFocus();
        const auto rests = [] {
            return QTest::qWaitFor([] { return QApplication::cursorFlashTime() == 0; }, 5000);
        };
        {
            CaretRest rest(300ms);
            QVERIFY2(rests(), "left alone");
            QEvent activate(QEvent::WindowActivate);
            const std::pair<const char *, std::function<void()>> inputs[] = {
                {"a key", [nick] { QTest::keyClick(nick, Qt::Key_Right); }},
                {"a click", [nick] { QTest::mouseClick(nick, Qt::LeftButton); }},
                {"coming back", [&] { QApplication::sendEvent(m_form.get(), &activate); }},
            };
            for (const auto &[what, input] : inputs) {
                input();
                // At the desktop's rate, not the one it was started with.
                QVERIFY2(QApplication::cursorFlashTime() == desktop, what);
                QVERIFY2(rests(), what);
            }
            QElapsedTimer sinceKey;
            for (int key = 0; key < 5; ++key) {
                QTest::keyClick(nick, Qt::Key_Left);
                sinceKey.start();
                QTest::qWait(150);
                if (sinceKey.elapsed() < 250) // else the machine stalled past the rest
                    QVERIFY2(QApplication::cursorFlashTime() != 0, "rested while the user typed");
            }
            QVERIFY(rests());
        }
        QCOMPARE(QApplication::cursorFlashTime(), desktop); // given back for good
    }

    // The interval set during a tick governs the wait before the next one;
    // at 0 it stops the ticks, where a bare QTimer would tick on every pass.
    void timerCountsANewIntervalFromWhenItIsSetAndStopsAtZero()
    {
        Timer timer;
        QElapsedTimer clock;
        QList<qint64> ticks;
        connect(&timer, &Timer::ticked, this, [&] {
            ticks << clock.elapsed();
            timer.setInterval(ticks.size() == 1 ? 400 : 0);
        });
        clock.start();
        timer.setInterval(30);
        timer.setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 2, 10'000);
        QTest::qWait(200);
        QCOMPARE(ticks.size(), 2);
        // A busy machine makes a tick late, never early.
        QVERIFY2(ticks[1] - ticks[0] >= 395, qPrintable(u"%1 ms apart"_s.arg(ticks[1] - ticks[0])));
    }

private:
    template <typename T = QWidget> T *child(const QString &name) const
    {
        T *found = m_form->findChild<T *>(name);
        if (!found) // one clear failure rather than a crash
            qFatal("Form1 has no control %s", qPrintable(name));
        return found;
    }
    QCheckBox *box(const QString &name) const { return child<QCheckBox>(name); }
    Timer *timer1() const { return child<Timer>(u"Timer1"_s); }
    QString status() const { return child<QLabel>(u"lblStatus"_s)->text(); }

    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
