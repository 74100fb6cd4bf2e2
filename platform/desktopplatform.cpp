// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "desktopplatform.h"

#include "desktopbell.h"
#include "desktopsession.h"
#include "messagebox.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcessEnvironment>
#include <QSoundEffect>
#include <QWidget>
#include <QtEndian>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Qt 6.4's sound loader waits for ever for the bytes a foreign or cut-off file
// promises, and its stuck thread then hangs the clean-up of every later sound
// (at the latest when the program ends). Such a file could never play, so it
// is checked here first: a RIFF/WAVE file whose sound data is all there.
bool isCompleteWav(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.sliced(8) != "WAVE")
        return false;
    for (;;) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return false;
        const quint32 size = qFromLittleEndian<quint32>(chunk.constData() + 4);
        if (chunk.startsWith("data"))
            return size <= file.size() - file.pos();
        // Chunks are padded to an even length.
        if (!file.seek(file.pos() + size + (size & 1)))
            return false;
    }
}

} // namespace

DesktopPlatform::DesktopPlatform() : DesktopPlatform(Limits{}) {}

DesktopPlatform::DesktopPlatform(Limits limits) : m_fetcher(std::make_shared<PageFetcher>(limits))
{
}

DesktopPlatform::~DesktopPlatform()
{
    m_fetcher->cancel();
}

void DesktopPlatform::setDialogParent(QWidget *parent)
{
    m_dialogParent = parent;
}

FetchResult DesktopPlatform::fetchPage(const QUrl &url)
{
    // Touches nothing of the platform once the fetch has begun.
    const std::shared_ptr<PageFetcher> fetcher = m_fetcher;
    return fetcher->fetch(url);
}

void DesktopPlatform::cancelFetch()
{
    m_fetcher->cancel();
}

void DesktopPlatform::showMessage(const QString &text, const QString &title)
{
    MessageBox::show(text, title, m_dialogParent.data());
}

void DesktopPlatform::beep()
{
    // Only X11 has a bell of its own, sounding as the desktop's settings say.
    // Qt's other platforms, Wayland among them, make no sound at all, and
    // Xwayland's bell is nobody's to ring.
    if (QGuiApplication::platformName() == u"xcb" &&
        !DesktopSession::isWayland(QProcessEnvironment::systemEnvironment())) {
        QApplication::beep();
        return;
    }
    if (!m_bell)
        m_bell = std::make_unique<DesktopBell>();
    m_bell->ring();
}

void DesktopPlatform::playSoundFile(const QString &path)
{
    const QString file = QDir::fromNativeSeparators(path);
    if (!isCompleteWav(file))
        return; // could never play; nobody is told, as with a missing file
    if (!m_sound)
        m_sound = std::make_unique<QSoundEffect>();
    const QUrl source = QUrl::fromLocalFile(file);
    if (m_sound->source() != source)
        m_sound->setSource(source); // loads asynchronously; play() waits for it
    m_sound->stop();
    m_sound->play();
}

QString DesktopPlatform::programFolder() const
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}
