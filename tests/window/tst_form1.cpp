#include "fakeplatform.h"
#include "form1.h"
#include "httptestserver.h"
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
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QStringList OptionNames{u"chkPopup"_s, u"chkPip"_s, u"ChkLjud"_s};
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

} // namespace

class TstForm1 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void freshWindowHasDesignStartValuesAndRowNames();
    void tabVisitsControlsInDesignOrder();
    void altSTogglesWatching();
    void optionsFollowNickWithinHalfASecond();
    void secondOfPipAndLjudIsRefusedWithOneWarning_data();
    void secondOfPipAndLjudIsRefusedWithOneWarning();
    void pollListsNamesAndAlertsMatchingRowsInOrder();
    void statusLineTellsFailureFromEmptyChat_data();
    void statusLineTellsFailureFromEmptyChat();
    void pageBufferAndNicksTakeMoreThanALineEditLimit();
    void captionsFitAndRowZeroKeepsThePlainFont();

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
    QStringList listed() const;
    void poll() const { Q_EMIT timer1()->ticked(); }
    bool showActive();
    bool typeNickAndWaitForOptions(int row, const QString &nick);

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
    return QTest::qWaitFor([&] { return optionBox(u"ChkLjud"_s, row)->isEnabled(); }, 2000);
}

void TstForm1::freshWindowHasDesignStartValuesAndRowNames()
{
    QCOMPARE(m_form->windowTitle(), u"Vindriks Chatt sökning"_s);
    auto *box = child<QComboBox>(u"Combo1"_s);
    QCOMPARE(box->currentText(), u"3"_s);
    QCOMPARE(box->currentIndex(), -1);
    QStringList choices;
    for (int i = 0; i < box->count(); ++i)
        choices << box->itemText(i);
    QCOMPARE(choices, (QStringList{u"3"_s, u"5"_s, u"7"_s, u"10"_s, u"15"_s, u"20"_s, u"30"_s,
                                   u"40"_s, u"50"_s, u"60"_s}));
    QCOMPARE(child<QPushButton>(u"CmdKnapp"_s)->text(), u"&Starta programmet"_s);
    QVERIFY(!timer1()->isEnabled());
    QCOMPARE(timer1()->interval(), 10'000);
    QVERIFY(child<Timer>(u"Timer2"_s)->isEnabled());
    QCOMPARE(child<Timer>(u"Timer2"_s)->interval(), 500);
    QVERIFY(child<QLineEdit>(u"Text1"_s)->isHidden());

    // Assistive tools must tell the rows apart.
    const auto name = [](QWidget *widget) {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        return accessible ? accessible->text(QAccessible::Name) : QString();
    };
    for (int row = 0; row < WatchState::RowCount; ++row) {
        const QString number = QString::number(row + 1);
        QCOMPARE(name(nickField(row)), u"Nick, rad "_s + number);
        QCOMPARE(name(optionBox(u"chkPopup"_s, row)), u"Popup, rad "_s + number);
        QCOMPARE(name(optionBox(u"chkPip"_s, row)), u"Pip, rad "_s + number);
        QCOMPARE(name(optionBox(u"ChkLjud"_s, row)), u"Ljud, rad "_s + number);
    }
}

void TstForm1::tabVisitsControlsInDesignOrder()
{
    QVERIFY(showActive());
    // Disabled options are skipped by Tab; give every row a nick first.
    for (int row = 1; row < WatchState::RowCount; ++row)
        QVERIFY(typeNickAndWaitForOptions(row, u"n"_s));

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

void TstForm1::altSTogglesWatching()
{
    QVERIFY(showActive());
    auto *button = child<QPushButton>(u"CmdKnapp"_s);
    QTest::keyClick(m_form.get(), Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(button->text(), u"&Stoppa programmet"_s);
    QVERIFY(timer1()->isEnabled() && timer1()->isRunning());
    QVERIFY(m_platform->calls.isEmpty()); // the first poll waits one interval

    QTest::keyClick(m_form.get(), Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(button->text(), u"&Starta programmet"_s);
    QVERIFY(!timer1()->isEnabled() && !timer1()->isRunning());
}

void TstForm1::optionsFollowNickWithinHalfASecond()
{
    QVERIFY(showActive());
    optionBox(u"chkPopup"_s, 3)->setChecked(true);
    optionBox(u"ChkLjud"_s, 3)->setChecked(true);
    // Per option: enabled or not, then ticked or not.
    const auto options = [&](int row) {
        QString flags;
        for (const QString &column : OptionNames) {
            const QCheckBox *box = optionBox(column, row);
            flags += QLatin1String(box->isEnabled() ? "E" : "-") + (box->isChecked() ? u'x' : u'o');
        }
        return flags;
    };
    QTRY_COMPARE_WITH_TIMEOUT(options(3), u"-x-o-x"_s, 1000);
    QCOMPARE(options(0), u"EoEoEo"_s);

    QTest::keyClicks(nickField(3), u" "_s); // a single space is a nick too
    QTRY_COMPARE_WITH_TIMEOUT(options(3), u"ExEoEx"_s, 1000);

    QTest::keyClick(nickField(3), Qt::Key_Backspace);
    QTRY_COMPARE_WITH_TIMEOUT(options(3), u"-x-o-x"_s, 1000);
}

void TstForm1::secondOfPipAndLjudIsRefusedWithOneWarning_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("byProgram");
    QTest::newRow("row 0, Ljud clicked after Pip") << 0 << u"chkPip"_s << u"ChkLjud"_s << false;
    QTest::newRow("row 4, Pip clicked after Ljud") << 4 << u"ChkLjud"_s << u"chkPip"_s << false;
    QTest::newRow("row 7, Ljud set by the program") << 7 << u"chkPip"_s << u"ChkLjud"_s << true;
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
    QCheckBox *popup = optionBox(u"chkPopup"_s, row);
    QCheckBox *kept = optionBox(first, row);
    QCheckBox *refused = optionBox(second, row);
    for (QCheckBox *box : {popup, kept, refused}) {
        if (byProgram)
            box->setChecked(true);
        else // on the tick, where a user would click
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }
    QCOMPARE(m_platform->calls, QStringList{Warning});
    QVERIFY(popup->isChecked());
    QVERIFY(kept->isChecked());
    QVERIFY(!refused->isChecked());
}

void TstForm1::pollListsNamesAndAlertsMatchingRowsInOrder()
{
    QVERIFY(showActive());
    const QStringList names{u"Bo"_s, u"Anna"_s, u"Cia"_s, u"Anna"_s, u"anna"_s};
    m_platform->fetchAnswers << FetchResult::page(page(names));
    nickField(2)->setText(u"Anna"_s);
    optionBox(u"chkPopup"_s, 2)->setChecked(true);
    optionBox(u"chkPip"_s, 2)->setChecked(true);
    nickField(5)->setText(u"Anna"_s);
    optionBox(u"ChkLjud"_s, 5)->setChecked(true);
    nickField(0)->setText(u"Cia"_s);
    optionBox(u"chkPip"_s, 0)->setChecked(true);
    // A completing box would make 50 of it, Enter would add it to the list.
    auto *box = child<QComboBox>(u"Combo1"_s);
    box->clearEditText();
    QTest::keyClicks(box->lineEdit(), u"5"_s);
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    QCOMPARE(box->count(), 10);
    auto *list = child<QListWidget>(u"List1"_s);
    auto selectedDuringAlert = std::make_shared<QList<int>>();
    m_platform->onMessage = [list, selectedDuringAlert](const QString &, const QString &) {
        QCoreApplication::processEvents(); // as the real box's event loop does
        *selectedDuringAlert << list->currentRow();
    };

    poll();

    QCOMPARE(listed(), names);
    QCoreApplication::processEvents(); // the list shows the walk's last step once the loop runs
    QCOMPARE(list->currentRow(), 4);
    const QString sound = u"sound /opt/vindrik/Hej.WAV"_s;
    QCOMPARE(m_platform->calls,
             (QStringList{u"fetch http://chat.example/login/chat/users.asp"_s, alert(u"Anna"_s),
                          u"beep"_s, sound, u"beep"_s, alert(u"Anna"_s), u"beep"_s, sound}));
    // The selection rests on the name being announced while its box is open.
    QCOMPARE(*selectedDuringAlert, (QList<int>{1, 3}));
    QCOMPARE(timer1()->interval(), 5'000);
}

void TstForm1::statusLineTellsFailureFromEmptyChat_data()
{
    QTest::addColumn<FetchResult>("fetched");
    QTest::addColumn<int>("names");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("one name") << FetchResult::page(page({u"A"_s})) << 1 << u"1 person online"_s;
    QTest::newRow("a page without names") << FetchResult::page(page({})) << 0 << u"ingen online"_s;
    QTest::newRow("404 is a failure, not an empty chat")
        << FetchResult::failure(FetchResult::Error::HttpStatus, 404) << 0
        << u"kunde inte nå chattsidan – servern svarade med HTTP-status 404"_s;
}

void TstForm1::statusLineTellsFailureFromEmptyChat()
{
    QFETCH(FetchResult, fetched);
    QFETCH(int, names);
    QFETCH(QString, outcome);
    // The poll before found two people; the one under test must replace all of it.
    m_platform->fetchAnswers << FetchResult::page(page({u"X"_s, u"Y"_s})) << fetched;
    poll();
    poll();
    QCOMPARE(listed().size(), names);
    const QRegularExpression line(u"^Senaste kontroll \\d\\d:\\d\\d:\\d\\d: "_s +
                                  QRegularExpression::escape(outcome) + u'$');
    const auto *status = child<QLabel>(u"lblStatus"_s);
    QVERIFY2(status->text().contains(line), qPrintable(status->text()));
    QCOMPARE(status->textFormat(), Qt::PlainText);
}

void TstForm1::pageBufferAndNicksTakeMoreThanALineEditLimit()
{
    QString text = u"rad 1\r\n\trad 2\u2029\u0000"_s;
    while (text.size() <= 100'000)
        text += u"<a onclick=\"v='Åsa';\" >Åsa</a><br>\r\n"_s;
    m_form->setPage(text);
    QVERIFY(m_form->page() == text);

    const QString nick(40'000, u'x');
    nickField(0)->setText(nick);
    QCOMPARE(m_form->nick(0).size(), nick.size());
}

void TstForm1::captionsFitAndRowZeroKeepsThePlainFont()
{
    QVERIFY(showActive());
    for (int row = 0; row < WatchState::RowCount; ++row) {
        for (const QString &column : OptionNames) {
            const QCheckBox *box = optionBox(column, row);
            QVERIFY2(box->width() >= box->sizeHint().width() &&
                         box->height() >= box->sizeHint().height(),
                     qPrintable(box->objectName()));
        }
    }
    // Frame2 is bold and hands its font to what it holds.
    QVERIFY(child<QGroupBox>(u"Frame2"_s)->font().bold());
    QCOMPARE(optionBox(u"chkPopup"_s, 0)->font(), m_form->font());
    QCOMPARE(optionBox(u"chkPopup"_s, 1)->font(), m_form->font());
}

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
