#pragma once

// Helpers shared by the benchmarks: options of the command line and medians.

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QVector>

#include <algorithm>

// The text after `name` on the command line, or `fallback` when it is not there.
inline QString optionValue(const QStringList &args, const QString &name, const QString &fallback)
{
    const int at = args.indexOf(name);
    return at > 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
}

// A count given after `name`, at least 1.
inline int countOption(const QStringList &args, const QString &name, int fallback)
{
    return qMax(1, optionValue(args, name, QString::number(fallback)).toInt());
}

inline double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

struct ProcessFigures {
    double seconds = -1; // wall time; negative when it could not be run
    double peakMB = 0;   // peak resident memory
    bool succeeded = false; // exit status 0
};

// Runs a program to its end under GNU time, in `folder` when one is given,
// its standard output into `output` (discarded when empty): wall seconds
// and peak resident memory. time forks the program from a small process of
// its own, so the peak is the program's and not inherited from this one.
inline ProcessFigures measureProcess(const QStringList &command, const QString &report,
                                     const QString &folder = QString(), const QString &output = QString())
{
    QProcess process;
    process.setStandardOutputFile(output.isEmpty() ? QProcess::nullDevice() : output);
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("/usr/bin/time"),
                  QStringList{QStringLiteral("-f"), QStringLiteral("%e %M"), QStringLiteral("-o"), report} + command);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        return {};
    const double seconds = timer.nsecsElapsed() / 1e9;
    QFile file(report);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A failed command adds a line in front of the figures.
    const QList<QByteArray> fields = file.readAll().trimmed().split('\n').last().split(' ');
    if (fields.size() != 2)
        return {};
    return {seconds, fields.at(1).toDouble() / 1024.0, process.exitCode() == 0};
}
