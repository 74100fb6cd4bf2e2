#include "fakeplatform.h"
#include "form1.h"
#include "httptestserver.h"
#include "timer.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QStringList OptionNames{u"chkPopup"_s, u"chkPip"_s, u"ChkLjud"_s};
const QString StartCaption = u"&Starta programmet"_s;
const QString StopCaption = u"&Stoppa programmet"_s;
const QString Warning = u"message OBS!|Kan ej ha både pip och ljud"_s;

QString page(const QStringList &names)
{
    return QString::fromUtf8(HttpTestServer::userListPage(names));
}

QString alert(const QString &name)
{
    return u"message Personen du söker har kommit in|%1 har kommit in på Vindriks chatt"_s.arg(
        name);
}

// "Senaste kontroll 21:04:05: " followed by exactly the given outcome.
QRegularExpression statusLine(const QString &outcome)
{
    return QRegularExpression(u"^Senaste kontroll \\d\\d:\\d\\d:\\d\\d: "_s +
                              QRegularExpression::escape(outcome) + u'$');
}

} // namespace

class TstForm1 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void freshWindowHasDesignStartValues();
    void intervalBoxKeepsTypedSeconds_data();
    void intervalBoxKeepsTypedSeconds();
    void tabVisitsControlsInDesignOrder();
    void startStopButtonTogglesWatching_data();
    void startStopButtonTogglesWatching();
    void optionsFollowNickWithinHalfASecond_data();
    void optionsFollowNickWithinHalfASecond();
    void secondOfPipAndLjudIsRefusedWithOneWarning_data();
    void secondOfPipAndLjudIsRefusedWithOneWarning();
    void compatibleOptionChangesNeverWarn_data();
    void compatibleOptionChangesNeverWarn();
    void pollListsNamesAndAlertsMatchingRowsInOrder();
    void statusLineTellsFailureFromEmptyChat_data();
    void statusLineTellsFailureFromEmptyChat();
    void tickDuringPollNeitherFetchesNorTouchesStatus();
    void closingDuringFetchEndsPollWithoutAlert();
    void pageBufferIsLosslessAndQuick_data();
    void pageBufferIsLosslessAndQuick();
    void namesPastTheLineEditLimitAreListed();
    void rowsCanBeToldApartByAssistiveTools_data();
    void rowsCanBeToldApartByAssistiveTools();
    void layoutFitsCaptionsAndKeepsRowsInLine();

private:
    template <typename T = QWidget> T *child(const QString &name) const
    {
        T *found = m_form->findChild<T *>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    QLineEdit *nickField(int row) const { return child<QLineEdit>(u"txtNick%1"_s.arg(row)); }
    QCheckBox *optionBox(const QString &column, int row) const
    {
        return child<QCheckBox>(column + QString::number(row));
    }
    Timer *timer1() const { return child<Timer>(u"Timer1"_s); }
    QString status() const { return child<QLabel>(u"lblStatus"_s)->text(); }
    QStringList listed() const;
    void poll() const { Q_EMIT timer1()->ticked(); }
    bool showActive();
    bool typeNickAndWaitForOptions(int row, const QString &nick);
    bool giveEveryRowANick();
    // A left click on the box's tick, where a user would click.
    void clickBox(QCheckBox *box) const
    {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }

    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<Form1> m_form;
};

void TstForm1::init()
{
    m_platform = std::make_unique<FakePlatform>();
    m_form =
        std::make_unique<Form1>(*m_platform, QUrl(u"http://chat.example/login/chat/users.asp"_s));
}

void TstForm1::cleanup()
{
    QStringList open;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget != m_form.get() && widget->isVisible())
            open << QString::fromLatin1(widget->metaObject()->className());
    }
    m_form.reset();
    m_platform.reset();
    QVERIFY2(open.isEmpty(), qPrintable(open.join(u", ")));
}

