// The compound file (OLE2) that holds a binary workbook: its streams and storages, read whole,
// and written anew with one stream's content exchanged and every other stream copied as it was.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace corvane::automation::native::biff {

struct CompoundEntry
{
    QString name;
    bool storage = false;
    QByteArray data;                     // a stream's bytes
    QByteArray classId;                  // a storage's class id (16 bytes), when it has one
    std::vector<CompoundEntry> children; // a storage's entries, in the file's order
};

class CompoundDocument
{
public:
    // False with `error` when the file is not a compound file or its container is damaged.
    bool read(const QString& path, QString* error);

    // The top-level stream named `name` (letter case ignored); null when there is none.
    CompoundEntry* stream(const QString& name);
    const CompoundEntry& root() const { return m_root; }

    // The whole compound file, every stream and storage in place. False with `error` when the
    // container could not be built.
    bool write(QByteArray* out, QString* error) const;

private:
    CompoundEntry m_root;
};

// Writes `bytes` in place of the file at `path` through a temporary file beside it, so that the
// file is either wholly replaced or left as it was.
bool replaceFileContents(const QString& path, const QByteArray& bytes, QString* error);

} // namespace corvane::automation::native::biff
