#pragma once

#include <QLoggingCategory>

// Categories of the plugin's own objects. All three match the filter-rule
// pattern "Quil.MaporaExtras*" that Extras::DebugUtility writes.
const QLoggingCategory &CATEGORY_PLUGIN();
const QLoggingCategory &CATEGORY_CORE();
const QLoggingCategory &CATEGORY_FILE();
