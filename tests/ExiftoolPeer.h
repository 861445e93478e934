#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>

// exiftool (libimage-exiftool-perl) as an independent peer: it makes test
// files, and its verbose dump tells, for each directory, every entry's tag,
// format, count and raw bytes as they stand in the file.
namespace ExiftoolPeer {

struct Entry
{
    QString format; // exiftool's name of the file's format: int16u, string, undef, ...
    quint32 count = 0;
    QByteArray raw; // the entry's data bytes in file order
};

struct Dump
{
    bool exifInFirstApp1 = false;
    bool bigEndian = false;
    // Directory name (IFD0, ExifIFD, GPS, IFD1) -> tag -> the last entry with that tag.
    QMap<QString, QMap<quint16, Entry>> directories;
};

inline QString program()
{
    return QStandardPaths::findExecutable(QStringLiteral("exiftool"));
}

inline QByteArray run(const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program(), arguments);
    process.waitForFinished(120000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

inline Dump dump(const QString &fileName)
{
    static const QRegularExpression directoryLine(QStringLiteral("^  ((?:\\| )*)\\+ \\[(\\w+) directory"));
    static const QRegularExpression tagLine(
        QStringLiteral("^  ((?:\\| )*)\\s*- Tag 0x([0-9a-f]{4}) \\(\\d+ bytes, (\\w+)(?:\\[(\\d+)\\])?"));
    static const QRegularExpression hexLine(QStringLiteral("^  (?:\\| )*\\s+[0-9a-f]{4,}: ((?:[0-9a-f]{2} ?)+)"));

    Dump result;
    QStringList stack;
    Entry *current = nullptr;
    bool inFirstApp1 = false;
    bool seenApp1 = false;
    const QString text = QString::fromUtf8(run({QStringLiteral("-v5"), fileName}));
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("JPEG "))) {
            inFirstApp1 = !seenApp1 && line.startsWith(QLatin1String("JPEG APP1 "));
            seenApp1 = seenApp1 || inFirstApp1;
            stack.clear();
            current = nullptr;
            continue;
        }
        if (line.startsWith(QLatin1String("  ExifByteOrder = ")) && inFirstApp1)
            result.bigEndian = line.endsWith(QLatin1String("MM"));
        QRegularExpressionMatch m = directoryLine.match(line);
        if (m.hasMatch()) {
            const int depth = m.capturedLength(1) / 2;
            stack = stack.mid(0, depth);
            stack.append(m.captured(2));
            if (inFirstApp1 && m.captured(2) == QLatin1String("IFD0"))
                result.exifInFirstApp1 = true;
            current = nullptr;
            continue;
        }
        m = tagLine.match(line);
        if (m.hasMatch()) {
            current = nullptr;
            const int depth = m.capturedLength(1) / 2;
            if (!inFirstApp1 || depth < 1 || depth > stack.size())
                continue;
            Entry &entry = result.directories[stack.at(depth - 1)][quint16(m.captured(2).toUInt(nullptr, 16))];
            entry = Entry{m.captured(3), m.captured(4).toUInt(), QByteArray()};
            current = &entry;
            continue;
        }
        m = hexLine.match(line);
        if (m.hasMatch() && current) {
            current->raw += QByteArray::fromHex(m.captured(1).left(48).toLatin1());
            continue;
        }
        current = nullptr;
    }
    return result;
}

// exiftool -j -n of the file: group-qualified tag names to numbers or text.
inline QJsonObject json(const QString &fileName, const QStringList &tags)
{
    const QJsonArray array = QJsonDocument::fromJson(
        run(QStringList{QStringLiteral("-j"), QStringLiteral("-n"), QStringLiteral("-G1")} + tags << fileName)).array();
    return array.isEmpty() ? QJsonObject() : array.first().toObject();
}

// exiftool's warnings and errors on reading the file, with its extra checks
// when validating; empty when it has no complaint.
inline QStringList complaints(const QString &fileName, bool validate)
{
    QStringList lines;
    QStringList arguments{QStringLiteral("-warning"), QStringLiteral("-error"), QStringLiteral("-a"), fileName};
    if (validate)
        arguments.prepend(QStringLiteral("-validate"));
    const QString text = QString::fromUtf8(run(arguments));
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Warning")) || line.startsWith(QLatin1String("Error")))
            lines << line;
    }
    return lines;
}

} // namespace ExiftoolPeer
