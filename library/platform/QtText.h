#pragma once
// Between the library's 8-bit texts and Qt's. Texts are read as UTF-8, the code page
// of this platform; bytes that are not valid UTF-8 (names written by older programs in
// a Western code page) are read as Latin-1, so every byte shows as some character
// instead of a replacement mark. Texts go back as UTF-8.
#include "CString.h"

#include <QString>

inline QString ToQString(const CString& text)
{
    const QByteArray bytes(text.GetString(), text.GetLength());
    QString s = QString::fromUtf8(bytes);
    if (s.contains(QChar::ReplacementCharacter) && !bytes.contains("\xEF\xBF\xBD"))
        return QString::fromLatin1(bytes);
    return s;
}

inline CString FromQString(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return CString(bytes.constData(), static_cast<int>(bytes.size()));
}

// The edited text, keeping the original bytes when the user left the text as it was
// shown: an untouched Latin-1 name must not come back re-encoded.
inline CString FromQString(const QString& edited, const CString& original)
{
    return edited == ToQString(original) ? original : FromQString(edited);
}