QStringList TstForm1::listed() const
{
    QStringList names;
    const auto *list = child<QListWidget>(u"List1"_s);
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

bool TstForm1::showActive()
{
    m_form->show();
    QApplication::setActiveWindow(m_form.get());
    return QTest::qWaitForWindowActive(m_form.get());
}

bool TstForm1::typeNickAndWaitForOptions(int row, const QString &nick)
{
    QTest::keyClicks(nickField(row), nick);
    return QTest::qWaitFor([&] { return optionBox(u"chkPip"_s, row)->isEnabled(); }, 2000);
}

bool TstForm1::giveEveryRowANick()
{
    for (int row = 1; row < WatchState::RowCount; ++row)
        QTest::keyClicks(nickField(row), u"n"_s);
    return QTest::qWaitFor([&] { return optionBox(u"ChkLjud"_s, 7)->isEnabled(); }, 2000);
}

void TstForm1::freshWindowHasDesignStartValues()
{
    QCOMPARE(m_form->windowTitle(), u"Vindriks Chatt sökning"_s);
    QCOMPARE(child<QListWidget>(u"List1"_s)->count(), 0);
    for (int row = 0; row < WatchState::RowCount; ++row) {
        QVERIFY(nickField(row)->text().isEmpty());
        for (const QString &column : OptionNames) {
            QVERIFY(!optionBox(column, row)->isChecked());
            QVERIFY(optionBox(column, row)->isEnabled());
        }
    }
    auto *box = child<QComboBox>(u"Combo1"_s);
    QCOMPARE(box->currentText(), u"3"_s);
    QCOMPARE(box->currentIndex(), -1);
    QStringList choices;
    for (int i = 0; i < box->count(); ++i)
        choices << box->itemText(i);
    QCOMPARE(choices, (QStringList{u"3"_s, u"5"_s, u"7"_s, u"10"_s, u"15"_s, u"20"_s, u"30"_s,
                                   u"40"_s, u"50"_s, u"60"_s}));
    QCOMPARE(child<QPushButton>(u"CmdKnapp"_s)->text(), StartCaption);
    QCOMPARE(timer1()->isEnabled(), false);
    QCOMPARE(timer1()->interval(), 10'000);
    QCOMPARE(child<Timer>(u"Timer2"_s)->isEnabled(), true);
    QCOMPARE(child<Timer>(u"Timer2"_s)->interval(), 500);
    QCOMPARE(child<QLineEdit>(u"Text1"_s)->isHidden(), true);
    QVERIFY(status().isEmpty());
}

void TstForm1::intervalBoxKeepsTypedSeconds_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enter");
    QTest::addColumn<int>("intervalMs");
    // A completing box would turn these into 60, 10 and 10.
    QTest::newRow("6 is not completed to 60") << u"6"_s << false << 6'000;
    QTest::newRow("1 is not completed to 10") << u"1"_s << false << 1'000;
    QTest::newRow("12 and Enter") << u"12"_s << true << 12'000;
    QTest::newRow("10 typed acts like 10 chosen") << u"10"_s << true << 10'000;
}

void TstForm1::intervalBoxKeepsTypedSeconds()
{
    QFETCH(QString, typed);
    QFETCH(bool, enter);
    QFETCH(int, intervalMs);
    QVERIFY(showActive());
    auto *box = child<QComboBox>(u"Combo1"_s);
    box->setFocus();
    box->clearEditText();
    QTest::keyClicks(box->lineEdit(), typed);
    if (enter)
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    QCOMPARE(box->currentText(), typed);
    QCOMPARE(box->count(), 10); // Enter must not grow the list

    poll();
    QCOMPARE(timer1()->interval(), intervalMs);
}

void TstForm1::tabVisitsControlsInDesignOrder()
{
    QVERIFY(showActive());
    // Disabled options are skipped by Tab; give every row a nick first.
    QVERIFY(giveEveryRowANick());

    QStringList expected{u"List1"_s};
    for (int row = 0; row < WatchState::RowCount; ++row)
        expected << u"txtNick%1"_s.arg(row);
    expected << u"CmdKnapp"_s;
    for (int row = 0; row < WatchState::RowCount; ++row)
        for (const QString &column : OptionNames)
            expected << column + QString::number(row);
    expected << u"Combo1"_s << u"List1"_s;

    child<QListWidget>(u"List1"_s)->setFocus();
    QStringList visited;
    for (qsizetype step = 0; step < expected.size(); ++step) {
        QWidget *focused = QApplication::focusWidget();
        QVERIFY(focused);
        // The interval box's own line edit holds the focus for it.
        QWidget *control = focused;
        while (control->objectName().isEmpty() && control->parentWidget())
            control = control->parentWidget();
        visited << control->objectName();
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    QCOMPARE(visited, expected);
}

void TstForm1::startStopButtonTogglesWatching_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Alt+S") << u"alt-s"_s;
    QTest::newRow("mouse click") << u"click"_s;
    QTest::newRow("Space on the button") << u"space"_s;
}

void TstForm1::startStopButtonTogglesWatching()
{
    QFETCH(QString, how);
    QVERIFY(showActive());
    auto *button = child<QPushButton>(u"CmdKnapp"_s);
    child<QListWidget>(u"List1"_s)->setFocus();
    const auto press = [&] {
        if (how == u"alt-s") {
            QTest::keyClick(m_form.get(), Qt::Key_S, Qt::AltModifier);
        } else if (how == u"click") {
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            button->setFocus();
            QTest::keyClick(button, Qt::Key_Space);
        }
    };

    // A mnemonic shows the button going down before it clicks.
    press();
    QTRY_COMPARE(button->text(), StopCaption);
    QVERIFY(timer1()->isEnabled());
    QVERIFY(timer1()->isRunning());
    QVERIFY(m_platform->calls.isEmpty()); // the first poll waits one interval

    press();
    QTRY_COMPARE(button->text(), StartCaption);
    QVERIFY(!timer1()->isEnabled());
    QVERIFY(!timer1()->isRunning());
}

void TstForm1::optionsFollowNickWithinHalfASecond_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("nick");
    QTest::newRow("row 1, no nick") << 1 << QString();
    QTest::newRow("row 3, typed nick") << 3 << u"Anna"_s;
    QTest::newRow("row 5, a single space") << 5 << u" "_s;
    QTest::newRow("row 7, typed nick") << 7 << u"Bo"_s;
}

