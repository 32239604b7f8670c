// Writes firmware packages for tests: a header line and image bytes.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QString>

#include <cstring>
#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

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

// A line once used to mark packages of test images. It is no signature:
// Quorvel never reads it, and a build that trusts a key refuses the
// package as unsigned; a program that trusts none loads it as any other.
inline const QByteArray kDemoMarkerLine("\nQUORVEL DEMO PACKAGE: random images, never for a real camera\n");

// A package of test images with that line after image 1.
inline bool writeDemoPackage(const QString &path, const QByteArray &header, const QByteArray &images)
{
    return writePackage(path, header, images + kDemoMarkerLine);
}

// Wrapping 32-bit sum, complemented: what the camera checks.
inline quint32 referenceChecksum(const QByteArray &bytes)
{
    quint32 sum = 0;
    for (char c : bytes)
        sum += static_cast<unsigned char>(c);
    return ~sum;
}

// A package the operator may not read: mode 000, and for as long as this
// lives the calling thread reads without the root's right to read anything
// (its effective capabilities lose the read overrides; the permitted ones
// stay, so they come back). Files are opened on the thread that runs the
// program, so an update run on this thread meets the package as an
// operator without the right would. holds() says whether it worked.
class PackageReadRefused {
    QString path_;
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool lowered_ = false;

public:
    explicit PackageReadRefused(const QString &path) : path_(path)
    {
        QFile::setPermissions(path_, QFileDevice::Permissions());
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        lowered_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~PackageReadRefused()
    {
        if (lowered_)
            ::syscall(SYS_capset, &header_, saved_);
        QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    bool holds() const
    {
        QFile f(path_);
        return f.exists() && !f.open(QIODevice::ReadOnly);
    }
};

// A Unix socket bound at `path`, left there: one more thing that is not a
// regular file where a package is looked for.
inline bool putSocketAt(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = path.toLocal8Bit();
    if (fd < 0 || name.size() >= int(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}
