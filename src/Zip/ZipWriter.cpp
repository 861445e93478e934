#include "ZipWriter.h"

#include <QFile>
#include <QFileInfo>

#include <zip.h>

namespace {

// The Unix mode of a file with the permissions Qt reports for it.
quint32 unixMode(QFile::Permissions permissions)
{
    static const struct {
        QFile::Permission permission;
        quint32 bit;
    } bits[] = {{QFile::ReadOwner, 0400}, {QFile::WriteOwner, 0200}, {QFile::ExeOwner, 0100},
                {QFile::ReadGroup, 040},  {QFile::WriteGroup, 020},  {QFile::ExeGroup, 010},
                {QFile::ReadOther, 04},   {QFile::WriteOther, 02},   {QFile::ExeOther, 01}};
    quint32 mode = 0100000; // a regular file
    for (const auto &b : bits) {
        if (permissions & b.permission)
            mode |= b.bit;
    }
    return mode;
}

QString textOf(zip_error_t *error)
{
    return QString::fromLocal8Bit(zip_error_strerror(error));
}

} // namespace

std::unique_ptr<ZipWriter> ZipWriter::create(const QString &path, QString *reason)
{
    std::unique_ptr<ZipWriter> writer(new ZipWriter);
    int code = 0;
    writer->m_archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!writer->m_archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        *reason = textOf(&error);
        zip_error_fini(&error);
        return nullptr;
    }
    writer->m_path = path;
    return writer;
}

ZipWriter::~ZipWriter()
{
    if (m_archive)
        zip_discard(m_archive);
}

quint32 ZipWriter::dosDateTime(const QDateTime &local)
{
    static const QDateTime first(QDate(1980, 1, 1), QTime(0, 0, 0), Qt::LocalTime);
    static const QDateTime last(QDate(2107, 12, 31), QTime(23, 59, 58), Qt::LocalTime);
    const QDateTime t = !local.isValid() || local < first ? first : local > last ? last : local;
    const QDate d = t.date();
    const QTime h = t.time();
    const quint32 date = quint32(d.year() - 1980) << 9 | quint32(d.month()) << 5 | quint32(d.day());
    const quint32 time = quint32(h.hour()) << 11 | quint32(h.minute()) << 5 | quint32(h.second() / 2);
    return date << 16 | time;
}

bool ZipWriter::add(const QString &sourcePath, const QString &name, const QString &comment, int *code,
                    QString *reason)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_file_create(QFile::encodeName(sourcePath).constData(), 0, 0, &error);
    if (!source) {
        *code = zip_error_code_zip(&error);
        *reason = textOf(&error);
        zip_error_fini(&error);
        return false;
    }
    zip_error_fini(&error);
    const QByteArray entryName = name.toUtf8();
    const zip_int64_t index = zip_file_add(m_archive, entryName.constData(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        *code = zip_error_code_zip(zip_get_error(m_archive));
        *reason = textOf(zip_get_error(m_archive));
        zip_error_clear(m_archive);
        return false;
    }

    const QFileInfo info(sourcePath);
    const quint32 stamp = dosDateTime(info.lastModified());
    const QByteArray entryComment = comment.toUtf8();
    const auto i = zip_uint64_t(index);
    if (zip_set_file_compression(m_archive, i, ZIP_CM_DEFLATE, 0) != 0
        || zip_file_set_dostime(m_archive, i, zip_uint16_t(stamp & 0xffff), zip_uint16_t(stamp >> 16), 0) != 0
        || zip_file_set_external_attributes(m_archive, i, 0, ZIP_OPSYS_UNIX, unixMode(info.permissions()) << 16) != 0
        || (!entryComment.isEmpty()
            && zip_file_set_comment(m_archive, i, entryComment.constData(), zip_uint16_t(qMin(entryComment.size(), 0xffff)),
                                    ZIP_FL_ENC_UTF_8)
                != 0)) {
        *code = zip_error_code_zip(zip_get_error(m_archive));
        *reason = textOf(zip_get_error(m_archive));
        zip_error_clear(m_archive);
        zip_delete(m_archive, i);
        return false;
    }
    return true;
}

bool ZipWriter::finish(QString *reason)
{
    zip_t *archive = m_archive;
    m_archive = nullptr;
    if (zip_get_num_entries(archive, 0) == 0) {
        // libzip removes the file of an archive left without entries.
        zip_discard(archive);
        static const char emptyArchive[22] = {'P', 'K', 5, 6};
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(emptyArchive, 22) != 22
            || !file.flush()) {
            *reason = file.errorString();
            return false;
        }
        file.close();
        return file.error() == QFile::NoError;
    }
    if (zip_close(archive) != 0) {
        *reason = textOf(zip_get_error(archive));
        zip_discard(archive);
        return false;
    }
    return true;
}
