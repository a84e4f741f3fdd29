#include "package.h"

#include "deflatedsource.h"
#include "savesource.h"

#include "automation/compoundfile.h"
#include "platform/savefile.h"

#include <QFile>

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace corvane::automation::native {

namespace {

QString zipErrorText(int code)
{
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&e));
    zip_error_fini(&e);
    return text;
}

// A compound file holding an "EncryptedPackage" stream is an encrypted Open XML workbook; any
// other compound file is a binary workbook (or not a workbook at all).
bool compoundFileHoldsEncryptedPackage(QFile& file)
{
    static const QByteArray name =
        QByteArray::fromRawData("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32);
    file.seek(0);
    QByteArray carry;
    while (!file.atEnd()) {
        const QByteArray chunk = carry + file.read(1 << 20);
        if (chunk.contains(name))
            return true;
        carry = chunk.right(name.size());
        if (chunk.size() <= carry.size())
            break;
    }
    return false;
}

} // namespace

Package::~Package()
{
    close();
}

void Package::close()
{
    m_kept.clear();
    if (m_zip)
        zip_discard(m_zip);
    m_zip = nullptr;
    m_source = nullptr;
}

std::string Package::key(const std::string& name)
{
    std::string k = name;
    std::transform(k.begin(), k.end(), k.begin(), [](unsigned char c) { return std::tolower(c); });
    return k;
}

bool Package::open(const QString& path)
{
    m_path = path;
    m_foreignFormat = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("not opened: %1").arg(file.errorString());
        return false;
    }
    if (file.size() == 0) {
        m_error = QStringLiteral("not a workbook: the file is empty");
        return false;
    }
    const QByteArray magic = file.read(8);
    if (magic == QByteArray::fromRawData("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) {
        // A binary workbook with a FILEPASS record is encrypted too, even when it opens with the
        // default key: it is no foreign format another server may take and save unprotected.
        const bool encrypted = compoundFileHoldsEncryptedPackage(file) || compoundFileIsEncrypted(path);
        m_foreignFormat = !encrypted;
        m_error =
            encrypted
                ? QStringLiteral("encrypted: the workbook is protected by a password")
                : QStringLiteral("unsupported: a binary (Excel 97-2003) workbook or another compound file");
        return false;
    }
    file.close();
    m_looksLikeZip = magic.startsWith("PK");
    return openArchive();
}

bool Package::openArchive()
{
    const OpenedArchive opened = openArchiveFile(m_path);
    m_zip = opened.archive;
    m_source = opened.source;
    const int code = opened.errorCode;
    if (!m_zip) {
        if (code == ZIP_ER_NOZIP && !m_looksLikeZip) {
            m_foreignFormat = true;
            m_error = QStringLiteral("not a workbook: the file is neither a zip package nor a compound file");
        } else {
            m_error = QStringLiteral("damaged: the zip archive is broken (%1)").arg(zipErrorText(code));
        }
        return false;
    }
    const zip_int64_t count = zip_get_num_entries(m_zip, 0);
    if (count > kMaxEntries) {
        m_error = QStringLiteral("unsupported: the package holds %1 entries, more than a workbook may (%2)")
                      .arg(count)
                      .arg(kMaxEntries);
        close();
        return false;
    }
    buildIndex();
    return true;
}

