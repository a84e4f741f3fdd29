#include "app/settingsstore.h"

#include "app/startup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <utility>

namespace corvane::app {
namespace {

const QByteArray kLineEnd("\r\n");

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Only spaces and tabs: line ends around a value or the text are significant.
QByteArray trimBlanks(const QByteArray& text)
{
    int begin = 0;
    int end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

SettingsStore::SettingsStore(QString filePath) : m_filePath(std::move(filePath)) {}

bool SettingsStore::load()
{
    m_text.clear();
    m_fileRefused = false;
    QFile file(m_filePath);
    if (m_filePath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    // Read one byte more than fits, so an oversized file is recognised without trusting the
    // reported size (pipes and /proc files report none).
    const QByteArray bytes = file.read(kMaxTextBytes + 1);
    if (bytes.size() > kMaxTextBytes) {
        m_fileRefused = true;
        return false;
    }
    const int zero = bytes.indexOf('\0');
    m_text = zero < 0 ? bytes : bytes.left(zero);
    return true;
}

QByteArray SettingsStore::value(const QByteArray& name) const
{
    if (name.isEmpty())
        return QByteArray();
    const QByteArray text = trimBlanks(m_text);
    const int found = text.indexOf(name + '=');
    if (found < 0)
        return QByteArray();
    const int valueStart = found + name.size() + 1;
    const int lineEnd = text.indexOf(kLineEnd, valueStart);
    if (lineEnd < 0)
        return QByteArray();
    const QByteArray result = trimBlanks(text.mid(valueStart, lineEnd - valueStart));
    return result.size() > kMaxValueBytes ? QByteArray() : result;
}

bool SettingsStore::setValue(const QByteArray& name, const QByteArray& value)
{
    if (m_fileRefused || name.isEmpty() || name.contains('\r') || name.contains('\n') ||
        value.contains('\r') || value.contains('\n') || value.contains('\0') || name.contains('\0') ||
        value.size() > kMaxValueBytes)
        return false;
    const QByteArray line = name + '=' + value + kLineEnd;
    QByteArray updated;
    const int found = m_text.indexOf(name + '=');
    if (found >= 0) {
        const int lineEnd = m_text.indexOf(kLineEnd, found);
        updated = m_text.left(found) + line;
        if (lineEnd >= 0)
            updated += m_text.mid(lineEnd + kLineEnd.size());
    } else {
        updated = m_text;
        if (!updated.isEmpty() && !updated.endsWith('\n'))
            updated += kLineEnd;
        updated += line;
    }
    if (updated.size() > kMaxTextBytes)
        return false;
    m_text = updated;
    return true;
}

bool SettingsStore::save(SaveMode mode) const
{
    if (m_fileRefused || m_filePath.isEmpty())
        return false;
    QFile file(m_filePath);
    if (mode == SaveMode::UpdateExisting) {
        if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
            return false;
    } else {
        // The configuration folder of a fresh account may not exist yet.
        QDir().mkpath(QFileInfo(m_filePath).absolutePath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
    }
    const bool written = file.write(m_text) == m_text.size();
    // In update mode a longer old text would otherwise leave its tail behind.
    return file.resize(m_text.size()) && written;
}

SettingsStore& settingsStore()
{
    static SettingsStore store;
    return store;
}

bool LoadSettings()
{
    settingsStore().setFilePath(startupPaths().settingsFilePath);
    return settingsStore().load();
}

QByteArray GetSetting(const QByteArray& name)
{
    return settingsStore().value(name);
}

bool SetSetting(const QByteArray& name, const QByteArray& value)
{
    return settingsStore().setValue(name, value);
}

bool SaveSettings(SaveMode mode)
{
    settingsStore().setFilePath(startupPaths().settingsFilePath);
    return settingsStore().save(mode);
}

} // namespace corvane::app
