// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include <memory>
#include <thread>

// The bell where the windowing system has none (Wayland): the sound theme's
// window-system bell through libcanberra, the library desktops use for event
// sounds, or a short tone of our own when no theme has a bell. The sounds
// start on a thread of their own: connecting to a sound server can take a
// while, and one that hangs must not freeze the window.
class DesktopBell
{
public:
    DesktopBell();
    ~DesktopBell();
    DesktopBell(const DesktopBell &) = delete;
    DesktopBell &operator=(const DesktopBell &) = delete;

    // Returns at once. Rings that come while the last is still being started
    // make one more sound, not a queue of them.
    void ring();

private:
    struct Shared;
    static void serve(Shared &shared);

    std::shared_ptr<Shared> m_shared; // the thread keeps it if it outlives us
    std::thread m_thread;
};
