// Writes firmware packages for tests: a header line and image bytes.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QString>

inline QByteArray randomImage(int size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(gen.bounded(256));
    return bytes;
}

// Header line as given (include its line end), then the bytes as they are.
inline bool writePackage(const QString &path, const QByteArray &header, const QByteArray &images)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(header) == header.size() && f.write(images) == images.size();
}

// Wrapping 32-bit sum, complemented: what the camera checks.
inline quint32 referenceChecksum(const QByteArray &bytes)
{
    quint32 sum = 0;
    for (char c : bytes)
        sum += static_cast<unsigned char>(c);
    return ~sum;
}
