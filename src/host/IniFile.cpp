#include "IniFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace krp {

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

bool isComment(const QString& trimmed)
{
    return trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#'));
}

// "[Name]" -> Name; false for any other line.
bool sectionOf(const QString& line, QString* name)
{
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    *name = t.mid(1, close - 1).trimmed();
    return true;
}

// "key=value" -> key and value (blanks around both dropped); false for any other line.
bool keyOf(const QString& line, QString* key, QString* value = nullptr)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || isComment(t) || t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    *key = line.left(eq).trimmed();
    if (value)
        *value = line.mid(eq + 1).trimmed();
    return true;
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString displayName(const QString& fileName)
{
    return QDir::toNativeSeparators(fileName);
}

}  // namespace

IniFile::IniFile(QString fileName) : fileName_(std::move(fileName)) {}

IniFile::Content IniFile::load() const
{
    Content content;
#ifdef _WIN32
    content.lineEnd = QStringLiteral("\r\n");
#endif
    QFile file(fileName_);
    if (!file.exists())
        return content;
    if (!file.open(QIODevice::ReadOnly))
        throw IniFileError(QStringLiteral("Asetustiedostoa \"%1\" ei voitu lukea: %2")
                               .arg(displayName(fileName_), file.errorString())
                               .toStdString());
    QByteArray bytes = file.readAll();
    if (bytes.startsWith(kBom)) {
        content.bom = true;
        bytes.remove(0, kBom.size());
    }
    const QString text = QString::fromUtf8(bytes);
    if (text.isEmpty())
        return content;
    const qsizetype firstBreak = text.indexOf(QLatin1Char('\n'));
    if (firstBreak > 0 && text.at(firstBreak - 1) == QLatin1Char('\r'))
        content.lineEnd = QStringLiteral("\r\n");
    else if (firstBreak >= 0)
        content.lineEnd = QStringLiteral("\n");
    content.lines = text.split(QLatin1Char('\n'));
    content.finalLineEnd = content.lines.back().isEmpty();
    if (content.finalLineEnd)
        content.lines.removeLast();
    for (QString& line : content.lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    return content;
}

void IniFile::store(const Content& content) const
{
    QString text = content.lines.join(content.lineEnd);
    if (content.finalLineEnd && !content.lines.isEmpty())
        text += content.lineEnd;
    QByteArray bytes = text.toUtf8();
    if (content.bom)
        bytes.prepend(kBom);

    QSaveFile file(fileName_);
    file.setDirectWriteFallback(true);
    const bool ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!ok)
        throw IniFileError(QStringLiteral("Asetustiedostoon \"%1\" ei voitu kirjoittaa: %2")
                               .arg(displayName(fileName_), file.errorString())
                               .toStdString());
}

int IniFile::findKey(const QStringList& lines, const QString& section, const QString& key)
{
    bool inSection = false;
    bool seenSection = false;
    for (int i = 0; i < lines.size(); ++i) {
        QString name;
        if (sectionOf(lines[i], &name)) {
            if (inSection)
                return -1;  // only the first section of that name counts
            inSection = !seenSection && sameName(name, section);
            seenSection = seenSection || inSection;
            continue;
        }
        QString k;
        if (inSection && keyOf(lines[i], &k) && sameName(k, key))
            return i;
    }
    return -1;
}

bool IniFile::hasKey(const QString& section, const QString& key) const
{
    try {
        return findKey(load().lines, section, key) >= 0;
    } catch (const IniFileError&) {
        return false;
    }
}

QString IniFile::readString(const QString& section, const QString& key, const QString& defaultValue) const
{
    Content content;
    try {
        content = load();
    } catch (const IniFileError&) {
        return defaultValue;  // an unreadable file reads like a missing one
    }
    const int index = findKey(content.lines, section, key);
    if (index < 0)
        return defaultValue;
    QString k, value;
    keyOf(content.lines[index], &k, &value);
    return value;
}

bool IniFile::parseInteger(const QString& text, int* value)
{
    const QString t = text.trimmed();
    bool ok = false;
    if (t.size() > 2 && t.at(0) == QLatin1Char('0') && (t.at(1) == QLatin1Char('x') || t.at(1) == QLatin1Char('X'))) {
        const QString digits = t.mid(2);
        if (digits.startsWith(QLatin1Char('+')) || digits.startsWith(QLatin1Char('-')))
            return false;
        const qulonglong v = digits.toULongLong(&ok, 16);
        if (!ok || v > 0xFFFFFFFFull)
            return false;
        *value = static_cast<int>(static_cast<quint32>(v));  // 32 bits, as the file's writers meant
        return true;
    }
    const int v = t.toInt(&ok, 10);
    if (!ok)
        return false;
    *value = v;
    return true;
}

int IniFile::readInteger(const QString& section, const QString& key, int defaultValue) const
{
    int value = defaultValue;
    if (!parseInteger(readString(section, key, QString()), &value))
        return defaultValue;
    return value;
}

bool IniFile::readBool(const QString& section, const QString& key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value)
{
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        throw IniFileError(
            QStringLiteral("Asetustiedostoon \"%1\" ei voitu kirjoittaa: avaimen %2 arvossa on rivinvaihto.")
                .arg(displayName(fileName_), key)
                .toStdString());
    Content content = load();
    QStringList& lines = content.lines;

    const int index = findKey(lines, section, key);
    if (index >= 0) {
        QString existingKey;
        keyOf(lines[index], &existingKey);
        lines[index] = existingKey + QLatin1Char('=') + value;
        store(content);
        return;
    }

    // The key is new: after the last key of its section, or right after the section header.
    int header = -1;
    int insertAt = -1;
    for (int i = 0; i < lines.size(); ++i) {
        QString name;
        if (sectionOf(lines[i], &name)) {
            if (header >= 0)
                break;
            if (sameName(name, section)) {
                header = i;
                insertAt = i + 1;
            }
            continue;
        }
        QString k;
        if (header >= 0 && keyOf(lines[i], &k))
            insertAt = i + 1;
    }
    const QString newLine = key + QLatin1Char('=') + value;
    if (header >= 0) {
        lines.insert(insertAt, newLine);
    } else {
        if (!lines.isEmpty() && !lines.back().trimmed().isEmpty())
            lines.append(QString());
        lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        lines.append(newLine);
        content.finalLineEnd = true;
    }
    store(content);
}

void IniFile::writeInteger(const QString& section, const QString& key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString& section, const QString& key, bool value)
{
    writeInteger(section, key, value ? 1 : 0);
}

}  // namespace krp
