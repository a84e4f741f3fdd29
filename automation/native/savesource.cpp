#include "savesource.h"

#include "platform/savefile.h"

#include <QFile>

#include <zip.h>

#include <memory>

namespace corvane::automation::native {

class SaveSource
{
public:
    zip_source_t* file = nullptr; // the workbook as it is, for reading
    QString target;
    std::unique_ptr<platform::SaveFile> temp;
    zip_error_t error;
    QString failure;

    SaveSource() { zip_error_init(&error); }
    ~SaveSource()
    {
        if (file)
            zip_source_free(file);
        zip_error_fini(&error);
    }

    zip_int64_t fail(int code, const QString& why = {})
    {
        zip_error_set(&error, code, 0);
        failure = why;
        return -1;
    }
    zip_int64_t fromFile()
    {
        const zip_error_t* e = zip_source_error(file);
        zip_error_set(&error, zip_error_code_zip(e), zip_error_code_system(e));
        return -1;
    }

    zip_int64_t write(const void* data, zip_uint64_t length)
    {
        const qint64 written = temp->file().write(static_cast<const char*>(data), qint64(length));
        return written == qint64(length) ? written : fail(ZIP_ER_WRITE, temp->file().errorString());
    }

    zip_int64_t seekWrite(void* data, zip_uint64_t length)
    {
        const zip_source_args_seek_t* args =
            ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &error);
        if (!args)
            return -1;
        QFile& out = temp->file();
        qint64 base = 0;
        if (args->whence == SEEK_CUR)
            base = out.pos();
        else if (args->whence == SEEK_END)
            base = out.size();
        const qint64 to = base + args->offset;
        return to >= 0 && out.seek(to) ? 0 : fail(ZIP_ER_SEEK);
    }

    zip_int64_t command(void* data, zip_uint64_t length, zip_source_cmd_t cmd)
    {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            return zip_source_open(file) < 0 ? fromFile() : 0;
        case ZIP_SOURCE_READ: {
            const zip_int64_t n = zip_source_read(file, data, length);
            return n < 0 ? fromFile() : n;
        }
        case ZIP_SOURCE_CLOSE:
            return zip_source_close(file) < 0 ? fromFile() : 0;
        case ZIP_SOURCE_STAT:
            if (length < sizeof(zip_stat_t))
                return fail(ZIP_ER_INVAL);
            return zip_source_stat(file, static_cast<zip_stat_t*>(data)) < 0
                       ? fromFile()
                       : zip_int64_t(sizeof(zip_stat_t));
        case ZIP_SOURCE_SEEK: {
            const zip_source_args_seek_t* args =
                ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &error);
            if (!args)
                return -1;
            return zip_source_seek(file, args->offset, args->whence) < 0 ? fromFile() : 0;
        }
        case ZIP_SOURCE_TELL: {
            const zip_int64_t at = zip_source_tell(file);
            return at < 0 ? fromFile() : at;
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error, data, length);
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(
                ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
                ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
                ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE,
                ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
        case ZIP_SOURCE_BEGIN_WRITE:
            failure.clear();
            temp = std::make_unique<platform::SaveFile>(target);
            if (!temp->open()) {
                const QString why = temp->errorString();
                temp.reset();
                return fail(ZIP_ER_TMPOPEN, why);
            }
            return 0;
        case ZIP_SOURCE_WRITE:
            return temp ? write(data, length) : fail(ZIP_ER_INTERNAL);
        case ZIP_SOURCE_SEEK_WRITE:
            return temp ? seekWrite(data, length) : fail(ZIP_ER_INTERNAL);
        case ZIP_SOURCE_TELL_WRITE:
            return temp ? temp->file().pos() : fail(ZIP_ER_INTERNAL);
        case ZIP_SOURCE_COMMIT_WRITE: {
            if (!temp)
                return fail(ZIP_ER_INTERNAL);
            const bool done = temp->commit();
            const QString why = temp->errorString();
            temp.reset();
            return done ? 0 : fail(ZIP_ER_RENAME, why);
        }
        case ZIP_SOURCE_ROLLBACK_WRITE:
            temp.reset();
            return 0;
        case ZIP_SOURCE_REMOVE:
            // Only an archive left without entries is removed; a workbook never is.
            return fail(ZIP_ER_INVAL, QStringLiteral("not saved: the workbook would be left empty"));
        case ZIP_SOURCE_FREE:
            delete this;
            return 0;
        default:
            return fail(ZIP_ER_OPNOTSUPP);
        }
    }

    static zip_int64_t callback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t cmd)
    {
        return static_cast<SaveSource*>(userdata)->command(data, length, cmd);
    }
};

OpenedArchive openArchiveFile(const QString& path)
{
    OpenedArchive opened;
    zip_error_t error;
    zip_error_init(&error);
    auto* ctx = new SaveSource;
    ctx->target = path;
    ctx->file = zip_source_file_create(QFile::encodeName(path).constData(), 0, -1, &error);
    zip_source_t* source =
        ctx->file ? zip_source_function_create(&SaveSource::callback, ctx, &error) : nullptr;
    if (!source) {
        delete ctx;
        opened.errorCode = zip_error_code_zip(&error);
        zip_error_fini(&error);
        return opened;
    }
    opened.archive = zip_open_from_source(source, 0, &error);
    if (!opened.archive) {
        opened.errorCode = zip_error_code_zip(&error);
        zip_source_free(source); // frees ctx too
    } else {
        opened.source = ctx;
    }
    zip_error_fini(&error);
    return opened;
}

QString saveFailure(const SaveSource* source)
{
    return source ? source->failure : QString();
}

} // namespace corvane::automation::native
