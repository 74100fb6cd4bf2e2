// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include "pagefetch.h"
#include "platform.h"

#include <QPointer>

#include <memory>

class DesktopBell;
class QSoundEffect;
class QWidget;

// The platform on a desktop: the page fetch, QMessageBox, the X
// bell or the desktop's bell sound, and QSoundEffect.
class DesktopPlatform : public Platform
{
public:
    using Limits = PageFetcher::Limits;

    DesktopPlatform();
    explicit DesktopPlatform(Limits limits);
    ~DesktopPlatform() override;
    DesktopPlatform(const DesktopPlatform &) = delete;
    DesktopPlatform &operator=(const DesktopPlatform &) = delete;

    // The window the message boxes are centred on.
    void setDialogParent(QWidget *parent);

    FetchResult fetchPage(const QUrl &url) override;
    void cancelFetch() override;
    void showMessage(const QString &text, const QString &title) override;
    void beep() override;
    void playSoundFile(const QString &path) override;
    QString programFolder() const override;

private:
    // Shared with the fetch under way, which may outlive the platform: a slot
    // run by the fetch's event loop may destroy it.
    std::shared_ptr<PageFetcher> m_fetcher;
    std::unique_ptr<QSoundEffect> m_sound; // made on first use: most evenings never need it
    std::unique_ptr<DesktopBell> m_bell;   // made on first use, where there is no X bell
    QPointer<QWidget> m_dialogParent;
};
