#pragma once

// Helpers shared by the benchmarks: options of the command line and medians.

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
