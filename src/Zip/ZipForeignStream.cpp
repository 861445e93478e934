// Entries in methods other than stored and deflated (bzip2 and what else
// libzip decodes). libzip is given a view of a one-entry archive made here:
// a local header, the entry's compressed data read from the archive file,
// and a central directory with Zip64 end records, all written by us. So
// libzip never parses the archive's own directory or headers, and whatever
// they hold cannot lead it astray.

#include "ZipEntryStream.h"

#include "FileLayer.h"

#include <QByteArray>
#include <QtEndian>

#include <cerrno>
#include <cstring>

#include <zip.h>
#include <zlib.h>

namespace {

template<typename T>
void put(QByteArray &bytes, T value)
{
    char raw[sizeof(T)];
    qToLittleEndian(value, raw);
    bytes.append(raw, sizeof(T));
}

// The bytes of the view: `head` (local header), then the entry's data from
// the file, then `tail` (central directory and end records).
struct View {
    FILE *file = nullptr;
    quint64 dataStart = 0;
    quint64 dataSize = 0;
    QByteArray head;
    QByteArray tail;
    quint64 position = 0;
    zip_error_t error;

    quint64 size() const { return quint64(head.size()) + dataSize + quint64(tail.size()); }
    zip_int64_t read(char *out, quint64 length);
};

void makeView(View &view, const ZipEntryRecord &record)
{
    // Method options (such as LZMA's end marker) live in bits 1 and 2.
    const quint16 flag = record.flag & 0x0006;
    const quint32 dosTime = record.dosDate & 0xffff;
    const quint32 dosDate = record.dosDate >> 16;
    auto common = [&](QByteArray &h) {
        put<quint16>(h, 45);
        put<quint16>(h, flag);
        put<quint16>(h, record.compressionMethod);
        put<quint16>(h, quint16(dosTime));
        put<quint16>(h, quint16(dosDate));
        put<quint32>(h, record.crc);
        put<quint32>(h, 0xffffffffu);
        put<quint32>(h, 0xffffffffu);
        put<quint16>(h, 1);
    };
    QByteArray &head = view.head;
    put<quint32>(head, 0x04034b50);
    common(head);
    put<quint16>(head, 20);
    head.append('e');
    put<quint16>(head, 1);
    put<quint16>(head, 16);
    put<quint64>(head, record.uncompressedSize);
    put<quint64>(head, record.compressedSize);

    QByteArray &tail = view.tail;
    put<quint32>(tail, 0x02014b50);
    put<quint16>(tail, 45);
    common(tail);
    put<quint16>(tail, 28);
    for (int i = 0; i < 3; ++i)
        put<quint16>(tail, 0);
    put<quint32>(tail, 0);
    put<quint32>(tail, 0xffffffffu);
    tail.append('e');
    put<quint16>(tail, 1);
    put<quint16>(tail, 24);
    put<quint64>(tail, record.uncompressedSize);
    put<quint64>(tail, record.compressedSize);
    put<quint64>(tail, 0);

    const quint64 directoryAt = quint64(head.size()) + view.dataSize;
    const quint64 directorySize = quint64(tail.size());
    put<quint32>(tail, 0x06064b50);
    put<quint64>(tail, 44);
    put<quint16>(tail, 45);
    put<quint16>(tail, 45);
    put<quint32>(tail, 0);
    put<quint32>(tail, 0);
    put<quint64>(tail, 1);
    put<quint64>(tail, 1);
    put<quint64>(tail, directorySize);
    put<quint64>(tail, directoryAt);
    put<quint32>(tail, 0x07064b50);
    put<quint32>(tail, 0);
    put<quint64>(tail, directoryAt + directorySize);
    put<quint32>(tail, 1);
    put<quint32>(tail, 0x06054b50);
    for (quint16 value : {0, 0, 1, 1})
        put<quint16>(tail, value);
    put<quint32>(tail, quint32(directorySize));
    put<quint32>(tail, quint32(qMin<quint64>(directoryAt, 0xffffffffu)));
    put<quint16>(tail, 0);
}

zip_int64_t View::read(char *out, quint64 length)
{
    const quint64 headSize = quint64(head.size());
    const quint64 tailStart = headSize + dataSize;
    quint64 done = 0;
    while (done < length && position < size()) {
        const quint64 want = length - done;
        quint64 count;
        if (position < headSize) {
            count = qMin(want, headSize - position);
            std::memcpy(out + done, head.constData() + position, size_t(count));
        } else if (position < tailStart) {
            count = qMin(want, tailStart - position);
            errno = 0;
            if (!Extras::FileLayer::readAt(file, dataStart + (position - headSize), out + done, qint64(count))) {
                // The end of the file where data were promised is a short
                // read, which libzip reports as the end of the entry's data.
                zip_error_set(&error, errno != 0 ? ZIP_ER_READ : ZIP_ER_EOF, errno);
                return -1;
            }
        } else {
            count = qMin(want, size() - position);
            std::memcpy(out + done, tail.constData() + (position - tailStart), size_t(count));
        }
        done += count;
        position += count;
    }
    return zip_int64_t(done);
}

zip_int64_t viewCallback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    View &view = *static_cast<View *>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        view.position = 0;
        return 0;
    case ZIP_SOURCE_READ:
        return view.read(static_cast<char *>(data), length);
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto *st = static_cast<zip_stat_t *>(data);
        zip_stat_init(st);
        st->size = view.size();
        st->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&view.error, data, length);
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t to = zip_source_seek_compute_offset(view.position, view.size(), data, length, &view.error);
        if (to < 0)
            return -1;
        view.position = quint64(to);
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return zip_int64_t(view.position);
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_SEEKABLE;
    default:
        zip_error_set(&view.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// libzip's errors as extractError() has always numbered them.
int statusOf(zip_error_t *error)
{
    const int system = zip_error_code_system(error);
    switch (zip_error_code_zip(error)) {
    case ZIP_ER_CRC:
        return ZipError::CrcError;
    case ZIP_ER_ZLIB:
        return system < 0 ? system : ZipError::BadZipFile;
    case ZIP_ER_COMPRESSED_DATA:
        return Z_DATA_ERROR;
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
    case ZIP_ER_OPEN:
    case ZIP_ER_WRITE:
    case ZIP_ER_CLOSE:
        return ZipError::ErrNo;
    case ZIP_ER_EOF:
    case ZIP_ER_INCONS:
    case ZIP_ER_NOZIP:
    case ZIP_ER_MULTIDISK:
    case ZIP_ER_COMPNOTSUPP:
        return ZipError::BadZipFile;
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
        return ZipError::ParameterError;
    default:
        return ZipError::InternalError;
    }
}

ZipError errorOf(zip_error_t *error)
{
    return {statusOf(error), QString::fromLocal8Bit(zip_error_strerror(error))};
}

class ForeignStream : public ZipEntryStream
{
public:
    explicit ForeignStream(const ZipEntryRecord &record)
        : ZipEntryStream(record)
    {
        zip_error_init(&m_view.error);
    }
    ~ForeignStream() override
    {
        if (m_file)
            zip_fclose(m_file);
        if (m_archive)
            zip_discard(m_archive);
        zip_error_fini(&m_view.error);
    }
    bool open(FILE *file, quint64 dataStart, const ZipEntryRecord &record, ZipError *error);

protected:
    qint64 decode(char *data, qint64 size) override
    {
        const zip_int64_t count = zip_fread(m_file, data, zip_uint64_t(size));
        if (count >= 0)
            return count;
        const ZipError error = errorOf(zip_file_get_error(m_file));
        return fail(error.status, error.text);
    }

private:
    View m_view;
    zip_t *m_archive = nullptr;
    zip_file_t *m_file = nullptr;
};

bool ForeignStream::open(FILE *file, quint64 dataStart, const ZipEntryRecord &record, ZipError *error)
{
    m_view.file = file;
    m_view.dataStart = dataStart;
    m_view.dataSize = record.compressedSize;
    makeView(m_view, record);
    zip_error_t openError;
    zip_error_init(&openError);
    zip_source_t *source = zip_source_function_create(viewCallback, &m_view, &openError);
    if (source)
        m_archive = zip_open_from_source(source, ZIP_RDONLY, &openError);
    if (!m_archive) {
        *error = errorOf(&openError);
        zip_error_fini(&openError);
        if (source)
            zip_source_free(source);
        return false;
    }
    zip_error_fini(&openError);
    m_file = zip_fopen_index(m_archive, 0, 0);
    if (!m_file) {
        *error = errorOf(zip_get_error(m_archive));
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<ZipEntryStream> openForeignMethod(FILE *file, quint64 dataStart, const ZipEntryRecord &record,
                                                  ZipError *error)
{
    std::unique_ptr<ForeignStream> stream(new ForeignStream(record));
    if (!stream->open(file, dataStart, record, error))
        return nullptr;
    return stream;
}