void TstForm1::optionsFollowNickWithinHalfASecond()
{
    QFETCH(int, row);
    QFETCH(QString, nick);
    QVERIFY(showActive());
    // Ticks must survive disabling.
    optionBox(u"chkPopup"_s, row)->setChecked(true);
    optionBox(u"ChkLjud"_s, row)->setChecked(true);
    const auto rowEnabled = [&](bool enabled) {
        for (const QString &column : OptionNames)
            if (optionBox(column, row)->isEnabled() != enabled)
                return false;
        return true;
    };
    const auto ticksKept = [&] {
        return optionBox(u"chkPopup"_s, row)->isChecked() &&
               !optionBox(u"chkPip"_s, row)->isChecked() &&
               optionBox(u"ChkLjud"_s, row)->isChecked();
    };

    QTRY_VERIFY_WITH_TIMEOUT(rowEnabled(false), 1000);
    QVERIFY(ticksKept());
    for (const QString &column : OptionNames)
        QVERIFY2(optionBox(column, 0)->isEnabled(), "row 0 must never be disabled");

    if (nick.isEmpty())
        return;
    QTest::keyClicks(nickField(row), nick);
    QTRY_VERIFY_WITH_TIMEOUT(rowEnabled(true), 1000);
    QVERIFY(ticksKept());

    nickField(row)->selectAll();
    QTest::keyClick(nickField(row), Qt::Key_Backspace);
    QTRY_VERIFY_WITH_TIMEOUT(rowEnabled(false), 1000);
    QVERIFY(ticksKept());
    QVERIFY(m_platform->calls.isEmpty());
}

void TstForm1::secondOfPipAndLjudIsRefusedWithOneWarning_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("byProgram");
    QTest::newRow("row 0, Ljud clicked after Pip") << 0 << u"chkPip"_s << u"ChkLjud"_s << false;
    QTest::newRow("row 0, Pip clicked after Ljud") << 0 << u"ChkLjud"_s << u"chkPip"_s << false;
    QTest::newRow("row 4, Ljud clicked after Pip") << 4 << u"chkPip"_s << u"ChkLjud"_s << false;
    QTest::newRow("row 7, Pip clicked after Ljud") << 7 << u"ChkLjud"_s << u"chkPip"_s << false;
    // The rule follows the value, however it changes.
    QTest::newRow("row 2, Ljud set by the program after Pip")
        << 2 << u"chkPip"_s << u"ChkLjud"_s << true;
    QTest::newRow("row 6, Pip set by the program after Ljud")
        << 6 << u"ChkLjud"_s << u"chkPip"_s << true;
}

