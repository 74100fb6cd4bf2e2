// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

class QString;
class QWidget;

namespace MessageBox {

// A box with the text, the title and one OK button, no icon; returns once it
// is answered. The text is never read as markup.
//
// When the user is at one of the program's windows, the box is modal over
// `window` and takes the keyboard. When the user is in another program, it
// comes up on top without taking the keyboard, on every workspace, and asks
// the desktop for attention; the program's other windows take no input until
// it is answered.
void show(const QString &text, const QString &title, QWidget *window);

} // namespace MessageBox
