#include "userlistpage.h"

#include "chatsite.h"

#include <algorithm>
#include <iterator>
#include <random>

using namespace Qt::StringLiterals;

namespace BenchPage {

namespace {

constexpr QStringView FirstNames[] = {
    u"Åsa",    u"Anna",   u"Björn",      u"Märta",    u"Östen", u"Li",     u"Bo",    u"Karin",
    u"Sören",  u"Ulla",   u"Gösta",      u"Maja",     u"Lars",  u"Ingrid", u"Åke",   u"Elin",
    u"Jörgen", u"Sara",   u"Per",        u"Birgitta", u"Ylva",  u"Göran",  u"Kalle", u"Lotta",
    u"Mats",   u"Agneta", u"Örjan",      u"Ebba",     u"Ola",   u"Stina",  u"Tove",  u"Rasmus",
    u"Malin",  u"Håkan",  u"Kristoffer", u"Ida",
};

constexpr QStringView Suffixes[] = {
    u"_82", u"76", u"_sthlm", u"frånUmeå", u"xx", u"-Göteborg", u"_", u"2000",
};

constexpr QStringView Rooms[] = {u"Lobbyn", u"Kafé Vindrik", u"Över 30", u"Norrland"};

} // namespace

QStringList names(qsizetype count)
{
    std::mt19937 random(20240611); // fixed: every run reads the same page
    std::uniform_int_distribution<std::size_t> first(0, std::size(FirstNames) - 1);
    std::uniform_int_distribution<std::size_t> suffix(0, std::size(Suffixes) - 1);
    std::uniform_int_distribution<int> shape(0, 9);

    QStringList result;
    result.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        QString name = FirstNames[first(random)].toString();
        switch (shape(random)) {
        case 0:
        case 1:
            name += Suffixes[suffix(random)];
            break;
        case 2:
            name = name.toLower() + QString::number(i % 100);
            break;
        case 3:
            name += FirstNames[first(random)]; // SötaLisa, ÅsaBo
            break;
        case 4:
            name = name.left(1); // a one-letter nick
            break;
        default:
            break; // a plain first name, the most common kind
        }
        result << name;
    }
    return result;
}

QString page(const QStringList &names)
{
    QString page = u"<!DOCTYPE html>\n<html><head>\n"
                   u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
                   u"<title>Inne i chatten</title>\n"
                   u"<style>body{font:12px Verdana,sans-serif} a{color:#036} "
                   u".rum{font-weight:bold;margin:4px 0}</style>\n"
                   u"<script>var valj='';\nfunction skicka(){ if (valj != '') "
                   u"parent.frames['inmatning'].document.forms[0].till.value = valj; }\n"
                   u"</script>\n</head><body onload=\"skicka()\">\n"
                   u"<table width=\"100%\"><tr><td valign=\"top\">\n"_s;
    page.reserve(names.size() * 56 + 2048);
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (i % 500 == 0) {
            page += u"<div class=\"rum\">Rum: "_s;
            page += Rooms[(i / 500) % std::size(Rooms)];
            page += u"</div>\n"_s;
        }
        page += ChatSite::userLink(names[i]);
    }
    page += u"</td></tr></table>\n<p>Antal inne: "_s + QString::number(names.size()) +
            u"</p>\n</body></html>\n"_s;
    return page;
}

QStringList namesForPageOf(qsizetype utf8Bytes)
{
    // Names never come shorter than a character, so this many always overfill
    // the page; then find the smallest count that fills it.
    const QStringList all = names(utf8Bytes / 40 + 1);
    qsizetype low = 0;
    qsizetype high = all.size();
    while (low < high) {
        const qsizetype mid = (low + high) / 2;
        if (page(all.first(mid)).toUtf8().size() < utf8Bytes)
            low = mid + 1;
        else
            high = mid;
    }
    return all.first(low);
}

} // namespace BenchPage
