// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace PageDecoder {

// The charset label of a Content-Type value ("text/html; charset=utf-8"), or empty.
QByteArray charsetFromContentType(QByteArrayView contentType);
// The charset a <meta> tag near the start of an HTML page declares, or empty.
QByteArray charsetFromHtmlMeta(QByteArrayView html);

// Turns the page's bytes into text. The charset comes from the Content-Type
// header, else the bytes are UTF-16 when their NULs plainly say so, else from
// the page's own <meta> tag (unless it names an encoding in which that tag
// could not have been read, such as UTF-16), else the bytes are taken as UTF-8
// when they are valid UTF-8 and as windows-1252 when they are not. Like
// browsers, the Latin-1 and ASCII labels are read as windows-1252, and a label
// nobody knows counts as no label.
QString decode(QByteArrayView body, QByteArrayView contentType = {});

// Text that is mostly NULs and replacement characters: bytes read in an
// encoding they are not in, or no text at all.
bool isUnreadable(QStringView text);

} // namespace PageDecoder
