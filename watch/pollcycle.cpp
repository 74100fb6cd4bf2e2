// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "pollcycle.h"

#include "platform.h"
#include "scanner.h"

#include <QDir>
#include <QScopedValueRollback>

#include <algorithm>

using namespace Qt::StringLiterals;

QUrl userListUrl(const QString &host)
{
    QString address = u"http://"_s + host;
    address += UserListPath;
    return QUrl(address);
}

std::optional<int> intervalFromText(const QString &text)
{
    const QStringView digits = QStringView(text).trimmed();
    if (digits.isEmpty())
        return std::nullopt;
    qint64 seconds = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        // Saturate long before overflow; every such value means "the longest".
        seconds = std::min<qint64>(seconds * 10 + (c.unicode() - u'0'), 1'000'000);
    }
    if (seconds == 0)
        return std::nullopt;
    return static_cast<int>(std::min<qint64>(seconds * 1000, WatchState::MaxPollInterval));
}

QString soundFilePath(const QString &programFolder)
{
    QString folder = QDir::fromNativeSeparators(programFolder);
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    if (!folder.endsWith(u'/'))
        folder += u'/';
    folder += SoundFileName;
    return QDir::toNativeSeparators(folder);
}

PollCycle::PollCycle(WatchState &state, Platform &platform, QUrl pageUrl)
    : m_state(state), m_platform(platform), m_pageUrl(std::move(pageUrl))
{
}

void PollCycle::cancel()
{
    m_cancelled = true;
    if (m_running)
        m_platform.cancelFetch();
}

PollOutcome PollCycle::poll()
{
    PollOutcome outcome;
    // The fetch and the alert boxes let the event loop run, so a tick can fall
    // due inside a poll; it must not start a second one.
    if (m_running || m_cancelled) {
        outcome.kind = m_cancelled ? PollOutcome::Kind::Cancelled : PollOutcome::Kind::Busy;
        return outcome;
    }
    const QScopedValueRollback running(m_running, true);

    if (const auto ms = intervalFromText(m_state.intervalText()))
        m_state.setPollInterval(*ms);

    m_state.setPage(QString());
    m_state.clearOnline();

    FetchResult fetched = m_platform.fetchPage(m_pageUrl);
    outcome.proxy = fetched.proxy;
    if (m_cancelled) {
        outcome.kind = PollOutcome::Kind::Cancelled;
        return outcome;
    }
    if (!fetched.ok()) {
        outcome.kind = PollOutcome::Kind::FetchFailed;
        outcome.failure = std::move(fetched);
        return outcome;
    }

    m_state.setPage(fetched.text);
    fetched.text.clear(); // the page can be megabytes; keep one copy, the window's
    const QStringList names = Scanner::scanOnlineNames(m_state.page(), m_state.scanPositions());
    m_state.appendOnline(names);

    walk();

    outcome.kind = m_cancelled ? PollOutcome::Kind::Cancelled : PollOutcome::Kind::Listed;
    outcome.nameCount = names.size();
    return outcome;
}

void PollCycle::walk()
{
    // The selection is the cursor, so the user sees the walk step through the
    // list; it ends on the last entry.
    for (qsizetype entry = 0; entry < m_state.onlineCount(); ++entry) {
        m_state.selectOnline(entry);
        for (int row = 0; row < WatchState::RowCount; ++row) {
            if (m_cancelled)
                return;
            if (m_state.onlineText(entry) == m_state.nick(row) && mayAlert())
                raiseAlerts(row, entry);
        }
    }
}

void PollCycle::raiseAlerts(int row, qsizetype entry)
{
    // Options are read at the moment of the match; a disabled option that is
    // ticked still alerts.
    if (m_state.isTicked(row, Option::Popup)) {
        QString message = m_state.onlineText(entry);
        message += AlertSuffix;
        m_platform.showMessage(message, AlertTitle.toString());
        if (!mayAlert())
            return;
    }
    if (m_state.isTicked(row, Option::Pip))
        m_platform.beep();
    if (m_state.isTicked(row, Option::Ljud))
        m_platform.playSoundFile(soundFilePath(m_platform.programFolder()));
}
