#include "common/error.h"
#include "recordlog/leadingnumber.h"

#include <QTest>

class TestLeadingNumber : public QObject {
    Q_OBJECT
private slots:
    void conversion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("decimal") << "25.3" << 25.3;
        QTest::newRow("label caption") << "  25.3" << 25.3;
        QTest::newRow("blank between digits") << "3 4" << 34.0;
        QTest::newRow("second period stops") << "12.5.3" << 12.5;
        QTest::newRow("carriage return stops") << "7\r" << 7.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("letters") << "abc" << 0.0;
        QTest::newRow("negative exponent form") << "-2.5E1" << -25.0;
        QTest::newRow("D exponent") << "1D2" << 100.0;
        QTest::newRow("hexadecimal") << "&H1F" << 31.0;
        QTest::newRow("hexadecimal lower case") << "&h1f" << 31.0;
        QTest::newRow("octal") << "&O17" << 15.0;
        QTest::newRow("octal stops at 8") << "&O178" << 15.0;
        QTest::newRow("leading period") << ".5" << 0.5;
        QTest::newRow("trailing letter") << "12N" << 12.0;
        QTest::newRow("plus sign") << "+4" << 4.0;
        QTest::newRow("tabs and line feeds anywhere") << "\t-\n3\t.5" << -3.5;
        QTest::newRow("exponent letter without digits") << "1E" << 1.0;
        QTest::newRow("exponent sign without digits") << "2e+x" << 2.0;
        QTest::newRow("comma is no decimal separator") << "1,5" << 1.0;
        QTest::newRow("sign alone") << "-" << 0.0;
        QTest::newRow("two signs") << "--1" << 0.0;
        QTest::newRow("period alone") << "." << 0.0;
        QTest::newRow("ampersand without prefix") << "&17" << 0.0;
        QTest::newRow("hex prefix without digits") << "&H" << 0.0;
        QTest::newRow("tiny underflows to zero") << "1E-400" << 0.0;
        QTest::newRow("non-ASCII digit stops") << QString::fromUtf8("4\u0663") << 4.0;
    }

    void conversion()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(leadingNumber(text), value);
    }

    void overflow_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("exponent") << "1E999";
        QTest::newRow("many digits") << QString(400, QLatin1Char('9'));
    }

    void overflow()
    {
        QFETCH(QString, text);
        try {
            leadingNumber(text);
            QFAIL("no error raised");
        } catch (const StationError &e) {
            QCOMPARE(e.error().number, ErrorCode::Overflow);
        }
    }
};

QTEST_GUILESS_MAIN(TestLeadingNumber)
#include "tst_leadingnumber.moc"
