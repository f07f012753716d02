#pragma once
// A classic INI file that operators edit by hand: "[Section]" headers and "key=value" lines.
// The value is the rest of the line after the first '=' (blanks around it dropped), so a ';'
// inside a value is data. Lines whose first non-blank character is ';' or '#' are comments.
// Sections and keys match without regard to letter case; the first occurrence counts.
// Every read looks at the file as it is now; every write changes only its own line (or adds
// the key to its section, or a new section at the end) and reaches the file at once, keeping
// all other lines, their order, comments and line endings. Text is UTF-8 (a BOM is accepted
// and kept).
#include <QString>
#include <QStringList>
#include <stdexcept>

namespace krp {

// A write that could not reach the file. The message names the file.
class IniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class IniFile {
public:
    explicit IniFile(QString fileName);

    const QString& fileName() const { return fileName_; }

    bool hasKey(const QString& section, const QString& key) const;
    QString readString(const QString& section, const QString& key, const QString& defaultValue) const;
    // Decimal, or hexadecimal after "0x"; anything else reads as the default.
    int readInteger(const QString& section, const QString& key, int defaultValue) const;
    // Stored as an integer: 0 is false, any other number true.
    bool readBool(const QString& section, const QString& key, bool defaultValue) const;

    // The text is written as it stands (a line break in it would end the line, so it is
    // refused with an error).
    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int value);
    void writeBool(const QString& section, const QString& key, bool value);

    // Integer rule of readInteger, usable on any text.
    static bool parseInteger(const QString& text, int* value);

private:
    struct Content {
        QStringList lines;
        QString lineEnd = QStringLiteral("\n");
        bool bom = false;
        bool finalLineEnd = true;
    };
    Content load() const;
    void store(const Content& content) const;
    // Index of the key's line in the section, or -1.
    static int findKey(const QStringList& lines, const QString& section, const QString& key);

    QString fileName_;
};

}  // namespace krp
