#include "QExifValue.h"

#include <QTextCodec>
#include <QtTest>

using Extras::QExifValue;
using Extras::RationalS32;
using Extras::RationalU32;

Q_DECLARE_METATYPE(Extras::QExifValue)
Q_DECLARE_METATYPE(Extras::QExifValue::CharacterCode)

class tst_ExifValue : public QObject
{
    Q_OBJECT

private slots:
    void nullValue_isAnEmptyByteValue();
    void text_isAsciiCountingItsTerminator();
    void dateTime_roundTripsOnlyInTheExifForm();
    void characterCodes_prefixAndDecode_data();
    void characterCodes_prefixAndDecode();
    void undefinedBytes_decodeByTheirPrefix_data();
    void undefinedBytes_decodeByTheirPrefix();
    void scalarAccessors_answerOnlyForTheirTypes_data();
    void scalarAccessors_answerOnlyForTheirTypes();
    void vectors_keepEveryElement();
    void copies_shareThePayload();
};

void tst_ExifValue::nullValue_isAnEmptyByteValue()
{
    const QExifValue value;
    QVERIFY(value.isNull());
    QCOMPARE(value.type(), int(QExifValue::Byte));
    QCOMPARE(value.count(), 0);
    QCOMPARE(value.toByte(), quint8(0));
    QVERIFY(value.toByteVector().isEmpty());
    QVERIFY(value.toString().isNull());
    QVERIFY(value == QExifValue());
    QVERIFY(!QExifValue(QVector<quint8>()).isNull());
}

void tst_ExifValue::text_isAsciiCountingItsTerminator()
{
    const QExifValue value(QStringLiteral("abc"));
    QCOMPARE(value.type(), int(QExifValue::Ascii));
    QCOMPARE(value.count(), 4);
    QCOMPARE(value.toString(), QStringLiteral("abc"));
    QCOMPARE(value.toByteArray(), QByteArray("abc"));
    QVERIFY(!value.toDateTime().isValid());
    QCOMPARE(value.characterCode(), QExifValue::CodeNone);
    QCOMPARE(QExifValue(QString()).count(), 1);
    // Written, a text ends at its first zero: the value holds what reads back.
    const QExifValue cut(QString::fromLatin1("ab\0cd", 5));
    QCOMPARE(cut.toString(), QStringLiteral("ab"));
    QCOMPARE(cut.count(), 3);
}

void tst_ExifValue::dateTime_roundTripsOnlyInTheExifForm()
{
    const QDateTime when(QDate(2020, 1, 2), QTime(3, 4, 5));
    const QExifValue value(when);
    QCOMPARE(value.type(), int(QExifValue::Ascii));
    QCOMPARE(value.toString(), QStringLiteral("2020:01:02 03:04:05"));
    QCOMPARE(value.count(), 20);
    QCOMPARE(value.toDateTime(), when);
    QVERIFY(!QExifValue(QStringLiteral("2020:01:02 03:04:05 ")).toDateTime().isValid());
    QVERIFY(!QExifValue(QStringLiteral("2020:01:02 03:04")).toDateTime().isValid());
}

void tst_ExifValue::characterCodes_prefixAndDecode_data()
{
    QTest::addColumn<QExifValue::CharacterCode>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("ascii") << QExifValue::CodeAscii << "Hi" << QByteArray("ASCII\0\0\0", 8) << QByteArray("Hi") << "Hi";
    // Written as UTF-8 and read as Latin-1: only 7-bit text survives.
    QTest::newRow("ascii, non-ASCII text") << QExifValue::CodeAscii << QStringLiteral("\u00e9")
                                           << QByteArray("ASCII\0\0\0", 8) << QByteArray("\xc3\xa9")
                                           << QStringLiteral("\u00c3\u00a9");
    QTest::newRow("undefined") << QExifValue::CodeUndefined << "Hi" << QByteArray(8, '\0') << QByteArray("Hi")
                               << "Hi";
    QTest::newRow("unicode") << QExifValue::CodeUnicode << QStringLiteral("H\u00e9") << QByteArray("UNICODE\0", 8)
                             << QTextCodec::codecForName("UTF-16")->fromUnicode(QStringLiteral("H\u00e9"))
                             << QStringLiteral("H\u00e9");
    if (QTextCodec *jis = QTextCodec::codecForName("JIS X 0208"))
        QTest::newRow("jis") << QExifValue::CodeJis << "Hi" << QByteArray("JIS\0\0\0\0\0", 8)
                             << jis->fromUnicode(QStringLiteral("Hi")) << "Hi";
    else // Without the codec the value stays null.
        QTest::newRow("jis, codec missing") << QExifValue::CodeJis << "Hi" << QByteArray() << QByteArray()
                                            << QString();
}

