#include "store/leadingnumber.h"

#include <QTest>

class TestLeadingNumber : public QObject {
    Q_OBJECT
private slots:
    void conversion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("value"); // null: no value (too large for a double)
        QTest::newRow("second period stops") << "12.5.3" << QVariant(12.5);
        QTest::newRow("carriage return stops") << "7\r" << QVariant(7.0);
        QTest::newRow("letters") << "abc" << QVariant(0.0);
        QTest::newRow("negative exponent form") << "-2.5E1" << QVariant(-25.0);
        QTest::newRow("D exponent") << "1D2" << QVariant(100.0);
        QTest::newRow("hexadecimal, mixed case") << "&hFf" << QVariant(255.0);
        QTest::newRow("octal stops at 8") << "&O178" << QVariant(15.0);
        QTest::newRow("leading period") << ".5" << QVariant(0.5);
        QTest::newRow("plus sign") << "+4" << QVariant(4.0);
        QTest::newRow("blanks, tabs and line feeds anywhere") << "\t- \n3 4\t.5" << QVariant(-34.5);
        QTest::newRow("exponent sign without digits") << "2e+x" << QVariant(2.0);
        QTest::newRow("comma is no decimal separator") << "1,5" << QVariant(1.0);
        QTest::newRow("two signs") << "--1" << QVariant(0.0);
        QTest::newRow("ampersand without prefix") << "&17" << QVariant(0.0);
        QTest::newRow("hex prefix without digits") << "&H" << QVariant(0.0);
        QTest::newRow("non-ASCII digit stops") << QString::fromUtf8("4\u0663") << QVariant(4.0);
        QTest::newRow("too small is zero") << "1E-400" << QVariant(0.0);
        QTest::newRow("too small with whole digits") << "100D-330" << QVariant(0.0);
        QTest::newRow("large exponent, small mantissa") << "0.001E310" << QVariant(1e307);
        QTest::newRow("too large exponent, negative") << "-1E999" << QVariant();
        QTest::newRow("too many digits") << QString(400, QLatin1Char('9')) << QVariant();
        QTest::newRow("too many hex digits") << "&H" + QString(300, QLatin1Char('F')) << QVariant();
    }

    void conversion()
    {
        QFETCH(QString, text);
        const std::optional<double> number = leadingNumber(text);
        QTEST(number ? QVariant(*number) : QVariant(), "value");
    }
};

QTEST_GUILESS_MAIN(TestLeadingNumber)
#include "tst_leadingnumber.moc"
