// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "form1.h"

#include "rowrules.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextDocument>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr QStringView WindowTitle = u"Vindriks Chatt sökning";
constexpr QStringView StartCaption = u"&Starta programmet";
constexpr QStringView StopCaption = u"&Stoppa programmet";
constexpr QStringView IntervalChoices[] = {u"3",  u"5",  u"7",  u"10", u"15",
                                           u"20", u"30", u"40", u"50", u"60"};

// The window is designed in twips; 15 of them make a pixel at 96 dpi.
constexpr double DesignTwipsPerPixel = 15.0;
constexpr QSize ClientTwips(8655, 5280);

constexpr QPoint Frame2Twips(2520, 120);
constexpr int FirstRowTop = 360;
constexpr int RowPitch = 480;

struct OptionColumn {
    Option option;
    QStringView caption;
    const char *name;
    int left; // in the client area
    int width;
};
constexpr OptionColumn OptionColumns[] = {
    {Option::Popup, u"Popup", "chkPopup", 4320, 855},
    {Option::Pip, u"Pip", "chkPip", 5160, 615},
    {Option::Ljud, u"Ljud", "ChkLjud", 5880, 615},
};

bool holdsExactly(const QListWidget &list, const QStringList &names)
{
    if (list.count() != names.size())
        return false;
    for (int row = 0; row < list.count(); ++row) {
        if (list.item(row)->text() != names[row])
            return false;
    }
    return true;
}

} // namespace

