// The workbook package: owns the zip archive, hands out parts parsed on first use, and saves by
// writing only the changed parts while every other entry's compressed bytes are copied as they are.
#pragma once

#include "xmlpart.h"

#include <QString>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

struct zip;

namespace corvane::automation::native {

class SaveSource;

class Package
{
public:
    // Bounds that keep hostile packages from exhausting memory or time.
    static constexpr std::uint64_t kMaxPartSize = 256ull * 1024 * 1024;
    static constexpr std::int64_t kMaxEntries = 50000;

    Package() = default;
    ~Package();
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    // False with error() when the file is not a zip package this engine can work on.
    bool open(const QString& path);
    void close();

    bool contains(const std::string& name) const;
    // Inflates an entry, refusing one beyond kMaxPartSize or with a bad checksum.
    bool read(const std::string& name, std::string& out);
    // Inflates every entry once, for the checksums: the first reason one fails, or empty.
    QString verifyEntries();
    // Bytes read() gave for an entry that is about to be parsed as a part, so that it is not
    // inflated twice; the next part() of that entry takes them.
    void keepRead(const std::string& name, std::string data) { m_kept[key(name)] = std::move(data); }

    // The entry parsed as a part of type T, parsed on the first request; null with error().
    template <class T> T* part(const std::string& name)
    {
        auto it = m_parts.find(key(name));
        if (it != m_parts.end())
            return dynamic_cast<T*>(it->second.get());
        auto created = std::make_unique<T>();
        if (!loadPart(name, *created))
            return nullptr;
        T* raw = created.get();
        m_parts.emplace(key(name), std::move(created));
        return raw;
    }

    // Forgets a parsed part that holds no changes (its entry is copied as it is on saving); the
    // next part() parses it afresh. Whoever held the part must not use it any more.
    void unload(const std::string& name);
    // Whether the entry has been parsed as a part (its current text is then the part's).
    bool isLoaded(const std::string& name) const { return m_parts.count(key(name)) > 0; }
    // Puts a part of type T parsed from `data` in place of the entry's current part, for edits
    // that rewrite a part as a whole; the old part object is destroyed, so whoever held it must
    // fetch it afresh. Null with error() when `data` does not parse (the old part then stays).
    template <class T> T* replacePart(const std::string& name, std::string data)
    {
        auto created = std::make_unique<T>();
        if (!created->load(name, std::move(data))) {
            m_error = created->error();
            return nullptr;
        }
        created->setDirty();
        T* raw = created.get();
        m_parts[key(name)] = std::move(created);
        return raw;
    }

    // Adds a new XML part parsed from `data` (written on saving); null with error() when it
    // does not parse.
    template <class T> T* addPart(const std::string& name, std::string data)
    {
        T* raw = replacePart<T>(name, std::move(data));
        if (raw)
            noteAdded(name);
        return raw;
    }
    // The relationships parts (*.rels) the package holds, added ones included, removed ones left out.
    std::vector<std::string> relationshipParts() const;
    // Adds a new entry holding `data` as it is (a picture, for example).
    void addEntry(const std::string& name, std::string data);

    void removeEntry(const std::string& name);
    bool hasChanges() const;
    // Writes the changed parts and drops removed entries through a temporary file in the same
    // folder, then renames it over the original, keeping its owner, group and permissions.
    // Without changes the file is not touched. A read-only file, or one whose owner cannot be
    // kept, is refused. On failure the original stays as it was.
    bool save();

    const QString& error() const { return m_error; }
    // After open() failed: the file is no zip package at all but a compound file without an
    // encrypted package (an Excel 97-2003 workbook) or a file of another kind (a web page or text).
    bool foreignFormat() const { return m_foreignFormat; }
    const QString& path() const { return m_path; }

private:
    static std::string key(const std::string& name);
    bool loadPart(const std::string& name, XmlPart& part);
    bool openArchive();
    void buildIndex();

    QString m_path;
    QString m_error;
    zip* m_zip = nullptr;
    SaveSource* m_source = nullptr;                                                 // owned by m_zip
    std::unordered_map<std::string, std::pair<std::string, std::uint64_t>> m_index; // lower-case name
    std::map<std::string, std::unique_ptr<XmlPart>> m_parts;
    std::set<std::string> m_removed;
    std::map<std::string, std::string> m_kept;
    bool m_looksLikeZip = false;
    bool m_foreignFormat = false;
    // Entries that are not in the archive yet, by lower-case name: their names as written, and
    // the bytes of those that are not parts.
    void noteAdded(const std::string& name);
    std::map<std::string, std::string> m_added;
    std::map<std::string, std::string> m_addedData;
};

} // namespace corvane::automation::native