void tst_ExifValue::characterCodes_prefixAndDecode()
{
    QFETCH(QExifValue::CharacterCode, code);
    QFETCH(QString, text);
    QFETCH(QByteArray, prefix);
    QFETCH(QByteArray, encoded);
    QFETCH(QString, decoded);

    const QExifValue value(text, code);
    if (prefix.isEmpty()) {
        QVERIFY(value.isNull());
        return;
    }
    QCOMPARE(value.type(), int(QExifValue::Undefined));
    QCOMPARE(value.toByteArray(), prefix + encoded);
    QCOMPARE(value.count(), 8 + encoded.size());
    QCOMPARE(value.characterCode(), code);
    QCOMPARE(value.toString(), decoded);
}

void tst_ExifValue::undefinedBytes_decodeByTheirPrefix_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QExifValue::CharacterCode>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("only a prefix") << QByteArray("ASCII\0\0\0", 8) << QExifValue::CodeNone << QString("");
    QTest::newRow("short") << QByteArray("ASC") << QExifValue::CodeNone << QString("");
    QTest::newRow("unknown prefix") << QByteArray("Foo\0\0\0\0\0abc", 11) << QExifValue::CodeNone << "abc";
    // Latin-1, whatever the bytes.
    QTest::newRow("ascii prefix, high byte") << QByteArray("ASCII\0\0\0\xe9", 9) << QExifValue::CodeAscii
                                             << QStringLiteral("\u00e9");
    // Decoded with "JIS X 0208" where that codec exists, else in the local encoding.
    QTextCodec *jis = QTextCodec::codecForName("JIS X 0208");
    QTest::newRow("jis prefix") << QByteArray("JIS\0\0\0\0\0abc", 11) << QExifValue::CodeJis
                                << (jis ? jis->toUnicode("abc") : QString::fromLocal8Bit("abc"));
}

void tst_ExifValue::undefinedBytes_decodeByTheirPrefix()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QExifValue::CharacterCode, code);
    QFETCH(QString, text);

    const QExifValue value(bytes);
    QCOMPARE(value.type(), int(QExifValue::Undefined));
    QCOMPARE(value.count(), bytes.size());
    QCOMPARE(value.characterCode(), code);
    QCOMPARE(value.toString(), text);
    QCOMPARE(value.toByteArray(), bytes);
}

void tst_ExifValue::scalarAccessors_answerOnlyForTheirTypes_data()
{
    QTest::addColumn<QExifValue>("value");
    QTest::addColumn<int>("type");
    QTest::addColumn<uint>("byte");
    QTest::addColumn<uint>("shortValue");
    QTest::addColumn<uint>("longValue");
    QTest::addColumn<int>("signedLong");
    QTest::addColumn<uint>("rationalDenominator");
    QTest::addColumn<int>("signedRationalNumerator");

    QTest::newRow("byte") << QExifValue(quint8(7)) << 1 << 7u << 7u << 7u << 7 << 0u << 0;
    QTest::newRow("short") << QExifValue(quint16(65535)) << 3 << 0u << 65535u << 65535u << 65535 << 0u << 0;
    QTest::newRow("long reads as signed") << QExifValue(quint32(4294967295u)) << 4 << 0u << 0u << 4294967295u << -1
                                          << 0u << 0;
    QTest::newRow("slong reads as unsigned") << QExifValue(qint32(-1)) << 9 << 0u << 0u << 4294967295u << -1 << 0u
                                             << 0;
    QTest::newRow("rational") << QExifValue(RationalU32(1, 100)) << 5 << 0u << 0u << 0u << 0 << 100u << 0;
    QTest::newRow("srational") << QExifValue(RationalS32(-3, 4)) << 10 << 0u << 0u << 0u << 0 << 0u << -3;
    QTest::newRow("two shorts") << QExifValue(QVector<quint16>{1, 2}) << 3 << 0u << 0u << 0u << 0 << 0u << 0;
    QTest::newRow("ascii") << QExifValue(QStringLiteral("7")) << 2 << 0u << 0u << 0u << 0 << 0u << 0;
    QTest::newRow("undefined") << QExifValue(QByteArray("\x07", 1)) << 7 << 0u << 0u << 0u << 0 << 0u << 0;
}