Form1::Form1(Platform &platform, const QUrl &pageUrl, QWidget *parent)
    : QWidget(parent), m_platform(platform), m_poll(*this, platform, pageUrl)
{
    setWindowTitle(WindowTitle.toString());
    createControls();
    setTabOrderAsDesigned();
    load();
    // After load: the interval box needs room for the choices it now holds.
    applyGeometry();

    Timer1.setObjectName(u"Timer1"_s);
    Timer1.setInterval(10'000);
    Timer2.setObjectName(u"Timer2"_s);
    Timer2.setInterval(500);
    Timer2.setEnabled(true);

    connect(&Timer1, &Timer::ticked, this, &Form1::timer1Tick);
    connect(&Timer2, &Timer::ticked, this, &Form1::timer2Tick);
    connect(CmdKnapp, &QPushButton::clicked, this, &Form1::cmdKnappClick);
    for (int row = 0; row < RowCount; ++row) {
        // toggled, not clicked: the rule must also see changes the program makes.
        connect(chkPip[row], &QCheckBox::toggled, this, [this, row] { chkPipClick(row); });
        connect(ChkLjud[row], &QCheckBox::toggled, this, [this, row] { chkLjudClick(row); });
    }
}

Form1::~Form1() = default;

void Form1::createControls()
{
    // Created in stacking order: the frames first, so everything else lies over them.
    Frame1 = new QGroupBox(u"Online"_s, this);
    Frame2 = new QGroupBox(u"Personer"_s, this);
    Frame3 = new QGroupBox(u"Sek"_s, this);
    List1 = new QListWidget(this);
    Text1 = new QLineEdit(u"Text1"_s, this);
    CmdKnapp = new QPushButton(StartCaption.toString(), this);
    Combo1 = new QComboBox(this);
    lblStatus = new QLabel(this);

    QFont captionFont = font();
    captionFont.setPointSizeF(8.25);
    captionFont.setBold(true);
    Frame1->setFont(captionFont);
    Frame2->setFont(captionFont);

    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setUniformItemSizes(true);

    // The page buffer. A page is often longer than a line edit's default limit
    // of 32,767 characters, and cutting it would lose the names at its end.
    // It never shows, so it need not lay out megabytes of text either.
    Text1->setMaxLength(std::numeric_limits<int>::max());
    Text1->setEchoMode(QLineEdit::NoEcho);
    Text1->setFocusPolicy(Qt::NoFocus);
    Text1->hide();

    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    // Completion would turn a typed "1" into "10" behind the user's back.
    Combo1->setCompleter(nullptr);
    Combo1->setEditText(u"3"_s);
    Combo1->setAccessibleName(u"Sekunder mellan kontrollerna"_s);

    List1->setAccessibleName(u"Online"_s);

    // The outcome of the last poll, so that a failed fetch never passes for
    // an empty chat.
    lblStatus->setTextFormat(Qt::PlainText);
    lblStatus->setWordWrap(true);
    lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    const struct {
        QWidget *widget;
        QStringView name;
        QRect twips;
    } singles[] = {
        {Frame1, u"Frame1", {480, 120, 1815, 3975}},
        {List1, u"List1", {600, 360, 1575, 3570}},
        {Text1, u"Text1", {1440, 1560, 255, 285}},
        {Frame2, u"Frame2", {Frame2Twips, QSize(4215, 3975)}},
        {CmdKnapp, u"CmdKnapp", {1560, 4200, 3855, 375}},
        {Frame3, u"Frame3", {6960, 120, 1095, 1095}},
        {Combo1, u"Combo1", {7200, 600, 615, 315}},
        // Below the button, where the design leaves room.
        {lblStatus, u"lblStatus", {480, 4680, 7695, 480}},
    };
    for (const auto &single : singles)
        place(single.widget, single.name.toString(), single.twips);

    // A group box hands its font down; the row-0 options inside Frame2 must
    // keep the window's own rather than the bold caption font.
    QFont plainFont = font();
    plainFont.setResolveMask(QFont::AllPropertiesResolved);

    for (int row = 0; row < RowCount; ++row) {
        const int top = FirstRowTop + RowPitch * row;
        const QString number = QString::number(row);
        const QString rowName = QString::number(row + 1);

        txtNick[row] = new QLineEdit(this);
        // A name on the page may be longer than a line edit's default limit of
        // 32,767 characters; a nick cut to that limit could never match it.
        txtNick[row]->setMaxLength(std::numeric_limits<int>::max());
        txtNick[row]->setAccessibleName(u"Nick, rad %1"_s.arg(rowName));
        place(txtNick[row], u"txtNick"_s + number, {2640, top, 1575, 285});

        // Row 0's options belong to Frame2; the others lie on the window over it.
        QWidget *holder = row == 0 ? static_cast<QWidget *>(Frame2) : this;
        const QPoint origin = row == 0 ? Frame2Twips : QPoint();
        for (const OptionColumn &column : OptionColumns) {
            auto *box = new QCheckBox(column.caption.toString(), holder);
            if (row == 0)
                box->setFont(plainFont);
            box->setAccessibleName(u"%1, rad %2"_s.arg(column.caption, rowName));
            optionBoxes(*this, column.option)[row] = box;
            place(box, QString::fromLatin1(column.name) + number,
                  QRect(column.left, top, column.width, 255).translated(-origin), origin);
        }
    }
}

void Form1::place(QWidget *widget, const QString &name, QRect twips, QPoint parentTwips)
{
    widget->setObjectName(name);
    m_placements.push_back({widget, twips, parentTwips});
}

void Form1::setTabOrderAsDesigned()
{
    std::vector<QWidget *> order{List1};
    order.insert(order.end(), txtNick.begin(), txtNick.end());
    order.push_back(CmdKnapp);
    for (int row = 0; row < RowCount; ++row)
        order.insert(order.end(), {chkPopup[row], chkPip[row], ChkLjud[row]});
    order.push_back(Combo1);
    for (size_t i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void Form1::applyGeometry()
{
    // 15 twips a pixel as designed, unless the desktop's font needs more room
    // than that gives some control: then the whole window grows by one factor,
    // so no caption is clipped and the proportions stay as designed.
    double pixelsPerTwip = 1.0 / DesignTwipsPerPixel;
    for (const Placement &p : m_placements) {
        if (p.widget->isHidden())
            continue;
        const QSize needed = p.widget->minimumSizeHint();
        pixelsPerTwip = std::max({pixelsPerTwip, needed.width() / double(p.twips.width()),
                                  needed.height() / double(p.twips.height())});
    }

    const auto px = [pixelsPerTwip](int twips) {
        return static_cast<int>(std::lround(twips * pixelsPerTwip));
    };
    for (const Placement &p : m_placements) {
        // Positions go through the client area, so row 0 inside Frame2 lines
        // up with the rows on the window to the pixel.
        const int left = px(p.parentTwips.x() + p.twips.left()) - px(p.parentTwips.x());
        const int top = px(p.parentTwips.y() + p.twips.top()) - px(p.parentTwips.y());
        p.widget->setGeometry(left, top, px(p.twips.width()), px(p.twips.height()));
    }
    resize(px(ClientTwips.width()), px(ClientTwips.height()));
}

QString Form1::intervalText() const
{
    return Combo1->currentText();
}

void Form1::setPollInterval(int ms)
{
    Timer1.setInterval(ms);
}

void Form1::setPage(const QString &text)
{
    Text1->setText(text);
    strPage = Text1->text();
}

// The online list. The poll works on m_online alone; List1 shows it once the
// page has been read, or could not be, and is filled afresh only when the
// names differ. So it is never seen emptied and refilled with what it already
// showed, and an alert box finds this poll's names behind it.
void Form1::clearOnline()
{
    m_online.clear();
    m_selected = -1;
}

void Form1::appendOnline(const QStringList &names)
{
    m_online += names;
    showOnline();
}

void Form1::showOnline()
{
    if (!holdsExactly(*List1, m_online)) {
        List1->clear();
        List1->addItems(m_online);
    }
}

void Form1::selectOnline(qsizetype index)
{
    // The walk moves the selection once per name, and a list view that
    // follows every step spends ~10 us on each. Nothing paints during the
    // walk anyway, so the latest step is shown when the event loop next runs:
    // under an alert box, or once the poll is done.
    m_selected = index;
    if (std::exchange(m_selectionQueued, true))
        return;
    QMetaObject::invokeMethod(this, &Form1::showSelection, Qt::QueuedConnection);
}

void Form1::showSelection()
{
    m_selectionQueued = false;
    if (m_selected < 0 || m_selected >= List1->count()) {
        List1->setCurrentRow(-1);
        List1->clearSelection();
        return;
    }
    List1->setCurrentRow(static_cast<int>(m_selected));
}

QString Form1::nick(int row) const
{
    return txtNick.at(row)->text();
}

bool Form1::isTicked(int row, Option option) const
{
    return optionBoxes(*this, option).at(row)->isChecked();
}

void Form1::setTicked(int row, Option option, bool ticked)
{
    optionBoxes(*this, option).at(row)->setChecked(ticked);
}

void Form1::setOptionEnabled(int row, Option option, bool enabled)
{
    optionBoxes(*this, option).at(row)->setEnabled(enabled);
}

void Form1::closeEvent(QCloseEvent *event)
{
    // The close may come while a poll waits for the network or is about to
    // alert; it must end that poll now, and no alert may follow the window.
    m_poll.cancel();
    event->accept();
}

void Form1::load()
{
    // Filling an empty box selects its first entry; the box keeps showing its
    // own text with no entry chosen instead.
    const QString text = Combo1->currentText();
    for (const QStringView seconds : IntervalChoices)
        Combo1->addItem(seconds.toString());
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(text);
}

void Form1::timer1Tick()
{
    const QString when = QTime::currentTime().toString(u"HH:mm:ss"_s);
    const PollOutcome outcome = m_poll.poll();
    // Also when the fetch failed: then the list is empty. Now rather than
    // queued, so the list and the status line are painted together.
    if (outcome.kind != PollOutcome::Kind::Busy) {
        showOnline();
        showSelection();
    }
    showOutcome(outcome, when);
}

void Form1::showOutcome(const PollOutcome &outcome, const QString &when)
{
    const QString line = statusLine(outcome, when);
    if (line.isEmpty())
        return; // a poll that did nothing leaves the last one's line
    lblStatus->setText(line);
    // The detail comes from the network: shown as it came, never read as
    // markup (and in one line, where a short rich text tooltip would wrap).
    const QString tip = statusLineTip(outcome);
    lblStatus->setToolTip(
        Qt::mightBeRichText(tip) ? Qt::convertFromPlainText(tip, Qt::WhiteSpacePre) : tip);
}

void Form1::timer2Tick()
{
    RowRules::refreshOptions(*this);
}

void Form1::chkPipClick(int row)
{
    RowRules::beepOrSoundChanged(*this, m_platform, row, Option::Pip);
}

void Form1::chkLjudClick(int row)
{
    RowRules::beepOrSoundChanged(*this, m_platform, row, Option::Ljud);
}

void Form1::cmdKnappClick()
{
    if (CmdKnapp->text() == StartCaption) {
        CmdKnapp->setText(StopCaption.toString());
        Timer1.setEnabled(true);
    } else {
        CmdKnapp->setText(StartCaption.toString());
        Timer1.setEnabled(false);
    }
}
