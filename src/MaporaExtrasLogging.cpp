#include "MaporaExtrasLogging.h"

const QLoggingCategory &CATEGORY_PLUGIN()
{
    static const QLoggingCategory category("Quil.MaporaExtras.Plugin");
    return category;
}

const QLoggingCategory &CATEGORY_CORE()
{
    static const QLoggingCategory category("Quil.MaporaExtras.Core");
    return category;
}

const QLoggingCategory &CATEGORY_FILE()
{
    static const QLoggingCategory category("Quil.MaporaExtras.File");
    return category;
}