void TstForm1::secondOfPipAndLjudIsRefusedWithOneWarning()
{
    QFETCH(int, row);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, byProgram);
    QVERIFY(showActive());
    if (row > 0)
        QVERIFY(typeNickAndWaitForOptions(row, u"Anna"_s));
    QCheckBox *kept = optionBox(first, row);
    QCheckBox *refused = optionBox(second, row);
    bool refusedTickedDuringWarning = false;
    // cppcheck-suppress danglingLifetime ; no call after the test: cleanup() drops the hook
    m_platform->onMessage = [&](const QString &, const QString &) {
        refusedTickedDuringWarning = refused->isChecked();
    };

    if (byProgram) {
        kept->setChecked(true);
        refused->setChecked(true);
    } else {
        clickBox(kept);
        clickBox(refused);
    }

    QCOMPARE(m_platform->calls, QStringList{Warning});
    QVERIFY(refusedTickedDuringWarning); // unticked only once the warning is dismissed
    QVERIFY(kept->isChecked());
    QVERIFY(!refused->isChecked());
    QVERIFY(!optionBox(u"chkPopup"_s, row)->isChecked());
}

void TstForm1::compatibleOptionChangesNeverWarn_data()
{
    QTest::addColumn<QStringList>("clicks"); // "row:box"
    QTest::newRow("Popup with Pip") << QStringList{u"0:chkPopup"_s, u"0:chkPip"_s};
    QTest::newRow("Popup with Ljud") << QStringList{u"0:ChkLjud"_s, u"0:chkPopup"_s};
    QTest::newRow("Pip unticked, then Ljud")
        << QStringList{u"0:chkPip"_s, u"0:chkPip"_s, u"0:ChkLjud"_s};
    QTest::newRow("Ljud unticked, then Pip")
        << QStringList{u"3:ChkLjud"_s, u"3:ChkLjud"_s, u"3:chkPip"_s};
    QTest::newRow("Pip in one row, Ljud in the next")
        << QStringList{u"2:chkPip"_s, u"3:ChkLjud"_s, u"0:chkPip"_s, u"1:ChkLjud"_s};
}

void TstForm1::compatibleOptionChangesNeverWarn()
{
    QFETCH(QStringList, clicks);
    QVERIFY(showActive());
    QVERIFY(giveEveryRowANick());

    QHash<QString, bool> expected;
    for (const QString &click : clicks) {
        const QStringList parts = click.split(u':');
        clickBox(optionBox(parts[1], parts[0].toInt()));
        expected[parts[1] + parts[0]] = !expected.value(parts[1] + parts[0]);
    }
    QCOMPARE(m_platform->calls, QStringList());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QVERIFY2(child<QCheckBox>(it.key())->isChecked() == it.value(), qPrintable(it.key()));
}