void tst_ExifValue::scalarAccessors_answerOnlyForTheirTypes()
{
    QFETCH(QExifValue, value);
    QFETCH(int, type);
    QCOMPARE(value.type(), type);
    QTEST(uint(value.toByte()), "byte");
    QTEST(uint(value.toShort()), "shortValue");
    QTEST(uint(value.toLong()), "longValue");
    QTEST(int(value.toSignedLong()), "signedLong");
    QTEST(uint(value.toRational().second), "rationalDenominator");
    QTEST(int(value.toSignedRational().first), "signedRationalNumerator");
    QVERIFY(type == QExifValue::Ascii || value.toString().isNull());
    QVERIFY(type == QExifValue::Ascii || value.toDateTime().isNull());
}

void tst_ExifValue::vectors_keepEveryElement()
{
    const QVector<quint16> shorts{1, 2, 3};
    QCOMPARE(QExifValue(shorts).count(), 3);
    QCOMPARE(QExifValue(shorts).toShortVector(), shorts);
    QVERIFY(QExifValue(shorts).toLongVector().isEmpty());
    const QVector<quint8> bytes{9, 8};
    QCOMPARE(QExifValue(bytes).toByteVector(), bytes);
    QVERIFY(QExifValue(bytes).toShortVector().isEmpty());
    const QVector<quint32> longs{1, 4294967295u};
    QCOMPARE(QExifValue(longs).toLongVector(), longs);
    QVERIFY(QExifValue(longs).toSignedLongVector().isEmpty());
    const QVector<qint32> slongs{-1, 5};
    QCOMPARE(QExifValue(slongs).toSignedLongVector(), slongs);
    const QVector<RationalU32> rationals{{52, 1}, {30, 1}, {0, 1}};
    QCOMPARE(QExifValue(rationals).type(), int(QExifValue::Rational));
    QCOMPARE(QExifValue(rationals).toRationalVector(), rationals);
    QCOMPARE(QExifValue(rationals).toRational(), RationalU32());
    QVERIFY(QExifValue(rationals).toSignedRationalVector().isEmpty());
    const QVector<RationalS32> srationals{{-1, 2}};
    QCOMPARE(QExifValue(srationals).toSignedRationalVector(), srationals);
    QCOMPARE(QExifValue(srationals).toSignedRational(), RationalS32(-1, 2));
}

void tst_ExifValue::copies_shareThePayload()
{
    const QExifValue a(quint16(6));
    const QExifValue b(quint16(6));
    QVERIFY(a != b);
    QExifValue copy(a);
    QVERIFY(copy == a);
    QExifValue assigned;
    assigned = b;
    QVERIFY(assigned == b);
    const QExifValue &same = assigned;
    assigned = same;
    QCOMPARE(assigned.toShort(), quint16(6));
    {
        // The payload outlives the value it was built for.
        QExifValue temporary(QStringLiteral("kept"));
        copy = temporary;
    }
    QCOMPARE(copy.toString(), QStringLiteral("kept"));
}

QTEST_APPLESS_MAIN(tst_ExifValue)
#include "tst_exifvalue.moc"
