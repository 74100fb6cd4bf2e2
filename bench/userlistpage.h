#pragma once

#include <QString>
#include <QStringList>

namespace BenchPage {

// Chat nicknames as people pick them: Swedish first names, some with åäö,
// digits, a town or a joined word, from 1 to about 20 characters. The same
// count always gives the same names.
QStringList names(qsizetype count);

// The user-list page as the chat site serves it: a head with a style sheet
// and the script the links call, room headings between the links, and one
// link per name.
QString page(const QStringList &names);

// As many names as fill a page of about utf8Bytes bytes once encoded.
QStringList namesForPageOf(qsizetype utf8Bytes);

} // namespace BenchPage