void TstForm1::pollListsNamesAndAlertsMatchingRowsInOrder()
{
    m_platform->fetchAnswers << FetchResult::page(
        page({u"Bo"_s, u"Anna"_s, u"Cia"_s, u"Anna"_s, u"anna"_s}));
    nickField(2)->setText(u"Anna"_s);
    optionBox(u"chkPopup"_s, 2)->setChecked(true);
    optionBox(u"chkPip"_s, 2)->setChecked(true);
    nickField(5)->setText(u"Anna"_s);
    optionBox(u"ChkLjud"_s, 5)->setChecked(true);
    nickField(0)->setText(u"Cia"_s);
    optionBox(u"chkPip"_s, 0)->setChecked(true);
    child<QComboBox>(u"Combo1"_s)->setEditText(u"5"_s);
    auto *list = child<QListWidget>(u"List1"_s);
    QList<int> selectedDuringAlert;
    // cppcheck-suppress danglingLifetime ; no call after the test: cleanup() drops the hook
    m_platform->onMessage = [&](const QString &, const QString &) {
        QCoreApplication::processEvents(); // as the real box's event loop does
        selectedDuringAlert << list->currentRow();
    };

    poll();

    QCOMPARE(listed(), (QStringList{u"Bo"_s, u"Anna"_s, u"Cia"_s, u"Anna"_s, u"anna"_s}));
    QCoreApplication::processEvents(); // the list shows the walk's last step once the loop runs
    QCOMPARE(list->currentRow(), 4);
    QVERIFY(list->item(4)->isSelected());
    const QString sound = u"sound /opt/vindrik/Hej.WAV"_s;
    QCOMPARE(m_platform->calls,
             (QStringList{u"fetch http://chat.example/login/chat/users.asp"_s, alert(u"Anna"_s),
                          u"beep"_s, sound, u"beep"_s, alert(u"Anna"_s), u"beep"_s, sound}));
    // The user sees the selection rest on the name being announced.
    QCOMPARE(selectedDuringAlert, (QList<int>{1, 3}));
    QCOMPARE(timer1()->interval(), 5'000);
    QVERIFY(status().contains(statusLine(u"5 personer online"_s)));
}

void TstForm1::statusLineTellsFailureFromEmptyChat_data()
{
    QTest::addColumn<FetchResult>("fetched");
    QTest::addColumn<int>("names");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("three names") << FetchResult::page(page({u"A"_s, u"B"_s, u"C"_s})) << 3
                                 << u"3 personer online"_s;
    QTest::newRow("one name") << FetchResult::page(page({u"A"_s})) << 1 << u"1 person online"_s;
    QTest::newRow("a page without names") << FetchResult::page(page({})) << 0 << u"ingen online"_s;
    QTest::newRow("404 is a failure, not an empty chat")
        << FetchResult::failure(FetchResult::Error::HttpStatus, 404) << 0
        << u"kunde inte nå chattsidan – servern svarade med HTTP-status 404"_s;
    QTest::newRow("refused connection")
        << FetchResult::failure(FetchResult::Error::ConnectionRefused) << 0
        << u"kunde inte nå chattsidan – anslutningen nekades"_s;
    QTest::newRow("transport words are shown as plain text")
        << FetchResult::failure(FetchResult::Error::Network, 0, u"<b>fel</b> 100%"_s) << 0
        << u"kunde inte nå chattsidan – nätverksfel (<b>fel</b> 100%)"_s;
}

void TstForm1::statusLineTellsFailureFromEmptyChat()
{
    QFETCH(FetchResult, fetched);
    QFETCH(int, names);
    QFETCH(QString, outcome);
    // The poll before found two people; the one under test must replace all of it.
    m_platform->fetchAnswers << FetchResult::page(page({u"X"_s, u"Y"_s})) << fetched;
    poll();
    QCOMPARE(listed().size(), 2);

    poll();
    QCOMPARE(listed().size(), names);
    QVERIFY2(status().contains(statusLine(outcome)), qPrintable(status()));
    QCOMPARE(child<QLabel>(u"lblStatus"_s)->textFormat(), Qt::PlainText);
    if (!fetched.ok())
        QVERIFY(!status().contains(u"online"_s));
}

void TstForm1::tickDuringPollNeitherFetchesNorTouchesStatus()
{
    m_platform->fetchAnswers << FetchResult::page(page({u"A"_s}))
                             << FetchResult::page(page({u"A"_s, u"B"_s}));
    poll();
    const QString before = status();
    QString duringNestedTick;
    // cppcheck-suppress danglingLifetime ; no call after the test: cleanup() drops the hook
    m_platform->onFetch = [&] {
        m_platform->onFetch = nullptr;
        poll(); // falls due while the fetch keeps the event loop running
        duringNestedTick = status();
    };
    poll();
    QCOMPARE(m_platform->fetchedUrls.size(), 2);
    QCOMPARE(duringNestedTick, before);
    QVERIFY(status().contains(statusLine(u"2 personer online"_s)));
}

void TstForm1::closingDuringFetchEndsPollWithoutAlert()
{
    QVERIFY(showActive());
    nickField(0)->setText(u"Anna"_s);
    optionBox(u"chkPopup"_s, 0)->setChecked(true);
    m_platform->fetchAnswers << FetchResult::page(page({u"Anna"_s}));
    bool closed = false;
    // cppcheck-suppress danglingLifetime ; no call after the test: cleanup() drops the hook
    m_platform->onFetch = [&] { closed = m_form->close(); };

    poll();
    QVERIFY(closed);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_platform->calls,
             (QStringList{u"fetch http://chat.example/login/chat/users.asp"_s, u"cancel"_s}));
    QVERIFY(status().isEmpty());

    poll(); // a tick that was already due must not start another
    QCOMPARE(m_platform->fetchedUrls.size(), 1);
}

void TstForm1::pageBufferIsLosslessAndQuick_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("line breaks, tabs, NUL") << u"rad 1\r\nrad 2\n\trad 3\u2029\u0000slut"_s;
    QString big;
    while (big.size() < 8 * 1024 * 1024)
        big += u"<a href=\"#\" onclick=\"v='Åsa';\" >Åsa</a><br>\r\n"_s;
    QTest::newRow("8 MB page") << big;
}

void TstForm1::pageBufferIsLosslessAndQuick()
{
    QFETCH(QString, text);
    QElapsedTimer clock;
    clock.start();
    m_form->setPage(text);
    // Laying out the text in a line edit took seconds for such a page.
    QVERIFY2(clock.elapsed() < 500, qPrintable(u"%1 ms"_s.arg(clock.elapsed())));
    QCOMPARE(m_form->page().size(), text.size());
    QVERIFY(m_form->page() == text);
}

