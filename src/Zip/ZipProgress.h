#pragma once

#include "JobObserver.h"

// An entry's progress as a person follows it, in reading and in writing: one
// report per this many bytes of its data, whatever the size of the blocks.
namespace ZipProgress {

constexpr int Step = 4096;

// Reports each step that the bytes from `done` up to `end` of an entry of
// `total` bytes begin, as the percent done before that step: 0, 40.96 and
// 81.92 for an entry of 10 000 bytes read at once.
inline void reportSteps(Jobs::Observer &observer, const QString &name, const QString &output, quint64 done,
                        quint64 end, quint64 total)
{
    for (quint64 at = (done + Step - 1) / Step * Step; at < end; at += Step)
        observer.progress(name, output, double(at) / double(total) * 100.0);
}

} // namespace ZipProgress
