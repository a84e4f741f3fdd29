#include "compounddocument.h"

#include "platform/savefile.h"

// Qt's "signals" keyword collides with a member of that name in GLib's headers.
#pragma push_macro("signals")
#undef signals
#include <gsf/gsf.h>
#pragma pop_macro("signals")

#include <QFile>

#include <limits>
#include <mutex>

namespace corvane::automation::native::biff {

namespace {

// Bounds on what a hostile directory can make the reader hold.
constexpr int kMaxDepth = 32;
constexpr int kMaxEntries = 100000;
constexpr gsf_off_t kMaxStream = std::numeric_limits<int>::max() / 2;

void initGsf()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gsf_init();
        // A damaged container is reported through the reason the open gives; the library's own
        // complaints would only clutter the standard error of the command line.
        // Some of them are logged without a domain of their own.
        for (const char* domain :
             {"libgsf", "libgsf:msole", "libgsf:utils", static_cast<const char*>(nullptr)})
            g_log_set_handler(
                domain, GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
                [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });
}

template <typename T> struct Unref
{
    T* p = nullptr;
    explicit Unref(T* object) : p(object) {}
    ~Unref()
    {
        if (p)
            g_object_unref(p);
    }
    Unref(const Unref&) = delete;
    Unref& operator=(const Unref&) = delete;
};

QString gerror(GError* error, const char* fallback)
{
    QString text =
        error && error->message ? QString::fromUtf8(error->message) : QString::fromLatin1(fallback);
    if (error)
        g_error_free(error);
    return text;
}

bool readStorage(GsfInfile* storage, CompoundEntry& into, int depth, int* entries, QString* error)
{
    if (depth > kMaxDepth) {
        *error = QStringLiteral("the compound file's storages nest too deeply");
        return false;
    }
    const int count = gsf_infile_num_children(storage);
    for (int i = 0; i < count; ++i) {
        if (++*entries > kMaxEntries) {
            *error = QStringLiteral("the compound file holds too many entries");
            return false;
        }
        Unref<GsfInput> child(gsf_infile_child_by_index(storage, i));
        if (!child.p) {
            *error = QStringLiteral("an entry of the compound file cannot be read");
            return false;
        }
        CompoundEntry entry;
        const char* name = gsf_infile_name_by_index(storage, i);
        entry.name = QString::fromUtf8(name ? name : "");
        const bool isStorage = GSF_IS_INFILE(child.p) && gsf_infile_num_children(GSF_INFILE(child.p)) >= 0;
        if (isStorage) {
            entry.storage = true;
            guint8 id[16] = {};
            if (GSF_IS_INFILE_MSOLE(child.p) && gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(child.p), id))
                entry.classId = QByteArray(reinterpret_cast<const char*>(id), 16);
            if (!readStorage(GSF_INFILE(child.p), entry, depth + 1, entries, error))
                return false;
        } else {
            const gsf_off_t size = gsf_input_size(child.p);
            if (size < 0 || size > kMaxStream) {
                *error = QStringLiteral("a stream of the compound file has an impossible size");
                return false;
            }
            entry.data.resize(int(size));
            if (size > 0 &&
                !gsf_input_read(child.p, size_t(size), reinterpret_cast<guint8*>(entry.data.data()))) {
                *error = QStringLiteral("the stream \"%1\" of the compound file is damaged").arg(entry.name);
                return false;
            }
        }
        into.children.push_back(std::move(entry));
    }
    return true;
}

bool writeStorage(GsfOutfile* storage, const CompoundEntry& from, QString* error)
{
    for (const CompoundEntry& entry : from.children) {
        const QByteArray name = entry.name.toUtf8();
        Unref<GsfOutput> child(gsf_outfile_new_child(storage, name.constData(), entry.storage));
        if (!child.p) {
            *error = QStringLiteral("the compound file could not take the entry \"%1\"").arg(entry.name);
            return false;
        }
        bool ok = true;
        if (entry.storage) {
            if (entry.classId.size() == 16)
                gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(child.p),
                                               reinterpret_cast<const guint8*>(entry.classId.constData()));
            ok = writeStorage(GSF_OUTFILE(child.p), entry, error);
        } else if (!entry.data.isEmpty()) {
            ok = gsf_output_write(child.p, size_t(entry.data.size()),
                                  reinterpret_cast<const guint8*>(entry.data.constData()));
            if (!ok)
                *error = QStringLiteral("the stream \"%1\" could not be written").arg(entry.name);
        }
        if (!gsf_output_close(child.p) && ok) {
            *error = QStringLiteral("the entry \"%1\" could not be closed").arg(entry.name);
            ok = false;
        }
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

bool CompoundDocument::read(const QString& path, QString* error)
{
    initGsf();
    m_root = CompoundEntry{};
    m_root.storage = true;
    GError* gerr = nullptr;
    Unref<GsfInput> input(gsf_input_stdio_new(QFile::encodeName(path).constData(), &gerr));
    if (!input.p) {
        *error = QStringLiteral("cannot read the file: %1").arg(gerror(gerr, "unknown error"));
        return false;
    }
    Unref<GsfInfile> ole(gsf_infile_msole_new(input.p, &gerr));
    if (!ole.p) {
        *error = QStringLiteral("damaged: the compound file cannot be read (%1)")
                     .arg(gerror(gerr, "unknown error"));
        return false;
    }
    guint8 id[16] = {};
    if (gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(ole.p), id))
        m_root.classId = QByteArray(reinterpret_cast<const char*>(id), 16);
    int entries = 0;
    QString why;
    if (!readStorage(ole.p, m_root, 0, &entries, &why)) {
        *error = QStringLiteral("damaged: %1").arg(why);
        return false;
    }
    return true;
}

CompoundEntry* CompoundDocument::stream(const QString& name)
{
    for (CompoundEntry& entry : m_root.children) {
        if (!entry.storage && entry.name.compare(name, Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

bool CompoundDocument::write(QByteArray* out, QString* error) const
{
    initGsf();
    Unref<GsfOutput> memory(gsf_output_memory_new());
    Unref<GsfOutfile> ole(gsf_outfile_msole_new(memory.p));
    if (!ole.p) {
        *error = QStringLiteral("the compound file could not be started");
        return false;
    }
    if (m_root.classId.size() == 16)
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(ole.p),
                                       reinterpret_cast<const guint8*>(m_root.classId.constData()));
    const bool written = writeStorage(ole.p, m_root, error);
    const bool closed = gsf_output_close(GSF_OUTPUT(ole.p));
    if (!written)
        return false;
    // Closing the compound file closes the memory it was written into.
    if (!closed) {
        *error = QStringLiteral("the compound file could not be finished");
        return false;
    }
    const gsf_off_t size = gsf_output_size(memory.p);
    const guint8* bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory.p));
    if (size <= 0 || !bytes || size > gsf_off_t(std::numeric_limits<int>::max())) {
        *error = QStringLiteral("the compound file came out empty");
        return false;
    }
    *out = QByteArray(reinterpret_cast<const char*>(bytes), int(size));
    return true;
}

bool replaceFileContents(const QString& path, const QByteArray& bytes, QString* error)
{
    platform::SaveFile temp(path);
    if (!temp.open()) {
        *error = temp.errorString();
        return false;
    }
    if (temp.file().write(bytes) != bytes.size() || !temp.file().flush()) {
        *error = temp.file().errorString();
        return false;
    }
    if (!temp.commit()) {
        *error = temp.errorString();
        return false;
    }
    return true;
}

} // namespace corvane::automation::native::biff