void TstForm1::namesPastTheLineEditLimitAreListed()
{
    QString filler(100'000, u' ');
    m_platform->fetchAnswers << FetchResult::page(page({u"Först"_s}) + filler +
                                                  page({u"Mitten"_s}) + filler + page({u"Sist"_s}));
    nickField(0)->setText(u"Sist"_s);
    optionBox(u"chkPip"_s, 0)->setChecked(true);
    poll();
    QCOMPARE(listed(), (QStringList{u"Först"_s, u"Mitten"_s, u"Sist"_s}));
    QCOMPARE(m_platform->calls.last(), u"beep"_s);
}

void TstForm1::rowsCanBeToldApartByAssistiveTools_data()
{
    QTest::addColumn<int>("row");
    for (int row = 0; row < WatchState::RowCount; ++row)
        QTest::addRow("row %d", row) << row;
}

void TstForm1::rowsCanBeToldApartByAssistiveTools()
{
    QFETCH(int, row);
    const auto name = [](QWidget *widget) {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        return accessible ? accessible->text(QAccessible::Name) : QString();
    };
    const QString number = QString::number(row + 1);
    QCOMPARE(name(nickField(row)), u"Nick, rad "_s + number);
    QCOMPARE(name(optionBox(u"chkPopup"_s, row)), u"Popup, rad "_s + number);
    QCOMPARE(name(optionBox(u"chkPip"_s, row)), u"Pip, rad "_s + number);
    QCOMPARE(name(optionBox(u"ChkLjud"_s, row)), u"Ljud, rad "_s + number);
}

void TstForm1::layoutFitsCaptionsAndKeepsRowsInLine()
{
    QVERIFY(showActive());
    const QRect client = m_form->rect();
    QVERIFY(qAbs(double(client.width()) / client.height() - 8655.0 / 5280) < 0.01);

    const QList<QWidget *> controls = m_form->findChildren<QWidget *>(QRegularExpression(
        u"^(Frame\\d|List1|txtNick\\d|chk\\w+\\d|ChkLjud\\d|CmdKnapp|Combo1)$"_s));
    QCOMPARE(controls.size(), 3 + 1 + 8 * 4 + 1 + 1);
    for (QWidget *control : controls) {
        const QString name = control->objectName();
        const QRect inClient(control->mapTo(m_form.get(), QPoint()), control->size());
        QVERIFY2(client.contains(inClient), qPrintable(name));
        QVERIFY2(control->width() >= control->minimumSizeHint().width() &&
                     control->height() >= control->minimumSizeHint().height(),
                 qPrintable(name)); // a clipped caption
        if (qobject_cast<QGroupBox *>(control))
            continue;
        // Frames lie beneath: a click on a control must reach it.
        QWidget *hit = m_form->childAt(inClient.center());
        QVERIFY2(hit && (hit == control || control->isAncestorOf(hit)), qPrintable(name));
    }

    // Row 0's options live in a frame, yet must stand in the grid of the others:
    // one row every pitch, each option level with its row's nick.
    const auto at = [&](const QString &name) { return child(name)->mapTo(m_form.get(), QPoint()); };
    const QPoint first = at(u"txtNick0"_s);
    const double pitch = (at(u"txtNick7"_s).y() - first.y()) / 7.0;
    QVERIFY(pitch > nickField(0)->height());
    for (int row = 0; row < WatchState::RowCount; ++row) {
        const int top = at(u"txtNick%1"_s.arg(row)).y();
        QVERIFY(qAbs(top - (first.y() + row * pitch)) <= 1);
        for (const QString &column : OptionNames) {
            const QString name = column + QString::number(row);
            QCOMPARE(at(name).y(), top);
            QCOMPARE(at(name).x(), at(column + u"7"_s).x());
        }
    }

    QVERIFY(child<QGroupBox>(u"Frame1"_s)->font().bold());
    QVERIFY(child<QGroupBox>(u"Frame2"_s)->font().bold());
    QVERIFY(!child<QGroupBox>(u"Frame3"_s)->font().bold());
    // A frame hands its font to what it holds; row 0 must still look like the rest.
    QCOMPARE(optionBox(u"chkPopup"_s, 0)->font(), optionBox(u"chkPopup"_s, 1)->font());
    QCOMPARE(optionBox(u"chkPopup"_s, 1)->font(), m_form->font());
}

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
