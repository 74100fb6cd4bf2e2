// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include "pollcycle.h"
#include "timer.h"
#include "watchstate.h"

#include <QRect>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <array>
#include <vector>

class Platform;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The program's one window: eight watch rows, the online list, the interval
// box and the start/stop button. It owns all state and both timers; the watch
// engine reads and writes that state through WatchState.
class Form1 : public QWidget, public WatchState
{
    Q_OBJECT
public:
    Form1(Platform &platform, const QUrl &pageUrl, QWidget *parent = nullptr);
    ~Form1() override;

    QString intervalText() const override;
    void setPollInterval(int ms) override;
    bool isWatching() const override { return Timer1.isEnabled(); }
    void setPage(const QString &text) override;
    QString page() const override { return strPage; }
    ScanPositions &scanPositions() override { return m_scanPositions; }
    void clearOnline() override;
    void appendOnline(const QStringList &names) override;
    qsizetype onlineCount() const override { return m_online.size(); }
    QString onlineText(qsizetype index) const override { return m_online.value(index); }
    void selectOnline(qsizetype index) override;
    QString nick(int row) const override;
    bool isTicked(int row, Option option) const override;
    void setTicked(int row, Option option, bool ticked) override;
    void setOptionEnabled(int row, Option option, bool enabled) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct Placement {
        QWidget *widget;
        QRect twips;        // relative to the widget's parent
        QPoint parentTwips; // where that parent stands in the client area
    };

    void createControls();
    void place(QWidget *widget, const QString &name, QRect twips, QPoint parentTwips = {});
    void setTabOrderAsDesigned();
    void applyGeometry();
    // The check boxes of one option, rows 0 to 7; for creation and lookup alike.
    template <typename Self> static auto &optionBoxes(Self &self, Option option)
    {
        switch (option) {
        case Option::Popup:
            return self.chkPopup;
        case Option::Pip:
            return self.chkPip;
        case Option::Ljud:
            break;
        }
        return self.ChkLjud;
    }
    void showOutcome(const PollOutcome &outcome, const QString &when);
    void showOnline();
    void showSelection();

    // Event handlers, one per handled control event.
    void load();
    void timer1Tick();
    void timer2Tick();
    void chkPipClick(int row);
    void chkLjudClick(int row);
    void cmdKnappClick();

    Platform &m_platform;
    PollCycle m_poll;

    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QListWidget *List1 = nullptr;
    QLineEdit *Text1 = nullptr;
    std::array<QLineEdit *, RowCount> txtNick{};
    std::array<QCheckBox *, RowCount> chkPopup{};
    std::array<QCheckBox *, RowCount> chkPip{};
    std::array<QCheckBox *, RowCount> ChkLjud{};
    QPushButton *CmdKnapp = nullptr;
    QComboBox *Combo1 = nullptr;
    QLabel *lblStatus = nullptr;
    Timer Timer1{this};
    Timer Timer2{this};

    QString strPage;
    ScanPositions m_scanPositions;

    std::vector<Placement> m_placements;
    QStringList m_online; // what List1 shows once the poll has read the page
    qsizetype m_selected = -1;
    bool m_selectionQueued = false;
};
