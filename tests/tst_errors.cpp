#include "core/errors.h"
#include "core/wholenumber.h"

#include <QtTest>

#include <stdexcept>

class TstErrors : public QObject {
    Q_OBJECT

private slots:
    void strToIntAcceptsWholeNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "60000" << 60000;
        QTest::newRow("negative") << "-5" << -5;
        QTest::newRow("plus sign") << "+7" << 7;
        QTest::newRow("leading blanks") << "  42" << 42;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("dollar hex") << "$FF" << 255;
        QTest::newRow("0x hex") << "0x10" << 16;
        QTest::newRow("int max") << "2147483647" << 2147483647;
        QTest::newRow("int min") << "-2147483648" << int(-2147483647 - 1);
        QTest::newRow("above 65535") << "70000" << 70000;
    }
    void strToIntAcceptsWholeNumbers()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(ParseWholeNumber(text), value);
    }

    void strToIntRefusesOtherTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("letters") << "abc";
        QTest::newRow("empty") << "";
        QTest::newRow("blank only") << "  ";
        QTest::newRow("trailing blank") << "12 ";
        QTest::newRow("sign only") << "-";
        QTest::newRow("decimal point") << "1.5";
        QTest::newRow("overflow") << "2147483648";
        QTest::newRow("negative overflow") << "-2147483649";
        QTest::newRow("bad hex") << "$G1";
        QTest::newRow("huge") << "99999999999999999999999";
    }
    void strToIntRefusesOtherTexts()
    {
        QFETCH(QString, text);
        try {
            (void)ParseWholeNumber(text);
            QFAIL("no exception");
        } catch (const ConversionError &e) {
            QCOMPARE(e.Message(), QStringLiteral("'%1' is not a valid integer value").arg(text));
        }
    }

    void guardReportsAndSwallowsExceptions()
    {
        QStringList seen;
        auto previous = SetExceptionReporter([&](const std::exception &e) { seen << ExceptionMessage(e); });
        Guarded([] { throw ConversionError(QStringLiteral("boom")); });
        Guarded([] { throw std::runtime_error("std failure"); });
        Guarded([] { throw 42; });
        bool ran = false;
        Guarded([&] { ran = true; });
        SetExceptionReporter(previous);
        QVERIFY(ran);
        QCOMPARE(seen, QStringList({"boom", "std failure", "Unknown exception"}));
    }

    void exceptionMessageKeepsChineseText()
    {
        const Exception e(QStringLiteral("该端口已被占用"));
        QCOMPARE(ExceptionMessage(e), QStringLiteral("该端口已被占用"));
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("该端口已被占用"));
    }
};

QTEST_GUILESS_MAIN(TstErrors)
#include "tst_errors.moc"
