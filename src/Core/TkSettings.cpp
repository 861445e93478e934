#include "TkSettings.h"

#include "FileUtility.h"
#include "QmlValues.h"
#include "SettingsFile.h"

#include <QEvent>

namespace {
bool isBlankText(const QVariant &value)
{
    return value.userType() == QMetaType::QString && value.toString().trimmed().isEmpty();
}

bool convertTo(QVariant &value, int type)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return value.convert(QMetaType(type));
#else
    return value.convert(type);
#endif
}

// Whether storing `value` would store `defaultValue`. Values of different
// types are equal when the default converts to the value's type and then
// equals it ("#ff0000" and Qt.rgba(1, 0, 0, 1), a URL and its text, "5" and
// 5), as Qt 5's variant comparison has it; Qt 6 compares only numbers
// across types.
bool isDefault(const QVariant &value, const QVariant &defaultValue)
{
    if (value == defaultValue)
        return true;
    if (value.userType() == defaultValue.userType())
        return false;
    QVariant converted = defaultValue;
    return convertTo(converted, value.userType()) && converted == value;
}

// Every store is read and written as UTF-8 text: Qt 6 does so by itself,
// Qt 5 would write non-ASCII text as escapes and read raw UTF-8 as
// Latin-1. Escapes written by earlier Qt 5 builds still read back.
void useUtf8(QSettings *settings)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    settings->setIniCodec("UTF-8");
#else
    Q_UNUSED(settings)
#endif
}

// Qt 5 builds stored script arrays and objects as QJSValue, which Qt 6
// refuses to read back ("undefined"). Such a file is rewritten once with
// the same lists and maps stored plainly, which every build reads: the
// QJSValue wrapper (its type name and a zero flag word) is cut from the
// front of the stored variant, the list or map inside stays as it is.
void readScriptValuesOfQt5(QSettings *settings)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    static const QByteArray wrapped = QByteArrayLiteral("@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\tQJSValue\\0\\0\\0\\0\\0");
    if (settings->format() != QSettings::IniFormat && settings->format() != QSettings::NativeFormat)
        return;
    const QString file = settings->fileName();
    QByteArray text = Extras::FileUtility::readFile(file);
    if (!text.contains(wrapped))
        return;
    text.replace(wrapped, QByteArrayLiteral("@Variant("));
    if (Extras::FileUtility::writeFile(file, text))
        settings->sync();
#else
    Q_UNUSED(settings)
#endif
}

void prepare(QSettings *settings)
{
    useUtf8(settings);
    readScriptValuesOfQt5(settings);
}
} // namespace

TkSettings::TkSettings(QObject *parent)
    : QSettings(parent)
{
    prepare(this);
}

TkSettings::TkSettings(const QString &organization, const QString &application, QObject *parent)
    : QSettings(organization, application, parent)
{
    prepare(this);
}

TkSettings::TkSettings(Scope scope, const QString &organization, const QString &application, QObject *parent)
    : QSettings(scope, organization, application, parent)
{
    prepare(this);
}

TkSettings::TkSettings(Format format, Scope scope, const QString &organization, const QString &application,
                       QObject *parent)
    : QSettings(format, scope, organization, application, parent)
{
    prepare(this);
}

TkSettings::TkSettings(const QString &fileName, Format format, QObject *parent)
    : QSettings(fileName, format, parent)
{
    prepare(this);
}

TkSettings::TkSettings(const QDir &folder, const QString &fileName, QObject *parent)
    : TkSettings(SettingsFile::open(folder, fileName), parent)
{
}

TkSettings::TkSettings(std::shared_ptr<SettingsFile> file, QObject *parent)
    : QSettings(preparedCopy(file), IniFormat, parent)
    , m_file(std::move(file))
{
    prepare(this);
}

TkSettings::~TkSettings()
{
    // What is still pending reaches the file here, not by QSettings' own
    // flush, which would only write the copy.
    if (m_file)
        synchronize();
}

QString TkSettings::preparedCopy(const std::shared_ptr<SettingsFile> &file)
{
    file->refresh();
    return file->copyPath();
}

bool TkSettings::event(QEvent *event)
{
    // QSettings writes pending changes when this event comes back.
    if (m_file && event->type() == QEvent::UpdateRequest) {
        synchronize();
        return true;
    }
    return QSettings::event(event);
}

QString TkSettings::path() const
{
    return m_file ? m_file->path() : fileName();
}

void TkSettings::synchronize()
{
    if (!m_file) {
        sync();
        return;
    }
    // The copy takes what changed in the file, QSettings merges its pending
    // changes into the copy, and the copy goes to the file.
    m_file->refresh();
    sync();
    m_file->publish();
}

QVariant TkSettings::value(const QString &key, const QVariant &defaultValue) const
{
    // Lists and maps that a Qt 5 build stored as script values read back
    // as plain lists and maps.
    const QVariant stored = QmlValues::plainVariant(QSettings::value(key, defaultValue));
    if (!stored.isValid() || stored.isNull() || isBlankText(stored))
        return defaultValue;
    // An INI file gives a list of texts back as a string list, which QML
    // does not take for an array: hand it over as a list.
    if (stored.userType() == QMetaType::QStringList)
        return stored.toList();
    return stored;
}

void TkSettings::setValue(const QString &key, const QVariant &scriptValue, const QVariant &scriptDefault)
{
    // Script arrays and objects are stored as lists and maps, which every
    // build reads back.
    const QVariant value = QmlValues::plainVariant(scriptValue);
    const QVariant defaultValue = QmlValues::plainVariant(scriptDefault);
    // Storing the caller's default deletes the entry instead, so the store
    // holds only what differs from the defaults.
    if (!value.isValid() || value.isNull() || (!defaultValue.isNull() && isDefault(value, defaultValue))
        || isBlankText(value)) {
        QSettings::remove(key);
        return;
    }
    QSettings::setValue(key, value);
    emit valueChanged(key);
}

QColor TkSettings::colorValue(const QString &key, const QColor &defaultValue) const
{
    // A stored text that names no colour gives an invalid colour, not the default.
    return value(key, QVariant(defaultValue)).value<QColor>();
}

void TkSettings::setColorValue(const QString &key, const QColor &value)
{
    const QString text = value.alpha() > 254 ? value.name(QColor::HexRgb) : value.name(QColor::HexArgb);
    setValue(key, text);
}

bool TkSettings::boolValue(const QString &key, bool defaultValue) const
{
    return value(key, QVariant(defaultValue)).toBool();
}

double TkSettings::numberValue(const QString &key, double defaultValue) const
{
    return value(key, QVariant(defaultValue)).toReal();
}

void TkSettings::remove(const QString &key)
{
    QSettings::remove(key);
}

bool TkSettings::contains(const QString &key) const
{
    return QSettings::contains(key);
}
