// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "desktopbell.h"

#include "monowav.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryFile>

#include <canberra.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <numbers>
#include <vector>

struct DesktopBell::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool pending = false;
    bool stopping = false;
    bool finished = false;
    QByteArray appName; // read on the window's thread, used on the bell's
    QByteArray appId;
};

namespace {

// Our own bell when no sound theme has one: 0.2 s of 660 Hz at -10 dBFS,
// about as loud as freedesktop's bell, faded in and out so it does not click.
// Mono 16-bit PCM, which libcanberra reads itself.
QByteArray toneWav()
{
    constexpr int rate = 44'100;
    constexpr int count = rate / 5;
    constexpr double fadeSamples = rate / 100.0;
    std::vector<std::int16_t> samples(count);
    for (int i = 0; i < count; ++i) {
        const double envelope = std::min({1.0, i / fadeSamples, (count - 1 - i) / fadeSamples});
        const double wave = std::sin(2 * std::numbers::pi * 660.0 * i / rate);
        samples[i] = std::int16_t(std::lround(0.3 * 32767 * envelope * wave));
    }
    return QByteArray::fromStdString(monoWav(samples, rate));
}

// Lives on the bell's thread: the libcanberra context and the tone file.
class Player
{
public:
    Player(const QByteArray &appName, const QByteArray &appId) : m_appName(appName), m_appId(appId)
    {
    }
    ~Player() { close(); }
    Player(const Player &) = delete;
    Player &operator=(const Player &) = delete;

    void ring()
    {
        if (!m_context && !create())
            return;
        // libcanberra looks in the user's theme, then in freedesktop's, and
        // falls back from "bell-window-system" to plain "bell" by itself.
        int result = ca_context_play(m_context, 0, CA_PROP_EVENT_ID, "bell-window-system",
                                     CA_PROP_EVENT_DESCRIPTION, "Pip", nullptr);
        if (result == CA_ERROR_NOTFOUND)
            result = playTone();
        // A sound server that went away leaves the context dead for good; the
        // next ring connects afresh. Without any server the context simply
        // stays unopened and tries again.
        if (result == CA_ERROR_DISCONNECTED || result == CA_ERROR_STATE)
            close();
    }

private:
    bool create()
    {
        if (ca_context_create(&m_context) != CA_SUCCESS) {
            m_context = nullptr;
            return false;
        }
        ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, m_appName.constData(),
                                CA_PROP_APPLICATION_ID, m_appId.constData(), nullptr);
        return true;
    }
    void close()
    {
        if (m_context)
            ca_context_destroy(m_context);
        m_context = nullptr;
    }
    int playTone()
    {
        if (!m_tone) {
            auto file = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                                         QStringLiteral("/vindrik-pip-XXXXXX.wav"));
            const QByteArray wav = toneWav();
            if (!file->open() || file->write(wav) != wav.size() || !file->flush())
                return CA_ERROR_IO;
            m_tone = std::move(file);
        }
        return ca_context_play(m_context, 0, CA_PROP_MEDIA_FILENAME,
                               QFile::encodeName(m_tone->fileName()).constData(),
                               CA_PROP_EVENT_DESCRIPTION, "Pip", nullptr);
    }

    const QByteArray m_appName;
    const QByteArray m_appId;
    ca_context *m_context = nullptr;
    std::unique_ptr<QTemporaryFile> m_tone;
};

} // namespace

DesktopBell::DesktopBell() : m_shared(std::make_shared<Shared>())
{
    m_shared->appName = QCoreApplication::applicationName().toUtf8();
    m_shared->appId = QGuiApplication::desktopFileName().toUtf8();
    m_thread = std::thread([shared = m_shared] { serve(*shared); });
}

DesktopBell::~DesktopBell()
{
    std::unique_lock lock(m_shared->mutex);
    m_shared->stopping = true;
    m_shared->changed.notify_all();
    // A sound server that stopped answering holds the thread in libpulse
    // until its own time-out; closing the program must not wait for that.
    const bool done = m_shared->changed.wait_for(lock, std::chrono::seconds(2),
                                                 [this] { return m_shared->finished; });
    lock.unlock();
    if (done)
        m_thread.join();
    else
        m_thread.detach();
}

void DesktopBell::ring()
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->pending = true;
    m_shared->changed.notify_all();
}

void DesktopBell::serve(Shared &shared)
{
    {
        Player player(shared.appName, shared.appId);
        std::unique_lock lock(shared.mutex);
        for (;;) {
            shared.changed.wait(lock, [&shared] { return shared.pending || shared.stopping; });
            if (shared.stopping)
                break;
            shared.pending = false;
            lock.unlock();
            player.ring();
            lock.lock();
        }
    }
    const std::lock_guard lock(shared.mutex);
    shared.finished = true;
    shared.changed.notify_all();
}