void Package::buildIndex()
{
    m_index.clear();
    const zip_int64_t count = zip_get_num_entries(m_zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* n = zip_get_name(m_zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (n)
            m_index.emplace(key(n), std::make_pair(std::string(n), static_cast<std::uint64_t>(i)));
    }
}

bool Package::contains(const std::string& name) const
{
    return m_removed.count(key(name)) == 0 &&
           (m_index.count(key(name)) != 0 || m_added.count(key(name)) != 0);
}

void Package::noteAdded(const std::string& name)
{
    m_removed.erase(key(name));
    if (!m_index.count(key(name)))
        m_added[key(name)] = name;
}

std::vector<std::string> Package::relationshipParts() const
{
    const auto isRels = [](const std::string& k) {
        return k.size() > 5 && k.compare(k.size() - 5, 5, ".rels") == 0;
    };
    std::vector<std::string> names;
    for (const auto& [k, entry] : m_index) {
        if (isRels(k) && !m_removed.count(k))
            names.push_back(entry.first);
    }
    for (const auto& [k, name] : m_added) {
        if (isRels(k) && !m_index.count(k))
            names.push_back(name);
    }
    return names;
}

void Package::addEntry(const std::string& name, std::string data)
{
    m_parts.erase(key(name));
    noteAdded(name);
    m_addedData[key(name)] = std::move(data);
}

bool Package::read(const std::string& name, std::string& out)
{
    const auto it = m_index.find(key(name));
    if (!m_zip || it == m_index.end()) {
        m_error = QStringLiteral("damaged: the package has no %1").arg(QString::fromStdString(name));
        return false;
    }
    const zip_uint64_t index = it->second.second;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, index, 0, &st) != 0) {
        m_error = QStringLiteral("damaged: %1").arg(QString::fromUtf8(zip_strerror(m_zip)));
        return false;
    }
    const QString qname = QString::fromStdString(name);
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
        m_error = QStringLiteral("encrypted: %1 is encrypted inside the zip").arg(qname);
        return false;
    }
    if ((st.valid & ZIP_STAT_SIZE) && st.size > kMaxPartSize) {
        m_error = QStringLiteral("unsupported: %1 inflates to %2 bytes, more than a part may (%3)")
                      .arg(qname)
                      .arg(st.size)
                      .arg(kMaxPartSize);
        return false;
    }
    // A deflated entry of plausible sizes is inflated in one call by libdeflate, about twice as
    // fast as libzip's stream. Anything amiss (a damaged stream, sizes that lie, a bad checksum)
    // goes the stream's way, which says what it is.
    const zip_uint64_t known = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
    if ((st.valid & known) == known && st.comp_method == ZIP_CM_DEFLATE && st.size > 0 &&
        st.comp_size <= st.size + st.size / 8 + 1024) {
        if (zip_file_t* raw = zip_fopen_index(m_zip, index, ZIP_FL_COMPRESSED)) {
            std::string compressed(static_cast<size_t>(st.comp_size), '\0');
            const zip_int64_t got = zip_fread(raw, compressed.data(), compressed.size());
            zip_fclose(raw);
            out.assign(static_cast<size_t>(st.size), '\0');
            size_t inflated = 0;
            if (got == static_cast<zip_int64_t>(compressed.size()) && inflateRaw(compressed, out, inflated) &&
                inflated == out.size() && crc32Of(out) == st.crc)
                return true;
        }
    }
    zip_file_t* f = zip_fopen_index(m_zip, index, 0);
    if (!f) {
        m_error = QStringLiteral("damaged: %1: %2").arg(qname, QString::fromUtf8(zip_strerror(m_zip)));
        return false;
    }
    out.clear();
    out.reserve((st.valid & ZIP_STAT_SIZE) ? static_cast<size_t>(st.size) : 0);
    char buf[1 << 16];
    for (;;) {
        const zip_int64_t n = zip_fread(f, buf, sizeof buf);
        if (n < 0) {
            m_error = QStringLiteral("damaged: %1: %2").arg(qname, QString::fromUtf8(zip_file_strerror(f)));
            zip_fclose(f);
            return false;
        }
        if (n == 0)
            break;
        // The declared size may lie; the bound holds for what really comes out.
        if (out.size() + static_cast<size_t>(n) > kMaxPartSize) {
            m_error = QStringLiteral("unsupported: %1 inflates to more than a part may (%2 bytes)")
                          .arg(qname)
                          .arg(kMaxPartSize);
            zip_fclose(f);
            return false;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    zip_fclose(f);
    return true;
}

QString Package::verifyEntries()
{
    std::string data;
    for (const auto& entry : m_index) {
        if (!read(entry.second.first, data))
            return m_error;
    }
    return {};
}

bool Package::loadPart(const std::string& name, XmlPart& part)
{
    std::string data;
    const auto kept = m_kept.find(key(name));
    if (kept != m_kept.end()) {
        data = std::move(kept->second);
        m_kept.erase(kept);
    } else if (!read(name, data)) {
        return false;
    }
    const auto it = m_index.find(key(name));
    if (!part.load(it->second.first, std::move(data))) {
        m_error = part.error();
        return false;
    }
    return true;
}

void Package::removeEntry(const std::string& name)
{
    if (m_index.count(key(name)))
        m_removed.insert(key(name));
    m_parts.erase(key(name));
    m_kept.erase(key(name));
    m_added.erase(key(name));
    m_addedData.erase(key(name));
}

bool Package::hasChanges() const
{
    if (!m_removed.empty() || !m_addedData.empty())
        return true;
    return std::any_of(m_parts.begin(), m_parts.end(), [](const auto& p) { return p.second->isDirty(); });
}

void Package::unload(const std::string& name)
{
    const auto it = m_parts.find(key(name));
    if (it != m_parts.end() && !it->second->isDirty())
        m_parts.erase(it);
}

bool Package::save()
{
    if (!hasChanges())
        return true;
    if (!m_zip) {
        m_error = QStringLiteral("not saved: the workbook is not open");
        return false;
    }
    // Checked before the work of writing; the replacement itself checks again.
    const QString refusal = platform::refusalToReplace(m_path);
    if (!refusal.isEmpty()) {
        m_error = refusal;
        return false;
    }

    // Every written entry is deflated here (see deflatedsource.h); the sources own the bytes.
    bool ok = true;
    for (const auto& [k, part] : m_parts) {
        if (!part->isDirty() || m_removed.count(k))
            continue;
        zip_source_t* src = deflatedSource(m_zip, part->serialize());
        const auto it = m_index.find(k);
        const auto added = m_added.find(k);
        if (src && it == m_index.end() && added != m_added.end()) {
            if (zip_file_add(m_zip, added->second.c_str(), src, ZIP_FL_ENC_UTF_8) < 0) {
                zip_source_free(src);
                ok = false;
                break;
            }
            continue;
        }
        if (!src || it == m_index.end() || zip_file_replace(m_zip, it->second.second, src, 0) != 0) {
            if (src)
                zip_source_free(src);
            ok = false;
            break;
        }
    }
    for (const auto& [k, data] : m_addedData) {
        if (!ok)
            break;
        zip_source_t* src = deflatedSource(m_zip, data);
        const zip_int64_t at = src ? zip_file_add(m_zip, m_added[k].c_str(), src, ZIP_FL_ENC_UTF_8) : -1;
        if (at < 0) {
            if (src)
                zip_source_free(src);
            ok = false;
        }
    }
    for (const auto& k : m_removed) {
        const auto it = m_index.find(k);
        if (ok && it != m_index.end() && zip_delete(m_zip, it->second.second) != 0)
            ok = false;
    }
    if (!ok || zip_close(m_zip) != 0) {
        const QString failure = saveFailure(m_source);
        m_error = failure.isEmpty()
                      ? QStringLiteral("not saved: %1").arg(QString::fromUtf8(zip_strerror(m_zip)))
                      : failure;
        zip_unchange_all(m_zip);
        return false;
    }
    m_zip = nullptr;
    m_source = nullptr;

    for (auto& p : m_parts)
        p.second->setDirty(false);
    m_removed.clear();
    m_added.clear();
    m_addedData.clear();
    // Go on working on the file as it now is.
    if (!openArchive()) {
        m_error = QStringLiteral("saved, but could not be reopened: %1").arg(m_error);
        return false;
    }
    return true;
}

} // namespace corvane::automation::native
