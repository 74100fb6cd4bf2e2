#include "cachedgroupbox.h"

#include <QTest>

using namespace Qt::StringLiterals;

// A frame painted from its kept picture must look exactly like one painted
// afresh, also once something it is drawn from has changed.
class TstCachedGroupBox : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void looksLikeAPlainOne_data()
    {
        QTest::addColumn<QString>("change");
        for (const char *change : {"none", "title", "disabled", "font", "palette"})
            QTest::newRow(change) << QString::fromLatin1(change);
    }
    void looksLikeAPlainOne()
    {
        QFETCH(QString, change);
        QWidget window;
        window.resize(400, 120);
        CachedGroupBox cached(u"Online"_s, &window);
        QGroupBox plain(u"Online"_s, &window);
        cached.setGeometry(0, 0, 200, 120);
        plain.setGeometry(200, 0, 200, 120);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto sides = [&window] {
            const QImage shot = window.grab().toImage();
            return std::pair(shot.copy(0, 0, 200, 120), shot.copy(200, 0, 200, 120));
        };
        sides(); // the picture is drawn
        for (QGroupBox *box : {static_cast<QGroupBox *>(&cached), &plain}) {
            if (change == u"title")
                box->setTitle(u"Personer"_s);
            else if (change == u"disabled")
                box->setEnabled(false);
            else if (change == u"font")
                box->setFont(QFont(box->font().family(), 14, QFont::Bold));
            else if (change == u"palette")
                box->setPalette(QPalette(Qt::darkGreen));
        }
        const auto [kept, afresh] = sides();
        QVERIFY(kept == afresh);
    }
};

QTEST_MAIN(TstCachedGroupBox)
#include "tst_cachedgroupbox.moc"
