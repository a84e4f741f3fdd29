// The remembered inputs (last folder, last picture): a small file of name=value lines ending
// in CRLF, held in memory as one text and written back whole. Lines the program does not
// know survive every update.
#pragma once

#include <QByteArray>
#include <QString>

namespace corvane::app {

enum class SaveMode
{
    CreateOrTruncate, // create the file, or empty an existing one, then write
    UpdateExisting,   // write only when the file already exists
};

class SettingsStore
{
public:
    // The store holds at most this many bytes of text, and delivers or accepts values of at
    // most kMaxValueBytes. Anything larger is refused whole, never cut.
    static constexpr int kMaxTextBytes = 10239;
    static constexpr int kMaxValueBytes = 1023;

    explicit SettingsStore(QString filePath = QString());

    QString filePath() const { return m_filePath; }
    void setFilePath(const QString& filePath) { m_filePath = filePath; }

    // Replaces the store by the file's bytes up to its first zero byte. False when the file
    // cannot be opened, or is larger than the store; the store is then empty, and a file
    // refused for its size is also never overwritten by save().
    bool load();

    // The value after the first "name=" anywhere in the text, up to the next CRLF, without
    // the spaces and tabs around it. Empty when the name or the line end is missing, or the
    // value is longer than kMaxValueBytes.
    QByteArray value(const QByteArray& name) const;

    // Replaces the line of `name` in place, or appends one. Refused (false, store unchanged)
    // for an empty name, a value holding a line break or longer than kMaxValueBytes, a text
    // that would outgrow the store, or a store whose file was refused.
    bool setValue(const QByteArray& name, const QByteArray& value);

    // Writes the text, and nothing else, to the file. False when nothing was written.
    bool save(SaveMode mode) const;

    const QByteArray& text() const { return m_text; }

private:
    QString m_filePath;
    QByteArray m_text;
    bool m_fileRefused = false;
};

// The process-wide store over the settings file of the start-up paths. GUI thread only.
SettingsStore& settingsStore();
bool LoadSettings();
QByteArray GetSetting(const QByteArray& name);
bool SetSetting(const QByteArray& name, const QByteArray& value);
bool SaveSettings(SaveMode mode);

} // namespace corvane::app
