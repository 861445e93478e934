#pragma once

#include "FileLayer.h"
#include "JobObserver.h"

#include <QString>

/*!
    A copy of a file or a folder tree as one job: it measures the source
    first, then copies, and tells a Jobs::Observer the overall amounts and
    the progress of the whole copy by bytes, as percent, named after the
    entry being copied: 0 (named after the source) before anything else, at
    most one report per Jobs::BackgroundJob::Interval in between, and 100
    (named after the source) once everything was copied. A canceled copy
    takes back what it made, and so does a failed one when asked to. It
    knows nothing of Qt's objects and runs on whatever thread calls run().
*/
class CopyJob
{
public:
    enum class OnFailure { Keep, TakeBack };
    // Whether anybody follows the run. One that nobody follows, and so
    // nobody can cancel, copies as a plain copy: without the first walk and
    // without a record for taking it back; its totals follow what was
    // copied.
    enum class Followed { Yes, No };

    // `copy` is a valid copy of `source`.
    CopyJob(Extras::FileLayer::Copy &&copy, const QString &source, OnFailure onFailure,
            Followed followed = Followed::Yes);

    Jobs::Outcome run(Jobs::Observer &observer);

    // The messages of a copy, written to the file category with the
    // signature `function` of the operation that asked for it.
    static Extras::FileLayer::CopyReport messages(const char *function);

private:
    class Watch;

    Extras::FileLayer::Copy m_copy;
    QString m_source;
    OnFailure m_onFailure;
    Followed m_followed;
};
